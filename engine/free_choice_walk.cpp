#include "free_choice_walk.h"

#include "bracket_matches.h"
#include "template_tree.h"
#include "text/text_encoding.h"

#include <algorithm>
#include <cmath>
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

    // An upper bound of what compiling text takes at its peak, in bytes,
    // from its brackets and bars: the groups and alternatives read (each
    // with a heap block), the steps and both pools written; or, once the
    // groups read are released, the steps, the pools and the entries.
    static size_t PeakBytes(std::u16string_view text) {
        size_t groups = 0;
        size_t bars = 0;
        size_t arrangementBars = 0;
        size_t utf8Bytes = 0;
        std::vector<bool> arrangements;  // the open brackets: "[" or not
        for (const char16_t c : text) {
            if (c == u'{' || c == u'[') {
                ++groups;
                arrangements.push_back(c == u'[');
            } else if (c == u'}' || c == u']') {
                if (!arrangements.empty()) arrangements.pop_back();
            } else if (c == u'|') {
                ++bars;
                if (!arrangements.empty() && arrangements.back()) ++arrangementBars;
            }
            utf8Bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        }
        constexpr size_t kHeapBlock = 32;
        const size_t alternatives = groups + bars;
        const size_t steps = alternatives + groups;
        const size_t stepBytes = steps * (2 * sizeof(CFreeChoiceWalk::Piece) + sizeof(int32_t));
        const size_t pools = text.size() * sizeof(char16_t) + utf8Bytes;
        const size_t reading = groups * (sizeof(Group) + kHeapBlock + sizeof(uint32_t) + sizeof(CFreeChoiceWalk::Group)) +
                               alternatives * (sizeof(Alternative) + kHeapBlock + 2 * sizeof(uint32_t)) + stepBytes +
                               pools;
        // An entry per alternative, per piece after a group and per
        // arrangement separator, and one more per arrangement to go on after
        // it; while they are written, the owner and next group of each, and
        // of each step the group whose sequence holds it and the entry of the
        // piece after a group.
        const size_t entries = alternatives + arrangementBars + 3 * groups;
        const size_t writing = stepBytes + steps * 2 * sizeof(uint32_t) + groups * 2 * sizeof(uint32_t) +
                               entries * (sizeof(uint32_t) + sizeof(CFreeChoiceWalk::Group) +
                                          sizeof(CFreeChoiceWalk::Link) + 2 * sizeof(CFreeChoiceWalk::Piece)) +
                               pools;
        return std::max(reading, writing);
    }
    // What one code unit copied into an entry that joins pieces costs: the
    // unit and its UTF-8 form.
    static constexpr size_t kJoinedUnitBytes = sizeof(char16_t) + 3;

    // joinAllowance: the code units the entries that join pieces may copy.
    std::unique_ptr<CFreeChoiceWalk> Compile(size_t joinAllowance) {
        if (!Read()) return nullptr;
        auto walk = std::make_unique<CFreeChoiceWalk>();
        walk_ = walk.get();
        compiled_.reserve(groups_.size());
        for (Group& g : groups_) {
            if (g.arrangement) LocateOwnSeparators(g);
            const auto n = static_cast<int32_t>(g.alternatives.size());
            compiled_.push_back({g.arrangement ? -n : n, static_cast<uint32_t>(walk_->sequences_.size())});
            walk_->sequences_.resize(walk_->sequences_.size() + (g.arrangement ? 2 : 1) * g.alternatives.size(),
                                     {CFreeChoiceWalk::kNone, 0});
        }
        for (size_t id = 0; id < groups_.size(); ++id) WriteSteps(id);
        WriteCounts();
        std::vector<Group>().swap(groups_);
        const bool encoded = walk_->EncodePieces();
        const bool utf8 = WriteEntries(joinAllowance, encoded) && encoded;
        walk_->pool_.resize(walk_->pool_.size() + CFreeChoiceWalk::kBlockBytes / sizeof(char16_t), u'\0');
        walk_->pool_.shrink_to_fit();
        walk_->pieces_.shrink_to_fit();
        walk_->after_.shrink_to_fit();
        if (utf8) {
            walk_->pool8_.resize(walk_->pool8_.size() + CFreeChoiceWalk::kBlockBytes, '\0');
            walk_->pool8_.shrink_to_fit();
        } else {
            std::string().swap(walk_->pool8_);
            std::vector<CFreeChoiceWalk::Piece>().swap(walk_->pieces8_);
            std::vector<CFreeChoiceWalk::Piece>().swap(walk_->entryPieces8_);
        }
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
        CFreeChoiceWalk::Sequence* sequences = walk_->sequences_.data() + compiled_[id].first;
        const size_t n = g.alternatives.size();
        for (size_t i = 0; i < n; ++i) {
            const Alternative& alt = g.alternatives[i];
            const uint32_t* children = alt.children.data();
            if (!g.arrangement) {
                sequences[i] = WriteSequence(alt.start + 1, alt.end, children, alt.children.size());
                continue;
            }
            sequences[i] = WriteSequence(alt.start + 1, alt.itemEnd, children, alt.itemChildren);
            if (alt.separatorOpen >= 0) {
                sequences[n + i] = WriteSequence(alt.separatorOpen + 1, alt.end - 1, children + alt.itemChildren,
                                                 alt.children.size() - alt.itemChildren);
            }
        }
    }

    // The steps of text [lo, hi) with the given children written in it.
    CFreeChoiceWalk::Sequence WriteSequence(int lo, int hi, const uint32_t* children, size_t count) {
        const auto first = static_cast<uint32_t>(walk_->pieces_.size());
        int pos = lo;
        for (size_t c = 0; c < count; ++c) {
            const Group& child = groups_[children[c]];
            walk_->pieces_.push_back({PoolPiece(pos, child.start), static_cast<uint32_t>(child.start - pos)});
            walk_->after_.push_back(compiled_[children[c]]);
            stepGroup_.push_back(children[c]);
            pos = child.end + 1;
        }
        walk_->pieces_.push_back({PoolPiece(pos, hi), static_cast<uint32_t>(std::max(0, hi - pos))});
        walk_->after_.push_back({0, 0});
        stepGroup_.push_back(CFreeChoiceWalk::kNone);
        return {first, static_cast<uint32_t>(count)};
    }

    // The counts with the tree's rules and in its order, so that a version
    // number picks the same alternatives and orders as in the tree; and the
    // deepest stack a walk needs: a group takes one entry to resume after it,
    // an arrangement two more per alternative for its queued items and
    // separators, and then the deepest of the groups written in it.
    void WriteCounts() {
        std::vector<double> counts(groups_.size(), 1.0);
        walk_->totals_.assign(walk_->sequences_.size(), 0.0);
        walk_->radix_.assign(walk_->pieces_.size(), 1.0);
        std::vector<uint32_t> depth(groups_.size(), 0);
        std::vector<double> products;
        // A group opens after the group it is written in, so every child is
        // counted before its parent.
        for (size_t id = groups_.size(); id-- > 0;) {
            const Group& g = groups_[id];
            const auto n = static_cast<int>(g.alternatives.size());
            products.assign(static_cast<size_t>(n), 1.0);
            uint32_t deepest = 0;
            for (int i = 0; i < n; ++i) {
                for (const uint32_t child : g.alternatives[static_cast<size_t>(i)].children) {
                    products[static_cast<size_t>(i)] = CapProduct(products[static_cast<size_t>(i)], counts[child]);
                    deepest = std::max(deepest, depth[child]);
                }
            }
            depth[id] = deepest + 1 + (g.arrangement ? 2 * static_cast<uint32_t>(n) : 0);
            if (g.arrangement) {
                counts[id] = ArrangementCount(products.data(), n);
                continue;
            }
            counts[id] = ChoiceCount(products.data(), n);
            const uint32_t first = compiled_[id].first;
            double total = 0;
            for (int i = 0; i < n; ++i) {
                total += products[static_cast<size_t>(i)];
                walk_->totals_[first + static_cast<uint32_t>(i)] = total;
                const CFreeChoiceWalk::Sequence s = walk_->sequences_[first + static_cast<uint32_t>(i)];
                double product = 1;
                for (uint32_t c = 0; c < s.groups; ++c) {
                    product *= counts[stepGroup_[s.first + c]];
                    walk_->radix_[s.first + c] = product;
                }
            }
        }
        walk_->stackDepth_ = depth[0];
        walk_->groupCount_ = groups_.size();
        walk_->root_ = walk_->sequences_[compiled_[0].first];
        walk_->afterCount_.resize(stepGroup_.size());
        for (size_t step = 0; step < stepGroup_.size(); ++step) {
            walk_->afterCount_[step] = stepGroup_[step] == CFreeChoiceWalk::kNone ? 0.0 : counts[stepGroup_[step]];
        }
    }

    // The entries of the free walk: each alternative, item and separator
    // begins one with its first piece, an arrangement has one more to go on
    // after it, and the piece after each group makes one of its own, which
    // the walk reaches as a group of one alternative. An entry that goes on
    // to a group of one alternative then takes in that entry's piece and
    // goes on where it does, while the pieces taken in are short and the
    // copies of joined texts stay within allowance code units. False when
    // the UTF-8 pool would pass its 32-bit positions.
    bool WriteEntries(size_t allowance, bool utf8) {
        using WalkGroup = CFreeChoiceWalk::Group;
        constexpr uint32_t kNone = CFreeChoiceWalk::kNone;
        CFreeChoiceWalk& w = *walk_;
        const size_t steps = w.pieces_.size();
        const size_t groups = compiled_.size();
        const auto sequencesOf = [&](size_t id) {
            const int32_t n = compiled_[id].n;
            return n < 0 ? 2 * static_cast<uint32_t>(-n) : static_cast<uint32_t>(n);
        };
        std::vector<uint32_t> base(groups);
        uint32_t count = 0;
        for (size_t id = 0; id < groups; ++id) {
            base[id] = count;
            count += sequencesOf(id) + (compiled_[id].n < 0 ? 1 : 0);
        }
        std::vector<uint32_t> ownerStep(groups, kNone);
        std::vector<uint32_t> tail(steps, kNone);  // by step: the entry of the piece after a group
        for (size_t k = 0; k < steps; ++k) {
            if (stepGroup_[k] == kNone) continue;
            ownerStep[stepGroup_[k]] = static_cast<uint32_t>(k);
            tail[k + 1] = count++;
        }
        std::vector<uint32_t> ownerGroup(steps, kNone);  // by step: the group whose sequence holds it
        for (size_t id = 0; id < groups; ++id) {
            const CFreeChoiceWalk::Sequence* sequences = w.sequences_.data() + compiled_[id].first;
            for (uint32_t i = 0; i < sequencesOf(id); ++i) {
                if (sequences[i].first == kNone) continue;
                for (uint32_t c = 0; c <= sequences[i].groups; ++c) ownerGroup[sequences[i].first + c] = static_cast<uint32_t>(id);
            }
        }

        const auto enter = [&](uint32_t id) { return WalkGroup{compiled_[id].n, base[id]}; };
        // Where the walk goes once group id is written: the root ends the version.
        const auto after = [&](uint32_t id) { return id == 0 ? WalkGroup{0, 0} : WalkGroup{1, tail[ownerStep[id] + 1]}; };
        // ... and once a sequence of group id is: an arrangement's next item,
        // and what follows the arrangement, wait in the walk's queue.
        const auto sequenceEnd = [&](uint32_t id) { return compiled_[id].n < 0 ? WalkGroup{0, 0} : after(id); };
        std::vector<uint32_t> own(count, kNone);  // by entry: the step of its first piece
        std::vector<WalkGroup> next(count, WalkGroup{0, 0});
        for (size_t id = 0; id < groups; ++id) {
            const CFreeChoiceWalk::Sequence* sequences = w.sequences_.data() + compiled_[id].first;
            const uint32_t n = sequencesOf(id);
            for (uint32_t i = 0; i < n; ++i) {
                const CFreeChoiceWalk::Sequence s = sequences[i];
                if (s.first == kNone) continue;
                own[base[id] + i] = s.first;
                next[base[id] + i] = s.groups > 0 ? enter(stepGroup_[s.first]) : sequenceEnd(static_cast<uint32_t>(id));
            }
            if (compiled_[id].n < 0) next[base[id] + n] = after(static_cast<uint32_t>(id));
        }
        for (size_t k = 0; k < steps; ++k) {
            if (tail[k] == kNone) continue;
            own[tail[k]] = static_cast<uint32_t>(k);
            next[tail[k]] = stepGroup_[k] != kNone ? enter(stepGroup_[k]) : sequenceEnd(ownerGroup[k]);
        }

        const auto link = [](WalkGroup g) {
            return CFreeChoiceWalk::Link{g.n, g.first * static_cast<uint32_t>(sizeof(CFreeChoiceWalk::Link))};
        };
        w.start_ = link(enter(0));
        w.entryNext_.resize(count);
        w.entryPieces_.resize(count);
        if (utf8) w.entryPieces8_.resize(count);
        std::vector<uint32_t> joined;
        const auto pieceLength = [&](uint32_t e) { return own[e] == kNone ? 0u : w.pieces_[own[e]].length; };
        for (uint32_t e = 0; e < count; ++e) {
            joined.clear();
            if (pieceLength(e) > 0) joined.push_back(own[e]);
            uint32_t length = pieceLength(e);
            WalkGroup to = next[e];
            while (to.n == 1) {
                const uint32_t taken = pieceLength(to.first);
                if (taken > 0) {
                    if (!joined.empty()) {
                        const size_t cost = taken + (joined.size() == 1 ? length : 0);
                        if (length + taken > kJoinedUnits || cost > allowance) break;
                        allowance -= cost;
                    }
                    joined.push_back(own[to.first]);
                    length += taken;
                }
                to = next[to.first];
            }
            w.entryNext_[e] = link(to);
            w.entryPieces_[e] = JoinedPiece(w.pool_, w.pieces_, joined);
            if (utf8) w.entryPieces8_[e] = JoinedPiece(w.pool8_, w.pieces8_, joined);
        }
        return w.pool8_.size() <= UINT32_MAX - CFreeChoiceWalk::kBlockBytes;
    }

    // The pieces of the given steps one after the other: the step's own piece
    // for one step, else their copies at the end of the pool.
    template <typename Pool>
    static CFreeChoiceWalk::Piece JoinedPiece(Pool& pool, const std::vector<CFreeChoiceWalk::Piece>& pieces,
                                             const std::vector<uint32_t>& steps) {
        if (steps.empty()) return {0, 0};
        if (steps.size() == 1) return pieces[steps[0]];
        const auto from = static_cast<uint32_t>(pool.size());
        for (const uint32_t step : steps) {
            const CFreeChoiceWalk::Piece piece = pieces[step];
            const size_t at = pool.size();
            pool.resize(at + piece.length);
            std::copy_n(pool.begin() + piece.from, piece.length, pool.begin() + static_cast<std::ptrdiff_t>(at));
        }
        return {from, static_cast<uint32_t>(pool.size() - from)};
    }

    // The longest text an entry that joins pieces copies.
    static constexpr uint32_t kJoinedUnits = 64;

    uint32_t PoolPiece(int from, int to) {
        const auto at = static_cast<uint32_t>(walk_->pool_.size());
        if (to > from) walk_->pool_.insert(walk_->pool_.end(), text_.begin() + from, text_.begin() + to);
        return at;
    }

    std::u16string_view text_;
    std::vector<Group> groups_;
    std::vector<CFreeChoiceWalk::Group> compiled_;  // per group
    std::vector<uint32_t> stepGroup_;               // per step: the group after its piece, or kNone
    CFreeChoiceWalk* walk_ = nullptr;
};

std::unique_ptr<CFreeChoiceWalk> CFreeChoiceWalk::Build(std::u16string_view prepared) {
    // Loading a template keeps within a fixed memory per input byte: a text
    // dense with groups is left to the template tree, which gives the same
    // versions.
    const size_t budget = kBudgetPerUnit * prepared.size() + kBudgetFloor;
    const size_t peak = CFreeChoiceCompiler::PeakBytes(prepared);
    if (peak > budget) return nullptr;
    // Joined pieces use what the budget leaves.
    const size_t allowance = (budget - peak) / CFreeChoiceCompiler::kJoinedUnitBytes;
    return CFreeChoiceCompiler(prepared).Compile(allowance);
}

// The UTF-8 pool holds the pieces in step order, as the UTF-16 pool does.
// False, and no pool, when a piece has no UTF-8 form of its own.
bool CFreeChoiceWalk::EncodePieces() {
    const auto isSurrogate = [](char16_t c) { return c >= 0xD800 && c <= 0xDFFF; };
    std::string pool;
    pool.reserve(pool_.size() * 3 / 2 + kBlockBytes);
    std::vector<Piece> pieces;
    pieces.reserve(pieces_.size());
    for (const Piece& piece : pieces_) {
        const char16_t* units = pool_.data() + piece.from;
        if (piece.length > 0 && (isSurrogate(units[0]) || isSurrogate(units[piece.length - 1]))) return false;
        // A lone surrogate would be written as "?", which correction takes for a mark.
        for (uint32_t i = 0; i < piece.length; ++i) {
            if (!isSurrogate(units[i])) continue;
            if (units[i] >= 0xDC00 || i + 1 == piece.length || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
            ++i;
        }
        const auto at = pool.size();
        pool.resize(at + MaxUtf8Bytes(piece.length));
        const size_t bytes = EncodeUtf8(std::u16string_view(units, piece.length), pool.data() + at);
        pool.resize(at + bytes);
        if (pool.size() > UINT32_MAX - kBlockBytes) return false;
        pieces.push_back({static_cast<uint32_t>(at), static_cast<uint32_t>(bytes)});
    }
    pool8_ = std::move(pool);
    pieces8_ = std::move(pieces);
    return true;
}

void CFreeChoiceWalk::Generate(std::u16string& out, CRandom15& rng, CFreeChoiceScratch& scratch) const {
    Run(out, pool_.data(), entryPieces_.data(), rng, scratch);
}

void CFreeChoiceWalk::GenerateUtf8(std::string& out, CRandom15& rng, CFreeChoiceScratch& scratch) const {
    Run(out, pool8_.data(), entryPieces8_.data(), rng, scratch);
}

void CFreeChoiceWalk::GenerateNumber(double index, std::u16string& out, CFreeChoiceScratch& scratch) const {
    RunNumber(std::max(0.0, index), out, pool_.data(), pieces_.data(), scratch);
}

void CFreeChoiceWalk::GenerateNumberUtf8(double index, std::string& out, CFreeChoiceScratch& scratch) const {
    RunNumber(std::max(0.0, index), out, pool8_.data(), pieces8_.data(), scratch);
}

// Writes pieces through a pointer into room made beforehand, as much as the
// last version took; the room doubles when it runs out. A piece is mostly a
// word or two, so one copy of blockBytes, whose tail the next piece
// overwrites; blockBytes is at most kBlockBytes, and pieces whose lengths
// vary around one block cost a mispredicted branch each.
// The writer lives in the walk's registers: nothing outside holds its address,
// so the bytes it stores cannot make the compiler reload it.
template <typename Char, size_t blockBytes>
class CFreeChoiceWalk::CWriter {
public:
    CWriter(std::basic_string<Char>& out, const Char* pool, std::size_t lastLength)
        : out_(out), pool_(pool), begin_(out.size()) {
        out.resize(begin_ + std::min(lastLength, size_t{1} << 17) + 256);
        w_ = out.data() + begin_;
        end_ = out.data() + out.size();
    }

    [[gnu::always_inline]] void Write(const Piece piece) {
        if (static_cast<size_t>(end_ - w_) < piece.length + kBlock) [[unlikely]] {
            w_ = Grow(out_, w_, piece.length, begin_);
            end_ = out_.data() + out_.size();
        }
        const Char* from = pool_ + piece.from;
        std::memcpy(w_, from, blockBytes);
        if (piece.length > kBlock) [[unlikely]] {
            size_t k = kBlock;
            do {
                std::memcpy(w_ + k, from + k, blockBytes);
                k += kBlock;
            } while (k < piece.length);
        }
        w_ += piece.length;
    }

    // The version's length.
    size_t Finish() {
        out_.resize(static_cast<size_t>(w_ - out_.data()));
        return out_.size() - begin_;
    }

private:
    static_assert(blockBytes <= kBlockBytes);
    static constexpr size_t kBlock = blockBytes / sizeof(Char);

    [[gnu::noinline]] static Char* Grow(std::basic_string<Char>& out, Char* w, size_t length, size_t begin) {
        const auto used = static_cast<size_t>(w - out.data());
        out.resize(used + length + kBlock + (used - begin) + 256);
        return out.data() + used;
    }

    std::basic_string<Char>& out_;
    const Char* pool_;
    size_t begin_;
    Char* w_;
    Char* end_;
};

// One free walk: the group to draw in next, the generator, the entries
// queued and the writer, all held in registers while it runs.
template <typename Char>
class CFreeChoiceWalk::CFreeRun {
public:
    CFreeRun(const CFreeChoiceWalk& walk, std::basic_string<Char>& out, const Char* pool, const Piece* entryPieces,
             CRandom15& rng, CFreeChoiceScratch& scratch)
        : rng_(rng),
          scratch_(scratch),
          links_(reinterpret_cast<const char*>(walk.entryNext_.data())),
          pieces_(reinterpret_cast<const char*>(entryPieces)),
          link_(walk.start_),
          random_(rng),
          writer_(out, pool, scratch.lastLength) {
        if (scratch.stack.size() < walk.stackDepth_) scratch.stack.resize(walk.stackDepth_);
        bottom_ = scratch.stack.data();
        sp_ = bottom_;
    }

    // Draws in the next group and writes the entry drawn; false once the
    // version is complete, and from then on.
    [[gnu::always_inline]] bool Step() {
        // The entry: i past offset. Both its link and its piece are found
        // from offset, known before the draw.
        uint32_t offset;
        int64_t i = 0;
        if (link_.n > 0) {
            offset = link_.offset;
            if (link_.n > 1) i = RandomIndex(random_.Next(), link_.n);
        } else if (link_.n == 0) {
            if (sp_ == bottom_) return false;
            offset = *--sp_;
        } else {
            offset = QueueArrangement();
        }
        writer_.Write(reinterpret_cast<const Piece*>(pieces_ + offset)[i]);
        link_ = reinterpret_cast<const Link*>(links_ + offset)[i];
        return true;
    }

    void Finish() {
        scratch_.lastLength = writer_.Finish();
        rng_ = random_;
    }

private:
    // An arrangement: one swap per alternative, then what follows it queued,
    // and before that the items in their new order, each followed by the
    // separator of its position. Returns the first item's offset.
    [[gnu::always_inline]] uint32_t QueueArrangement() {
        constexpr auto kEntryBytes = static_cast<uint32_t>(sizeof(Link));
        const int n = -link_.n;
        std::vector<int>& order = scratch_.order;
        order.resize(static_cast<size_t>(n));
        std::iota(order.begin(), order.end(), 0);
        for (int j = 0; j < n; ++j) {
            std::swap(order[static_cast<size_t>(j)], order[static_cast<size_t>(RandomIndex(random_.Next(), n))]);
        }
        const auto count = static_cast<uint32_t>(n);
        *sp_++ = link_.offset + 2 * count * kEntryBytes;
        for (uint32_t j = count; j-- > 0;) {
            *sp_++ = link_.offset + (count + j) * kEntryBytes;
            *sp_++ = link_.offset + static_cast<uint32_t>(order[j]) * kEntryBytes;
        }
        return *--sp_;
    }

    CRandom15& rng_;
    CFreeChoiceScratch& scratch_;
    const char* links_;
    const char* pieces_;
    Link link_;
    CRandom15 random_;
    uint32_t* bottom_;
    uint32_t* sp_;
    // Entries that join pieces are often longer than half a block.
    CWriter<Char, kBlockBytes> writer_;
};

template <typename Char>
void CFreeChoiceWalk::Run(std::basic_string<Char>& out, const Char* pool, const Piece* entryPieces, CRandom15& rng,
                          CFreeChoiceScratch& scratch) const {
    CFreeRun<Char> run(*this, out, pool, entryPieces, rng, scratch);
    while (run.Step()) {
    }
    run.Finish();
}

// One step of each in turn: each step waits for the entry its draw picks,
// and the other's step fills that wait.
void CFreeChoiceWalk::GenerateUtf8Pair(std::string& out, CRandom15& rng, CFreeChoiceScratch& scratch,
                                       std::string& secondOut, CRandom15& secondRng,
                                       CFreeChoiceScratch& secondScratch) const {
    CFreeRun<char> first(*this, out, pool8_.data(), entryPieces8_.data(), rng, scratch);
    CFreeRun<char> second(*this, secondOut, pool8_.data(), entryPieces8_.data(), secondRng, secondScratch);
    for (;;) {
        const bool firstGoesOn = first.Step();
        const bool secondGoesOn = second.Step();
        if (!firstGoesOn || !secondGoesOn) break;
    }
    while (first.Step()) {
    }
    while (second.Step()) {
    }
    first.Finish();
    second.Finish();
}

void CFreeChoiceWalk::SequenceDigits(const Sequence& s, double x, double* digits) const {
    if (x == 0) {
        std::fill(digits, digits + s.groups, 0.0);
        return;
    }
    MixedRadixDigits(radix_.data() + s.first, static_cast<int>(s.groups), x, digits);
}

// The same choices as the tree's walk by number: in a choice group the first
// alternative whose running total exceeds x, with x less the totals before
// it; in a sequence the mixed-radix digits of x over its groups' counts; in
// an arrangement the order floor(x / versions per order) and the rest of x
// split over the groups of its items and separators in their new order.
template <typename Char>
void CFreeChoiceWalk::RunNumber(double x, std::basic_string<Char>& out, const Char* pool, const Piece* pieces,
                                CFreeChoiceScratch& scratch) const {
    using Resume = CFreeChoiceScratch::Resume;
    if (scratch.resumes.size() < stackDepth_) scratch.resumes.resize(stackDepth_);
    // Every group of the template has at most one digit in use at a time.
    if (scratch.digits.size() < groupCount_) scratch.digits.resize(groupCount_);
    Resume* const bottom = scratch.resumes.data();
    Resume* sp = bottom;
    double* const digits = scratch.digits.data();
    CWriter<Char, kBlockBytes / 2> writer(out, pool, scratch.lastLength);
    const Group* const after = after_.data();
    SequenceDigits(root_, x, digits);
    int32_t digit = 0;                              // the digit of the next group
    auto top = static_cast<int32_t>(root_.groups);  // digits in use
    uint32_t at = root_.first;
    for (;;) {
        writer.Write(pieces[at]);
        const Group group = after[at++];
        if (group.n == 0) {
            if (sp == bottom) break;
            const Resume r = *--sp;
            at = r.step;
            if (r.digit >= 0) {
                digit = r.digit;
                top = r.top;
            }
            continue;
        }
        const double y = digits[digit++];
        if (group.n < 0) {
            *sp++ = {at, digit, top};
            const int32_t groups = QueueNumberedArrangement(group, afterCount_[at - 1], y, sp, digits + top, scratch);
            digit = top;
            top += groups;
            at = (--sp)->step;
            continue;
        }
        uint32_t i = 0;
        double rest = y;
        if (group.n > 1) {
            const double* totals = totals_.data() + group.first;
            const auto n = static_cast<uint32_t>(group.n);
            if (n <= 8) {
                while (i < n && !(y < totals[i])) ++i;
            } else {
                i = static_cast<uint32_t>(std::upper_bound(totals, totals + n, y) - totals);
            }
            if (i == n) continue;
            if (i > 0) rest = y - totals[i - 1];
        }
        const Sequence chosen = sequences_[group.first + i];
        if (chosen.groups == 0) {
            writer.Write(pieces[chosen.first]);
            continue;
        }
        *sp++ = {at, digit, top};
        SequenceDigits(chosen, rest, digits + top);
        digit = top;
        top += static_cast<int32_t>(chosen.groups);
        at = chosen.first;
    }
    scratch.lastLength = writer.Finish();
}

// Queues the items of an arrangement group of the given count at sp in the
// order its number x picks, each followed by the separator of its position
// (the first to take on top), and writes the digits of the rest of x over all
// their groups. Returns the number of those groups.
int32_t CFreeChoiceWalk::QueueNumberedArrangement(const Group& group, double count, double x,
                                                  CFreeChoiceScratch::Resume*& sp, double* digits,
                                                  CFreeChoiceScratch& scratch) const {
    const int n = -group.n;
    std::vector<int>& order = scratch.order;
    order.resize(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    // Versions per order; 0 when n! exceeds a double, and then x picks the
    // order directly.
    const double orders = Factorial(n);
    const double per = std::isfinite(orders) ? count / orders : 0.0;
    double k = x;
    double rest = 0;
    if (per > 0) {
        k = std::floor(x / per);
        rest = std::max(0.0, x - k * per);
    }
    ApplyPermutation(order, k, scratch.slots, scratch.tail);

    const Sequence* items = sequences_.data() + group.first;
    const Sequence* separators = items + n;
    std::vector<double>& radix = scratch.radix;
    radix.clear();
    double product = 1;
    const auto addGroups = [&](const Sequence& s) {
        for (uint32_t c = 0; c < s.groups; ++c) {
            product *= afterCount_[s.first + c];
            radix.push_back(product);
        }
    };
    for (int j = 0; j < n; ++j) {
        addGroups(items[order[static_cast<size_t>(j)]]);
        if (separators[j].first != kNone) addGroups(separators[j]);
    }
    for (int j = n - 1; j >= 0; --j) {
        if (separators[j].first != kNone) *sp++ = {separators[j].first, -1, 0};
        *sp++ = {items[order[static_cast<size_t>(j)]].first, -1, 0};
    }
    const auto groups = static_cast<int32_t>(radix.size());
    if (groups > 0) MixedRadixDigits(radix.data(), groups, rest, digits);
    return groups;
}

}  // namespace SyntaxStringGenerator
