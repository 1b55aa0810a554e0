// The template compiled for versions in which every group chooses freely (the
// random versions of templates with more than 10^10 versions): each
// alternative becomes a short list of steps, a piece of text followed by the
// group written after it, and the texts lie back to back in a pool of their
// own. A version then costs one draw, one table look-up and one copy of a
// fixed size per group, where the template tree decodes a record per group.
// It draws from the generator exactly as CTemplateTree::Generate does with
// random on, so both give the same text for the same generator state. The
// pieces are kept in UTF-8 as well, so a version can be written as UTF-8
// bytes directly, the same bytes as its text encoded by EncodeUtf8.
//
//   auto walk = CFreeChoiceWalk::Build(prepared);   // "{...}" as LoadTemplate prepares it
//   CRandom15 rng(7);
//   CFreeChoiceScratch scratch;
//   walk->Generate(out, rng, scratch);               // appends one version to out
//   if (walk->HasUtf8()) walk->GenerateUtf8(bytes, rng, scratch);
//
// Generating needs no call-stack depth: the steps still to take wait on the
// scratch's stack, one entry per group being written.
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
    std::vector<uint32_t> stack;
    std::vector<int> order;
    std::size_t lastLength = 0;  // of the last version, the room made for the next
};

class CFreeChoiceWalk {
public:
    // prepared passed CheckSyntax, begins with "{" and ends with "}". Null
    // when its brackets do not nest.
    static std::unique_ptr<CFreeChoiceWalk> Build(std::u16string_view prepared);

    // Appends one version to out.
    void Generate(std::u16string& out, CRandom15& rng, CFreeChoiceScratch& scratch) const;
    // False when a piece begins or ends with a surrogate (encoded on its own
    // it could differ from the same units encoded within the whole text) or
    // holds a lone one (its "?" could not be auto-corrected as UTF-8).
    bool HasUtf8() const { return !pool8_.empty(); }
    // Appends one version as UTF-8; needs HasUtf8().
    void GenerateUtf8(std::string& out, CRandom15& rng, CFreeChoiceScratch& scratch) const;

private:
    // Step i writes piece i of the pool, then the group after it (kEnd: the
    // alternative or separator ends here).
    struct Piece {
        uint32_t from;
        uint32_t length;
    };
    // A choice group of n > 1 alternatives, a group of one alternative
    // (n == 1, no draw), or an arrangement group of -n alternatives. Its
    // entries in firsts_ from first on: the first step of each alternative;
    // for an arrangement, n item starts and then n separator starts (kNone
    // for an alternative without a separator of its own).
    struct Group {
        int32_t n;
        uint32_t first;
    };
    static constexpr int32_t kEnd = -1;
    static constexpr uint32_t kNone = UINT32_MAX;
    // Copies run in blocks of this many bytes, so the pools and the output
    // keep that much room after their last unit.
    static constexpr size_t kBlockBytes = 32;

    friend class CFreeChoiceCompiler;

    template <typename Char>
    void Run(std::basic_string<Char>& out, const Char* pool, const Piece* pieces, CRandom15& rng,
             CFreeChoiceScratch& scratch) const;
    uint32_t EnterArrangement(const Group& group, uint32_t resume, CRandom15& rng, CFreeChoiceScratch& scratch) const;
    void EncodePieces();

    std::vector<char16_t> pool_;
    std::vector<Piece> pieces_;
    std::vector<int32_t> groupAfter_;  // per step
    std::string pool8_;                // empty without UTF-8 pieces
    std::vector<Piece> pieces8_;
    std::vector<Group> groups_;
    std::vector<uint32_t> firsts_;
    uint32_t rootStep_ = 0;
};

}  // namespace SyntaxStringGenerator
