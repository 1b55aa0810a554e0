// The template compiled into steps: each alternative becomes a short list of
// steps, a piece of text followed by the group written after it, and the
// texts lie back to back in a pool of their own. A version then costs one
// table look-up and one copy of a fixed size per group, where the template
// tree decodes a record per group. Two walks read it:
// - free choice in every group (the random versions of templates with more
//   than 10^10 versions): one draw per choice group, drawn from the generator
//   exactly as CTemplateTree::Generate does with random on. This walk reads
//   entries: the text written after a draw up to the next group to draw in,
//   and that group. A plain alternative, the text after its group and any
//   group of one alternative after that make one entry while their copies
//   stay within the memory budget, so that the next draw's alternative is
//   read right after the draw;
// - version number x (series order, and random order up to 10^10 versions):
//   the alternatives and orders that CTemplateTree::Generate picks for x, read
//   from the steps with the tree's own counts and double arithmetic.
// Both give the same text as the tree. The pieces are kept in UTF-8 as well,
// so a version can be written as UTF-8 bytes directly, the same bytes as its
// text encoded by EncodeUtf8.
//
//   auto walk = CFreeChoiceWalk::Build(prepared);   // "{...}" as LoadTemplate prepares it
//   CRandom15 rng(7);
//   CFreeChoiceScratch scratch;
//   walk->Generate(out, rng, scratch);               // appends one version to out
//   walk->GenerateNumber(42, out, scratch);          // appends version number 42
//   if (walk->HasUtf8()) walk->GenerateUtf8(bytes, rng, scratch);
//
// Generating needs no call-stack depth: what is still to write waits on the
// scratch's stacks, at most one entry per group being written.
// Thread safety: immutable once built; several threads may generate at once,
// each with its own generator and scratch.
#pragma once

#include "random15.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace SyntaxStringGenerator {

// Reusable buffers of one generating thread.
struct CFreeChoiceScratch {
    // Where to go on when a list of steps ends: the step, and for a numbered
    // walk the digit cursor and the top of the digits to return to (digit -1:
    // the next part of an arrangement, which goes on with the same digits).
    struct Resume {
        uint32_t step;
        int32_t digit;
        int32_t top;
    };
    std::vector<uint32_t> stack;  // entries of the free walk still to write (their offsets)
    std::vector<Resume> resumes;
    std::vector<double> digits;  // of the groups being written, by number
    std::vector<double> radix;
    std::vector<int> order;
    std::vector<int> slots;
    std::vector<int> tail;
    std::size_t lastLength = 0;  // of the last version, the room made for the next
};

class CFreeChoiceWalk {
public:
    // prepared passed CheckSyntax, begins with "{" and ends with "}". Null
    // when its brackets do not nest, or when compiling it would take more
    // than kBudgetPerUnit bytes per code unit beyond kBudgetFloor.
    static constexpr size_t kBudgetPerUnit = 4;
    static constexpr size_t kBudgetFloor = size_t{1} << 20;
    static std::unique_ptr<CFreeChoiceWalk> Build(std::u16string_view prepared);

    // Appends one version to out.
    void Generate(std::u16string& out, CRandom15& rng, CFreeChoiceScratch& scratch) const;
    // False when a piece begins or ends with a surrogate (encoded on its own
    // it could differ from the same units encoded within the whole text) or
    // holds a lone one (its "?" could not be auto-corrected as UTF-8).
    bool HasUtf8() const { return !pool8_.empty(); }
    // Appends one version as UTF-8; needs HasUtf8().
    void GenerateUtf8(std::string& out, CRandom15& rng, CFreeChoiceScratch& scratch) const;
    // Two versions at once, each as GenerateUtf8 appends it, in about the
    // time of one and a half; needs HasUtf8().
    void GenerateUtf8Pair(std::string& out, CRandom15& rng, CFreeChoiceScratch& scratch, std::string& secondOut,
                          CRandom15& secondRng, CFreeChoiceScratch& secondScratch) const;
    // Appends version number index (a negative index counts as 0), as
    // UTF-16 or, when HasUtf8(), as UTF-8.
    void GenerateNumber(double index, std::u16string& out, CFreeChoiceScratch& scratch) const;
    void GenerateNumberUtf8(double index, std::string& out, CFreeChoiceScratch& scratch) const;

private:
    // Step i writes piece i of the pool, then the group after it.
    struct Piece {
        uint32_t from;
        uint32_t length;
    };
    // A choice group of n > 1 alternatives, a group of one alternative
    // (n == 1, no draw), or an arrangement group of -n alternatives; n == 0
    // after the last piece of an alternative or separator. Its entries in
    // sequences_ from first on: each alternative's steps; for an arrangement,
    // n items and then n separators (kNone for an alternative without a
    // separator of its own).
    struct Group {
        int32_t n;
        uint32_t first;
    };
    // The steps of an alternative, an item or a separator: from step first
    // on, one step per group written in it and one more for the text after
    // the last.
    struct Sequence {
        uint32_t first;
        uint32_t groups;
    };
    // In the free walk, the group to draw in next: n as in Group, and where
    // its entries begin, in bytes from the first entry, so that one offset
    // finds both an entry's link and its piece.
    struct Link {
        int32_t n;
        uint32_t offset;
    };
    static_assert(sizeof(Link) == sizeof(Piece));
    static constexpr uint32_t kNone = UINT32_MAX;
    // Copies run in blocks of this many bytes, so the pools and the output
    // keep that much room after their last unit.
    static constexpr size_t kBlockBytes = 64;

    friend class CFreeChoiceCompiler;
    template <typename Char, size_t blockBytes>
    class CWriter;
    template <typename Char>
    class CFreeRun;

    template <typename Char>
    void Run(std::basic_string<Char>& out, const Char* pool, const Piece* entryPieces, CRandom15& rng,
             CFreeChoiceScratch& scratch) const;
    template <typename Char>
    void RunNumber(double x, std::basic_string<Char>& out, const Char* pool, const Piece* pieces,
                   CFreeChoiceScratch& scratch) const;
    int32_t QueueNumberedArrangement(const Group& group, double count, double x, CFreeChoiceScratch::Resume*& sp,
                                     double* digits, CFreeChoiceScratch& scratch) const;
    // The digits of x over the groups of sequence s.
    void SequenceDigits(const Sequence& s, double x, double* digits) const;
    bool EncodePieces();

    // The pools hold the steps' pieces, then the texts of the entries that
    // join several of them.
    std::vector<char16_t> pool_;
    std::vector<Piece> pieces_;
    std::vector<Group> after_;         // per step: the group after its piece
    std::string pool8_;                // empty without UTF-8 pieces
    std::vector<Piece> pieces8_;
    // The free walk's entries: a piece, then the group to draw in next, or
    // n == 0 to go on with the entry queued last.
    std::vector<Link> entryNext_;
    std::vector<Piece> entryPieces_;
    std::vector<Piece> entryPieces8_;  // the same pieces in pool8_
    Link start_{};                     // the root, a group of one alternative
    std::vector<Sequence> sequences_;
    Sequence root_{};
    // For version numbers, per step: the count of the group after its piece,
    // and in a choice alternative the product of the counts of its groups up
    // to that one; per entry of sequences_: the running totals of a choice
    // group's alternatives' products.
    std::vector<double> afterCount_;
    std::vector<double> radix_;
    std::vector<double> totals_;
    size_t groupCount_ = 0;
    // The most entries a walk's stack can hold.
    uint32_t stackDepth_ = 0;
};

}  // namespace SyntaxStringGenerator
