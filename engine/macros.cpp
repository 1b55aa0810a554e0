#include "engine/macros.h"

#include <cstdint>
#include <limits>
#include <unordered_map>
#include <vector>

namespace {

// The C library's wide white-space set in the "C" locale.
bool IsWhiteSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

std::u16string_view Trim(std::u16string_view s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && IsWhiteSpace(s[b])) ++b;
    while (e > b && IsWhiteSpace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool HasBracket(std::u16string_view s) {
    for (char16_t c : s) {
        if (c == u'{' || c == u'}' || c == u'[' || c == u']') return true;
    }
    return false;
}

constexpr std::u16string_view kDirective = u"#set";

bool StopRequested(const std::atomic<bool>* stop) { return stop && stop->load(std::memory_order_relaxed); }

// Searches run a stretch at a time, so that a stop request is seen within
// about a millisecond however long the text.
constexpr size_t kSearchStretch = size_t{1} << 20;

// text.find(kDirective, from), or npos with stopped set.
size_t FindDirective(std::u16string_view text, size_t from, const std::atomic<bool>* stop, bool& stopped) {
    for (;;) {
        const size_t end = std::min(text.size(), from + kSearchStretch + kDirective.size() - 1);
        const size_t found = text.substr(0, end).find(kDirective, from);
        if (found != std::u16string_view::npos || end == text.size()) return found;
        from = end - (kDirective.size() - 1);
        if (StopRequested(stop)) {
            stopped = true;
            return std::u16string_view::npos;
        }
    }
}

// A name is "%", one or more characters other than "%", and "%". Since its
// inner text holds no "%", an occurrence of a name is always a stretch from
// one percent sign to the next one: a gap of the text. Replacing the names of
// one table entry, left to right and without overlapping, therefore replaces
// every gap equal to the name's inner text, except that of two such gaps that
// share a percent sign only the first is replaced (then the third, and so on).
//
// The expander keeps the text as a list of gaps, each followed by a link: the
// stretch from the percent sign after the gap to the percent sign before the
// next gap, both included. A gap that could still be replaced by a later name
// has its own list node; the gaps inside a link can never be replaced (none
// equals a name still to come) and are copied, as one slice, only when the
// text is built. Each gap node holds its text as a chain of slices of the
// template and the values. A replacement thus costs the size of the value's
// gap structure, not of the whole text, and the total length is known before
// any text is built. When a name's uses are so many that most of the text
// changes anyway, the expander builds the text and replaces that name (and the
// following ones, while that stays so) by plain string search over the whole
// text, which needs less memory per use than the list.
class CMacroExpander {
public:
    CMacroExpander(const MacroTable& table, size_t maxLength, const std::atomic<bool>* stop)
        : maxLength_(maxLength), stop_(stop) {
        for (const auto& entry : table) {
            const std::u16string& name = entry.first;
            if (name.size() < 3 || name.front() != u'%' || name.back() != u'%') continue;
            const std::u16string_view inner = std::u16string_view(name).substr(1, name.size() - 2);
            if (inner.find(u'%') != std::u16string_view::npos) continue;
            indexOfInner_.emplace(inner, static_cast<int32_t>(names_.size()));
            names_.push_back(&entry);
            if (inner.size() >= innerLengths_.size()) innerLengths_.resize(inner.size() + 1, false);
            innerLengths_[inner.size()] = true;
        }
        buckets_.resize(names_.size());
        layouts_.resize(names_.size());
    }

    MacroExpansion Expand(std::u16string&& text) {
        MacroExpansion result;
        flat_ = std::move(text);
        total_ = flat_.size();
        bool listed = false;  // whether the text is in the gap list rather than in flat_
        std::vector<int32_t> matched;
        const int32_t passes = static_cast<int32_t>(names_.size());
        for (int32_t j = 0; j < passes;) {
            if (!listed) {
                size_t uses = 0;
                const int32_t next = NextNameUsed(j - 1, uses);
                if (next == kStopped) return Stopped(result);
                if (next < 0) break;
                j = next;
                if (Cheaper(j, uses)) {
                    currentPass_ = j - 1;
                    if (!BuildList(flat_)) return Stopped(result);
                    listed = true;
                    continue;
                }
                if (!FlatPass(j, result)) return result;
                ++j;
                continue;
            }
            currentPass_ = j;
            FindMatches(j, matched);
            if (matched.empty()) {
                ++j;
                continue;
            }
            if (!Cheaper(j, matched.size())) {
                // Most of the text changes: one whole-text pass costs less.
                std::u16string built;
                if (!BuildText(built)) return Stopped(result);
                flat_.swap(built);
                ClearList();
                listed = false;
                continue;
            }
            if (!Grow(j, matched.size(), result)) return result;
            for (size_t m = 0; m < matched.size(); ++m) {
                if (m % kPollInterval == kPollInterval - 1 && StopRequested(stop_)) return Stopped(result);
                Replace(matched[m], j);
            }
            ++j;
        }
        if (!listed) {
            result.text = std::move(flat_);
        } else if (!BuildText(result.text)) {
            return Stopped(result);
        }
        return result;
    }

private:
    static constexpr size_t kPollInterval = 4096;
    static constexpr int32_t kStopped = -2;

    static MacroExpansion& Stopped(MacroExpansion& result) {
        result.text.clear();
        result.stopped = true;
        return result;
    }

    // Whether replacing `uses` uses of name j through the gap list costs less
    // than a pass over the whole text. A list node with its slices takes the
    // time and memory of copying a few dozen characters.
    bool Cheaper(int32_t j, size_t uses) {
        constexpr uint64_t kCharactersPerNode = 32;
        return static_cast<uint64_t>(uses) * (Layout(j).gaps.size() + 1) * kCharactersPerNode < total_;
    }

    // Accounts for replacing `uses` uses of name j; false, with the name
    // reported, when the text would grow past the limit.
    bool Grow(int32_t j, size_t uses, MacroExpansion& result) {
        const std::u16string& name = names_[j]->first;
        const std::u16string& value = names_[j]->second;
        uint64_t grown = 0;
        if (value.size() > name.size()) {
            if (__builtin_mul_overflow(static_cast<uint64_t>(uses), static_cast<uint64_t>(value.size() - name.size()),
                                       &grown) ||
                __builtin_add_overflow(total_, grown, &grown) || grown > maxLength_) {
                result.tooLargeName = &name;
                return false;
            }
        } else {
            grown = total_ - static_cast<uint64_t>(uses) * (name.size() - value.size());
        }
        total_ = grown;
        return true;
    }

    // The first name after `after` that some gap of flat_ equals, with the
    // number of such gaps (an upper bound of its uses); -1 for none.
    int32_t NextNameUsed(int32_t after, size_t& uses) const {
        int32_t first = -1;
        size_t polled = 0;
        size_t percent = flat_.find(u'%');
        if (percent == std::u16string::npos) return -1;
        for (size_t next = flat_.find(u'%', percent + 1); next != std::u16string::npos;
             percent = next, next = flat_.find(u'%', next + 1)) {
            if (++polled % kPollInterval == 0 && StopRequested(stop_)) return kStopped;
            const int32_t index = IndexOfInner(std::u16string_view(flat_).substr(percent + 1, next - percent - 1));
            if (index <= after || (first >= 0 && index > first)) continue;
            if (index != first) uses = 0;
            first = index;
            ++uses;
        }
        return first;
    }

    // Name j's replacement over the whole of flat_, as a string search.
    bool FlatPass(int32_t j, MacroExpansion& result) {
        const std::u16string& name = names_[j]->first;
        const std::u16string& value = names_[j]->second;
        size_t uses = 0;
        for (size_t p = flat_.find(name); p != std::u16string::npos; p = flat_.find(name, p + name.size())) {
            if (++uses % kPollInterval == 0 && StopRequested(stop_)) {
                Stopped(result);
                return false;
            }
        }
        if (!Grow(j, uses, result)) return false;
        std::u16string next;
        next.reserve(total_);
        size_t from = 0;
        for (size_t p = flat_.find(name); p != std::u16string::npos; p = flat_.find(name, from)) {
            next.append(flat_, from, p - from);
            next.append(value);
            from = p + name.size();
        }
        next.append(flat_, from, std::u16string::npos);
        flat_.swap(next);
        return true;
    }

    void ClearList() {
        std::vector<CGap>().swap(gaps_);
        std::vector<CPiece>().swap(pieces_);
        for (auto& bucket : buckets_) std::vector<std::pair<int32_t, uint32_t>>().swap(bucket);
    }

    struct CPiece {
        const char16_t* data;
        size_t size;
        int32_t next;
    };

    struct CGap {
        int32_t prev = -1;
        int32_t next = -1;
        int32_t head = -1;  // first and last piece of the gap's text
        int32_t tail = -1;
        uint64_t length = 0;
        uint32_t stamp = 0;  // changes whenever the text or the place of the gap changes
        int32_t mark = -1;   // the last pass that found the gap equal to its name
        std::u16string_view link;  // empty after the last gap
    };

    // A value cut the same way: the text before its first percent sign, the
    // links and replaceable gaps between, the text after its last one.
    struct CLayout {
        bool ready = false;
        bool hasPercent = false;
        std::u16string_view head;
        std::u16string_view firstLink;
        std::vector<std::pair<std::u16string_view, std::u16string_view>> gaps;  // gap, link after it
        std::u16string_view tail;
    };

    int32_t IndexOfInner(std::u16string_view inner) const {
        if (inner.size() >= innerLengths_.size() || !innerLengths_[inner.size()]) return -1;
        const auto found = indexOfInner_.find(inner);
        return found == indexOfInner_.end() ? -1 : found->second;
    }

    // Whether a gap of a text that only names after `after` will still see
    // could be replaced.
    bool Replaceable(std::u16string_view inner, int32_t after) const { return IndexOfInner(inner) > after; }

    int32_t NewGap(std::u16string_view text) {
        gaps_.emplace_back();
        const int32_t g = static_cast<int32_t>(gaps_.size() - 1);
        Append(g, text);
        return g;
    }

    void Append(int32_t g, std::u16string_view text) {
        if (text.empty()) return;
        pieces_.push_back({text.data(), text.size(), -1});
        const int32_t p = static_cast<int32_t>(pieces_.size() - 1);
        CGap& gap = gaps_[g];
        if (gap.tail >= 0) {
            pieces_[gap.tail].next = p;
        } else {
            gap.head = p;
        }
        gap.tail = p;
        gap.length += text.size();
    }

    void Prepend(int32_t g, std::u16string_view text) {
        if (text.empty()) return;
        CGap& gap = gaps_[g];
        pieces_.push_back({text.data(), text.size(), gap.head});
        gap.head = static_cast<int32_t>(pieces_.size() - 1);
        if (gap.tail < 0) gap.tail = gap.head;
        gap.length += text.size();
    }

    // Moves the text of `from` to the end of `to`.
    void AppendGapText(int32_t to, int32_t from) {
        CGap& source = gaps_[from];
        if (source.head < 0) return;
        CGap& target = gaps_[to];
        if (target.tail >= 0) {
            pieces_[target.tail].next = source.head;
        } else {
            target.head = source.head;
        }
        target.tail = source.tail;
        target.length += source.length;
        source.head = source.tail = -1;
        source.length = 0;
    }

    void InsertAfter(int32_t before, int32_t g) {
        const int32_t after = gaps_[before].next;
        gaps_[g].prev = before;
        gaps_[g].next = after;
        gaps_[before].next = g;
        if (after >= 0) gaps_[after].prev = g;
    }

    void Remove(int32_t g) {
        CGap& gap = gaps_[g];
        if (gap.prev >= 0) gaps_[gap.prev].next = gap.next;
        if (gap.next >= 0) gaps_[gap.next].prev = gap.prev;
        gap.prev = gap.next = -1;
        ++gap.stamp;
    }

    // Called after every change of a gap: files it under the name it now
    // equals, when that name's pass is still to come.
    void Touch(int32_t g) {
        CGap& gap = gaps_[g];
        ++gap.stamp;
        if (gap.prev < 0 || gap.next < 0) return;  // the text's first and last gaps have a side without "%"
        if (gap.length >= innerLengths_.size() || !innerLengths_[gap.length]) return;
        content_.clear();
        for (int32_t p = gap.head; p >= 0; p = pieces_[p].next) content_.append(pieces_[p].data, pieces_[p].size);
        const int32_t index = IndexOfInner(content_);
        if (index > currentPass_) buckets_[index].emplace_back(g, gap.stamp);
    }

    bool BuildList(std::u16string_view text) {
        size_t percent = text.find(u'%');
        int32_t last = NewGap(text.substr(0, percent));
        first_ = last;
        size_t linkStart = percent;
        size_t polled = 0;
        std::vector<int32_t> replaceable;
        for (size_t next = text.find(u'%', percent + 1); next != std::u16string_view::npos;
             percent = next, next = text.find(u'%', next + 1)) {
            if (++polled % kPollInterval == 0 && StopRequested(stop_)) return false;
            const std::u16string_view inner = text.substr(percent + 1, next - percent - 1);
            if (!Replaceable(inner, -1)) continue;
            gaps_[last].link = text.substr(linkStart, percent - linkStart + 1);
            const int32_t g = NewGap(inner);
            InsertAfter(last, g);
            replaceable.push_back(g);
            last = g;
            linkStart = next;
        }
        gaps_[last].link = text.substr(linkStart, percent - linkStart + 1);
        InsertAfter(last, NewGap(text.substr(percent + 1)));
        for (const int32_t g : replaceable) Touch(g);
        return true;
    }

    const CLayout& Layout(int32_t j) {
        CLayout& layout = layouts_[j];
        if (layout.ready) return layout;
        layout.ready = true;
        const std::u16string_view value = names_[j]->second;
        size_t percent = value.find(u'%');
        if (percent == std::u16string_view::npos) return layout;
        layout.hasPercent = true;
        layout.head = value.substr(0, percent);
        size_t linkStart = percent;
        std::u16string_view* link = &layout.firstLink;
        for (size_t next = value.find(u'%', percent + 1); next != std::u16string_view::npos;
             percent = next, next = value.find(u'%', next + 1)) {
            const std::u16string_view inner = value.substr(percent + 1, next - percent - 1);
            if (!Replaceable(inner, j)) continue;
            *link = value.substr(linkStart, percent - linkStart + 1);
            layout.gaps.emplace_back(inner, std::u16string_view());
            link = &layout.gaps.back().second;
            linkStart = next;
        }
        *link = value.substr(linkStart, percent - linkStart + 1);
        layout.tail = value.substr(percent + 1);
        return layout;
    }

    // The gaps that pass j replaces, decided on the text as it is before the
    // pass: of a run of equal gaps that share their percent signs, the first,
    // third, fifth, ... one.
    void FindMatches(int32_t j, std::vector<int32_t>& matched) {
        matched.clear();
        std::vector<std::pair<int32_t, uint32_t>>& bucket = buckets_[j];
        candidates_.clear();
        for (const auto& [g, stamp] : bucket) {
            CGap& gap = gaps_[g];
            if (gap.stamp != stamp || gap.mark == j || gap.prev < 0 || gap.next < 0) continue;
            gap.mark = j;
            candidates_.push_back(g);
        }
        bucket.clear();
        bucket.shrink_to_fit();
        for (const int32_t start : candidates_) {
            const CGap& gap = gaps_[start];
            if (gaps_[gap.prev].mark == j && gaps_[gap.prev].link.size() == 1) continue;  // inside a run
            bool replaced = true;
            for (int32_t g = start;; replaced = !replaced) {
                if (replaced) matched.push_back(g);
                const int32_t next = gaps_[g].next;
                if (next < 0 || gaps_[next].mark != j || gaps_[g].link.size() != 1) break;
                g = next;
            }
        }
    }

    // Replaces gap g with its two percent signs by the value of name j.
    void Replace(int32_t g, int32_t j) {
        const int32_t before = gaps_[g].prev;
        const int32_t after = gaps_[g].next;
        // The percent sign that ends the link before g goes; when the link
        // holds more, the gap before that sign becomes a node of its own.
        int32_t left = before;
        const std::u16string_view leftLink = gaps_[before].link;
        if (leftLink.size() > 1) {
            const size_t q = leftLink.rfind(u'%', leftLink.size() - 2);
            gaps_[before].link = leftLink.substr(0, q + 1);
            left = NewGap(leftLink.substr(q + 1, leftLink.size() - q - 2));
            InsertAfter(before, left);
        }
        int32_t right = after;
        const std::u16string_view rightLink = gaps_[g].link;
        if (rightLink.size() > 1) {
            const size_t q = rightLink.find(u'%', 1);
            right = NewGap(rightLink.substr(1, q - 1));
            gaps_[right].link = rightLink.substr(q);
            InsertAfter(g, right);
        }
        Remove(g);
        const CLayout& layout = Layout(j);
        if (!layout.hasPercent) {
            Append(left, names_[j]->second);
            AppendGapText(left, right);
            gaps_[left].link = gaps_[right].link;
            Remove(right);
            Touch(left);
            return;
        }
        Append(left, layout.head);
        gaps_[left].link = layout.firstLink;
        int32_t last = left;
        for (const auto& [inner, link] : layout.gaps) {
            const int32_t added = NewGap(inner);
            gaps_[added].link = link;
            InsertAfter(last, added);
            last = added;
        }
        Prepend(right, layout.tail);
        Touch(left);
        for (int32_t added = gaps_[left].next; added != right; added = gaps_[added].next) Touch(added);
        Touch(right);
    }

    bool BuildText(std::u16string& out) const {
        out.reserve(total_);
        size_t polled = 0;
        for (int32_t g = first_; g >= 0; g = gaps_[g].next) {
            if (++polled % kPollInterval == 0 && StopRequested(stop_)) return false;
            for (int32_t p = gaps_[g].head; p >= 0; p = pieces_[p].next) out.append(pieces_[p].data, pieces_[p].size);
            out.append(gaps_[g].link);
        }
        return true;
    }

    const size_t maxLength_;
    const std::atomic<bool>* stop_;
    std::vector<const MacroTable::value_type*> names_;  // the table's names, in table order
    std::unordered_map<std::u16string_view, int32_t> indexOfInner_;
    std::vector<bool> innerLengths_;  // whether some name's inner text has this length
    std::vector<std::vector<std::pair<int32_t, uint32_t>>> buckets_;  // per name: gaps with their stamp
    std::vector<CLayout> layouts_;
    std::vector<CGap> gaps_;
    std::vector<CPiece> pieces_;
    std::vector<int32_t> candidates_;
    std::u16string content_;
    int32_t first_ = -1;
    int32_t currentPass_ = -1;
    uint64_t total_ = 0;
    std::u16string flat_;  // the text while no gap list stands for it
};

}  // namespace

bool IsDirectiveAtLineStart(std::u16string_view text, int position) {
    // Equivalent to trimming spaces off text[0 .. position-1] and looking at
    // what follows its last carriage return, but only walks back over the
    // white space that precedes the directive.
    if (position <= 0) return true;
    bool onlySpaces = true;
    for (int p = std::min<int>(position, static_cast<int>(text.size())) - 1; p >= 0; --p) {
        const char16_t c = text[static_cast<size_t>(p)];
        if (c == u'\r') return true;
        if (!IsWhiteSpace(c)) return false;
        if (c != u' ') onlySpaces = false;
    }
    return onlySpaces;
}

SyntaxResult ParseMacroDefinition(std::u16string_view line, MacroTable& table) {
    std::u16string_view s = Trim(line.substr(std::min(line.size(), kDirective.size())));
    if (s.size() < 3 || s[0] != u'%') return {0, kBadMacroDefinition};
    const size_t i = s.find(u'%', 1);
    if (i == std::u16string_view::npos) return {0, kBadMacroDefinition};
    const std::u16string_view name = s.substr(0, i + 1);
    if (name == u"%%") return {0, kBadMacroDefinition};
    if (HasBracket(name)) return {0, kDeniedMacroNameSymbol};
    s = Trim(s.substr(i + 1));
    if (s.empty() || s[0] != u'=') return {0, kBadMacroDefinition};
    const std::u16string_view value = Trim(s.substr(1));
    const SyntaxResult r = CheckSyntax(value);
    if (!r.Ok()) return r;
    table.emplace(std::u16string(name), std::u16string(value));
    return {};
}

MacroPass ProcessMacros(std::u16string_view text, MacroTable& table, const std::atomic<bool>* stop) {
    MacroPass pass;
    std::vector<std::pair<size_t, size_t>> ranges;  // definition lines with their CR LF
    size_t crlfBefore = 0;  // CR LF pairs that begin before scanned
    size_t scanned = 0;
    // A bare CR starts a line for IsDirectiveAtLineStart but does not end a
    // definition line, which runs to the next CR LF: a "#set" after such a CR
    // is part of the definition before it, whose line is removed as a whole.
    size_t definitionEnd = 0;
    for (size_t a = FindDirective(text, 0, stop, pass.stopped); a != std::u16string_view::npos;
         a = FindDirective(text, a + 1, stop, pass.stopped)) {
        if (StopRequested(stop)) {
            pass.stopped = true;
            return pass;
        }
        for (; scanned < a; ++scanned) {
            if ((scanned & (kSearchStretch - 1)) == 0 && StopRequested(stop)) {
                pass.stopped = true;
                return pass;
            }
            if (text[scanned] == u'\r' && scanned + 1 < text.size() && text[scanned + 1] == u'\n') ++crlfBefore;
        }
        const int editorPos = static_cast<int>(a - crlfBefore);
        if (a < definitionEnd || !IsDirectiveAtLineStart(text, static_cast<int>(a))) continue;
        const size_t after = a + kDirective.size();
        if (after >= text.size() || text[after] != u' ') {
            pass.result = {editorPos, kBadMacroDefinition};
            return pass;
        }
        const size_t e = text.find(u"\r\n", a);
        if (e == std::u16string_view::npos) {
            pass.result = {editorPos, kBadMacroDefinition};
            return pass;
        }
        const std::u16string_view line = text.substr(a, e - a);
        const SyntaxResult r = ParseMacroDefinition(line, table);
        if (r.kind == kBadMacroDefinition || r.kind == kDeniedMacroNameSymbol) {
            pass.result = {editorPos, r.kind};
            return pass;
        }
        if (!r.Ok()) {
            // The position within the whole line, so that the offending
            // character itself is the one reported.
            const SyntaxResult inLine = CheckSyntax(line);
            pass.result = {editorPos + inLine.position, inLine.kind};
            return pass;
        }
        ranges.emplace_back(a, e - a + 2);
        definitionEnd = e + 2;
        // The name as ParseMacroDefinition took it; an earlier line keeps its place.
        const std::u16string_view definition = Trim(line.substr(kDirective.size()));
        pass.definitionPositions.emplace(std::u16string(definition.substr(0, definition.find(u'%', 1) + 1)), editorPos);
    }
    if (pass.stopped) return pass;
    pass.text.reserve(text.size());
    size_t from = 0;
    for (const auto& [start, length] : ranges) {
        pass.text.append(text.substr(from, start - from));
        from = start + length;
    }
    pass.text.append(text.substr(from));
    return pass;
}

MacroExpansion ExpandMacros(std::u16string&& text, const MacroTable& table, size_t maxLength,
                            const std::atomic<bool>* stop) {
    if (table.empty() || text.find(u'%') == std::u16string::npos) {
        MacroExpansion unchanged;
        unchanged.text = std::move(text);
        return unchanged;
    }
    return CMacroExpander(table, maxLength, stop).Expand(std::move(text));
}

std::u16string ApplyMacros(std::u16string&& text, const MacroTable& table) {
    return ExpandMacros(std::move(text), table, std::numeric_limits<size_t>::max()).text;
}

std::u16string ApplyMacros(std::u16string_view text, const MacroTable& table) {
    return ApplyMacros(std::u16string(text), table);
}

void CollectMacros(MacroTable& table, std::u16string_view editorText) {
    table.clear();
    constexpr std::u16string_view kDirectiveWithSpace = u"#set ";
    size_t a = editorText.find(kDirectiveWithSpace);
    while (a != std::u16string_view::npos) {
        if (IsDirectiveAtLineStart(editorText, static_cast<int>(a))) {
            const size_t cr = editorText.find(u'\r', a);
            if (cr == std::u16string_view::npos) return;
            ParseMacroDefinition(editorText.substr(a, cr - a), table);
            a = editorText.find(kDirectiveWithSpace, cr);
        } else {
            a = editorText.find(kDirectiveWithSpace, a + 1);
        }
    }
}
