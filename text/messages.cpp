#include "text/messages.h"

#include <algorithm>
#include <array>

namespace {

struct CatalogueEntry {
    int id;
    std::u16string_view text;
};

// The desktop application shows these texts in the user's language: lupdate
// collects every text marked here under the "Messages" context, and the string
// table (chrome/) looks it up there. The command line keeps the English text.
// Product and file names are not marked; they never change.
#define QT_TRANSLATE_NOOP(context, text) u"" text
#define QT_TRANSLATE_NOOP3(context, text, disambiguation) u"" text

// Sorted by id.
constexpr std::array kCatalogue = {
    CatalogueEntry{kIdsProductName, u"Phrasemill 2.0"},
    CatalogueEntry{kIdsSyntaxCorrect, QT_TRANSLATE_NOOP("Messages", "Syntax is correct.         ")},
    CatalogueEntry{kIdsExtraBraceAtTop, QT_TRANSLATE_NOOP("Messages", "Extra bracket } at position %ld")},
    CatalogueEntry{kIdsDataToolbar, QT_TRANSLATE_NOOP("Messages", "Save        \nCheck Syntax   \nGenerate!  \nStop        \nAbout       \nHelp     ")},
    CatalogueEntry{kIdsExtraSquareAtTop, QT_TRANSLATE_NOOP("Messages", "Extra bracket ] at position %ld")},
    CatalogueEntry{kIdsUnclosedBrace, QT_TRANSLATE_NOOP("Messages", " Unclosed bracket { at position %ld")},
    CatalogueEntry{kIdsUnclosedSquare, QT_TRANSLATE_NOOP("Messages", " Unclosed bracket [ at position %ld")},
    CatalogueEntry{kIdsExtraBraceInSquare, QT_TRANSLATE_NOOP("Messages", "Extra bracket } at position %ld")},
    CatalogueEntry{kIdsExtraSquareInBrace, QT_TRANSLATE_NOOP("Messages", "Extra bracket  ] at position %ld")},
    CatalogueEntry{kIdsSeparatorBracket, QT_TRANSLATE_NOOP("Messages", "Incorrect syntax for <> brackets at position %ld")},
    CatalogueEntry{kIdsUnknownError, QT_TRANSLATE_NOOP("Messages", "Unknown Error")},
    CatalogueEntry{kIdsBadMacroDefinition,
                   QT_TRANSLATE_NOOP("Messages", "Incorrect variable definition at position %ld.\r\n"
                   "Variable must be defined like \"#set %%variable%% = value\" and ended with Enter.")},
    CatalogueEntry{kIdsResultsSaved, QT_TRANSLATE_NOOP("Messages", "Results have been saved successfully.")},
    CatalogueEntry{kIdsDeniedMacroSymbol,
                   QT_TRANSLATE_NOOP("Messages", "Denied symbol in macro variable name at position %d. "
                   "Variable name cant't maintain \" { } [ ] \" symbols.")},
    CatalogueEntry{kIdsPositionFormat, QT_TRANSLATE_NOOP("Messages", "Position: %d")},
    CatalogueEntry{kIdsInputSaved, QT_TRANSLATE_NOOP("Messages", "Input text has been saved successfully.")},
    CatalogueEntry{kIdsInputNotSaved, QT_TRANSLATE_NOOP("Messages", "Input text could not be saved.")},
    CatalogueEntry{kIdsResultsToolbar,
                   QT_TRANSLATE_NOOP("Messages", "Save        \nDelete Identical\nShuffle       \nStop        \nAbout       \nHelp     ")},
    CatalogueEntry{kIdsMaxPossibleCaption, QT_TRANSLATE_NOOP("Messages", "Max possible versions:   ")},
    CatalogueEntry{kIdsGeneratedCaption, QT_TRANSLATE_NOOP("Messages", "Generated versions:   ")},
    CatalogueEntry{kIdsSavingErrors, QT_TRANSLATE_NOOP("Messages", "There were errors during saving. Some data might be lost.")},
    CatalogueEntry{kIdsSaveBeforeExit, QT_TRANSLATE_NOOP("Messages", "Save generated results before exit?")},
    CatalogueEntry{kIdsDefaultTextFile, u"DefaultText.txt"},
    CatalogueEntry{kIdsHelpFile, u"phrasemill-help.chm"},
    CatalogueEntry{kIdsDeleteButton, QT_TRANSLATE_NOOP("Messages", "Delete")},
    CatalogueEntry{kIdsOkButton, QT_TRANSLATE_NOOP("Messages", "Ok")},
    CatalogueEntry{kIdsDeleteTitle, QT_TRANSLATE_NOOP3("Messages", "Delete", "window title")},
    CatalogueEntry{kIdsDeletingOptionsTitle, QT_TRANSLATE_NOOP("Messages", "Deleting options")},
    CatalogueEntry{kIdsGenerating, QT_TRANSLATE_NOOP("Messages", "Generating...")},
    CatalogueEntry{kIdsShuffling, QT_TRANSLATE_NOOP("Messages", "Shuffling...")},
    CatalogueEntry{kIdsSearching, QT_TRANSLATE_NOOP("Messages", "Searching...")},
    CatalogueEntry{kIdsDeleting, QT_TRANSLATE_NOOP("Messages", "Deleting...")},
    CatalogueEntry{kIdsAllProcessedDeleted, QT_TRANSLATE_NOOP("Messages", "All strings has been processed. %ld strings has been deleted.")},
    CatalogueEntry{kIdsProcessedDeleted, QT_TRANSLATE_NOOP("Messages", "%ld strings has been processed. %ld strings has been deleted.")},
    CatalogueEntry{kIdsRandom, QT_TRANSLATE_NOOP("Messages", "Random")},
    CatalogueEntry{kIdsInSeries, QT_TRANSLATE_NOOP("Messages", "In Series")},
    CatalogueEntry{kIdsVersionTitle, QT_TRANSLATE_NOOP("Messages", "Version #%s (length %s) ")},
    CatalogueEntry{kIdsMax, QT_TRANSLATE_NOOP("Messages", "Max")},
    CatalogueEntry{kIdsUnlimited, QT_TRANSLATE_NOOP("Messages", "Unlimited")},
    CatalogueEntry{kIdsColumnNumber, u"#"},
    CatalogueEntry{kIdsColumnLength, QT_TRANSLATE_NOOP("Messages", "Length")},
    CatalogueEntry{kIdsColumnText, QT_TRANSLATE_NOOP("Messages", "Text")},
    CatalogueEntry{kIdsAllShuffled, QT_TRANSLATE_NOOP("Messages", "All strings has been shuffled.")},
    CatalogueEntry{kIdsShuffled, QT_TRANSLATE_NOOP("Messages", "%ld strings has been shuffled.")},
    CatalogueEntry{kIdsInMacroDefinition, QT_TRANSLATE_NOOP("Messages", " in macro definition.")},
    CatalogueEntry{kIdsMinAboveMax, QT_TRANSLATE_NOOP("Messages", "Min string length restriction more than max.")},
    CatalogueEntry{kIdsPreparedTextTooLarge,
                   QT_TRANSLATE_NOOP("Messages", "Default separator of the group at position %ld makes the template too large")},
    CatalogueEntry{kIdsMacroTextTooLarge, QT_TRANSLATE_NOOP("Messages", "Variable defined at position %ld makes the template too large")},
    CatalogueEntry{kIdsLintSingleAlternative,
                   QT_TRANSLATE_NOOP("Messages", "This group has only one alternative: its braces disappear and every version gets the same text.")},
    CatalogueEntry{kIdsLintDuplicateAlternative,
                   QT_TRANSLATE_NOOP("Messages", "This alternative repeats an earlier one of the same group: versions repeat and this text "
                   "comes up more often.")},
    CatalogueEntry{kIdsLintWhitespaceAlternative,
                   QT_TRANSLATE_NOOP("Messages", "This alternative differs from an earlier one of the same group only in the white space "
                   "around it.")},
    CatalogueEntry{kIdsLintEmptyGroup, QT_TRANSLATE_NOOP("Messages", "This group is empty: it adds nothing to any version.")},
    CatalogueEntry{kIdsLintEmptyAlternatives, QT_TRANSLATE_NOOP("Messages", "Every alternative of this group is empty: it adds nothing to any version.")},
    CatalogueEntry{kIdsLintUndefinedMacro, QT_TRANSLATE_NOOP("Messages", "No #set line defines %s: it stays in every version as it stands.")},
    CatalogueEntry{kIdsLintUnusedMacro, QT_TRANSLATE_NOOP("Messages", "%s is defined but never used.")},
    CatalogueEntry{kIdsLintDuplicateDefinition,
                   QT_TRANSLATE_NOOP("Messages", "%s is already defined above: the first definition wins, so this line does nothing.")},
    CatalogueEntry{kIdsLintMacroOrder,
                   QT_TRANSLATE_NOOP("Messages", "%s is replaced before %s, so it stays as plain text in this value.")},
    CatalogueEntry{kIdsLintMacroSelfUse, QT_TRANSLATE_NOOP("Messages", "A value cannot use its own name %s: it stays as plain text.")},
    CatalogueEntry{kIdsLintSingleArrangement,
                   QT_TRANSLATE_NOOP("Messages", "This arrangement group has only one alternative: every version gets the same text.")},
    CatalogueEntry{kIdsLintSeparatorSingle,
                   QT_TRANSLATE_NOOP("Messages", "This separator never appears: the group has only one alternative.")},
    CatalogueEntry{kIdsLintSeparatorOverridden,
                   QT_TRANSLATE_NOOP("Messages", "This separator never appears: every alternative but the last has its own separator.")},
    CatalogueEntry{kIdsLintFixedStretch, QT_TRANSLATE_NOOP("Messages", "%d words of fixed text: every version shares them.")},
    CatalogueEntry{kIdsOutOfMemory, QT_TRANSLATE_NOOP("Messages", "There is not enough memory to finish this job.")},
};

static_assert(std::ranges::is_sorted(kCatalogue, {}, &CatalogueEntry::id), "lookup needs the entries sorted by id");

}  // namespace

std::u16string_view MessageText(int id) {
    const auto* entry = std::ranges::lower_bound(kCatalogue, id, {}, &CatalogueEntry::id);
    return entry != kCatalogue.end() && entry->id == id ? entry->text : std::u16string_view();
}

void CMessageArgument::WriteDecimal(uint64_t magnitude, bool negative) {
    char16_t reversed[20];
    int count = 0;
    do {
        reversed[count++] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) digits_[digitCount_++] = u'-';
    while (count > 0) digits_[digitCount_++] = reversed[--count];
}

std::u16string FormatText(std::u16string_view format, std::span<const CMessageArgument> values) {
    std::u16string out;
    out.reserve(format.size() + 16);
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char16_t c = format[i];
        if (c != u'%' || i + 1 == format.size()) {
            out += c;
            continue;
        }
        if (format[i + 1] == u'%') {
            out += u'%';
            ++i;
            continue;
        }
        std::size_t conversion = i + 1;
        if (format[conversion] == u'l') ++conversion;
        if (conversion < format.size() && (format[conversion] == u'd' || format[conversion] == u's')) {
            if (next < values.size()) out += values[next].Text();
            ++next;
            i = conversion;
            continue;
        }
        out += c;
    }
    return out;
}
