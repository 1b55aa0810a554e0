#include "template_tree.h"

#include "bracket_matches.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace SyntaxStringGenerator {

namespace {

constexpr int kLargestFiniteFactorial = 170;

const std::array<double, kLargestFiniteFactorial + 1>& FactorialTable() {
    static const auto table = [] {
        std::array<double, kLargestFiniteFactorial + 1> t{};
        t[0] = 1;
        for (int k = 1; k <= kLargestFiniteFactorial; ++k) {
            t[static_cast<size_t>(k)] = std::max(1.0, t[static_cast<size_t>(k) - 1] * k);
        }
        return t;
    }();
    return table;
}

// Choice groups with at most this many alternatives and children have their
// running totals recomputed on each visit instead of stored.
constexpr int kRecomputedAlternatives = 8;
constexpr int kRecomputedChildren = 16;

// A record of the tree, at some offset of the word array:
//   [0]     the opening bracket's position, or its complement when the count is stored
//   [1]     n, the number of alternatives, or its complement when running totals are stored
//   [2]     k, the number of children, or its complement when the count is a double
//   [3]     the count, when stored and a whole number below 2^31
//   [3, 4]  the count as a double, when stored and not such a number
//           (a count not stored means every alternative has one version: it is n)
//   then n words: each alternative's end (the "|" or closing bracket after it)
//   then 2n words: the running totals of the alternatives' products, when stored
//           (choice groups only)
//   then n words: each alternative's own separator "<", or -1 (arrangement groups only)
//   then n - 1 words: the index of the first child of alternatives 1 .. n-1
//           (with children and more than one alternative only)
//   then n words: the index of the first child after each alternative's own
//           separator "<" (arrangement groups with children only)
//   then k words: the children's record offsets, in text order
// Whether a group is an arrangement is read from its opening bracket.
class CRecord {
public:
    // Decodes the whole layout once; the walk reads a record's parts many times.
    CRecord(const int32_t* words, int32_t offset, std::u16string_view text) : words_(words), text_(text) {
        const int32_t* p = words + offset;
        start_ = StartOf(p);
        n_ = p[1] < 0 ? ~p[1] : p[1];
        k_ = p[2] < 0 ? ~p[2] : p[2];
        hasCount_ = p[0] < 0;
        hasTotals_ = p[1] < 0;
        ends_ = EndsOf(p);
        count_ = !hasCount_ ? n_ : p[2] < 0 ? LoadDouble(p + 3) : p[3];
        // GetCount reads only the count and passes no text.
        arrangement_ = static_cast<size_t>(start_) < text.size() && text[static_cast<size_t>(start_)] == u'[';
        const int32_t* q = ends_ + n_;
        totals_ = q;
        if (hasTotals_) q += 2 * n_;
        separators_ = q;
        if (arrangement_) q += n_;
        firstChildren_ = q;
        if (k_ > 0 && n_ > 1) q += n_ - 1;
        separatorChildren_ = q;
        if (k_ > 0 && arrangement_) q += n_;
        children_ = q;
    }

    // The opening and closing bracket of the record at p, read without the
    // whole decoding.
    static int StartOf(const int32_t* p) { return p[0] < 0 ? ~p[0] : p[0]; }
    static int EndOf(const int32_t* p) { return EndsOf(p)[(p[1] < 0 ? ~p[1] : p[1]) - 1]; }
    static double CountOf(const int32_t* p) {
        if (p[0] >= 0) return p[1] < 0 ? ~p[1] : p[1];
        return p[2] < 0 ? LoadDouble(p + 3) : p[3];
    }

    int Start() const { return start_; }
    bool IsArrangement() const { return arrangement_; }
    int AlternativeCount() const { return n_; }
    int ChildCount() const { return k_; }
    bool HasCount() const { return hasCount_; }
    bool HasTotals() const { return hasTotals_; }
    double Count() const { return count_; }
    int End(int i) const { return ends_[i]; }
    int End() const { return ends_[n_ - 1]; }
    int AlternativeStart(int i) const { return i == 0 ? start_ : ends_[i - 1]; }
    bool AlternativeEmpty(int i) const { return End(i) - AlternativeStart(i) <= 1; }
    double Total(int i) const { return LoadDouble(totals_ + 2 * i); }
    int SeparatorOpen(int i) const { return separators_[i]; }
    const int32_t* Children() const { return children_; }

    // The children of alternative i: [first, last).
    std::pair<int, int> ChildRange(int i) const {
        if (k_ == 0) return {0, 0};
        if (n_ == 1) return {0, k_};
        return {i == 0 ? 0 : firstChildren_[i - 1], i + 1 < n_ ? firstChildren_[i] : k_};
    }
    // Arrangement groups with children: the first child of alternative i that
    // lies in its own separator (the end of its children without one).
    int SeparatorFirstChild(int i) const { return separatorChildren_[i]; }

    static double LoadDouble(const int32_t* at) {
        double d;
        std::memcpy(&d, at, sizeof d);
        return d;
    }
    static const int32_t* EndsOf(const int32_t* p) { return p + 3 + (p[0] < 0 ? (p[2] < 0 ? 2 : 1) : 0); }

private:

    const int32_t* words_;
    std::u16string_view text_;
    int start_;
    int n_;
    int k_;
    bool hasCount_;
    bool hasTotals_;
    bool arrangement_;
    double count_;
    const int32_t* ends_;
    const int32_t* totals_;
    const int32_t* separators_;
    const int32_t* firstChildren_;
    const int32_t* separatorChildren_;
    const int32_t* children_;
};

// The product of the counts of children [first, last), saturating at kMaxCount.
double CappedProduct(const int32_t* words, const int32_t* children, int first, int last) {
    double r = 1;
    for (int c = first; c < last; ++c) {
        const double x = CRecord::CountOf(words + children[c]);
        // Below 2^26 each the product is far from the cap: no division needed.
        if ((r >= 0x1p26 || x >= 0x1p26) && r >= kMaxCount / x) return kMaxCount;
        r *= x;
    }
    return r;
}

class CWalker {
public:
    CWalker(const int32_t* words, std::u16string& out, std::u16string_view text, CRandom15& rng,
            CGenerationScratch& s)
        : words_(words), out_(out), text_(text), rng_(rng), s_(s) {}

    void Run(int32_t root, double x, bool random) {
        s_.frames.clear();
        s_.pieces.clear();
        s_.digits.clear();
        begin_ = out_.size();
        // The text is written through a pointer into room made beforehand,
        // as much as the last version took (up to a limit, as one long version
        // says little about the next); the room doubles when it runs out.
        MakeRoom(begin_, std::min(s_.lastLength, kLargestGuess) + kRoomStep);
        Enter(Record(root), x, random);
        while (!s_.frames.empty()) {
            CGenerationScratch::Frame& f = s_.frames.back();
            const CGenerationScratch::Piece& piece = s_.pieces[static_cast<size_t>(f.piece)];
            if (f.child < piece.childCount) {
                if (f.random && EnterFreeChoice(f, piece)) continue;
                const CRecord child = Record(piece.children[f.child]);
                Append(f.pos, child.Start());
                f.pos = child.End() + 1;
                ++f.child;
                const bool childRandom = f.random;
                const double digit = childRandom ? -1.0 : s_.digits[static_cast<size_t>(f.digit++)];
                Enter(child, digit, childRandom);  // may grow the stacks: f is stale now
                continue;
            }
            Append(f.pos, piece.hi);
            if (++f.piece < f.pieceEnd) {
                f.pos = s_.pieces[static_cast<size_t>(f.piece)].lo;
                f.child = 0;
                continue;
            }
            s_.pieces.resize(static_cast<size_t>(f.pieceBegin));
            s_.digits.resize(static_cast<size_t>(f.digitBegin));
            s_.frames.pop_back();
        }
        out_.resize(static_cast<size_t>(w_ - out_.data()));
        s_.lastLength = out_.size() - begin_;
    }

private:
    CRecord Record(int32_t offset) const { return CRecord(words_, offset, text_); }

    // The next child of f when it is a choice group of several alternatives
    // and every group chooses freely, the commonest step of a random run:
    // the same draw and output as Enter, reading only the words it needs.
    // False, with nothing done, for any other child.
    bool EnterFreeChoice(CGenerationScratch::Frame& f, const CGenerationScratch::Piece& piece) {
        const int32_t* p = words_ + piece.children[f.child];
        const int n = p[1] < 0 ? ~p[1] : p[1];
        const int start = CRecord::StartOf(p);
        if (n == 1 || text_[static_cast<size_t>(start)] != u'{') return false;
        const int32_t* ends = CRecord::EndsOf(p);
        Append(f.pos, start);
        f.pos = ends[n - 1] + 1;
        ++f.child;
        const int i = RandomIndex(rng_.Next(), n);
        const int lo = (i == 0 ? start : ends[i - 1]) + 1;
        const int hi = ends[i];
        if (hi <= lo) return true;
        const int k = p[2] < 0 ? ~p[2] : p[2];
        if (k == 0) {
            Append(lo, hi);
            return true;
        }
        // A choice group's record goes on with the running totals when they
        // are stored, the first child of alternatives 1 .. n-1, the children.
        const int32_t* firstChildren = ends + n + (p[1] < 0 ? 2 * n : 0);
        const int first = i == 0 ? 0 : firstChildren[i - 1];
        const int last = i + 1 < n ? firstChildren[i] : k;
        if (first == last) {
            Append(lo, hi);
            return true;
        }
        const int32_t* children = firstChildren + (n - 1);
        const int pieceBegin = static_cast<int>(s_.pieces.size());
        const int digitBegin = static_cast<int>(s_.digits.size());
        s_.pieces.push_back({lo, hi, children + first, last - first});
        s_.frames.push_back({pieceBegin, pieceBegin + 1, pieceBegin, 0, lo, digitBegin, digitBegin, true});
        return true;
    }

    static constexpr size_t kRoomStep = 256;
    static constexpr size_t kLargestGuess = size_t{1} << 16;

    // Out holds used + more units, the first used of them kept.
    void MakeRoom(size_t used, size_t more) {
        out_.resize(used + more);
        w_ = out_.data() + used;
        end_ = out_.data() + out_.size();
    }

    // Called for every piece of text: kept inline, with the rare growth out of line.
    [[gnu::always_inline]] void Append(int from, int to) {
        if (to <= from) return;
        const auto n = static_cast<size_t>(to - from);
        if (static_cast<size_t>(end_ - w_) < n) [[unlikely]] Grow(n);
        CopyUnits(w_, text_.data() + from, n);
        w_ += n;
    }

    [[gnu::noinline]] void Grow(size_t n) {
        const auto used = static_cast<size_t>(w_ - out_.data());
        MakeRoom(used, n + (used - begin_) + kRoomStep);
    }

    // Pieces are mostly a word or a few: copied in registers, reading and
    // writing nothing outside the piece.
    [[gnu::always_inline]] static void CopyUnits(char16_t* to, const char16_t* from, size_t n) {
        if (n > 32) {
            std::memcpy(to, from, n * sizeof(char16_t));
        } else if (n >= 8) {
            uint64_t a[2];
            for (size_t k = 0; k + 8 < n; k += 8) {
                std::memcpy(a, from + k, 16);
                std::memcpy(to + k, a, 16);
            }
            std::memcpy(a, from + n - 8, 16);
            std::memcpy(to + n - 8, a, 16);
        } else if (n >= 4) {
            uint64_t head;
            uint64_t tail;
            std::memcpy(&head, from, 8);
            std::memcpy(&tail, from + n - 4, 8);
            std::memcpy(to, &head, 8);
            std::memcpy(to + n - 4, &tail, 8);
        } else if (n >= 2) {
            uint32_t head;
            uint32_t tail;
            std::memcpy(&head, from, 4);
            std::memcpy(&tail, from + n - 2, 4);
            std::memcpy(to, &head, 4);
            std::memcpy(to + n - 2, &tail, 4);
        } else {
            *to = *from;
        }
    }

    void Enter(const CRecord& node, double x, bool random) {
        if (node.IsArrangement()) {
            EnterArrangement(node, x, random);
        } else {
            EnterChoice(node, x, random);
        }
    }

    void EnterChoice(const CRecord& node, double x, bool random) {
        const int n = node.AlternativeCount();
        if (n == 1) {
            EnterAlternative(node, 0, 0, node.ChildCount(), x, random);
            return;
        }
        if (random) {
            const int i = RandomIndex(rng_.Next(), n);
            if (!node.AlternativeEmpty(i)) {
                const auto [first, last] = node.ChildRange(i);
                EnterAlternative(node, i, first, last, -1, true);
            }
            return;
        }
        int i = 0;
        double before = 0;
        if (!node.HasCount()) {
            // Every alternative has one version: the running totals are 1, 2, ... n.
            if (!(x < n)) return;
            i = static_cast<int>(x);
            before = i;
        } else if (node.HasTotals()) {
            int lo = 0;
            int hi = n;
            while (lo < hi) {
                const int mid = lo + (hi - lo) / 2;
                if (x < node.Total(mid)) {
                    hi = mid;
                } else {
                    lo = mid + 1;
                }
            }
            if (lo == n) return;
            i = lo;
            before = i == 0 ? 0.0 : node.Total(i - 1);
        } else {
            // The stored totals' sums, in the same order, so the same doubles.
            const int32_t* children = node.Children();
            double total = 0;
            for (i = 0; i < n; ++i) {
                const auto [first, last] = node.ChildRange(i);
                before = total;
                total += CappedProduct(words_, children, first, last);
                if (x < total) break;
            }
            if (i == n) return;
        }
        if (!node.AlternativeEmpty(i)) {
            const auto [first, last] = node.ChildRange(i);
            EnterAlternative(node, i, first, last, x - before, false);
        }
    }

    // The children of alternative i are [first, last) of the node's.
    void EnterAlternative(const CRecord& node, int i, int first, int last, double x, bool random) {
        const int lo = node.AlternativeStart(i) + 1;
        const int hi = node.End(i);
        const int k = last - first;
        if (k == 0) {
            Append(lo, hi);
            return;
        }
        const int32_t* children = node.Children() + first;
        const int pieceBegin = static_cast<int>(s_.pieces.size());
        const int digitBegin = static_cast<int>(s_.digits.size());
        s_.pieces.push_back({lo, hi, children, k});
        if (!random) {
            std::vector<double>& radix = s_.radix;
            radix.resize(static_cast<size_t>(k));
            double product = 1;
            for (int c = 0; c < k; ++c) {
                product *= CRecord::CountOf(words_ + children[c]);
                radix[static_cast<size_t>(c)] = product;
            }
            s_.digits.resize(static_cast<size_t>(digitBegin + k));
            MixedRadixDigits(radix.data(), k, x, s_.digits.data() + digitBegin);
        }
        s_.frames.push_back({pieceBegin, pieceBegin + 1, pieceBegin, 0, lo, digitBegin, digitBegin, random});
    }

    void EnterArrangement(const CRecord& node, double x, bool random) {
        const int n = node.AlternativeCount();
        std::vector<int>& order = s_.order;
        order.resize(static_cast<size_t>(n));
        for (int j = 0; j < n; ++j) order[static_cast<size_t>(j)] = j;
        double rest = 0;
        if (random) {
            for (int j = 0; j < n; ++j) {
                std::swap(order[static_cast<size_t>(j)], order[static_cast<size_t>(RandomIndex(rng_.Next(), n))]);
            }
        } else {
            // Versions per order, count / n!; 0 when n! exceeds a double, in
            // which case the number picks the order directly.
            const double orders = Factorial(n);
            const double per = std::isfinite(orders) ? node.Count() / orders : 0.0;
            double k = x;
            if (per > 0) {
                k = std::floor(x / per);
                rest = std::max(0.0, x - k * per);
            }
            ApplyPermutation(order, k, s_.slots, s_.tail);
        }

        // The output: item of order[j], then the separator written on the
        // j-th alternative; the children of all of them form one number.
        const int32_t* children = node.Children();
        const int pieceBegin = static_cast<int>(s_.pieces.size());
        int childCount = 0;
        for (int j = 0; j < n; ++j) {
            const int item = order[static_cast<size_t>(j)];
            const int itemSeparator = node.SeparatorOpen(item);
            const auto [first, last] = node.ChildRange(item);
            const int itemLast = first < last ? node.SeparatorFirstChild(item) : last;
            s_.pieces.push_back({node.AlternativeStart(item) + 1, itemSeparator >= 0 ? itemSeparator : node.End(item),
                                 children + first, itemLast - first});
            childCount += itemLast - first;
            const int ownSeparator = node.SeparatorOpen(j);
            if (ownSeparator >= 0) {
                const auto [ownFirst, ownLast] = node.ChildRange(j);
                const int separatorFirst = ownFirst < ownLast ? node.SeparatorFirstChild(j) : ownLast;
                s_.pieces.push_back(
                    {ownSeparator + 1, node.End(j) - 1, children + separatorFirst, ownLast - separatorFirst});
                childCount += ownLast - separatorFirst;
            }
        }
        const int pieceEnd = static_cast<int>(s_.pieces.size());
        if (childCount == 0) {
            for (int p = pieceBegin; p < pieceEnd; ++p) {
                Append(s_.pieces[static_cast<size_t>(p)].lo, s_.pieces[static_cast<size_t>(p)].hi);
            }
            s_.pieces.resize(static_cast<size_t>(pieceBegin));
            return;
        }
        const int digitBegin = static_cast<int>(s_.digits.size());
        if (!random) {
            std::vector<double>& radix = s_.radix;
            radix.clear();
            double product = 1;
            for (int p = pieceBegin; p < pieceEnd; ++p) {
                const CGenerationScratch::Piece& piece = s_.pieces[static_cast<size_t>(p)];
                for (int c = 0; c < piece.childCount; ++c) {
                    product *= CRecord::CountOf(words_ + piece.children[c]);
                    radix.push_back(product);
                }
            }
            s_.digits.resize(static_cast<size_t>(digitBegin + childCount));
            MixedRadixDigits(radix.data(), childCount, rest, s_.digits.data() + digitBegin);
        }
        s_.frames.push_back({pieceBegin, pieceEnd, pieceBegin, 0, s_.pieces[static_cast<size_t>(pieceBegin)].lo,
                             digitBegin, digitBegin, random});
    }

    const int32_t* words_;
    std::u16string& out_;
    std::u16string_view text_;
    CRandom15& rng_;
    CGenerationScratch& s_;
    size_t begin_ = 0;         // where the version starts in out
    char16_t* w_ = nullptr;    // the next unit of out to write
    char16_t* end_ = nullptr;  // the end of out's room
};

bool IsOpeningBracket(char16_t c) { return c == u'{' || c == u'['; }
bool IsClosingBracket(char16_t c) { return c == u'}' || c == u']'; }

}  // namespace

// Builds the records in one pass over the text. The alternatives' ends and
// the children of the groups still open wait on two stacks; a group's record
// is written when it closes, its children's records (and counts) being
// complete by then, so a record is written once and never moved.
class CTreeBuilder {
public:
    CTreeBuilder(std::u16string_view text, const std::atomic<bool>* stop) : text_(text), stop_(stop) {}

    std::unique_ptr<CTemplateTree> Build(int start, int end) {
        if (start < 0 || end <= start || end >= static_cast<int>(text_.size())) return nullptr;
        const char16_t opening = text_[static_cast<size_t>(start)];
        const char16_t closing = text_[static_cast<size_t>(end)];
        if (!((opening == u'[' && closing == u']') || (opening == u'{' && closing == u'}'))) return nullptr;
        const size_t groups = Reserve(start, end);

        // The opening brackets of the groups still open.
        std::vector<int32_t> open;
        open.reserve(groups);
        open.push_back(start);
        for (int p = start + 1; p < end; ++p) {
            if ((p & 0xFFFFF) == 0 && stop_ && stop_->load(std::memory_order_relaxed)) return nullptr;
            const char16_t c = text_[static_cast<size_t>(p)];
            if (IsOpeningBracket(c)) {
                open.push_back(p);
            } else if (IsClosingBracket(c)) {
                if (open.size() == 1 || text_[static_cast<size_t>(open.back())] != (c == u']' ? u'[' : u'{')) {
                    return nullptr;
                }
                Close(open.back(), p);
                open.pop_back();
            } else if (c == u'|' && open.size() > 1) {
                ends_.push_back(p);
            }
        }
        if (open.size() != 1) return nullptr;
        tree_->root_ = Close(open.back(), end);
        return std::move(tree_);
    }

private:
    // Room for the largest records the text can make, so that no array is
    // copied while it grows; the pages never written are never touched.
    // Returns the number of groups.
    size_t Reserve(int start, int end) {
        size_t groups = 0;
        size_t bars = 0;
        for (int p = start; p <= end; ++p) {
            const char16_t c = text_[static_cast<size_t>(p)];
            groups += IsOpeningBracket(c) ? 1 : 0;
            bars += c == u'|' ? 1 : 0;
        }
        const size_t alternatives = groups + bars;
        tree_->words_.reserve(6 * groups + 6 * alternatives);
        ends_.reserve(alternatives);
        children_.reserve(groups);
        return groups;
    }

    int StartAt(int32_t offset) const { return CRecord::StartOf(tree_->words_.data() + offset); }

    // Writes the record of the group opened at groupStart, pops its ends and
    // children and makes it a child of the group around it. Returns the
    // record's offset. The group's own ends and children are the ones on the
    // stacks that lie after its opening bracket, since those of the groups
    // around it lie before.
    int32_t Close(int groupStart, int at) {
        size_t firstEnd = ends_.size();
        while (firstEnd > 0 && ends_[firstEnd - 1] > groupStart) --firstEnd;
        size_t firstChild = children_.size();
        while (firstChild > 0 && StartAt(children_[firstChild - 1]) > groupStart) --firstChild;
        ends_.push_back(at);
        const auto n = static_cast<int>(ends_.size() - firstEnd);
        const auto k = static_cast<int>(children_.size() - firstChild);
        const int32_t* ends = ends_.data() + firstEnd;
        const int32_t* children = children_.data() + firstChild;
        const bool arrangement = text_[static_cast<size_t>(groupStart)] == u'[';

        products_.resize(static_cast<size_t>(n));
        firstChildren_.resize(static_cast<size_t>(n) + 1);
        bool allOne = true;
        int child = 0;
        for (int i = 0; i < n; ++i) {
            const int first = child;
            double product = 1;
            for (; child < k && StartAt(children[child]) < ends[i]; ++child) {
                product = CapProduct(product, CRecord::CountOf(tree_->words_.data() + children[child]));
            }
            firstChildren_[static_cast<size_t>(i)] = first;
            products_[static_cast<size_t>(i)] = product;
            allOne = allOne && product == 1;
        }
        firstChildren_[static_cast<size_t>(n)] = k;

        double count = 0;
        bool totals = false;
        if (arrangement) {
            count = ArrangementCount(products_.data(), n);
        } else {
            count = ChoiceCount(products_.data(), n);
            totals = !allOne && (n > kRecomputedAlternatives || k > kRecomputedChildren);
        }
        const bool stored = arrangement || !allOne;
        const bool whole = count == std::floor(count) && count <= std::numeric_limits<int32_t>::max();

        std::vector<int32_t>& w = tree_->words_;
        const auto offset = static_cast<int32_t>(w.size());
        w.push_back(stored ? ~groupStart : groupStart);
        w.push_back(totals ? ~n : n);
        w.push_back(stored && !whole ? ~k : k);
        if (stored && whole) w.push_back(static_cast<int32_t>(count));
        if (stored && !whole) PushDouble(count);
        w.insert(w.end(), ends, ends + n);
        if (totals) {
            double total = 0;
            for (const double product : products_) {
                total += product;
                PushDouble(total);
            }
        }
        if (arrangement) {
            separators_.resize(static_cast<size_t>(n));
            separatorChildren_.resize(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i) {
                const int first = firstChildren_[static_cast<size_t>(i)];
                const int last = firstChildren_[static_cast<size_t>(i) + 1];
                OwnSeparator own{-1, last - first};
                if (i + 1 < n) {
                    own = FindOwnSeparator(text_, i == 0 ? groupStart : ends[i - 1], ends[i], last - first, [&](int c) {
                        const int32_t* p = tree_->words_.data() + children[first + c];
                        return std::pair{CRecord::StartOf(p), CRecord::EndOf(p)};
                    });
                }
                separators_[static_cast<size_t>(i)] = own.open;
                separatorChildren_[static_cast<size_t>(i)] = first + own.childrenBefore;
            }
            w.insert(w.end(), separators_.begin(), separators_.end());
        }
        if (k > 0 && n > 1) w.insert(w.end(), firstChildren_.begin() + 1, firstChildren_.end() - 1);
        if (k > 0 && arrangement) w.insert(w.end(), separatorChildren_.begin(), separatorChildren_.end());
        w.insert(w.end(), children, children + k);

        ends_.resize(firstEnd);
        children_.resize(firstChild);
        children_.push_back(offset);
        return offset;
    }

    void PushDouble(double d) {
        int32_t halves[2];
        std::memcpy(halves, &d, sizeof d);
        tree_->words_.insert(tree_->words_.end(), halves, halves + 2);
    }

    std::u16string_view text_;
    const std::atomic<bool>* stop_;
    std::unique_ptr<CTemplateTree> tree_ = std::make_unique<CTemplateTree>();
    std::vector<int32_t> ends_;      // of the open groups' closed alternatives
    std::vector<int32_t> children_;  // record offsets of the open groups' closed children
    std::vector<double> products_;   // of the closing group's alternatives
    std::vector<int> firstChildren_;  // of the closing group's alternatives, and k
    std::vector<int32_t> separators_;
    std::vector<int32_t> separatorChildren_;  // the first child after each own separator's "<"
};

namespace {

// The walk of DistributeSeparators. The text is copied range by range: the
// whole text, an alternative of a square group, or a group's default
// separator, which is copied (and rewritten like any other text) wherever it
// goes. Only the square groups being written take a frame; the range being
// copied is held apart, and the range a finished group was found in resumes
// right after the group's "]", its end following from the frame below.
class CSeparatorDistributor {
public:
    CSeparatorDistributor(std::u16string_view text, std::u16string& out, const std::atomic<bool>* stop)
        : text_(text), out_(out), stop_(stop), matches_(text, 0, static_cast<int>(text.size()) - 1, stop) {}

    SyntaxResult Run(size_t maxLength) {
        stack_.reserve(matches_.MaxDepth());
        pos_ = 0;
        hi_ = static_cast<int>(text_.size());
        for (uint32_t step = 1; !(rangeDone_ && stack_.empty()); ++step) {
            if (out_.size() > maxLength) return TooLarge();
            if ((step & 0xFFFF) == 0 && stop_ && stop_->load(std::memory_order_relaxed)) return {};
            if (rangeDone_) {
                EndRange();
            } else {
                StepRange();
            }
        }
        return {};
    }

private:
    // A square group being written: its "[", the ">" of its default separator
    // (-1 without one), and the "|" that ends the alternative being copied
    // (-1 for the last one). While the default separator is copied after an
    // alternative, bar is that alternative's "|".
    struct Frame {
        uint32_t open : 31;
        uint32_t copyingSeparator : 1;
        int32_t separatorClose;
        int32_t bar;
    };

    int CloseOf(const Frame& f) const { return matches_[static_cast<int>(f.open)]; }

    // Where the range of the innermost frame ends.
    int RangeEnd() const {
        if (stack_.empty()) return static_cast<int>(text_.size());
        const Frame& f = stack_.back();
        if (f.copyingSeparator) return f.separatorClose + 1;
        return f.bar >= 0 ? f.bar : CloseOf(f);
    }

    // Reported at the innermost group being written.
    SyntaxResult TooLarge() const {
        return {stack_.empty() ? 0 : static_cast<int>(stack_.back().open), kPreparedTextTooLarge};
    }

    // Copies the range up to its next square group and opens that group; an
    // unmatched "[" is copied as it stands.
    void StepRange() {
        const size_t q = text_.substr(0, static_cast<size_t>(hi_)).find(u'[', static_cast<size_t>(pos_));
        if (q == std::u16string_view::npos) {
            out_.append(text_.substr(static_cast<size_t>(pos_), static_cast<size_t>(hi_ - pos_)));
            rangeDone_ = true;
            return;
        }
        const int s = static_cast<int>(q);
        out_.append(text_.substr(static_cast<size_t>(pos_), static_cast<size_t>(s - pos_)));
        const int e = matches_[s];
        if (e < 0 || e >= hi_) {
            out_.push_back(u'[');
            pos_ = s + 1;
            return;
        }
        OpenGroup(s, e);
    }

    // Writes the "[", cuts the default separator out of the first alternative
    // and starts copying that alternative.
    void OpenGroup(int s, int e) {
        out_.push_back(u'[');
        int separatorClose = -1;
        if (text_[static_cast<size_t>(s) + 1] == u'<') {
            separatorClose = FindSeparatorPartnerIndexed(text_, matches_, s + 1, e, s + 1);
        }
        stack_.push_back({static_cast<uint32_t>(s), 0, separatorClose, -1});
        StartAlternative(stack_.back(), separatorClose >= 0 ? separatorClose : s, e);
    }

    // The alternative after from (the "[", the default separator's ">" or a "|").
    void StartAlternative(Frame& f, int from, int close) {
        f.bar = FindNextSeparatorIndexed(text_, matches_, from, close);
        f.copyingSeparator = 0;
        pos_ = from + 1;
        hi_ = f.bar >= 0 ? f.bar : close;
        rangeDone_ = false;
    }

    // After the last alternative the group closes and the range it was found
    // in goes on; any other alternative that has no own separator gets a copy
    // of the default one before its "|".
    void EndRange() {
        Frame& f = stack_.back();
        const int close = CloseOf(f);
        if (f.bar < 0) {
            out_.push_back(u']');
            stack_.pop_back();
            pos_ = close + 1;
            hi_ = RangeEnd();
            rangeDone_ = false;
            return;
        }
        if (!f.copyingSeparator && f.separatorClose >= 0) {
            // With the default separator cut out, an alternative that starts
            // the group is preceded by the "[" itself.
            const bool ownSeparator = f.bar - 1 != f.separatorClose && text_[static_cast<size_t>(f.bar) - 1] == u'>';
            if (!ownSeparator) {
                f.copyingSeparator = 1;
                pos_ = static_cast<int>(f.open) + 1;
                hi_ = f.separatorClose + 1;
                rangeDone_ = false;
                return;
            }
        }
        out_.push_back(u'|');
        StartAlternative(f, f.bar, close);
    }

    std::u16string_view text_;
    std::u16string& out_;
    const std::atomic<bool>* stop_;
    const CBracketMatches matches_;
    std::vector<Frame> stack_;
    int pos_ = 0;            // the next position of the range being copied
    int hi_ = 0;             // its end (exclusive)
    bool rangeDone_ = false;  // the range is copied: the innermost group goes on
};

}  // namespace

void MixedRadixDigits(const double* radix, int k, double x, double* digits) {
    std::fill(digits, digits + k, 0.0);
    int limit = k;
    while (limit > 0) {
        const int j = static_cast<int>(std::upper_bound(radix, radix + limit, x) - radix);
        if (j == limit) break;
        const double below = j > 0 ? radix[j - 1] : 1.0;
        const double digit = std::floor(x / below);
        digits[j] = digit;
        x = std::max(0.0, x - digit * below);
        limit = j;
    }
}

void ApplyPermutation(std::vector<int>& order, double k, std::vector<int>& slots, std::vector<int>& tail) {
    const int n = static_cast<int>(order.size());
    if (n <= 1) return;
    const int fixed = std::max(0, n - (kLargestFiniteFactorial + 1));
    slots.assign(static_cast<size_t>(n), 0);
    for (int i = fixed; i < n - 1; ++i) {
        const int m = n - i;
        const double f = Factorial(m - 1);
        double c = std::floor(k / f);
        if (!(c >= 0)) c = 0;
        if (c > m - 1) c = m - 1;
        k = std::max(0.0, k - c * f);
        slots[static_cast<size_t>(i)] = static_cast<int>(c);
    }
    // Rebuild from the innermost list outwards: item i is inserted at its slot
    // of the already permuted items i+1 .. n-1.
    tail.clear();
    tail.push_back(order[static_cast<size_t>(n) - 1]);
    for (int i = n - 2; i >= fixed; --i) {
        tail.insert(tail.begin() + slots[static_cast<size_t>(i)], order[static_cast<size_t>(i)]);
    }
    std::copy(tail.begin(), tail.end(), order.begin() + fixed);
}

double CapProduct(double product, double count) { return product >= kMaxCount / count ? kMaxCount : product * count; }

double ChoiceCount(const double* products, int n) {
    double s = 0;
    for (int i = 0; i < n; ++i) {
        if (s >= kMaxCount - products[i]) return kMaxCount;
        s += products[i];
    }
    return s;
}

double ArrangementCount(const double* products, int n) {
    double r = Factorial(n);
    for (int i = 0; i < n; ++i) {
        if (r >= kMaxCount / products[i]) return kMaxCount;
        r *= products[i];
    }
    return r;
}

double Factorial(int k) {
    if (k <= 0) return 1;
    if (k > kLargestFiniteFactorial) return std::numeric_limits<double>::infinity();
    return FactorialTable()[static_cast<size_t>(k)];
}

size_t MaxPreparedLength(size_t templateLength) { return (size_t{1} << 24) + 16 * templateLength; }

double CTemplateTree::GetCount() const { return CRecord(words_.data(), root_, std::u16string_view()).Count(); }

void CTemplateTree::Generate(double index, std::u16string& out, std::u16string_view text, bool random,
                             CRandom15& rng, CGenerationScratch* scratch) const {
    CGenerationScratch local;
    CWalker walker(words_.data(), out, text, rng, scratch ? *scratch : local);
    walker.Run(root_, random ? -1.0 : std::max(0.0, index), random);
}

std::unique_ptr<CTemplateTree> BuildTemplateTree(int start, std::u16string_view text, int end,
                                                 const std::atomic<bool>* stop) {
    return CTreeBuilder(text, stop).Build(start, end);
}

SyntaxResult DistributeSeparators(std::u16string_view text, std::u16string& out, size_t maxLength,
                                  const std::atomic<bool>* stop) {
    out.reserve(out.size() + text.size() + text.size() / 8);
    if (text.empty()) return {};
    return CSeparatorDistributor(text, out, stop).Run(maxLength);
}

}  // namespace SyntaxStringGenerator
