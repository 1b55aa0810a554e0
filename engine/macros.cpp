#include "engine/macros.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <span>
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

// A definition as it stands in the template: views into the text it was read
// from (or into a MacroTable).
struct CDefinition {
    std::u16string_view name;
    std::u16string_view value;
    int32_t position = 0;  // editor position of its "#set"
};

// Whether a table key can occur as a name: "%", characters other than "%", "%".
bool IsName(std::u16string_view key) {
    return key.size() >= 3 && key.front() == u'%' && key.back() == u'%' &&
           key.substr(1, key.size() - 2).find(u'%') == std::u16string_view::npos;
}

// What the expander gives: the text, or the index of the name whose
// replacement would have made it too long.
struct CExpanded {
    std::u16string text;
    int32_t tooLarge = -1;
    bool stopped = false;
};

// A name is "%", one or more characters other than "%", and "%". Since its
// inner text holds no "%", an occurrence of a name is always a stretch from
// one percent sign to the next one: a gap of the text. Replacing the names of
// one table entry, left to right and without overlapping, therefore replaces
// every gap equal to the name's inner text, except that of two such gaps that
// share a percent sign only the first is replaced (then the third, and so on).
//
// The expander keeps the text either flat or as a list of gaps, each followed
// by a link: the stretch from the percent sign after the gap to the percent
// sign before the next gap, both included. The list serves a window of names
// that follow each other in table order: a gap that one of them could still
// replace has its own list node; the gaps inside a link can never be replaced
// within the window and are copied, as one slice, only when the text is built.
// Each gap node holds its text as a chain of slices of the flat text and the
// values. A replacement thus costs the size of the value's gap structure, not
// of the whole text, and the total length is known before any text is built.
// The window is as long as its names' uses fit a list of about half the
// text's size; when the list has grown to the text's size, or the window
// ends, the text is built flat again and the next window chosen on it. A name
// whose uses alone would make a larger list is replaced by plain string
// search over the flat text. So the list never costs more memory than one
// copy of the text, and every rebuild is paid for by the replacements that
// filled the list or by the uses of a name, which keeps the time linear.
class CMacroExpander {
public:
    // names: ascending, without repeats, each of them IsName.
    CMacroExpander(std::span<const CDefinition> names, size_t maxLength, const std::atomic<bool>* stop)
        : names_(names), maxLength_(maxLength), stop_(stop) {
        size_t capacity = 16;
        while (capacity < 2 * names.size()) capacity *= 2;
        slots_.assign(capacity, -1);
        for (int32_t j = 0; j < static_cast<int32_t>(names.size()); ++j) {
            const std::u16string_view inner = Inner(j);
            size_t slot = std::hash<std::u16string_view>()(inner) & (capacity - 1);
            while (slots_[slot] >= 0) slot = (slot + 1) & (capacity - 1);
            slots_[slot] = j;
            if (inner.size() >= innerLengths_.size()) innerLengths_.resize(inner.size() + 1, false);
            innerLengths_[inner.size()] = true;
        }
        usesOf_.assign(names.size(), 0);
    }

    CExpanded Expand(std::u16string&& text) {
        CExpanded result;
        flat_ = std::move(text);
        total_ = flat_.size();
        bool listed = false;  // whether the text is in the gap list rather than in flat_
        std::vector<int32_t> matched;
        const int32_t passes = static_cast<int32_t>(names_.size());
        for (int32_t j = 0; j < passes;) {
            if (!listed) {
                const int32_t next = CountUses(j - 1);
                if (next == kStopped) return Stopped(result);
                if (next < 0) break;
                j = next;
                if (OpenWindow(j)) {
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
            if (!matched.empty() && !Cheaper(j, matched.size())) {
                // Most of the text changes: one whole-text pass costs less.
                if (!Flatten()) return Stopped(result);
                listed = false;
                continue;
            }
            if (!matched.empty()) {
                if (!Grow(j, matched.size(), result)) return result;
                for (size_t m = 0; m < matched.size(); ++m) {
                    if (m % kPollInterval == kPollInterval - 1 && StopRequested(stop_)) return Stopped(result);
                    Replace(matched[m], j);
                }
            }
            ++j;
            if (j < passes && (j > windowEnd_ || ListBytes() > total_ * sizeof(char16_t))) {
                if (!Flatten()) return Stopped(result);
                listed = false;
            }
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
    // What a list node with its slices costs, in bytes of memory and in
    // copying as many bytes of text.
    static constexpr uint64_t kNodeBytes = 64;

    static CExpanded& Stopped(CExpanded& result) {
        result.text.clear();
        result.stopped = true;
        return result;
    }

    std::u16string_view Inner(int32_t j) const { return names_[j].name.substr(1, names_[j].name.size() - 2); }

    // Whether replacing `uses` uses of name j through the gap list costs less
    // than a pass over the whole text.
    bool Cheaper(int32_t j, size_t uses) {
        return static_cast<uint64_t>(uses) * (Layout(j).gaps.size() + 1) * kNodeBytes < total_ * sizeof(char16_t);
    }

    // Accounts for replacing `uses` uses of name j; false, with the name
    // reported, when the text would grow past the limit.
    bool Grow(int32_t j, size_t uses, CExpanded& result) {
        const size_t nameSize = names_[j].name.size();
        const size_t valueSize = names_[j].value.size();
        uint64_t grown = 0;
        if (valueSize > nameSize) {
            if (__builtin_mul_overflow(static_cast<uint64_t>(uses), static_cast<uint64_t>(valueSize - nameSize),
                                       &grown) ||
                __builtin_add_overflow(total_, grown, &grown) || grown > maxLength_) {
                result.tooLarge = j;
                return false;
            }
        } else {
            grown = total_ - static_cast<uint64_t>(uses) * (nameSize - valueSize);
        }
        total_ = grown;
        return true;
    }

    // Counts, for every name after `after`, the gaps of flat_ that equal it
    // (an upper bound of its uses) into usesOf_, and lists those names in
    // used_, ascending; gives the first of them, or -1 for none.
    int32_t CountUses(int32_t after) {
        for (const int32_t index : used_) usesOf_[index] = 0;
        used_.clear();
        size_t polled = 0;
        size_t percent = flat_.find(u'%');
        if (percent == std::u16string::npos) return -1;
        for (size_t next = flat_.find(u'%', percent + 1); next != std::u16string::npos;
             percent = next, next = flat_.find(u'%', next + 1)) {
            if (++polled % kPollInterval == 0 && StopRequested(stop_)) return kStopped;
            const int32_t index = IndexOfInner(std::u16string_view(flat_).substr(percent + 1, next - percent - 1));
            if (index <= after) continue;
            if (usesOf_[index]++ == 0) used_.push_back(index);
        }
        std::sort(used_.begin(), used_.end());
        return used_.empty() ? -1 : used_.front();
    }

    // Chooses the window that starts at name j, the first name used: true
    // when the list serves it, false when name j is better replaced flat.
    bool OpenWindow(int32_t j) {
        uint64_t bytes = 0;
        size_t k = 0;
        for (; k < used_.size(); ++k) {
            const std::u16string_view value = names_[used_[k]].value;
            const uint64_t nodes = static_cast<uint64_t>(usesOf_[used_[k]]) *
                                   (static_cast<uint64_t>(std::count(value.begin(), value.end(), u'%')) + 1);
            if (bytes + nodes * kNodeBytes >= total_) break;
            bytes += nodes * kNodeBytes;
        }
        if (k == 0) return false;
        windowStart_ = j;
        windowEnd_ = k < used_.size() ? used_[k] - 1 : static_cast<int32_t>(names_.size()) - 1;
        currentPass_ = j - 1;
        const size_t width = static_cast<size_t>(windowEnd_ - windowStart_ + 1);
        bucketHeads_.assign(width, -1);
        bucketTails_.assign(width, -1);
        layoutOf_.assign(width, -1);
        // Room for the window's gaps and for as many again; untouched room
        // takes no memory.
        const uint64_t nodes = bytes / kNodeBytes + 2;
        gaps_.reserve(2 * nodes);
        pieces_.reserve(2 * nodes);
        entries_.reserve(2 * nodes);
        return true;
    }

    // Name j's replacement over the whole of flat_, as a string search.
    bool FlatPass(int32_t j, CExpanded& result) {
        const std::u16string_view name = names_[j].name;
        const std::u16string_view value = names_[j].value;
        size_t uses = 0;
        for (size_t p = flat_.find(name); p != std::u16string::npos; p = flat_.find(name, p + name.size())) {
            if (++uses % kPollInterval == 0 && StopRequested(stop_)) {
                Stopped(result);
                return false;
            }
        }
        if (!Grow(j, uses, result)) return false;
        std::u16string& next = spare_;
        next.clear();
        next.reserve(total_);
        size_t from = 0;
        for (size_t p = flat_.find(name); p != std::u16string::npos; p = flat_.find(name, from)) {
            next.append(flat_, from, p - from);
            next.append(value);
            from = p + name.size();
        }
        next.append(flat_, from, std::u16string::npos);
        flat_.swap(next);
        next.clear();
        return true;
    }

    // Builds the text flat again and empties the list. The buffers keep
    // their room for the next window: the pages stay mapped instead of being
    // returned and faulted in again.
    bool Flatten() {
        if (!BuildText(spare_)) return false;
        flat_.swap(spare_);
        spare_.clear();
        gaps_.clear();
        pieces_.clear();
        entries_.clear();
        layouts_.clear();
        return true;
    }

    size_t ListBytes() const {
        return gaps_.size() * sizeof(CGap) + pieces_.size() * sizeof(CPiece) + entries_.size() * sizeof(CEntry);
    }

    static constexpr size_t kLongestPiece = UINT32_MAX;
    struct CPiece {
        const char16_t* data;
        uint32_t size;
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

    // A gap filed under the name it equalled, with its stamp at the time; the
    // entries of one name are chained in the order they were filed.
    struct CEntry {
        int32_t gap;
        uint32_t stamp;
        int32_t next;
    };

    // A value cut the same way: the text before its first percent sign, the
    // links and replaceable gaps between, the text after its last one.
    struct CLayout {
        bool hasPercent = false;
        std::u16string_view head;
        std::u16string_view firstLink;
        std::vector<std::pair<std::u16string_view, std::u16string_view>> gaps;  // gap, link after it
        std::u16string_view tail;
    };

    int32_t IndexOfInner(std::u16string_view inner) const {
        if (inner.size() >= innerLengths_.size() || !innerLengths_[inner.size()]) return -1;
        const size_t mask = slots_.size() - 1;
        for (size_t slot = std::hash<std::u16string_view>()(inner) & mask; slots_[slot] >= 0;
             slot = (slot + 1) & mask) {
            if (Inner(slots_[slot]) == inner) return slots_[slot];
        }
        return -1;
    }

    // Whether a gap of a text that only names after `after` will still see
    // could be replaced within the window.
    bool Replaceable(std::u16string_view inner, int32_t after) const {
        const int32_t index = IndexOfInner(inner);
        return index > after && index <= windowEnd_;
    }

    int32_t NewGap(std::u16string_view text) {
        gaps_.emplace_back();
        const int32_t g = static_cast<int32_t>(gaps_.size() - 1);
        Append(g, text);
        return g;
    }

    void Append(int32_t g, std::u16string_view text) {
        while (text.size() > kLongestPiece) {
            Append(g, text.substr(0, kLongestPiece));
            text.remove_prefix(kLongestPiece);
        }
        if (text.empty()) return;
        pieces_.push_back({text.data(), static_cast<uint32_t>(text.size()), -1});
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
        while (text.size() > kLongestPiece) {
            Prepend(g, text.substr(text.size() - kLongestPiece));
            text.remove_suffix(kLongestPiece);
        }
        if (text.empty()) return;
        CGap& gap = gaps_[g];
        pieces_.push_back({text.data(), static_cast<uint32_t>(text.size()), gap.head});
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
    // equals, when that name's pass is still to come within the window.
    void Touch(int32_t g) {
        CGap& gap = gaps_[g];
        ++gap.stamp;
        if (gap.prev < 0 || gap.next < 0) return;  // the text's first and last gaps have a side without "%"
        if (gap.length >= innerLengths_.size() || !innerLengths_[gap.length]) return;
        content_.clear();
        for (int32_t p = gap.head; p >= 0; p = pieces_[p].next) content_.append(pieces_[p].data, pieces_[p].size);
        const int32_t index = IndexOfInner(content_);
        if (index > currentPass_ && index <= windowEnd_) File(g, index);
    }

    void File(int32_t g, int32_t index) {
        entries_.push_back({g, gaps_[g].stamp, -1});
        const int32_t entry = static_cast<int32_t>(entries_.size() - 1);
        const size_t bucket = static_cast<size_t>(index - windowStart_);
        if (bucketTails_[bucket] >= 0) {
            entries_[bucketTails_[bucket]].next = entry;
        } else {
            bucketHeads_[bucket] = entry;
        }
        bucketTails_[bucket] = entry;
    }

    bool BuildList(std::u16string_view text) {
        size_t percent = text.find(u'%');
        int32_t last = NewGap(text.substr(0, percent));
        first_ = last;
        size_t linkStart = percent;
        size_t polled = 0;
        for (size_t next = text.find(u'%', percent + 1); next != std::u16string_view::npos;
             percent = next, next = text.find(u'%', next + 1)) {
            if (++polled % kPollInterval == 0 && StopRequested(stop_)) return false;
            const std::u16string_view inner = text.substr(percent + 1, next - percent - 1);
            const int32_t index = IndexOfInner(inner);
            if (index <= currentPass_ || index > windowEnd_) continue;
            gaps_[last].link = text.substr(linkStart, percent - linkStart + 1);
            const int32_t g = NewGap(inner);
            InsertAfter(last, g);
            last = g;
            linkStart = next;
            // Every gap but the first and the last lies between two percent
            // signs, so it is filed under its name as Touch would.
            File(g, index);
        }
        gaps_[last].link = text.substr(linkStart, percent - linkStart + 1);
        InsertAfter(last, NewGap(text.substr(percent + 1)));
        return true;
    }

    const CLayout& Layout(int32_t j) {
        int32_t& index = layoutOf_[static_cast<size_t>(j - windowStart_)];
        if (index >= 0) return layouts_[static_cast<size_t>(index)];
        index = static_cast<int32_t>(layouts_.size());
        CLayout& layout = layouts_.emplace_back();
        const std::u16string_view value = names_[j].value;
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
        candidates_.clear();
        const size_t bucket = static_cast<size_t>(j - windowStart_);
        for (int32_t e = bucketHeads_[bucket]; e >= 0; e = entries_[e].next) {
            CGap& gap = gaps_[entries_[e].gap];
            if (gap.stamp != entries_[e].stamp || gap.mark == j || gap.prev < 0 || gap.next < 0) continue;
            gap.mark = j;
            candidates_.push_back(entries_[e].gap);
        }
        bucketHeads_[bucket] = bucketTails_[bucket] = -1;
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
            Append(left, names_[j].value);
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

    const std::span<const CDefinition> names_;
    const size_t maxLength_;
    const std::atomic<bool>* stop_;
    std::vector<int32_t> slots_;      // open addressing by inner text: a name's index, or -1
    std::vector<bool> innerLengths_;  // whether some name's inner text has this length
    std::vector<uint32_t> usesOf_;    // per name, while choosing a window: its gaps in flat_
    std::vector<int32_t> used_;       // the names counted in usesOf_
    // The window: per name of it, its first and last entry, and its layout.
    int32_t windowStart_ = 0;
    int32_t windowEnd_ = -1;
    std::vector<int32_t> bucketHeads_;
    std::vector<int32_t> bucketTails_;
    std::vector<int32_t> layoutOf_;
    std::deque<CLayout> layouts_;
    std::vector<CGap> gaps_;
    std::vector<CPiece> pieces_;
    std::vector<CEntry> entries_;
    std::vector<int32_t> candidates_;
    std::u16string content_;
    int32_t first_ = -1;
    int32_t currentPass_ = -1;
    uint64_t total_ = 0;
    std::u16string flat_;   // the text while no gap list stands for it
    std::u16string spare_;  // room for the next flat text
};


// Parses one definition line into views of it.
SyntaxResult ParseDefinition(std::u16string_view line, CDefinition& definition) {
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
    definition.name = name;
    definition.value = value;
    return {};
}

struct CDefinitionScan {
    SyntaxResult result;
    bool stopped = false;
    std::vector<CDefinition> definitions;  // in the text's order, up to the first defect
    std::vector<std::pair<size_t, size_t>> lines;  // the definition lines with their CR LF
};

// Validates the definition lines of text in order; stops at the first defect.
CDefinitionScan ScanDefinitions(std::u16string_view text, const std::atomic<bool>* stop) {
    CDefinitionScan scan;
    size_t crlfBefore = 0;  // CR LF pairs that begin before scanned
    size_t scanned = 0;
    // A bare CR starts a line for IsDirectiveAtLineStart but does not end a
    // definition line, which runs to the next CR LF: a "#set" after such a CR
    // is part of the definition before it, whose line is removed as a whole.
    size_t definitionEnd = 0;
    for (size_t a = FindDirective(text, 0, stop, scan.stopped); a != std::u16string_view::npos;
         a = FindDirective(text, a + 1, stop, scan.stopped)) {
        if (StopRequested(stop)) {
            scan.stopped = true;
            return scan;
        }
        for (; scanned < a; ++scanned) {
            if ((scanned & (kSearchStretch - 1)) == 0 && StopRequested(stop)) {
                scan.stopped = true;
                return scan;
            }
            if (text[scanned] == u'\r' && scanned + 1 < text.size() && text[scanned + 1] == u'\n') ++crlfBefore;
        }
        const int editorPos = static_cast<int>(a - crlfBefore);
        if (a < definitionEnd || !IsDirectiveAtLineStart(text, static_cast<int>(a))) continue;
        const size_t after = a + kDirective.size();
        if (after >= text.size() || text[after] != u' ') {
            scan.result = {editorPos, kBadMacroDefinition};
            return scan;
        }
        const size_t e = text.find(u"\r\n", a);
        if (e == std::u16string_view::npos) {
            scan.result = {editorPos, kBadMacroDefinition};
            return scan;
        }
        const std::u16string_view line = text.substr(a, e - a);
        CDefinition definition;
        const SyntaxResult r = ParseDefinition(line, definition);
        if (r.kind == kBadMacroDefinition || r.kind == kDeniedMacroNameSymbol) {
            scan.result = {editorPos, r.kind};
            return scan;
        }
        if (!r.Ok()) {
            // The position within the whole line, so that the offending
            // character itself is the one reported.
            const SyntaxResult inLine = CheckSyntax(line);
            scan.result = {editorPos + inLine.position, inLine.kind};
            return scan;
        }
        definition.position = editorPos;
        scan.definitions.push_back(definition);
        scan.lines.emplace_back(a, e - a + 2);
        definitionEnd = e + 2;
    }
    return scan;
}

std::u16string WithoutLines(std::u16string_view text, const std::vector<std::pair<size_t, size_t>>& lines) {
    size_t removed = 0;
    for (const auto& line : lines) removed += line.second;
    std::u16string out;
    out.reserve(text.size() - removed);
    size_t from = 0;
    for (const auto& [start, length] : lines) {
        out.append(text.substr(from, start - from));
        from = start + length;
    }
    out.append(text.substr(from));
    return out;
}

CExpanded Expand(std::u16string&& text, std::span<const CDefinition> names, size_t maxLength,
                 const std::atomic<bool>* stop) {
    if (names.empty() || text.find(u'%') == std::u16string::npos) {
        CExpanded unchanged;
        unchanged.text = std::move(text);
        return unchanged;
    }
    return CMacroExpander(names, maxLength, stop).Expand(std::move(text));
}

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
    CDefinition definition;
    const SyntaxResult r = ParseDefinition(line, definition);
    if (r.Ok()) table.emplace(definition.name, definition.value);
    return r;
}

MacroPass ProcessMacros(std::u16string_view text, MacroTable& table, const std::atomic<bool>* stop) {
    MacroPass pass;
    const CDefinitionScan scan = ScanDefinitions(text, stop);
    for (const CDefinition& definition : scan.definitions) {
        table.emplace(definition.name, definition.value);
        pass.definitionPositions.emplace(definition.name, definition.position);
    }
    pass.stopped = scan.stopped;
    pass.result = scan.result;
    if (!pass.stopped && pass.result.Ok()) pass.text = WithoutLines(text, scan.lines);
    return pass;
}

MacroCheck CheckAndExpandMacros(std::u16string_view text, size_t maxLength, const std::atomic<bool>* stop) {
    MacroCheck check;
    CDefinitionScan scan = ScanDefinitions(text, stop);
    check.stopped = scan.stopped;
    check.result = scan.result;
    if (check.stopped || !check.result.Ok()) return check;
    std::u16string withoutDefinitions = WithoutLines(text, scan.lines);
    std::vector<std::pair<size_t, size_t>>().swap(scan.lines);
    // In table order, the first definition of a name first (positions grow
    // with the text), and only that one kept.
    std::vector<CDefinition>& names = scan.definitions;
    std::sort(names.begin(), names.end(), [](const CDefinition& a, const CDefinition& b) {
        return a.name != b.name ? a.name < b.name : a.position < b.position;
    });
    names.erase(std::unique(names.begin(), names.end(),
                            [](const CDefinition& a, const CDefinition& b) { return a.name == b.name; }),
                names.end());
    CExpanded expanded = Expand(std::move(withoutDefinitions), names, maxLength, stop);
    check.stopped = expanded.stopped;
    if (expanded.tooLarge >= 0) {
        check.result = {names[static_cast<size_t>(expanded.tooLarge)].position, kMacroTextTooLarge};
    } else {
        check.text = std::move(expanded.text);
    }
    return check;
}

MacroExpansion ExpandMacros(std::u16string&& text, const MacroTable& table, size_t maxLength,
                            const std::atomic<bool>* stop) {
    std::vector<CDefinition> names;
    std::vector<const std::u16string*> keys;
    for (const auto& [name, value] : table) {
        if (!IsName(name)) continue;
        names.push_back({name, value, 0});
        keys.push_back(&name);
    }
    CExpanded expanded = Expand(std::move(text), names, maxLength, stop);
    MacroExpansion expansion;
    expansion.text = std::move(expanded.text);
    expansion.stopped = expanded.stopped;
    if (expanded.tooLarge >= 0) expansion.tooLargeName = keys[static_cast<size_t>(expanded.tooLarge)];
    return expansion;
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
