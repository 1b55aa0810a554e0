// The desktop application's view of the message catalogue (text/messages.h):
// the same ids, the texts as QString. Texts are used exactly as they stand
// (trailing spaces included).
//
//   ShowMessageText(LoadStringById(kIdsInputSaved), kMbIconInformation);
//   QString caption = FormatStringById(kIdsPositionFormat, {QString::number(position)});  // "Position: 12"
//
// Thread safety: read-only table, callable from any thread.
#pragma once

#include "text/messages.h"

#include <QString>
#include <QStringList>

// Empty for ids without text.
QString LoadStringById(int id);

// The text of id with its "%d", "%ld" and "%s" placeholders filled with the
// given values in order and "%%" written as "%" (FormatText).
QString FormatStringById(int id, const QStringList& values);
