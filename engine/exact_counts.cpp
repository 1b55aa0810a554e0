#include "exact_counts.h"

#include "bracket_matches.h"

#include <algorithm>

namespace SyntaxStringGenerator {

namespace {

struct Piece {
    int lo;  // text [lo, hi) with the children written in it
    int hi;
    const int* children;
    int childCount;
};

struct Frame {
    std::vector<Piece> pieces;
    std::vector<mpz_class> digits;  // one per child of all pieces, in order
    size_t piece = 0;
    int child = 0;
    int pos = 0;
    size_t digit = 0;
};

}  // namespace

CExactCounts::CExactCounts(std::u16string_view prepared) : text_(prepared) { Read(); }

void CExactCounts::Read() {
    const int n = static_cast<int>(text_.size());
    groups_.push_back(Group{false, 0, n - 1, {}, {}, {}});
    groups_[0].alternatives.emplace_back().start = 0;
    std::vector<int> open{0};
    for (int p = 1; p < n - 1; ++p) {
        const char16_t c = text_[static_cast<size_t>(p)];
        if (c == u'{' || c == u'[') {
            const int g = static_cast<int>(groups_.size());
            groups_[static_cast<size_t>(open.back())].alternatives.back().children.push_back(g);
            groups_.push_back(Group{c == u'[', p, p, {}, {}, {}});
            groups_.back().alternatives.emplace_back().start = p;
            open.push_back(g);
        } else if ((c == u'}' || c == u']') && open.size() > 1) {
            Group& g = groups_[static_cast<size_t>(open.back())];
            g.alternatives.back().end = p;
            g.end = p;
            open.pop_back();
        } else if (c == u'|' && open.size() > 1) {
            Group& g = groups_[static_cast<size_t>(open.back())];
            g.alternatives.back().end = p;
            g.alternatives.emplace_back().start = p;
        }
    }
    groups_[0].alternatives.back().end = n - 1;

    // Children come after their parents, so the reverse order counts every
    // child before the group that holds it.
    for (auto g = groups_.rbegin(); g != groups_.rend(); ++g) {
        for (Alternative& alt : g->alternatives) {
            alt.product = 1;
            for (const int child : alt.children) alt.product *= groups_[static_cast<size_t>(child)].count;
            alt.itemEnd = alt.end;
            alt.itemChildren = static_cast<int>(alt.children.size());
        }
        if (g->arrangement) {
            g->perOrder = 1;
            for (const Alternative& alt : g->alternatives) g->perOrder *= alt.product;
            mpz_class orders;
            mpz_fac_ui(orders.get_mpz_t(), g->alternatives.size());
            g->count = orders * g->perOrder;
            LocateOwnSeparators(*g);
        } else {
            g->count = 0;
            for (Alternative& alt : g->alternatives) {
                g->count += alt.product;
                alt.total = g->count;
            }
        }
    }
}

// An alternative that is followed by "|" and ends with ">" has its own
// separator from the matching "<" at its own level on.
void CExactCounts::LocateOwnSeparators(Group& g) {
    for (size_t i = 0; i + 1 < g.alternatives.size(); ++i) {
        Alternative& alt = g.alternatives[i];
        const OwnSeparator own = FindOwnSeparator(
            text_, alt.start, alt.end, static_cast<int>(alt.children.size()), [&](int c) {
                const Group& child = groups_[static_cast<size_t>(alt.children[static_cast<size_t>(c)])];
                return std::pair{child.start, child.end};
            });
        if (own.open < 0) continue;
        alt.itemEnd = own.open;
        alt.separatorOpen = own.open;
        alt.separatorClose = alt.end - 1;
        alt.itemChildren = own.childrenBefore;
    }
}

void CExactCounts::Generate(const mpz_class& index, std::u16string& out) const {
    std::vector<Frame> stack;
    const auto append = [&](int from, int to) {
        if (to > from) out.append(text_.substr(static_cast<size_t>(from), static_cast<size_t>(to - from)));
    };
    // The digits of x over the counts of the pieces' children, the first child
    // changing fastest.
    const auto pushFrame = [&](std::vector<Piece>&& pieces, mpz_class x) {
        Frame f;
        f.pieces = std::move(pieces);
        for (const Piece& p : f.pieces) {
            for (int c = 0; c < p.childCount; ++c) {
                const mpz_class& radix = groups_[static_cast<size_t>(p.children[c])].count;
                mpz_class digit;
                mpz_fdiv_qr(x.get_mpz_t(), digit.get_mpz_t(), x.get_mpz_t(), radix.get_mpz_t());
                f.digits.push_back(std::move(digit));
            }
        }
        f.pos = f.pieces.front().lo;
        stack.push_back(std::move(f));
    };
    const auto enterAlternative = [&](const Alternative& alt, const mpz_class& x) {
        if (alt.children.empty()) {
            append(alt.start + 1, alt.end);
            return;
        }
        pushFrame({{alt.start + 1, alt.end, alt.children.data(), static_cast<int>(alt.children.size())}}, x);
    };
    const auto enterArrangement = [&](const Group& g, const mpz_class& x) {
        const int n = static_cast<int>(g.alternatives.size());
        mpz_class k;
        mpz_class rest;
        mpz_fdiv_qr(k.get_mpz_t(), rest.get_mpz_t(), x.get_mpz_t(), g.perOrder.get_mpz_t());
        // Permutation number k: item i goes to slot floor(k / (m-1)!) of the
        // already permuted items after it, m = n - i.
        std::vector<int> slots(static_cast<size_t>(n), 0);
        mpz_class f;
        mpz_fac_ui(f.get_mpz_t(), static_cast<unsigned long>(std::max(n - 1, 0)));
        for (int i = 0; i + 1 < n; ++i) {
            const int m = n - i;
            mpz_class slot = k / f;
            if (slot > m - 1) slot = m - 1;
            k -= slot * f;
            slots[static_cast<size_t>(i)] = static_cast<int>(slot.get_si());
            if (m - 1 > 1) f /= m - 1;
        }
        std::vector<int> order{n - 1};
        for (int i = n - 2; i >= 0; --i) order.insert(order.begin() + slots[static_cast<size_t>(i)], i);

        std::vector<Piece> pieces;
        int childCount = 0;
        for (int j = 0; j < n; ++j) {
            const Alternative& item = g.alternatives[static_cast<size_t>(order[static_cast<size_t>(j)])];
            pieces.push_back({item.start + 1, item.itemEnd, item.children.data(), item.itemChildren});
            childCount += item.itemChildren;
            const Alternative& own = g.alternatives[static_cast<size_t>(j)];
            if (own.separatorOpen >= 0) {
                const int separatorChildren = static_cast<int>(own.children.size()) - own.itemChildren;
                pieces.push_back({own.separatorOpen + 1, own.separatorClose, own.children.data() + own.itemChildren,
                                  separatorChildren});
                childCount += separatorChildren;
            }
        }
        if (childCount == 0) {
            for (const Piece& p : pieces) append(p.lo, p.hi);
            return;
        }
        pushFrame(std::move(pieces), rest);
    };
    const auto enter = [&](int group, const mpz_class& x) {
        const Group& g = groups_[static_cast<size_t>(group)];
        if (g.arrangement) {
            enterArrangement(g, x);
            return;
        }
        if (g.alternatives.size() == 1) {
            enterAlternative(g.alternatives[0], x);
            return;
        }
        const auto it = std::upper_bound(g.alternatives.begin(), g.alternatives.end(), x,
                                         [](const mpz_class& value, const Alternative& alt) { return value < alt.total; });
        if (it == g.alternatives.end() || it->Empty()) return;
        enterAlternative(*it, it == g.alternatives.begin() ? x : mpz_class(x - (it - 1)->total));
    };

    enter(0, index);
    while (!stack.empty()) {
        Frame& f = stack.back();
        const Piece& piece = f.pieces[f.piece];
        if (f.child < piece.childCount) {
            const Group& child = groups_[static_cast<size_t>(piece.children[f.child])];
            append(f.pos, child.start);
            f.pos = child.end + 1;
            const int childIndex = piece.children[f.child];
            ++f.child;
            const mpz_class digit = f.digits[f.digit++];
            enter(childIndex, digit);  // may grow the stack: f is stale now
            continue;
        }
        append(f.pos, piece.hi);
        if (++f.piece < f.pieces.size()) {
            f.pos = f.pieces[f.piece].lo;
            f.child = 0;
            continue;
        }
        stack.pop_back();
    }
}

}  // namespace SyntaxStringGenerator
