#include "engine/syntax_check.h"

#include "bracket_matches.h"
#include "text/messages.h"

#include <algorithm>
#include <vector>

namespace {

bool IsOpening(char16_t c) { return c == u'{' || c == u'['; }

// Forward or backward scan for the partner of a brace or square bracket,
// counting only brackets of the same shape.
int MatchGroupBracket(std::u16string_view text, int lowerBound, int limit, int index) {
    const char16_t c = text[static_cast<size_t>(index)];
    const bool square = c == u'[' || c == u']';
    const char16_t open = square ? u'[' : u'{';
    const char16_t close = square ? u']' : u'}';
    int depth = 0;
    if (c == open) {
        for (int p = index + 1; p < limit && p < static_cast<int>(text.size()); ++p) {
            const char16_t x = text[static_cast<size_t>(p)];
            if (x == open) {
                ++depth;
            } else if (x == close) {
                if (depth == 0) return p;
                --depth;
            }
        }
        return -1;
    }
    for (int p = index - 1; p > lowerBound && p >= 0; --p) {
        const char16_t x = text[static_cast<size_t>(p)];
        if (x == close) {
            ++depth;
        } else if (x == open) {
            if (depth == 0) return p;
            --depth;
        }
    }
    return -1;
}

// The "<"/">" matcher, parameterised by how a nested group's partner is found,
// so that the plain and the indexed variants share one definition.
template <typename GroupMatch>
int MatchSeparatorBracket(std::u16string_view text, int lowerBound, int limit, int index, GroupMatch groupMatch) {
    int depth = 0;
    if (text[static_cast<size_t>(index)] == u'<') {
        for (int p = index + 1; p < limit && p < static_cast<int>(text.size()); ++p) {
            const char16_t x = text[static_cast<size_t>(p)];
            if (x == u'<') {
                ++depth;
            } else if (x == u'>') {
                if (depth == 0) return p;
                --depth;
            } else if (x == u'}') {
                return -1;
            } else if (IsOpening(x)) {
                const int m = groupMatch(p);
                if (m < 0 || m >= limit) return -1;
                p = m;
            }
        }
        return -1;
    }
    for (int p = index - 1; p > lowerBound && p >= 0; --p) {
        const char16_t x = text[static_cast<size_t>(p)];
        if (x == u'>') {
            ++depth;
        } else if (x == u'<') {
            if (depth == 0) return p;
            --depth;
        } else if (x == u'{') {
            return -1;
        } else if (x == u'}' || x == u']') {
            const int m = groupMatch(p);
            if (m < 0 || m <= lowerBound) return -1;
            p = m;
        }
    }
    return -1;
}

template <typename GroupMatch>
int NextSeparator(std::u16string_view text, int from, int limit, GroupMatch groupMatch) {
    for (int p = from + 1; p < limit && p < static_cast<int>(text.size()); ++p) {
        const char16_t x = text[static_cast<size_t>(p)];
        if (x == u'|') return p;
        if (IsOpening(x)) {
            const int m = groupMatch(p);
            if (m < 0 || m >= limit) return -1;
            p = m;
        }
    }
    return -1;
}

// The separator-bracket check of the square group w[s..e]; returns the offset
// from s of the offending bracket, or -1.
int CheckSeparatorBrackets(std::u16string_view w, const CBracketMatches& matches, int s, int e) {
    int b = FindNextSeparatorIndexed(w, matches, s, e);
    if (w[static_cast<size_t>(s) + 1] == u'<' &&
        FindSeparatorPartnerIndexed(w, matches, 0, b >= 0 ? b : e, s + 1) < 0) {
        return 1;
    }
    int d = s;
    while (b >= 0) {
        if (w[static_cast<size_t>(b) - 1] == u'>' && FindSeparatorPartnerIndexed(w, matches, d, e, b - 1) < 0) {
            return b - 1 - s;
        }
        d = b;
        b = FindNextSeparatorIndexed(w, matches, b, e);
    }
    return -1;
}

// Long scans look at the stop flag once per this many characters plus one.
constexpr int kStopPollMask = (1 << 20) - 1;

bool StopRequested(const std::atomic<bool>* stop) { return stop && stop->load(std::memory_order_relaxed); }

}  // namespace

CBracketMatches::CBracketMatches(std::u16string_view text, int first, int last, const std::atomic<bool>* stop)
    : bits_(text.size() / 64 + 1, 0), before_(text.size() / 64 + 1, 0) {
    // The brackets are marked and counted first, so that the partners take
    // exactly their room: a growing array would briefly need twice as much.
    for (int p = first; p <= last; ++p) {
        if ((p & kStopPollMask) == 0 && StopRequested(stop)) return;
        const char16_t c = text[static_cast<size_t>(p)];
        if (c == u'{' || c == u'}' || c == u'[' || c == u']') bits_[static_cast<size_t>(p) >> 6] |= uint64_t{1} << (p & 63);
    }
    uint32_t count = 0;
    for (size_t w = 0; w < bits_.size(); ++w) {
        before_[w] = count;
        count += static_cast<uint32_t>(__builtin_popcountll(bits_[w]));
    }
    // The brackets still open wait on one list per shape, linked through
    // their own entries: an open bracket's entry holds the position of the
    // one opened before it, and takes its partner when that comes. The lists
    // need no room of their own, however deep the nesting.
    partner_.resize(count);
    struct OpenList {
        int32_t top = -1;  // position of the innermost open bracket, -1 for none
        size_t size = 0;
    };
    OpenList braces;
    OpenList squares;
    uint32_t rank = 0;
    for (int p = first; p <= last; ++p) {
        if ((p & kStopPollMask) == 0 && StopRequested(stop)) return;
        const char16_t c = text[static_cast<size_t>(p)];
        OpenList* list = nullptr;
        bool opening = false;
        switch (c) {
            case u'{': list = &braces; opening = true; break;
            case u'[': list = &squares; opening = true; break;
            case u'}': list = &braces; break;
            case u']': list = &squares; break;
            default: continue;
        }
        if (opening) {
            partner_[rank] = list->top;
            list->top = p;
            ++list->size;
            maxDepth_ = std::max(maxDepth_, braces.size + squares.size);
        } else if (list->top < 0) {
            partner_[rank] = -1;
        } else {
            const uint32_t open = RankOf(list->top);
            partner_[rank] = list->top;
            list->top = partner_[open];
            --list->size;
            partner_[open] = p;
        }
        ++rank;
    }
    for (const OpenList& list : {braces, squares}) {
        for (int32_t p = list.top; p >= 0;) {
            const uint32_t open = RankOf(p);
            p = partner_[open];
            partner_[open] = -1;
        }
    }
}

int FindNextSeparatorIndexed(std::u16string_view text, const CBracketMatches& matches, int from, int limit) {
    return NextSeparator(text, from, limit, [&](int p) { return matches[p]; });
}

int FindSeparatorPartnerIndexed(std::u16string_view text, const CBracketMatches& matches, int lowerBound,
                                int limit, int index) {
    return MatchSeparatorBracket(text, lowerBound, limit, index, [&](int p) { return matches[p]; });
}

int FindMatchingBracket(std::u16string_view text, int lowerBound, int limit, int index) {
    if (index < 0 || index >= static_cast<int>(text.size())) return -1;
    switch (text[static_cast<size_t>(index)]) {
        case u'{': case u'}': case u'[': case u']':
            return MatchGroupBracket(text, lowerBound, limit, index);
        case u'<': case u'>':
            // A nested group is skipped with its partner found forward (for
            // "<") or backward (for ">") within the same bounds.
            return MatchSeparatorBracket(text, lowerBound, limit, index,
                                         [&](int p) { return MatchGroupBracket(text, lowerBound, limit, p); });
        default:
            return -1;
    }
}

int FindNextSeparator(std::u16string_view text, int from, int limit) {
    if (from < -1) from = -1;
    return NextSeparator(text, from, limit, [&](int p) { return MatchGroupBracket(text, 0, limit, p); });
}

SyntaxResult CheckSyntax(std::u16string_view text, const std::atomic<bool>* stop) {
    // The scan runs over W = "{" + text + "}" without building it: the scan
    // works in text positions, where W's final "}" is position n, and a
    // position p is reported as p + 1, the 1-based position in text.
    const int n = static_cast<int>(text.size());
    if (n == 0) return {};
    const CBracketMatches matches(text, 0, n - 1, stop);
    if (StopRequested(stop)) return {};
    uint32_t steps = 0;

    // The depth-first group scan, with an explicit stack so that nesting depth
    // is limited by memory, not by the call stack. The stack holds the opening
    // bracket of every group being scanned (-1 for the wrapper). A group's
    // scan examines a nested group completely and then goes on after its
    // partner, so a closing bracket met directly in a group has no opening
    // bracket there and ends the check.
    std::vector<int32_t> open;
    open.reserve(matches.MaxDepth() + 1);
    open.push_back(-1);
    int close = n;
    int p = 0;
    for (;;) {
        if ((++steps & kStopPollMask) == 0 && StopRequested(stop)) return {};
        if (p >= close) {
            open.pop_back();
            if (open.empty()) return {};
            p = close + 1;
            close = open.back() < 0 ? n : matches[open.back()];
            continue;
        }
        const char16_t c = text[static_cast<size_t>(p)];
        if (c == u'[') {
            const int m = matches[p];
            if (m < 0) return {p + 1, kUnclosedSquare};
            const int offset = CheckSeparatorBrackets(text, matches, p, m);
            if (offset >= 0) return {p + 1 + offset, kSeparatorBracket};
            open.push_back(p);
            close = m;
        } else if (c == u'{') {
            const int m = matches[p];
            if (m < 0) return {p + 1, kUnclosedBrace};
            open.push_back(p);
            close = m;
        } else if (c == u']') {
            const int g = open.back();
            return {p + 1, g >= 0 && text[static_cast<size_t>(g)] == u'{' ? kExtraSquareInBrace : kExtraSquareAtTop};
        } else if (c == u'}') {
            const int g = open.back();
            return {p + 1, g >= 0 && text[static_cast<size_t>(g)] == u'[' ? kExtraBraceInSquare : kExtraBraceAtTop};
        }
        ++p;
    }
}

std::u16string SyntaxMessage(int kind, int position) {
    switch (kind) {
        case kSyntaxOk: return std::u16string(MessageText(kIdsSyntaxCorrect));
        case kExtraBraceAtTop: return FormatMessage(kIdsExtraBraceAtTop, {position});
        case kExtraSquareAtTop: return FormatMessage(kIdsExtraSquareAtTop, {position});
        case kUnclosedBrace: return FormatMessage(kIdsUnclosedBrace, {position});
        case kUnclosedSquare: return FormatMessage(kIdsUnclosedSquare, {position});
        case kExtraBraceInSquare: return FormatMessage(kIdsExtraBraceInSquare, {position});
        case kExtraSquareInBrace: return FormatMessage(kIdsExtraSquareInBrace, {position});
        case kSeparatorBracket: return FormatMessage(kIdsSeparatorBracket, {position});
        case kPreparedTextTooLarge: return FormatMessage(kIdsPreparedTextTooLarge, {position});
        case kBadMacroDefinition: return FormatMessage(kIdsBadMacroDefinition, {position});
        case kDeniedMacroNameSymbol: return FormatMessage(kIdsDeniedMacroSymbol, {position});
        case kMacroTextTooLarge: return FormatMessage(kIdsMacroTextTooLarge, {position});
        default: return std::u16string(MessageText(kIdsUnknownError));
    }
}
