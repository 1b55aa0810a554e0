#include "template_tree.h"

#include "bracket_matches.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <cmath>
#include <limits>

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

// The product of the children's counts, saturating at kMaxCount.
double CappedProduct(const Alternative& alt) {
    double r = 1;
    for (const auto& child : alt.children) {
        const double x = child->GetCount();
        if (r >= kMaxCount / x) return kMaxCount;
        r *= x;
    }
    return r;
}

// The own separator of an alternative that is followed by "|" and ends with
// ">": the position of the matching "<" at the alternative's own level, or -1.
int OwnSeparatorOpen(const Alternative& alt, std::u16string_view text) {
    int depth = 0;
    int child = static_cast<int>(alt.children.size()) - 1;
    for (int q = alt.end - 2; q > alt.start; --q) {
        if (child >= 0 && q == alt.children[static_cast<size_t>(child)]->end) {
            q = alt.children[static_cast<size_t>(child)]->start;
            --child;
            continue;
        }
        const char16_t c = text[static_cast<size_t>(q)];
        if (c == u'>') {
            ++depth;
        } else if (c == u'<') {
            if (depth == 0) return q;
            --depth;
        }
    }
    return -1;
}

void FinishNode(CBracketNode& node) {
    node.alternativeCount = static_cast<int>(node.alternatives.size());
    for (Alternative& alt : node.alternatives) {
        alt.product = CappedProduct(alt);
        alt.itemEnd = alt.end;
        alt.itemChildren = static_cast<int>(alt.children.size());
    }
}

// The version-number digits of x over children whose counts multiply up to
// radix (child 0 least significant): the most significant digit that x
// reaches is taken first, then the rest of x is split over the lower ones.
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

// Applies permutation number k to order: the first item goes to position
// floor(k / (n-1)!) of the permuted rest, recursively. Items whose (m-1)! is
// not a finite double keep their place at the front.
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

class CWalker {
public:
    CWalker(std::u16string& out, std::u16string_view text, CRandom15& rng, CGenerationScratch& s)
        : out_(out), text_(text), rng_(rng), s_(s) {}

    void Run(const CBracketNode& node, double x, bool random) {
        s_.frames.clear();
        s_.pieces.clear();
        s_.digits.clear();
        Enter(node, x, random);
        while (!s_.frames.empty()) {
            CGenerationScratch::Frame& f = s_.frames.back();
            const CGenerationScratch::Piece& piece = s_.pieces[static_cast<size_t>(f.piece)];
            if (f.child < piece.childCount) {
                const CBracketNode& child = *piece.children[f.child];
                Append(f.pos, child.start);
                f.pos = child.end + 1;
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
    }

private:
    void Append(int from, int to) {
        if (to > from) out_.append(text_.data() + from, static_cast<size_t>(to - from));
    }

    void Enter(const CBracketNode& node, double x, bool random) {
        if (node.IsArrangement()) {
            EnterArrangement(static_cast<const CSquareBracketNode&>(node), x, random);
        } else {
            EnterChoice(static_cast<const CBraceNode&>(node), x, random);
        }
    }

    void EnterChoice(const CBraceNode& node, double x, bool random) {
        const int n = node.alternativeCount;
        if (n == 1) {
            EnterAlternative(node.alternatives[0], x, random);
            return;
        }
        if (random) {
            const Alternative& alt = node.alternatives[static_cast<size_t>(RandomIndex(rng_.Next(), n))];
            if (!alt.Empty()) EnterAlternative(alt, -1, true);
            return;
        }
        const auto& alts = node.alternatives;
        const auto it = std::upper_bound(alts.begin(), alts.end(), x,
                                         [](double value, const Alternative& alt) { return value < alt.total; });
        if (it == alts.end()) return;
        if (!it->Empty()) EnterAlternative(*it, x - (it == alts.begin() ? 0.0 : (it - 1)->total), false);
    }

    void EnterAlternative(const Alternative& alt, double x, bool random) {
        if (alt.children.empty()) {
            Append(alt.start + 1, alt.end);
            return;
        }
        const int k = static_cast<int>(alt.children.size());
        const int pieceBegin = static_cast<int>(s_.pieces.size());
        const int digitBegin = static_cast<int>(s_.digits.size());
        s_.pieces.push_back({alt.start + 1, alt.end, alt.children.data(), k});
        if (!random) {
            std::vector<double>& radix = s_.radix;
            radix.resize(static_cast<size_t>(k));
            double product = 1;
            for (int c = 0; c < k; ++c) {
                product *= alt.children[static_cast<size_t>(c)]->GetCount();
                radix[static_cast<size_t>(c)] = product;
            }
            s_.digits.resize(static_cast<size_t>(digitBegin + k));
            MixedRadixDigits(radix.data(), k, x, s_.digits.data() + digitBegin);
        }
        s_.frames.push_back({pieceBegin, pieceBegin + 1, pieceBegin, 0, alt.start + 1, digitBegin, digitBegin, random});
    }

    void EnterArrangement(const CSquareBracketNode& node, double x, bool random) {
        const int n = node.alternativeCount;
        std::vector<int>& order = s_.order;
        order.resize(static_cast<size_t>(n));
        for (int j = 0; j < n; ++j) order[static_cast<size_t>(j)] = j;
        double rest = 0;
        if (random) {
            for (int j = 0; j < n; ++j) {
                std::swap(order[static_cast<size_t>(j)], order[static_cast<size_t>(RandomIndex(rng_.Next(), n))]);
            }
        } else {
            const double per = node.VersionsPerOrder();
            double k = x;
            if (per > 0) {
                k = std::floor(x / per);
                rest = std::max(0.0, x - k * per);
            }
            ApplyPermutation(order, k, s_.slots, s_.tail);
        }

        // The output: item of order[j], then the separator written on the
        // j-th alternative; the children of all of them form one number.
        const int pieceBegin = static_cast<int>(s_.pieces.size());
        int childCount = 0;
        for (int j = 0; j < n; ++j) {
            const Alternative& item = node.alternatives[static_cast<size_t>(order[static_cast<size_t>(j)])];
            s_.pieces.push_back({item.start + 1, item.itemEnd, item.children.data(), item.itemChildren});
            childCount += item.itemChildren;
            const Alternative& own = node.alternatives[static_cast<size_t>(j)];
            if (own.separatorOpen >= 0) {
                const int separatorChildren = static_cast<int>(own.children.size()) - own.itemChildren;
                s_.pieces.push_back({own.separatorOpen + 1, own.separatorClose,
                                     own.children.data() + own.itemChildren, separatorChildren});
                childCount += separatorChildren;
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
                    product *= piece.children[c]->GetCount();
                    radix.push_back(product);
                }
            }
            s_.digits.resize(static_cast<size_t>(digitBegin + childCount));
            MixedRadixDigits(radix.data(), childCount, rest, s_.digits.data() + digitBegin);
        }
        s_.frames.push_back({pieceBegin, pieceEnd, pieceBegin, 0, s_.pieces[static_cast<size_t>(pieceBegin)].lo,
                             digitBegin, digitBegin, random});
    }

    std::u16string& out_;
    std::u16string_view text_;
    CRandom15& rng_;
    CGenerationScratch& s_;
};

bool IsOpeningBracket(char16_t c) { return c == u'{' || c == u'['; }
bool IsClosingBracket(char16_t c) { return c == u'}' || c == u']'; }

std::unique_ptr<CBracketNode> MakeNode(char16_t opening) {
    if (opening == u'[') return std::unique_ptr<CBracketNode>(new CSquareBracketNode());
    return std::unique_ptr<CBracketNode>(new CBraceNode());
}

// Builds the nodes of the group text[start .. end] and of every group in it,
// with their alternatives and children but not yet their counts; all gets every
// node in creation order, parents before their children. Null when the span is
// not a group whose brackets of both shapes nest properly.
std::unique_ptr<CBracketNode> BuildGroups(int start, std::u16string_view text, int end, CBracketNode* parent,
                                          std::vector<CBracketNode*>& all) {
    if (start < 0 || end <= start || end >= static_cast<int>(text.size())) return nullptr;
    const char16_t opening = text[static_cast<size_t>(start)];
    const char16_t closing = text[static_cast<size_t>(end)];
    if (!((opening == u'[' && closing == u']') || (opening == u'{' && closing == u'}'))) return nullptr;

    std::unique_ptr<CBracketNode> root = MakeNode(opening);
    root->parent = parent;
    root->start = start;
    const bool isRoot = parent == nullptr;

    // Alternatives and children of the groups still open are collected on two
    // stacks and handed to their group in one exactly sized piece when it (or
    // the alternative) closes, which saves most of the allocations of growing
    // every list element by element.
    struct OpenGroup {
        CBracketNode* node;
        size_t firstAlternative;  // in pendingAlternatives
        size_t firstChild;        // of the current alternative, in pendingChildren
    };
    std::vector<OpenGroup> open{{root.get(), 0, 0}};
    std::vector<Alternative> pendingAlternatives(1);
    pendingAlternatives.back().start = start;
    std::vector<std::unique_ptr<CBracketNode>> pendingChildren;
    all.push_back(root.get());
    const auto closeAlternative = [&](const OpenGroup& group, int at) {
        Alternative& alt = pendingAlternatives.back();
        alt.end = at;
        alt.children.reserve(pendingChildren.size() - group.firstChild);
        std::move(pendingChildren.begin() + static_cast<std::ptrdiff_t>(group.firstChild), pendingChildren.end(),
                  std::back_inserter(alt.children));
        pendingChildren.resize(group.firstChild);
    };
    const auto closeGroup = [&](const OpenGroup& group, int at) {
        closeAlternative(group, at);
        group.node->end = at;
        group.node->alternatives.reserve(pendingAlternatives.size() - group.firstAlternative);
        std::move(pendingAlternatives.begin() + static_cast<std::ptrdiff_t>(group.firstAlternative),
                  pendingAlternatives.end(), std::back_inserter(group.node->alternatives));
        pendingAlternatives.resize(group.firstAlternative);
    };
    for (int p = start + 1; p < end; ++p) {
        const char16_t c = text[static_cast<size_t>(p)];
        if (IsOpeningBracket(c)) {
            std::unique_ptr<CBracketNode> node = MakeNode(c);
            node->parent = open.back().node;
            node->start = p;
            all.push_back(node.get());
            open.push_back({node.get(), pendingAlternatives.size(), pendingChildren.size() + 1});
            pendingChildren.push_back(std::move(node));
            pendingAlternatives.emplace_back().start = p;
        } else if (IsClosingBracket(c)) {
            const OpenGroup group = open.back();
            if (open.size() == 1 || text[static_cast<size_t>(group.node->start)] != (c == u']' ? u'[' : u'{')) {
                return nullptr;
            }
            closeGroup(group, p);
            open.pop_back();
        } else if (c == u'|') {
            const OpenGroup& group = open.back();
            if (group.node == root.get() && isRoot) continue;
            closeAlternative(group, p);
            pendingAlternatives.emplace_back().start = p;
        }
    }
    if (open.size() != 1) return nullptr;
    closeGroup(open.back(), end);
    return root;
}

// An arrangement group's count: its orders times every alternative's
// product, saturating at kMaxCount. The products must be final.
double ArrangementCount(const CSquareBracketNode& square, double orders) {
    double r = orders;
    for (const Alternative& alt : square.alternatives) {
        if (r >= kMaxCount / alt.product) return kMaxCount;
        r *= alt.product;
    }
    return r;
}

// Splits every alternative of an arrangement group that is followed by "|"
// and ends in its own "<...>" separator into the item and that separator.
void LocateOwnSeparators(CSquareBracketNode& square, std::u16string_view text) {
    for (size_t i = 0; i + 1 < square.alternatives.size(); ++i) {
        Alternative& alt = square.alternatives[i];
        if (alt.Empty() || text[static_cast<size_t>(alt.end) - 1] != u'>') continue;
        const int lt = OwnSeparatorOpen(alt, text);
        if (lt < 0) continue;
        alt.itemEnd = lt;
        alt.separatorOpen = lt;
        alt.separatorClose = alt.end - 1;
        alt.itemChildren = static_cast<int>(
            std::lower_bound(alt.children.begin(), alt.children.end(), lt,
                             [](const std::unique_ptr<CBracketNode>& child, int at) { return child->start < at; }) -
            alt.children.begin());
    }
}

// A choice group's count: the sum of its alternatives' products, saturating at
// kMaxCount, while each alternative's running total goes on unsaturated.
double ChoiceCount(CBracketNode& brace) {
    double s = 0;
    double total = 0;
    bool saturated = false;
    for (Alternative& alt : brace.alternatives) {
        if (!saturated && s >= kMaxCount - alt.product) saturated = true;
        if (!saturated) s += alt.product;
        total += alt.product;
        alt.total = total;
    }
    return saturated ? kMaxCount : s;
}

// The walk of DistributeSeparators over two kinds of frames: a range copied
// with its square groups rewritten, and a square group written alternative by
// alternative. The default separator is copied (and rewritten like any other
// text) wherever it goes.
class CSeparatorDistributor {
public:
    CSeparatorDistributor(std::u16string_view text, std::u16string& out)
        : text_(text), out_(out), matches_(text, 0, static_cast<int>(text.size()) - 1) {}

    SyntaxResult Run(size_t maxLength) {
        stack_.push_back(Range(0, static_cast<int>(text_.size())));
        while (!stack_.empty()) {
            if (out_.size() > maxLength) return TooLarge();
            Frame& f = stack_.back();
            if (f.group) {
                StepGroup(f);
            } else {
                StepRange(f);
            }
        }
        return {};
    }

private:
    // A group's steps: "[" and its default separator, then per alternative
    // the copied text, the separator it gets, and the "|" after it.
    enum Phase { kOpen, kAlternative, kSeparator, kBar };

    struct Frame {
        bool group;
        int pos;     // range: next position to copy; group: start of the current alternative
        int hi;      // range: end (exclusive); group: the "]"
        int s;       // group: the "["
        int dOpen;   // group: the default separator's "<" and ">", -1 without one
        int dClose;
        int from;    // group: where the search for the next "|" starts
        int bar;     // group: the "|" that ends the current alternative, -1 for the last
        Phase phase;
    };

    static Frame Range(int from, int to) { return {false, from, to, 0, -1, -1, 0, -1, kOpen}; }
    static Frame Group(int open, int close) { return {true, open + 1, close, open, -1, -1, open, -1, kOpen}; }

    // Reported at the innermost group being written.
    SyntaxResult TooLarge() const {
        for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
            if (it->group) return {it->s, kPreparedTextTooLarge};
        }
        return {0, kPreparedTextTooLarge};
    }

    // Copies the range up to its next square group and enters that group; an
    // unmatched "[" is copied as it stands. Pushing may move f: it is done last.
    void StepRange(Frame& f) {
        const size_t q = text_.substr(0, static_cast<size_t>(f.hi)).find(u'[', static_cast<size_t>(f.pos));
        if (q == std::u16string_view::npos) {
            out_.append(text_.substr(static_cast<size_t>(f.pos), static_cast<size_t>(f.hi - f.pos)));
            stack_.pop_back();
            return;
        }
        const int s = static_cast<int>(q);
        out_.append(text_.substr(static_cast<size_t>(f.pos), static_cast<size_t>(s - f.pos)));
        const int e = matches_[s];
        if (e < 0 || e >= f.hi) {
            out_.push_back(u'[');
            f.pos = s + 1;
            return;
        }
        f.pos = e + 1;
        stack_.push_back(Group(s, e));
    }

    void StepGroup(Frame& f) {
        switch (f.phase) {
            case kOpen: OpenGroup(f); break;
            case kAlternative: CopyAlternative(f); break;
            case kSeparator: EndAlternative(f); break;
            case kBar: WriteBar(f); break;
        }
    }

    // Writes the "[" and cuts the default separator out of the first alternative.
    void OpenGroup(Frame& f) {
        out_.push_back(u'[');
        if (text_[static_cast<size_t>(f.s) + 1] == u'<') {
            const int m = FindSeparatorPartnerIndexed(text_, matches_, f.s + 1, f.hi, f.s + 1);
            if (m >= 0) {
                f.dOpen = f.s + 1;
                f.dClose = m;
                f.from = m;
                f.pos = m + 1;
            }
        }
        f.phase = kAlternative;
    }

    void CopyAlternative(Frame& f) {
        f.bar = FindNextSeparatorIndexed(text_, matches_, f.from, f.hi);
        f.phase = kSeparator;
        stack_.push_back(Range(f.pos, f.bar >= 0 ? f.bar : f.hi));
    }

    // After the last alternative the group closes; any other alternative that
    // has no own separator gets a copy of the default one.
    void EndAlternative(Frame& f) {
        if (f.bar < 0) {
            out_.push_back(u']');
            stack_.pop_back();
            return;
        }
        // With the default separator cut out, an alternative that starts the
        // group is preceded by the "[" itself.
        const bool ownSeparator =
            f.bar - 1 != (f.dOpen >= 0 ? f.dClose : f.s) && text_[static_cast<size_t>(f.bar) - 1] == u'>';
        f.phase = kBar;
        if (!ownSeparator && f.dOpen >= 0) stack_.push_back(Range(f.dOpen, f.dClose + 1));
    }

    void WriteBar(Frame& f) {
        out_.push_back(u'|');
        f.pos = f.bar + 1;
        f.from = f.bar;
        f.phase = kAlternative;
    }

    std::u16string_view text_;
    std::u16string& out_;
    const CBracketMatches matches_;
    std::vector<Frame> stack_;
};

}  // namespace

double Factorial(int k) {
    if (k <= 0) return 1;
    if (k > kLargestFiniteFactorial) return std::numeric_limits<double>::infinity();
    return FactorialTable()[static_cast<size_t>(k)];
}

size_t MaxPreparedLength(size_t templateLength) { return (size_t{1} << 24) + 16 * templateLength; }

CBracketNode::~CBracketNode() {
    std::vector<std::unique_ptr<CBracketNode>> pending;
    for (Alternative& alt : alternatives) {
        for (auto& child : alt.children) {
            if (child) pending.push_back(std::move(child));
        }
    }
    while (!pending.empty()) {
        std::unique_ptr<CBracketNode> node = std::move(pending.back());
        pending.pop_back();
        for (Alternative& alt : node->alternatives) {
            for (auto& child : alt.children) {
                if (child) pending.push_back(std::move(child));
            }
        }
    }
}

void CBracketNode::Generate(double index, std::u16string& out, std::u16string_view text, bool random,
                            CRandom15& rng, CGenerationScratch* scratch) const {
    CGenerationScratch local;
    CWalker walker(out, text, rng, scratch ? *scratch : local);
    walker.Run(*this, random ? -1.0 : std::max(0.0, index), random);
}

std::unique_ptr<CBracketNode> CreateNode(int start, std::u16string_view text, int end, CBracketNode* parent) {
    std::vector<CBracketNode*> all;
    std::unique_ptr<CBracketNode> root = BuildGroups(start, text, end, parent, all);
    if (!root) return nullptr;

    // Children were created after their parents, so the reverse creation
    // order counts every child before the group that holds it.
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        CBracketNode& node = **it;
        FinishNode(node);
        if (node.IsArrangement()) {
            auto& square = static_cast<CSquareBracketNode&>(node);
            const double orders = Factorial(square.alternativeCount);
            square.count_ = ArrangementCount(square, orders);
            square.perOrder_ = std::isfinite(orders) ? square.count_ / orders : 0.0;
            LocateOwnSeparators(square, text);
        } else {
            node.count_ = ChoiceCount(node);
        }
    }
    return root;
}

SyntaxResult DistributeSeparators(std::u16string_view text, std::u16string& out, size_t maxLength) {
    out.reserve(out.size() + text.size() + text.size() / 8);
    if (text.empty()) return {};
    return CSeparatorDistributor(text, out).Run(maxLength);
}

}  // namespace SyntaxStringGenerator
