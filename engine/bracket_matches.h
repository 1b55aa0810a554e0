// Bracket matching: the scanning search, and precomputed bracket partners for
// one text, so that the syntax check and the separator preparation find a
// matching bracket in constant time instead of re-scanning the group each time
// (which is quadratic for nested templates). The scanning search defines the
// answers; the indexed forms give the same ones.
//
//   int close = FindMatchingBracket(text, 0, int(text.size()), open);
//   CBracketMatches matches(text, 0, int(text.size()) - 1);
//   int same = matches[open];   // -1 when the bracket has no partner
//
// An arrangement alternative's own separator is found the same way by every
// reader of the groups (tree, compiled walk, exact counts):
//
//   OwnSeparator own = FindOwnSeparator(text, altStart, altEnd, k,
//                                       [&](int c) { return SpanOf(child[c]); });
//
// Partners are the ones FindMatchingBracket finds with the widest bounds:
// "{" and "}" are paired among braces only, "[" and "]" among square brackets
// only, each shape ignoring the other. Narrower bounds are checked by callers.
// Memory is about a quarter byte per character plus four bytes per bracket:
// a bitmap marks the brackets, per-word counts give a bracket's rank, and the
// partners are stored by rank. Pairing needs nothing more.
// Thread safety: immutable after construction.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

// Position of the bracket matching the one at index, or -1. Forward searches
// examine index+1 .. limit-1, backward searches index-1 down to lowerBound+1.
int FindMatchingBracket(std::u16string_view text, int lowerBound, int limit, int index);

// The first "|" after from and before limit at the level being scanned, or -1.
int FindNextSeparator(std::u16string_view text, int from, int limit);

class CBracketMatches {
public:
    // Pairs the brackets of text[first .. last] (inclusive); others get -1.
    // When stop reads true the index is left incomplete; the caller, which
    // sees the same flag, drops it.
    CBracketMatches(std::u16string_view text, int first, int last, const std::atomic<bool>* stop = nullptr);
    int operator[](int position) const {
        const auto p = static_cast<size_t>(position);
        if (((bits_[p >> 6] >> (p & 63)) & 1) == 0) return -1;
        return partner_[RankOf(position)];
    }

    // The most brackets open at once (of both shapes together) in the span.
    size_t MaxDepth() const { return maxDepth_; }

private:
    // The number of brackets before position.
    uint32_t RankOf(int position) const {
        const auto p = static_cast<size_t>(position);
        const uint64_t below = bits_[p >> 6] & ((uint64_t{1} << (p & 63)) - 1);
        return before_[p >> 6] + static_cast<uint32_t>(__builtin_popcountll(below));
    }

    std::vector<uint64_t> bits_;     // bit p: text[p] is a paired-or-not bracket
    std::vector<uint32_t> before_;   // brackets in the words before word w
    std::vector<int32_t> partner_;   // by rank: the partner's position, or -1
    size_t maxDepth_ = 0;
};

// FindNextSeparator with the partners looked up: the first "|" in
// from+1 .. limit-1 at the scanned level, or -1.
int FindNextSeparatorIndexed(std::u16string_view text, const CBracketMatches& matches, int from, int limit);

// FindMatchingBracket for a "<" at index (forward, examining up to limit-1) or
// a ">" at index (backward, down to lowerBound+1), with the partners looked up.
int FindSeparatorPartnerIndexed(std::u16string_view text, const CBracketMatches& matches, int lowerBound,
                                int limit, int index);

// Where an arrangement alternative's own separator begins: the alternative's
// text lies between altStart (the "[" or "|" before it) and altEnd (the "|"
// after it); when it ends with ">", the separator starts at the "<" that
// matches that ">" at the alternative's own level, the k groups written in it
// skipped. childSpan(c) gives the opening and closing bracket positions of
// group c (0 .. k-1, in text order) as a std::pair<int, int>.
struct OwnSeparator {
    int open = -1;           // the "<", or -1 without an own separator
    int childrenBefore = 0;  // the groups before it: k without one
};

template <typename ChildSpan>
OwnSeparator FindOwnSeparator(std::u16string_view text, int altStart, int altEnd, int k, ChildSpan childSpan) {
    if (altEnd - altStart <= 1 || text[static_cast<size_t>(altEnd) - 1] != u'>') return {-1, k};
    int depth = 0;
    int child = k - 1;
    for (int q = altEnd - 2; q > altStart; --q) {
        if (child >= 0) {
            const std::pair<int, int> span = childSpan(child);
            if (q == span.second) {
                q = span.first;
                --child;
                continue;
            }
        }
        const char16_t c = text[static_cast<size_t>(q)];
        if (c == u'>') {
            ++depth;
        } else if (c == u'<') {
            if (depth == 0) return {q, child + 1};
            --depth;
        }
    }
    return {-1, k};
}
