// The program's user-visible texts by numeric id, as the desktop application's
// commands and messages refer to them. Texts are used exactly as they stand
// (trailing spaces included).
//
//   ShowMessageText(LoadStringById(kIdsInputSaved), kMbIconInformation);
//   QString caption = FormatStringById(kIdsPositionFormat, {QString::number(position)});  // "Position: 12"
//
// Thread safety: read-only table, callable from any thread.
#pragma once

#include <QString>

enum StringId : int {
    kIdsOleInitFailed = 101,
    kIdsProductName = 128,
    kIdsSyntaxCorrect = 320,
    kIdsDataToolbar = 325,
    kIdsBadMacroDefinition = 337,
    kIdsResultsSaved = 338,
    kIdsDeniedMacroSymbol = 340,
    kIdsPositionFormat = 341,
    kIdsInputSaved = 342,
    kIdsInputNotSaved = 343,
    kIdsTextFileFilter = 351,
    kIdsResultsToolbar = 352,
    kIdsMaxPossibleCaption = 353,
    kIdsGeneratedCaption = 354,
    kIdsSavingErrors = 355,
    kIdsSaveBeforeExit = 356,
    kIdsDefaultTextFile = 357,
    kIdsHelpFile = 358,
    kIdsDeleteButton = 360,
    kIdsOkButton = 361,
    kIdsDeleteTitle = 362,
    kIdsDeletingOptionsTitle = 363,
    kIdsAllProcessedDeleted = 368,
    kIdsProcessedDeleted = 369,
    kIdsRandom = 370,
    kIdsInSeries = 371,
    kIdsVersionTitle = 372,
    kIdsMax = 373,
    kIdsUnlimited = 374,
    kIdsColumnNumber = 375,
    kIdsColumnLength = 376,
    kIdsColumnText = 377,
    kIdsApplicationTitle = 57344,
};

// Empty for ids without text.
QString LoadStringById(int id);

// Fills a printf-style table text ("%d", "%ld", "%s", "%%") with the given
// values in order; used for the position and count messages.
QString FormatStringById(int id, const QStringList& values);
QString FormatPrintf(const QString& format, const QStringList& values);
