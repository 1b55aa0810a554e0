// The desktop application's language: the program's own translation (built
// from resources/translations/phrasemill_LANG.ts and embedded under :/i18n)
// and, with it, Qt's translation of the standard dialogs' buttons when the
// system has one. English is the source language and needs no translation; a
// language without a translation of the program stays wholly English rather
// than mixing Qt's buttons in another language with English texts.
//
//   InstallTranslations(QLocale::system());   // in main(), before the window
//   InstallTranslations(QLocale(QLocale::Russian));  // tests: switch language
//
// Thread safety: user interface thread only.
#pragma once

#include <QLocale>
#include <QStringList>

// Removes what an earlier call installed, then installs the translations for
// locale's user interface languages in order of preference. Returns whether
// a translation of the program was found (false for English).
bool InstallTranslations(const QLocale& locale);

// The locale of the installed translation; English (United States) when none
// is installed. Dates and numbers written into translated texts follow it.
QLocale InterfaceLocale();

// The language of the installed translation as its file names it ("ru");
// empty for English. Documents shipped per language follow it.
QString InterfaceLanguage();

// The languages the program ships a translation for ("ru", ...), from the
// embedded resources.
QStringList ShippedTranslations();
