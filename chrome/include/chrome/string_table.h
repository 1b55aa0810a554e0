// The desktop application's view of the message catalogue (text/messages.h):
// the same ids, the texts as QString in the user's language. The catalogue
// holds the English source; its marked texts are translated under the
// "Messages" context of the installed translators (English when none is
// installed). Placeholders stay in the translated text and are filled after
// the lookup, so numbers and names land where the translation puts them.
// Texts are used exactly as they stand (trailing spaces included).
//
//   ShowMessageText(LoadStringById(kIdsInputSaved), kMbIconInformation);
//   QString caption = FormatStringById(kIdsPositionFormat, {QString::number(position)});  // "Position: 12"
//   QString shown = TranslateFormattedText(check.message);  // "Extra bracket } at position 12", translated
//
// Thread safety: read-only tables and QCoreApplication::translate; callable
// from any thread.
#pragma once

#include "text/messages.h"

#include <QString>
#include <QStringList>

#include <string_view>

// The context under which the catalogue's texts are translated.
inline constexpr const char* kMessagesContext = "Messages";

// Empty for ids without text.
QString LoadStringById(int id);

// The text of id with its "%d", "%ld" and "%s" placeholders filled with the
// given values in order and "%%" written as "%" (FormatText).
QString FormatStringById(int id, const QStringList& values);

// A text that the plain layers formatted from the catalogue in English (a
// syntax message, a job's report, the run's work text, a lint finding), in the
// user's language with the same values in place. Any other text is returned
// as it is.
QString TranslateFormattedText(std::u16string_view english);
