// The template language's syntax check and the message of each defect.
//
//   SyntaxResult r = CheckSyntax(u"{a|b]");
//   if (r.kind != 0) ShowMessage(SyntaxMessage(r.kind, r.position));
//
// Positions count UTF-16 code units; CheckSyntax reports 1-based positions of
// the offending character. Defects are values, never exceptions.
// Thread safety: pure functions, callable from any thread; a stop flag may be
// set from any thread (or a signal handler) while CheckSyntax runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

enum SyntaxErrorKind : int32_t {
    kSyntaxOk = 0,
    kExtraBraceAtTop = 1,          // "}" without "{" at the top level
    kExtraSquareAtTop = 2,         // "]" without "[" at the top level
    kUnclosedBrace = 3,            // "{" without its "}"
    kUnclosedSquare = 4,           // "[" without its "]"
    kExtraBraceInSquare = 5,       // "}" without "{" directly inside a square group
    kExtraSquareInBrace = 6,       // "]" without "[" directly inside a brace group
    kSeparatorBracket = 7,         // "<" or ">" without a partner in its alternative
    kPreparedTextTooLarge = 8,     // default separators would blow the loaded text up past
                                   // MaxPreparedLength (LoadTemplate only; position of the "[")
    kBadMacroDefinition = 100,     // malformed "#set" line
    kDeniedMacroNameSymbol = 101,  // bracket in a macro name
    kMacroTextTooLarge = 102,      // replacing a macro's uses would blow the text up past the
                                   // loaded-text limit (position of its "#set")
};

struct SyntaxResult {
    int32_t position = -1;  // -1 when there is no error
    int32_t kind = kSyntaxOk;
    bool Ok() const { return kind == kSyntaxOk; }
};

// stop, when given, is polled about every million characters; once it reads
// true the check ends early and its result means nothing (the caller, which
// set the flag, knows).
SyntaxResult CheckSyntax(std::u16string_view text, const std::atomic<bool>* stop = nullptr);

// The message of a kind: kind 0 gives "Syntax is correct." and nine spaces,
// kinds 1 to 8 their format filled with position, kinds 100 to 102 theirs,
// any other kind "Unknown Error".
std::u16string SyntaxMessage(int kind, int position);
