#include "free_choice_walk.h"

#include "bracket_matches.h"
#include "text/text_encoding.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace SyntaxStringGenerator {

// Reads the groups of the prepared text as the template tree does (every "|"
// below the root ends an alternative of the innermost open group; an
// arrangement alternative followed by "|" whose text ends with ">" has its own
// separator from the matching "<" at its level on), then writes each group's
// steps.
class CFreeChoiceCompiler {
public:
    explicit CFreeChoiceCompiler(std::u16string_view text) : text_(text) {}

    std::unique_ptr<CFreeChoiceWalk> Compile() {
        if (!Read()) return nullptr;
        auto walk = std::make_unique<CFreeChoiceWalk>();
        walk_ = walk.get();
        walk_->groups_.reserve(groups_.size());
        for (Group& g : groups_) {
            if (g.arrangement) LocateOwnSeparators(g);
            const auto n = static_cast<int32_t>(g.alternatives.size());
            walk_->groups_.push_back({g.arrangement ? -n : n, static_cast<uint32_t>(walk_->firsts_.size())});
            walk_->firsts_.resize(walk_->firsts_.size() + (g.arrangement ? 2 : 1) * g.alternatives.size(),
                                  CFreeChoiceWalk::kNone);
        }
        for (size_t id = 0; id < groups_.size(); ++id) WriteSteps(id);
        walk_->rootStep_ = walk_->firsts_[walk_->groups_[0].first];
        walk_->EncodePieces();
        walk_->pool_.resize(walk_->pool_.size() + CFreeChoiceWalk::kBlockBytes / sizeof(char16_t), u'\0');
        walk_->pool_.shrink_to_fit();
        walk_->pieces_.shrink_to_fit();
        walk_->groupAfter_.shrink_to_fit();
        return walk;
    }

private:
    struct Alternative {
        int start = 0;  // the bracket or "|" before the text
        int end = 0;    // the "|" or bracket after it
        std::vector<uint32_t> children;  // group ids, in text order
        int itemEnd = 0;  // arrangements: where the item ends (an own separator's "<")
        int separatorOpen = -1;
        size_t itemChildren = 0;  // children before the own separator
    };
    struct Group {
        bool arrangement = false;
        int start = 0;
        int end = 0;
        std::vector<Alternative> alternatives;
    };

    // Groups in the order they open, so the root is group 0.
    bool Read() {
        const int n = static_cast<int>(text_.size());
        if (n < 2 || text_[0] != u'{' || text_[static_cast<size_t>(n) - 1] != u'}') return false;
        groups_.push_back(Group{false, 0, n - 1, {}});
        groups_[0].alternatives.emplace_back().start = 0;
        std::vector<uint32_t> open{0};
        for (int p = 1; p < n - 1; ++p) {
            const char16_t c = text_[static_cast<size_t>(p)];
            if (c == u'{' || c == u'[') {
                const auto id = static_cast<uint32_t>(groups_.size());
                groups_[open.back()].alternatives.back().children.push_back(id);
                groups_.push_back(Group{c == u'[', p, p, {}});
                groups_.back().alternatives.emplace_back().start = p;
                open.push_back(id);
            } else if (c == u'}' || c == u']') {
                if (open.size() == 1) return false;
                Group& g = groups_[open.back()];
                if (g.arrangement != (c == u']')) return false;
                g.alternatives.back().end = p;
                g.end = p;
                open.pop_back();
            } else if (c == u'|' && open.size() > 1) {
                Group& g = groups_[open.back()];
                g.alternatives.back().end = p;
                g.alternatives.emplace_back().start = p;
            }
        }
        if (open.size() != 1) return false;
        groups_[0].alternatives.back().end = n - 1;
        return true;
    }

    void LocateOwnSeparators(Group& g) {
        for (Alternative& alt : g.alternatives) {
            alt.itemEnd = alt.end;
            alt.itemChildren = alt.children.size();
        }
        for (size_t i = 0; i + 1 < g.alternatives.size(); ++i) {
            Alternative& alt = g.alternatives[i];
            const OwnSeparator own = FindOwnSeparator(
                text_, alt.start, alt.end, static_cast<int>(alt.children.size()), [&](int c) {
                    const Group& child = groups_[alt.children[static_cast<size_t>(c)]];
                    return std::pair{child.start, child.end};
                });
            if (own.open < 0) continue;
            alt.itemEnd = own.open;
            alt.separatorOpen = own.open;
            alt.itemChildren = static_cast<size_t>(own.childrenBefore);
        }
    }

    void WriteSteps(size_t id) {
        const Group& g = groups_[id];
        const uint32_t first = walk_->groups_[id].first;
        const size_t n = g.alternatives.size();
        for (size_t i = 0; i < n; ++i) {
            const Alternative& alt = g.alternatives[i];
            const uint32_t* children = alt.children.data();
            if (!g.arrangement) {
                walk_->firsts_[first + i] = WriteSequence(alt.start + 1, alt.end, children, alt.children.size());
                continue;
            }
            walk_->firsts_[first + i] = WriteSequence(alt.start + 1, alt.itemEnd, children, alt.itemChildren);
            if (alt.separatorOpen >= 0) {
                walk_->firsts_[first + n + i] = WriteSequence(alt.separatorOpen + 1, alt.end - 1,
                                                              children + alt.itemChildren,
                                                              alt.children.size() - alt.itemChildren);
            }
        }
    }

    // The steps of text [lo, hi) with the given children written in it;
    // returns the first step's index.
    uint32_t WriteSequence(int lo, int hi, const uint32_t* children, size_t count) {
        const auto first = static_cast<uint32_t>(walk_->pieces_.size());
        int pos = lo;
        for (size_t c = 0; c < count; ++c) {
            const Group& child = groups_[children[c]];
            walk_->pieces_.push_back({PoolPiece(pos, child.start), static_cast<uint32_t>(child.start - pos)});
            walk_->groupAfter_.push_back(static_cast<int32_t>(children[c]));
            pos = child.end + 1;
        }
        walk_->pieces_.push_back({PoolPiece(pos, hi), static_cast<uint32_t>(std::max(0, hi - pos))});
        walk_->groupAfter_.push_back(CFreeChoiceWalk::kEnd);
        return first;
    }

    uint32_t PoolPiece(int from, int to) {
        const auto at = static_cast<uint32_t>(walk_->pool_.size());
        if (to > from) walk_->pool_.insert(walk_->pool_.end(), text_.begin() + from, text_.begin() + to);
        return at;
    }

    std::u16string_view text_;
    std::vector<Group> groups_;
    CFreeChoiceWalk* walk_ = nullptr;
};

std::unique_ptr<CFreeChoiceWalk> CFreeChoiceWalk::Build(std::u16string_view prepared) {
    return CFreeChoiceCompiler(prepared).Compile();
}

// The UTF-8 pool holds the pieces in step order, as the UTF-16 pool does.
void CFreeChoiceWalk::EncodePieces() {
    const auto isSurrogate = [](char16_t c) { return c >= 0xD800 && c <= 0xDFFF; };
    std::string pool;
    pool.reserve(pool_.size() * 3 / 2 + kBlockBytes);
    std::vector<Piece> pieces;
    pieces.reserve(pieces_.size());
    for (const Piece& piece : pieces_) {
        const char16_t* units = pool_.data() + piece.from;
        if (piece.length > 0 && (isSurrogate(units[0]) || isSurrogate(units[piece.length - 1]))) return;
        // A lone surrogate would be written as "?", which correction takes for a mark.
        for (uint32_t i = 0; i < piece.length; ++i) {
            if (!isSurrogate(units[i])) continue;
            if (units[i] >= 0xDC00 || i + 1 == piece.length || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return;
            ++i;
        }
        const auto at = pool.size();
        pool.resize(at + MaxUtf8Bytes(piece.length));
        const size_t bytes = EncodeUtf8(std::u16string_view(units, piece.length), pool.data() + at);
        pool.resize(at + bytes);
        if (pool.size() > UINT32_MAX - kBlockBytes) return;
        pieces.push_back({static_cast<uint32_t>(at), static_cast<uint32_t>(bytes)});
    }
    pool.resize(pool.size() + kBlockBytes, '\0');
    pool.shrink_to_fit();
    pool8_ = std::move(pool);
    pieces8_ = std::move(pieces);
}

void CFreeChoiceWalk::Generate(std::u16string& out, CRandom15& rng, CFreeChoiceScratch& scratch) const {
    Run(out, pool_.data(), pieces_.data(), rng, scratch);
}

void CFreeChoiceWalk::GenerateUtf8(std::string& out, CRandom15& rng, CFreeChoiceScratch& scratch) const {
    Run(out, pool8_.data(), pieces8_.data(), rng, scratch);
}

template <typename Char>
void CFreeChoiceWalk::Run(std::basic_string<Char>& out, const Char* pool, const Piece* pieces, CRandom15& rng,
                          CFreeChoiceScratch& scratch) const {
    constexpr size_t kBlock = kBlockBytes / sizeof(Char);
    std::vector<uint32_t>& stack = scratch.stack;
    stack.clear();
    const size_t begin = out.size();
    // The text is written through a pointer into room made beforehand, as
    // much as the last version took; the room doubles when it runs out.
    out.resize(begin + std::min(scratch.lastLength, size_t{1} << 17) + 256);
    Char* w = out.data() + begin;
    Char* end = out.data() + out.size();
    const int32_t* groupAfter = groupAfter_.data();
    // Whole blocks: a piece is mostly a word or two, so one fixed-size copy,
    // whose tail the next piece overwrites.
    const auto write = [&](const Piece& piece) {
        if (static_cast<size_t>(end - w) < piece.length + kBlock) [[unlikely]] {
            const auto used = static_cast<size_t>(w - out.data());
            out.resize(used + piece.length + kBlock + (used - begin) + 256);
            w = out.data() + used;
            end = out.data() + out.size();
        }
        const Char* from = pool + piece.from;
        size_t k = 0;
        do {
            std::memcpy(w + k, from + k, kBlockBytes);
            k += kBlock;
        } while (k < piece.length);
        w += piece.length;
    };
    uint32_t at = rootStep_;
    for (;;) {
        write(pieces[at]);
        const int32_t after = groupAfter[at++];
        if (after < 0) {
            if (stack.empty()) break;
            at = stack.back();
            stack.pop_back();
            continue;
        }
        const Group group = groups_[static_cast<size_t>(after)];
        if (group.n > 1) {
            stack.push_back(at);
            at = firsts_[group.first + static_cast<uint32_t>(RandomIndex(rng.Next(), group.n))];
        } else if (group.n == 1) {
            stack.push_back(at);
            at = firsts_[group.first];
        } else {
            at = EnterArrangement(group, at, rng, scratch);
        }
    }
    out.resize(static_cast<size_t>(w - out.data()));
    scratch.lastLength = out.size() - begin;
}

// Shuffles the alternatives with one swap per alternative, then queues the
// items in their new order, each followed by the separator of its position.
uint32_t CFreeChoiceWalk::EnterArrangement(const Group& group, uint32_t resume, CRandom15& rng,
                                           CFreeChoiceScratch& scratch) const {
    const int n = -group.n;
    std::vector<int>& order = scratch.order;
    order.resize(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    for (int j = 0; j < n; ++j) {
        std::swap(order[static_cast<size_t>(j)], order[static_cast<size_t>(RandomIndex(rng.Next(), n))]);
    }
    std::vector<uint32_t>& stack = scratch.stack;
    stack.push_back(resume);
    const uint32_t* items = firsts_.data() + group.first;
    const uint32_t* separators = items + n;
    for (int j = n - 1; j >= 0; --j) {
        if (separators[j] != kNone) stack.push_back(separators[j]);
        stack.push_back(items[order[static_cast<size_t>(j)]]);
    }
    const uint32_t next = stack.back();
    stack.pop_back();
    return next;
}

}  // namespace SyntaxStringGenerator
