// The program's message catalogue: every message, caption and status text the
// user sees, by numeric string id, and the one formatter that fills their
// printf-style placeholders. The engine, the result-set jobs, the run, the
// command line and the desktop application's string table all read their
// texts from here, so each text has exactly one home. Texts are used exactly
// as they stand (trailing spaces, CR LF and "%%" included).
//
//   std::u16string_view caption = MessageText(kIdsGeneratedCaption);  // "Generated versions:   "
//   std::u16string m = FormatMessage(kIdsExtraBraceAtTop, {12});       // "Extra bracket } at position 12"
//   std::u16string t = FormatMessage(kIdsVersionTitle, {u"7", u"30"});  // "Version #7 (length 30) "
//
// Ids 128 and 320 to 377 are the string table's own numbers; the texts that
// the table never numbered (the shuffle reports, the macro-definition suffix,
// the length-range message, the oversized-template messages, the lint
// findings) are numbered from 400 on. Every id declared here has a text and is used somewhere;
// tests/messages_test.cpp checks both against the source tree.
//
// Thread safety: a read-only table; every function is callable from any thread.
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

enum MessageId : int {
    kIdsProductName = 128,
    kIdsSyntaxCorrect = 320,
    kIdsExtraBraceAtTop = 321,
    kIdsDataToolbar = 325,
    kIdsExtraSquareAtTop = 326,
    kIdsUnclosedBrace = 327,
    kIdsUnclosedSquare = 328,
    kIdsExtraBraceInSquare = 333,
    kIdsExtraSquareInBrace = 334,
    kIdsSeparatorBracket = 335,
    kIdsUnknownError = 336,
    kIdsBadMacroDefinition = 337,
    kIdsResultsSaved = 338,
    kIdsDeniedMacroSymbol = 340,
    kIdsPositionFormat = 341,
    kIdsInputSaved = 342,
    kIdsInputNotSaved = 343,
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
    // The work texts of the four job kinds, in kind order.
    kIdsGenerating = 364,
    kIdsShuffling = 365,
    kIdsSearching = 366,
    kIdsDeleting = 367,
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
    kIdsAllShuffled = 400,
    kIdsShuffled = 401,
    kIdsInMacroDefinition = 402,
    kIdsMinAboveMax = 403,
    kIdsPreparedTextTooLarge = 404,
    kIdsMacroTextTooLarge = 405,
    // Template lint findings.
    kIdsLintSingleAlternative = 406,
    kIdsLintDuplicateAlternative = 407,
    kIdsLintWhitespaceAlternative = 408,
    kIdsLintEmptyGroup = 409,
    kIdsLintEmptyAlternatives = 410,
    kIdsLintUndefinedMacro = 411,
    kIdsLintUnusedMacro = 412,
    kIdsLintDuplicateDefinition = 413,
    kIdsLintMacroOrder = 414,
    kIdsLintMacroSelfUse = 415,
    kIdsLintSingleArrangement = 416,
    kIdsLintSeparatorSingle = 417,
    kIdsLintSeparatorOverridden = 418,
    kIdsLintFixedStretch = 419,
    // A job or check that ran out of memory.
    kIdsOutOfMemory = 450,
};

// The text of an id; empty for an id without text.
std::u16string_view MessageText(int id);

// One value for a placeholder: an integer (written in decimal, "-" before a
// negative value) or a text (taken as it is; it must outlive the call).
class CMessageArgument {
public:
    template <std::integral Number>
    CMessageArgument(Number number) {
        if constexpr (std::is_signed_v<Number>) {
            const bool negative = number < 0;
            WriteDecimal(negative ? 0 - static_cast<uint64_t>(number) : static_cast<uint64_t>(number), negative);
        } else {
            WriteDecimal(number, false);
        }
    }
    CMessageArgument(std::u16string_view text) : text_(text) {}
    CMessageArgument(const char16_t* text) : text_(text) {}
    CMessageArgument(const std::u16string& text) : text_(text) {}

    std::u16string_view Text() const { return digitCount_ > 0 ? std::u16string_view(digits_, digitCount_) : text_; }

private:
    void WriteDecimal(uint64_t magnitude, bool negative);

    char16_t digits_[21] = {};  // "-" and up to 20 digits
    uint8_t digitCount_ = 0;
    std::u16string_view text_;
};

// Fills format's placeholders with values in order: "%d", "%ld" and "%s" each
// take the next value (nothing when the values have run out), "%%" is one "%",
// any other "%" stays as it is.
std::u16string FormatText(std::u16string_view format, std::span<const CMessageArgument> values);
inline std::u16string FormatText(std::u16string_view format, std::initializer_list<CMessageArgument> values) {
    return FormatText(format, std::span<const CMessageArgument>(values.begin(), values.size()));
}

// FormatText over the text of an id.
inline std::u16string FormatMessage(int id, std::initializer_list<CMessageArgument> values) {
    return FormatText(MessageText(id), values);
}
