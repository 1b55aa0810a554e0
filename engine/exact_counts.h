// Exact version counts of a prepared template text, as big integers without
// any cap, and the production of a version by an exact number: the same
// series order as CTemplateTree::Generate, read with exact arithmetic, for
// numbers past what a double holds exactly (2^53).
//
//   CExactCounts exact(prepared);              // "{...}" as LoadTemplate prepares it
//   mpz_class n = exact.Count();
//   exact.Generate(n - 1, out);                // the last version
//
// The groups are read from the text again into a plain tree of their own, so
// the compact tree of generation stays as it is; every walk uses an explicit
// stack, like the compact tree's own walks.
// Thread safety: immutable after construction; the text must outlive it.
#pragma once

#include <gmpxx.h>

#include <string>
#include <string_view>
#include <vector>

namespace SyntaxStringGenerator {

class CExactCounts {
public:
    // prepared passed CheckSyntax and begins with "{" and ends with "}".
    explicit CExactCounts(std::u16string_view prepared);

    const mpz_class& Count() const { return groups_.front().count; }

    // Appends version number index (0 <= index < Count()) to out.
    void Generate(const mpz_class& index, std::u16string& out) const;

private:
    struct Alternative {
        int start = 0;  // the bracket or "|" before the text
        int end = 0;    // the "|" or bracket after it
        std::vector<int> children;  // group indices, in text order
        // Arrangement groups: the item is (start, itemEnd); an own separator
        // lies between separatorOpen and separatorClose, and children from
        // itemChildren on lie in it.
        int itemEnd = 0;
        int separatorOpen = -1;
        int separatorClose = -1;
        int itemChildren = 0;
        mpz_class product;
        mpz_class total;  // choice groups: the sum of the products up to this one
        bool Empty() const { return end - start <= 1; }
    };
    struct Group {
        bool arrangement = false;
        int start = 0;
        int end = 0;
        std::vector<Alternative> alternatives;
        mpz_class count;
        mpz_class perOrder;  // arrangement groups: versions per order
    };

    void Read();
    void LocateOwnSeparators(Group& g);

    std::u16string_view text_;
    std::vector<Group> groups_;  // parents before their children; the root first
};

}  // namespace SyntaxStringGenerator
