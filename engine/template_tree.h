// The template tree: one node per group of the prepared template text, each
// alternative holding the groups written directly in it. The tree counts the
// template's versions and produces any version by number or at random.
//
//   std::u16string prepared;
//   DistributeSeparators(u"{" + templ + u"}", prepared, MaxPreparedLength(templ.size()));
//   auto root = SyntaxStringGenerator::CreateNode(0, prepared, int(prepared.size()) - 1, nullptr);
//   double count = root->GetCount();
//   std::u16string out;
//   CRandom15 rng(7);
//   root->Generate(3, out, prepared, false, rng);   // version number 3
//
// Every walk over the tree (building, counting, generating, destroying) uses an
// explicit stack, so a template nested 100,000 levels deep needs heap memory
// only, never call-stack depth. Generating an arrangement group needs no
// re-parsing: each alternative knows its item text, its own separator and which
// children lie in each, and a version walks them in output order.
//
// Thread safety: a built tree is immutable; several threads may generate from
// it at once, each with its own CGenerationScratch and CRandom15.
#pragma once

#include "random15.h"
#include "engine/syntax_check.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace SyntaxStringGenerator {

// Counts never exceed this value; it stands for every larger number.
constexpr double kMaxCount = 1.7e300;

// k! as a double: 1 for k at most 0, infinity from 171 on.
double Factorial(int k);

class CBracketNode;

struct Alternative {
    int start = 0;  // the "[", "{" or "|" just before the text
    int end = 0;    // the "|", "]" or "}" just after the text
    std::vector<std::unique_ptr<CBracketNode>> children;  // directly written groups, in text order

    double product = 1;  // the children's counts multiplied, capped at kMaxCount
    double total = 0;    // choice groups: the plain sum of the products up to this one

    // Arrangement groups: the item is the text in (start, itemEnd); an own
    // separator sits between separatorOpen ("<") and separatorClose (">").
    // children[0 .. itemChildren) lie in the item, the rest in the separator.
    int itemEnd = 0;
    int separatorOpen = -1;
    int separatorClose = -1;
    int itemChildren = 0;

    bool Empty() const { return end - start <= 1; }
};

// Reusable buffers of the generation walk; keeping one per thread avoids any
// allocation per version once the buffers have grown.
class CGenerationScratch {
public:
    struct Piece {
        int lo;  // text [lo, hi) with the children written in it
        int hi;
        const std::unique_ptr<CBracketNode>* children;
        int childCount;
    };
    struct Frame {
        int pieceBegin;
        int pieceEnd;
        int piece;
        int child;
        int pos;
        int digitBegin;
        int digit;
        bool random;
    };
    std::vector<Frame> frames;
    std::vector<Piece> pieces;
    std::vector<double> digits;
    std::vector<double> radix;
    std::vector<int> order;
    std::vector<int> slots;
    std::vector<int> tail;
};

class CBracketNode {
public:
    virtual ~CBracketNode();  // destroys the subtree without recursion
    CBracketNode(const CBracketNode&) = delete;
    CBracketNode& operator=(const CBracketNode&) = delete;

    // The number of versions of the group, capped at kMaxCount; counted once
    // when the tree is built, since nodes never change afterwards.
    double GetCount() const { return count_; }
    bool IsArrangement() const { return arrangement_; }

    // Appends one version of the group to out: version number index when
    // random is false (a negative index counts as 0), a free choice in every
    // group otherwise. text is the prepared text the tree was built from.
    void Generate(double index, std::u16string& out, std::u16string_view text, bool random, CRandom15& rng,
                  CGenerationScratch* scratch = nullptr) const;

    CBracketNode* parent = nullptr;  // not owning; null for a root
    int start = 0;                   // the opening bracket
    int end = 0;                     // the closing bracket
    std::vector<Alternative> alternatives;
    int alternativeCount = 0;

protected:
    explicit CBracketNode(bool arrangement) : arrangement_(arrangement) {}
    double count_ = 1;
    bool arrangement_;
    friend std::unique_ptr<CBracketNode> CreateNode(int, std::u16string_view, int, CBracketNode*);
};

// A choice group: one alternative's versions after another's.
class CBraceNode final : public CBracketNode {
public:
    CBraceNode() : CBracketNode(false) {}

private:
    friend std::unique_ptr<CBracketNode> CreateNode(int, std::u16string_view, int, CBracketNode*);
};

// An arrangement group: every order of its alternatives, each with every
// combination of the alternatives' own versions.
class CSquareBracketNode final : public CBracketNode {
public:
    CSquareBracketNode() : CBracketNode(true) {}
    // Versions per order, count / n!; 0 when n! exceeds a double (171 or
    // more alternatives), in which case a version number picks the order
    // directly and every alternative takes its first version.
    double VersionsPerOrder() const { return perOrder_; }

private:
    double perOrder_ = 1;
    friend std::unique_ptr<CBracketNode> CreateNode(int, std::u16string_view, int, CBracketNode*);
};

// Builds the node of the group text[start .. end] and its whole subtree in one
// pass. A node without parent is a root: its "|" characters are plain text and
// it has a single alternative. Returns null when the span is not a group whose
// brackets of both shapes nest properly.
std::unique_ptr<CBracketNode> CreateNode(int start, std::u16string_view text, int end, CBracketNode* parent);

// Appends the prepared text to out: every square group's default separator
// (the "<...>" right after its "[") is removed and written at the end of every
// alternative that is followed by "|" and has no own separator; nested groups,
// and groups inside the copied separators, get the same treatment. Meant for
// text that passed CheckSyntax. One pass, linear in the output's length. Fails
// with kind kPreparedTextTooLarge, at the position of the group's "[" in text,
// when out would grow past maxLength code units.
SyntaxResult DistributeSeparators(std::u16string_view text, std::u16string& out, size_t maxLength);

// The default output limit of LoadTemplate for a template of the given length:
// 16 times the template plus 16 Mi code units.
size_t MaxPreparedLength(size_t templateLength);

}  // namespace SyntaxStringGenerator
