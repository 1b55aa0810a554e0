// A literal, slow reading of the template tree and version generation for
// comparison with the engine: separators distributed by rewriting the text
// group by group, alternatives and children found by rescanning, counts by
// recursion, and every arrangement group generated through a temporary tree
// parsed from its composed text. Recursive: for small templates only.
#pragma once

#include "bracket_matches.h"
#include "engine/syntax_check.h"
#include "random15.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace reference {

constexpr double kCap = 1.7e300;

// A draw r of 0 .. 32767 as an index in 0 .. n-1: trunc(r / 32768 * n).
inline int Pick(int r, int n) { return static_cast<int>(static_cast<double>(r) / 32768.0 * n); }

inline double Factorial(int k) {
    if (k <= 0) return 1;
    const double f = Factorial(k - 1) * k;
    return f < 1 ? 1 : f;
}

struct Node {
    bool square = false;
    int start = 0;
    int end = 0;
    struct Alt {
        int start;
        int end;
        std::vector<std::unique_ptr<Node>> children;
    };
    std::vector<Alt> alts;
};

inline std::unique_ptr<Node> CreateNode(int start, const std::u16string& text, int end, bool isRoot) {
    auto balance = [&](char16_t open, char16_t close) {
        int b = 0;
        for (int p = start; p <= end; ++p) b += text[p] == open ? 1 : text[p] == close ? -1 : 0;
        return b;
    };
    auto node = std::make_unique<Node>();
    if (text[start] == u'[' && text[end] == u']' && start <= end && balance(u'[', u']') == 0) {
        node->square = true;
    } else if (!(text[start] == u'{' && text[end] == u'}' && start <= end && balance(u'{', u'}') == 0)) {
        return nullptr;
    }
    node->start = start;
    node->end = end;
    int braces = 0, squares = 0, boundary = start;
    for (int p = start + 1; p < end; ++p) {
        const char16_t c = text[p];
        if (c == u'[') ++squares;
        if (c == u']') --squares;
        if (c == u'{') ++braces;
        if (c == u'}') --braces;
        if (c == u'|' && braces == 0 && squares == 0 && !isRoot) {
            node->alts.push_back({boundary, p, {}});
            boundary = p;
        }
    }
    node->alts.push_back({boundary, end, {}});
    for (auto& alt : node->alts) {
        int b = 0, s = 0, groupStart = -1;
        for (int p = alt.start + 1; p < alt.end; ++p) {
            const char16_t c = text[p];
            if (c == u'[' && ++s == 1 && b == 0) groupStart = p;
            if (c == u']' && --s == 0 && b == 0) alt.children.push_back(CreateNode(groupStart, text, p, false));
            if (c == u'{' && ++b == 1 && s == 0) groupStart = p;
            if (c == u'}' && --b == 0 && s == 0) alt.children.push_back(CreateNode(groupStart, text, p, false));
        }
    }
    return node;
}

double Count(const Node& node);

inline double Product(const Node::Alt& alt) {
    double r = 1;
    for (const auto& c : alt.children) {
        const double x = Count(*c);
        if (r >= kCap / x) return kCap;
        r *= x;
    }
    return r;
}

inline double Count(const Node& node) {
    if (node.square) {
        double r = Factorial(static_cast<int>(node.alts.size()));
        for (const auto& alt : node.alts) {
            const double p = Product(alt);
            if (r >= kCap / p) return kCap;
            r *= p;
        }
        return r;
    }
    double s = 0;
    for (const auto& alt : node.alts) {
        const double p = Product(alt);
        if (s >= kCap - p) return kCap;
        s += p;
    }
    return s;
}

// Permutation number k of list: the first item goes to position
// floor(k / (n-1)!) of the permuted rest. A first item whose (n-1)! is not a
// finite double keeps its place, and the position is clamped to the list, so
// a k that is not a permutation number (NaN, or past n! - 1 when the count
// was capped) still gives an order.
inline std::vector<int> Permute(std::vector<int> list, double k) {
    const int n = static_cast<int>(list.size());
    if (n <= 1) return list;
    const double f = Factorial(n - 1);
    const int first = list[0];
    if (!std::isfinite(f)) {
        std::vector<int> out{first};
        const std::vector<int> rest = Permute(std::vector<int>(list.begin() + 1, list.end()), k);
        out.insert(out.end(), rest.begin(), rest.end());
        return out;
    }
    const int c = static_cast<int>(std::clamp(std::isnan(k) ? 0.0 : std::floor(k / f), 0.0, n - 1.0));
    std::vector<int> rest = Permute(std::vector<int>(list.begin() + 1, list.end()), std::max(0.0, k - c * f));
    std::vector<int> out(rest.begin(), rest.begin() + c);
    out.push_back(first);
    out.insert(out.end(), rest.begin() + c, rest.end());
    return out;
}

void Generate(const Node& node, double x, std::u16string& out, const std::u16string& text, bool random, CRandom15& rng);

inline void GenerateAlt(const Node::Alt& alt, double x, std::u16string& out, const std::u16string& text, bool random,
                        CRandom15& rng) {
    const auto& ch = alt.children;
    if (ch.empty()) {
        out.append(text, alt.start + 1, alt.end - alt.start - 1);
        return;
    }
    const int k = static_cast<int>(ch.size());
    std::vector<double> digits(k, random ? -1.0 : 0.0);
    if (!random) {
        int limit = k;
        for (;;) {
            int j = 0;
            double product = 1;
            for (; j < limit; ++j) {
                product *= Count(*ch[j]);
                if (x < product) break;
            }
            if (j == limit) break;
            double below = 1;
            for (int i = 0; i < j; ++i) below *= Count(*ch[i]);
            digits[j] = std::floor(x / below);
            x = std::max(0.0, x - digits[j] * below);
            limit = j;
        }
    }
    out.append(text, alt.start + 1, ch[0]->start - alt.start - 1);
    for (int j = 0; j < k; ++j) {
        Generate(*ch[j], digits[j], out, text, random, rng);
        const int next = j + 1 < k ? ch[j + 1]->start : alt.end;
        out.append(text, ch[j]->end + 1, next - ch[j]->end - 1);
    }
}

inline void Generate(const Node& node, double x, std::u16string& out, const std::u16string& text, bool random,
                     CRandom15& rng) {
    const int n = static_cast<int>(node.alts.size());
    if (!node.square) {
        if (n == 1) return GenerateAlt(node.alts[0], x, out, text, random, rng);
        if (random) {
            const auto& alt = node.alts[Pick(rng.Next(), n)];
            if (alt.end - alt.start > 1) {
                std::u16string temp;
                GenerateAlt(alt, -1, temp, text, true, rng);
                out += temp;
            }
            return;
        }
        double total = 0;
        for (const auto& alt : node.alts) {
            const double before = total;
            total += Product(alt);
            if (total > x) {
                if (alt.end - alt.start > 1) GenerateAlt(alt, x - before, out, text, false, rng);
                return;
            }
        }
        return;
    }
    std::vector<int> order(n);
    for (int j = 0; j < n; ++j) order[j] = j;
    double rest = 0;
    if (random) {
        for (int j = 0; j < n; ++j) std::swap(order[j], order[Pick(rng.Next(), n)]);
    } else {
        // Without a finite n! there is no whole number of versions per order:
        // the version number picks the order alone.
        const double per = Count(node) / Factorial(n);
        double k = x;
        if (per > 0) {
            k = std::floor(x / per);
            rest = std::max(0.0, x - k * per);
        }
        order = Permute(order, k);
    }
    auto ownSeparator = [&](const Node::Alt& alt) {
        if (text[alt.end] != u'|' || alt.end - alt.start <= 1 || text[alt.end - 1] != u'>') return -1;
        return FindMatchingBracket(text, alt.start, alt.end, alt.end - 1);
    };
    std::u16string m = u"{";
    for (int j = 0; j < n; ++j) {
        const auto& item = node.alts[order[j]];
        const int lt = ownSeparator(item);
        const int itemEnd = lt >= 0 ? lt : item.end;
        m.append(text, item.start + 1, itemEnd - item.start - 1);
        const auto& own = node.alts[j];
        const int sep = ownSeparator(own);
        if (sep >= 0) m.append(text, sep + 1, own.end - 1 - sep - 1);
    }
    m += u"}";
    const auto temp = CreateNode(0, m, static_cast<int>(m.size()) - 1, true);
    Generate(*temp, rest, out, m, random, rng);
}

// The text-rewriting preparation: each square group in turn, nested ones after
// the group that holds them.
inline std::u16string Distribute(std::u16string text) {
    size_t a = text.find(u'[');
    while (a != std::u16string::npos) {
        const int b = FindMatchingBracket(text, static_cast<int>(a), static_cast<int>(text.size()) - 1, static_cast<int>(a));
        std::u16string g = text.substr(a, b - a + 1);
        std::u16string d;
        if (g[1] == u'<') {
            const int m = FindMatchingBracket(g, 1, static_cast<int>(g.size()) - 1, 1);
            d = g.substr(1, m);
            g.erase(1, m);
        }
        int from = 0;
        for (;;) {
            const int bar = FindNextSeparator(g, from, static_cast<int>(g.size()) - 1);
            if (bar < 0) break;
            if (g[bar - 1] != u'>') {
                g.insert(bar, d);
                from = bar + static_cast<int>(d.size());
            } else {
                from = bar;
            }
        }
        text.replace(a, b - a + 1, g);
        a = text.find(u'[', a + 1);
    }
    return text;
}

}  // namespace reference
