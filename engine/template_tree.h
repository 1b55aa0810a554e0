// The template tree: one record per group of the prepared template text,
// each alternative knowing the groups written directly in it. The tree counts
// the template's versions and produces any version by number or at random.
//
//   std::u16string prepared;
//   DistributeSeparators(u"{" + templ + u"}", prepared, MaxPreparedLength(templ.size()));
//   auto tree = SyntaxStringGenerator::BuildTemplateTree(0, prepared, int(prepared.size()) - 1);
//   double count = tree->GetCount();
//   std::u16string out;
//   CRandom15 rng(7);
//   tree->Generate(3, out, prepared, false, rng);   // version number 3
//
// The records lie in one array of 32-bit words, written as their groups
// close, so a group costs a few words and no allocation of its own: about
// eight bytes per character for the densest templates ("{|}" repeated),
// against hundreds of bytes per group for a tree of objects. What the text
// already says (a group's shape, an alternative's start) is not stored, nor
// what is cheap to recompute (a narrow choice group's running totals, the
// count of a choice group whose alternatives each have one version).
// Building, counting, generating and destroying need no call-stack depth,
// so a template nested 100,000 levels deep is fine.
//
// Thread safety: a built tree is immutable; several threads may generate from
// it at once, each with its own CGenerationScratch and CRandom15. A stop flag
// given to the build may be set from any thread (or a signal handler).
#pragma once

#include "random15.h"
#include "engine/syntax_check.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace SyntaxStringGenerator {

// Counts never exceed this value; it stands for every larger number.
constexpr double kMaxCount = 1.7e300;

// k! as a double: 1 for k at most 0, infinity from 171 on.
double Factorial(int k);

// The counting rules, shared by every reader of the groups so that all count
// with the same doubles. product × count, or kMaxCount once that reaches it:
double CapProduct(double product, double count);
// A choice group's count from its alternatives' products (each the CapProduct
// of its children's counts, from 1): their sum, saturating at kMaxCount.
double ChoiceCount(const double* products, int n);
// An arrangement group's: n! times every product, saturating at kMaxCount.
double ArrangementCount(const double* products, int n);

// The version-number digits of x over children whose counts multiply up to
// radix[0 .. k-1] (child 0 least significant): the most significant digit
// that x reaches is taken first, then the rest of x is split over the lower
// ones. An x at or above radix[k-1] gives all digits 0.
void MixedRadixDigits(const double* radix, int k, double x, double* digits);

// Applies permutation number k to order: the first item goes to position
// floor(k / (n-1)!) of the permuted rest, recursively. Items whose (m-1)! is
// not a finite double keep their place at the front. slots and tail are
// working buffers.
void ApplyPermutation(std::vector<int>& order, double k, std::vector<int>& slots, std::vector<int>& tail);

// Reusable buffers of the generation walk; keeping one per thread avoids any
// allocation per version once the buffers have grown.
class CGenerationScratch {
public:
    struct Piece {
        int lo;  // text [lo, hi) with the children written in it
        int hi;
        const int32_t* children;  // record offsets
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
    std::size_t lastLength = 0;  // of the last version generated
};

class CTemplateTree {
public:
    // The number of versions of the root group, capped at kMaxCount.
    double GetCount() const;

    // Appends one version of the root group to out: version number index when
    // random is false (a negative index counts as 0), a free choice in every
    // group otherwise. text is the prepared text the tree was built from.
    void Generate(double index, std::u16string& out, std::u16string_view text, bool random, CRandom15& rng,
                  CGenerationScratch* scratch = nullptr) const;

    // The bytes the records take.
    size_t MemoryBytes() const { return words_.size() * sizeof(int32_t); }

private:
    friend class CTreeBuilder;
    std::vector<int32_t> words_;
    int32_t root_ = 0;
};

// Builds the tree of the group text[start .. end], which is its root: the
// root's "|" characters are plain text and it has a single alternative.
// Returns null when the span is not a group whose brackets of both shapes nest
// properly, or when stop reads true before the build is done.
std::unique_ptr<CTemplateTree> BuildTemplateTree(int start, std::u16string_view text, int end,
                                                 const std::atomic<bool>* stop = nullptr);

// Appends the prepared text to out: every square group's default separator
// (the "<...>" right after its "[") is removed and written at the end of every
// alternative that is followed by "|" and has no own separator; nested groups,
// and groups inside the copied separators, get the same treatment. Meant for
// text that passed CheckSyntax. One pass, linear in the output's length. Fails
// with kind kPreparedTextTooLarge, at the position of the group's "[" in text,
// when out would grow past maxLength code units. When stop reads true the
// walk ends early with out incomplete; the caller, which set the flag, drops it.
SyntaxResult DistributeSeparators(std::u16string_view text, std::u16string& out, size_t maxLength,
                                  const std::atomic<bool>* stop = nullptr);

// The default output limit of LoadTemplate for a template of the given length:
// 16 times the template plus 16 Mi code units.
size_t MaxPreparedLength(size_t templateLength);

}  // namespace SyntaxStringGenerator
