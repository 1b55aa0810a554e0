#include "text/messages.h"

#include <algorithm>
#include <array>

namespace {

struct CatalogueEntry {
    int id;
    std::u16string_view text;
};

// Sorted by id.
constexpr std::array kCatalogue = {
    CatalogueEntry{kIdsProductName, u"Phrasemill 2.0"},
    CatalogueEntry{kIdsSyntaxCorrect, u"Syntax is correct.         "},
    CatalogueEntry{kIdsExtraBraceAtTop, u"Extra bracket } at position %ld"},
    CatalogueEntry{kIdsDataToolbar, u"Save        \nCheck Syntax   \nGenerate!  \nStop        \nAbout       \nHelp     "},
    CatalogueEntry{kIdsExtraSquareAtTop, u"Extra bracket ] at position %ld"},
    CatalogueEntry{kIdsUnclosedBrace, u" Unclosed bracket { at position %ld"},
    CatalogueEntry{kIdsUnclosedSquare, u" Unclosed bracket [ at position %ld"},
    CatalogueEntry{kIdsExtraBraceInSquare, u"Extra bracket } at position %ld"},
    CatalogueEntry{kIdsExtraSquareInBrace, u"Extra bracket  ] at position %ld"},
    CatalogueEntry{kIdsSeparatorBracket, u"Incorrect syntax for <> brackets at position %ld"},
    CatalogueEntry{kIdsUnknownError, u"Unknown Error"},
    CatalogueEntry{kIdsBadMacroDefinition,
                   u"Incorrect variable definition at position %ld.\r\n"
                   u"Variable must be defined like \"#set %%variable%% = value\" and ended with Enter."},
    CatalogueEntry{kIdsResultsSaved, u"Results have been saved successfully."},
    CatalogueEntry{kIdsDeniedMacroSymbol,
                   u"Denied symbol in macro variable name at position %d. "
                   u"Variable name cant't maintain \" { } [ ] \" symbols."},
    CatalogueEntry{kIdsPositionFormat, u"Position: %d"},
    CatalogueEntry{kIdsInputSaved, u"Input text has been saved successfully."},
    CatalogueEntry{kIdsInputNotSaved, u"Input text could not be saved."},
    CatalogueEntry{kIdsResultsToolbar,
                   u"Save        \nDelete Identical\nShuffle       \nStop        \nAbout       \nHelp     "},
    CatalogueEntry{kIdsMaxPossibleCaption, u"Max possible versions:   "},
    CatalogueEntry{kIdsGeneratedCaption, u"Generated versions:   "},
    CatalogueEntry{kIdsSavingErrors, u"There were errors during saving. Some data might be lost."},
    CatalogueEntry{kIdsSaveBeforeExit, u"Save generated results before exit?"},
    CatalogueEntry{kIdsDefaultTextFile, u"DefaultText.txt"},
    CatalogueEntry{kIdsHelpFile, u"phrasemill-help.chm"},
    CatalogueEntry{kIdsDeleteButton, u"Delete"},
    CatalogueEntry{kIdsOkButton, u"Ok"},
    CatalogueEntry{kIdsDeleteTitle, u"Delete"},
    CatalogueEntry{kIdsDeletingOptionsTitle, u"Deleting options"},
    CatalogueEntry{kIdsGenerating, u"Generating..."},
    CatalogueEntry{kIdsShuffling, u"Shuffling..."},
    CatalogueEntry{kIdsSearching, u"Searching..."},
    CatalogueEntry{kIdsDeleting, u"Deleting..."},
    CatalogueEntry{kIdsAllProcessedDeleted, u"All strings has been processed. %ld strings has been deleted."},
    CatalogueEntry{kIdsProcessedDeleted, u"%ld strings has been processed. %ld strings has been deleted."},
    CatalogueEntry{kIdsRandom, u"Random"},
    CatalogueEntry{kIdsInSeries, u"In Series"},
    CatalogueEntry{kIdsVersionTitle, u"Version #%s (length %s) "},
    CatalogueEntry{kIdsMax, u"Max"},
    CatalogueEntry{kIdsUnlimited, u"Unlimited"},
    CatalogueEntry{kIdsColumnNumber, u"#"},
    CatalogueEntry{kIdsColumnLength, u"Length"},
    CatalogueEntry{kIdsColumnText, u"Text"},
    CatalogueEntry{kIdsAllShuffled, u"All strings has been shuffled."},
    CatalogueEntry{kIdsShuffled, u"%ld strings has been shuffled."},
    CatalogueEntry{kIdsInMacroDefinition, u" in macro definition."},
    CatalogueEntry{kIdsMinAboveMax, u"Min string length restriction more than max."},
    CatalogueEntry{kIdsPreparedTextTooLarge,
                   u"Default separator of the group at position %ld makes the template too large"},
    CatalogueEntry{kIdsMacroTextTooLarge, u"Variable defined at position %ld makes the template too large"},
    CatalogueEntry{kIdsLintSingleAlternative,
                   u"This group has only one alternative: its braces disappear and every version gets the same text."},
    CatalogueEntry{kIdsLintDuplicateAlternative,
                   u"This alternative repeats an earlier one of the same group: versions repeat and this text "
                   u"comes up more often."},
    CatalogueEntry{kIdsLintWhitespaceAlternative,
                   u"This alternative differs from an earlier one of the same group only in the white space "
                   u"around it."},
    CatalogueEntry{kIdsLintEmptyGroup, u"This group is empty: it adds nothing to any version."},
    CatalogueEntry{kIdsLintEmptyAlternatives, u"Every alternative of this group is empty: it adds nothing to any version."},
    CatalogueEntry{kIdsLintUndefinedMacro, u"No #set line defines %s: it stays in every version as it stands."},
    CatalogueEntry{kIdsLintUnusedMacro, u"%s is defined but never used."},
    CatalogueEntry{kIdsLintDuplicateDefinition,
                   u"%s is already defined above: the first definition wins, so this line does nothing."},
    CatalogueEntry{kIdsLintMacroOrder,
                   u"%s is replaced before %s, so it stays as plain text in this value."},
    CatalogueEntry{kIdsLintMacroSelfUse, u"A value cannot use its own name %s: it stays as plain text."},
    CatalogueEntry{kIdsLintSingleArrangement,
                   u"This arrangement group has only one alternative: every version gets the same text."},
    CatalogueEntry{kIdsLintSeparatorSingle,
                   u"This separator never appears: the group has only one alternative."},
    CatalogueEntry{kIdsLintSeparatorOverridden,
                   u"This separator never appears: every alternative but the last has its own separator."},
    CatalogueEntry{kIdsLintFixedStretch, u"%d words of fixed text: every version shares them."},
    CatalogueEntry{kIdsOutOfMemory, u"There is not enough memory to finish this job."},
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
