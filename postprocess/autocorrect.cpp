#include "postprocess/autocorrect.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <cstring>
#include <vector>

AutoCorrectionOptions AutoCorrectionOptions::AllOff() {
    return FromBytes({0, 0, 0, 0, 0, 0, 0, 0});
}

std::array<uint8_t, 8> AutoCorrectionOptions::ToBytes() const {
    return {trimLine,         removeSpacesBeforePunctuation, removeExtraSpaces,      capitalizeLine,
            capitalizeSentences, addSpacesAfterPunctuation,  removeExtraPunctuation, skipHtmlTags};
}

AutoCorrectionOptions AutoCorrectionOptions::FromBytes(const std::array<uint8_t, 8>& bytes) {
    AutoCorrectionOptions o;
    o.trimLine = bytes[0];
    o.removeSpacesBeforePunctuation = bytes[1];
    o.removeExtraSpaces = bytes[2];
    o.capitalizeLine = bytes[3];
    o.capitalizeSentences = bytes[4];
    o.addSpacesAfterPunctuation = bytes[5];
    o.removeExtraPunctuation = bytes[6];
    o.skipHtmlTags = bytes[7];
    return o;
}

bool AutoCorrectionOptions::AnyOn() const {
    const auto bytes = ToBytes();
    return std::any_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0; });
}

namespace {

inline bool IsMark(char16_t c) {
    return c == u'.' || c == u',' || c == u'!' || c == u'?' || c == u':' || c == u';';
}
inline bool IsSentenceEnd(char16_t c) { return c == u'.' || c == u'!' || c == u'?'; }
inline bool IsSentenceGap(char16_t c) {
    return IsSentenceEnd(c) || c == u' ' || c == u'\r' || c == u'\n' || c == u'\t';
}
inline bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }
inline bool IsTagGap(char16_t c) { return c == u' ' || c == u'>' || c == u'\t' || c == u'\r' || c == u'\n'; }

// A text seen as two consecutive pieces: the stretch being corrected (held in
// a scratch buffer) and the untouched rest of the source text after it. The
// capitalisation step may run past the stretch into the rest, across the
// transparent tags that close it.
struct SplitText {
    char16_t* head;
    std::size_t headSize;
    char16_t* tail;
    std::size_t tailSize;

    std::size_t Size() const { return headSize + tailSize; }
    char16_t& At(std::size_t k) { return k < headSize ? head[k] : tail[k - headSize]; }
};

// Length of the transparent tag ("<p>", "</p>", "<br>", "</br>") that begins
// at k, or 0.
std::size_t TransparentTagLength(SplitText& t, std::size_t k) {
    const std::size_t n = t.Size();
    auto is = [&](std::size_t at, char16_t c) { return at < n && t.At(at) == c; };
    if (!is(k, u'<')) return 0;
    std::size_t i = k + 1;
    if (is(i, u'/')) ++i;
    if (is(i, u'p') && is(i + 1, u'>')) return i + 2 - k;
    if (is(i, u'b') && is(i + 1, u'r') && is(i + 2, u'>')) return i + 3 - k;
    return 0;
}

// Simple upper-case mapping of the character at k. Only a whole character
// changes: a lone surrogate stays, and a mapping that would change the number
// of code units (none exists in the simple mappings) is not applied, so
// positions after k never move.
void UpperCaseCharacter(SplitText& t, std::size_t k) {
    const char16_t c = t.At(k);
    if (c < 0x80) {
        if (c >= u'a' && c <= u'z') t.At(k) = static_cast<char16_t>(c - (u'a' - u'A'));
        return;
    }
    if (U16_IS_LEAD(c)) {
        if (k + 1 >= t.Size() || !U16_IS_TRAIL(t.At(k + 1))) return;
        const UChar32 cp = U16_GET_SUPPLEMENTARY(c, t.At(k + 1));
        const UChar32 up = u_toupper(cp);
        if (up == cp || up <= 0xFFFF) return;
        t.At(k) = U16_LEAD(up);
        t.At(k + 1) = U16_TRAIL(up);
        return;
    }
    if (U16_IS_TRAIL(c)) return;
    const UChar32 up = u_toupper(c);
    if (up <= 0xFFFF) t.At(k) = static_cast<char16_t>(up);
}

void UpperCaseAtSplit(SplitText& t, std::size_t k) {
    const std::size_t n = t.Size();
    while (k < n && t.At(k) == u'<') {
        const std::size_t tag = TransparentTagLength(t, k);
        if (tag == 0) break;
        k += tag - 1;  // the tag's ">", itself part of the gap
        while (k < n && IsTagGap(t.At(k))) ++k;
        if (k >= n) return;
    }
    if (k < n) UpperCaseCharacter(t, k);
}

// Each stretch rule is one pass from `in` into `out`, reproducing the effect of
// the rule's insert/delete scan without moving the rest of the text per step.
// The character after a stretch is either the "<" of a tag or nothing; neither
// is a space, a mark or a full stop, so the passes need not look past the
// stretch.

// The passes below write every character and then decide, without a branch,
// whether the write pointer moves on (or moves back): on running prose the
// outcome of each test is close to random and mispredictions would dominate.

// Bit c set for the marks; all six are below 64.
constexpr uint64_t kMarkBits = (uint64_t{1} << '.') | (uint64_t{1} << ',') | (uint64_t{1} << '!') |
                               (uint64_t{1} << '?') | (uint64_t{1} << ':') | (uint64_t{1} << ';');
inline bool IsMarkFast(char16_t c) { return (c < 64) & static_cast<bool>((kMarkBits >> (c & 63)) & 1); }

// A mark gets a space after it unless a space or another mark follows.
void AddSpacesAfterPunctuation(const std::u16string& in, std::u16string& out) {
    const std::size_t n = in.size();
    out.resize(2 * n + 1);
    char16_t* w = out.data();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = in[i];
        const char16_t next = i + 1 < n ? in[i + 1] : char16_t(0);
        *w++ = c;
        *w = u' ';
        w += IsMarkFast(c) & (next != u' ') & !IsMarkFast(next);
    }
    out.resize(static_cast<std::size_t>(w - out.data()));
}

// Every run of spaces is cut to its first space, except that the stretch's
// first position never starts a run: a run there keeps two spaces.
void RemoveExtraSpaces(const std::u16string& in, std::u16string& out) {
    const std::size_t n = in.size();
    out.resize(n);
    char16_t* w = out.data();
    for (std::size_t i = 0; i < n && i < 2; ++i) *w++ = in[i];
    for (std::size_t i = 2; i < n; ++i) {
        const char16_t c = in[i];
        *w = c;
        w += !((c == u' ') & (in[i - 1] == u' '));
    }
    out.resize(static_cast<std::size_t>(w - out.data()));
}

// A whole run of spaces goes when a mark follows it inside the stretch: the
// mark is written over the run's first space.
void RemoveSpacesBeforePunctuation(const std::u16string& in, std::u16string& out) {
    const std::size_t n = in.size();
    out.resize(n);
    char16_t* const base = out.data();
    char16_t* w = base;
    char16_t* runStart = base;
    bool previousSpace = false;
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = in[i];
        const bool space = c == u' ';
        runStart = (space & !previousSpace) ? w : runStart;
        w = (previousSpace & IsMarkFast(c)) ? runStart : w;
        *w++ = c;
        previousSpace = space;
    }
    out.resize(static_cast<std::size_t>(w - base));
}

// Exactly two full stops become one; longer runs stay. A run's length is known
// at the character after it, which then overwrites the run's second stop.
void RemoveExtraPunctuation(const std::u16string& in, std::u16string& out) {
    const std::size_t n = in.size();
    out.resize(n);
    char16_t* const base = out.data();
    char16_t* w = base;
    std::size_t run = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = in[i];
        const bool stop = c == u'.';
        w -= (!stop) & (run == 2);
        *w++ = c;
        run = stop ? run + 1 : 0;
    }
    w -= run == 2;
    out.resize(static_cast<std::size_t>(w - base));
}

// In place: after a sentence end (not the stretch's last character) the first
// character past the sentence gap is capitalised, possibly beyond the stretch.
void CapitalizeSentences(SplitText& t) {
    const std::size_t e = t.headSize;
    const char16_t* s = t.head;
    std::size_t p = 0;
    while (p < e) {
        if (IsSentenceEnd(s[p]) && p + 1 < e) {
            std::size_t q = p;
            while (q < e && IsSentenceGap(s[q])) ++q;
            UpperCaseAtSplit(t, q);
            p = q;
        } else {
            ++p;
        }
    }
}

// The tags of a text: for every "<", the ">" that the bracket matcher finds
// searching forward up to the end of the text, or none. Computed for all "<"
// at once from the right, instead of one forward scan per "<", which would
// cost the square of the text's length on texts full of "<" that open no tag.
//
// A forward "<" scan from position j at depth 0 ends at: j itself for ">";
// failure for "}" or the end; after a "{"/"[" group (skipped whole, failure
// when it is unclosed) or a nested "<" (its own scan, failure when it fails)
// it goes on from the position after that group's end; anything else, "]"
// included, passes. Only bracket positions matter, so the scan runs over the
// list of them: the scan from just after list entry k continues at entry k+1.
class CTagFinder {
public:
    void Build(const std::u16string& text) {
        positions_.clear();
        result_.clear();
        braces_.clear();
        squares_.clear();
        const char16_t* t = text.data();
        const std::size_t n = text.size();
        for (std::size_t i = 0; i < n; ++i) {
            const char16_t c = t[i];
            if (!IsBracket(c)) continue;
            const int32_t k = static_cast<int32_t>(positions_.size());
            positions_.push_back(static_cast<uint32_t>(i));
            result_.push_back(-1);  // for "{" and "[": the list entry of the partner
            if (c == u'{') braces_.push_back(k);
            else if (c == u'[') squares_.push_back(k);
            else if (c == u'}' && !braces_.empty()) {
                result_[braces_.back()] = k;
                braces_.pop_back();
            } else if (c == u']' && !squares_.empty()) {
                result_[squares_.back()] = k;
                squares_.pop_back();
            }
        }
        const int32_t size = static_cast<int32_t>(positions_.size());
        auto after = [&](int32_t k) { return k + 1 < size ? result_[k + 1] : -1; };
        for (int32_t k = size - 1; k >= 0; --k) {
            const char16_t c = t[positions_[k]];
            int32_t r;
            if (c == u'>') {
                r = k;
            } else if (c == u'}') {
                r = -1;
            } else if (c == u'{' || c == u'[') {
                const int32_t m = result_[k];
                r = m < 0 ? -1 : after(m);
            } else if (c == u'<') {
                const int32_t m = after(k);
                r = m < 0 ? -1 : after(m);
            } else {  // "]"
                r = after(k);
            }
            result_[k] = r;
        }
    }

    // The next tag whose "<" is at or after from: {start, close}, or false.
    bool Next(std::size_t from, std::size_t& start, std::size_t& close) {
        const int32_t size = static_cast<int32_t>(positions_.size());
        while (cursor_ < size && positions_[cursor_] < from) ++cursor_;
        for (; cursor_ < size; ++cursor_) {
            if (text_[positions_[cursor_]] != u'<') continue;
            const int32_t m = cursor_ + 1 < size ? result_[cursor_ + 1] : -1;
            if (m < 0) continue;
            start = positions_[cursor_];
            close = positions_[m];
            return true;
        }
        return false;
    }

    void Start(const std::u16string& text) {
        text_ = text.data();
        cursor_ = 0;
        Build(text);
    }

    void Trim(std::size_t keep) {
        for (std::vector<int32_t>* v : {&result_, &braces_, &squares_})
            if (v->capacity() > keep) std::vector<int32_t>().swap(*v);
        if (positions_.capacity() > keep) std::vector<uint32_t>().swap(positions_);
    }

private:
    static bool IsBracket(char16_t c) {
        return c == u'<' || c == u'>' || c == u'{' || c == u'}' || c == u'[' || c == u']';
    }

    std::vector<uint32_t> positions_;
    std::vector<int32_t> result_;  // list entry of the ">" the scan from entry k finds, or -1
    std::vector<int32_t> braces_, squares_;
    const char16_t* text_ = nullptr;
    int32_t cursor_ = 0;
};

struct Scratch {
    std::u16string a, b, out;
    CTagFinder tags;

    // Keeps one huge text from pinning its memory for the thread's lifetime.
    void Trim() {
        constexpr std::size_t kKeep = 1 << 20;
        for (std::u16string* s : {&a, &b, &out})
            if (s->capacity() > kKeep) std::u16string().swap(*s);
        tags.Trim(kKeep);
    }
};

thread_local Scratch scratch;

// Runs the enabled stretch rules on a.  The result ends up in a (b is the
// second buffer of the ping-pong). rest/restSize is the text after the
// stretch, which capitalisation may reach.
void CorrectStretch(const AutoCorrectionOptions& o, std::u16string& a, std::u16string& b, char16_t* rest,
                    std::size_t restSize) {
    if (o.addSpacesAfterPunctuation) {
        AddSpacesAfterPunctuation(a, b);
        a.swap(b);
    }
    if (o.removeExtraSpaces) {
        RemoveExtraSpaces(a, b);
        a.swap(b);
    }
    if (o.removeSpacesBeforePunctuation) {
        RemoveSpacesBeforePunctuation(a, b);
        a.swap(b);
    }
    if (o.removeExtraPunctuation) {
        RemoveExtraPunctuation(a, b);
        a.swap(b);
    }
    if (o.capitalizeSentences) {
        SplitText t{a.data(), a.size(), rest, restSize};
        CapitalizeSentences(t);
    }
}

void CorrectWholeText(std::u16string& text, const AutoCorrectionOptions& o) {
    CorrectStretch(o, text, scratch.b, nullptr, 0);
}

void CorrectBetweenTags(std::u16string& text, const AutoCorrectionOptions& o) {
    Scratch& s = scratch;
    if (text.find(u'<') == std::u16string::npos) {
        CorrectWholeText(text, o);
        return;
    }
    s.tags.Start(text);
    const std::size_t n = text.size();
    s.out.clear();
    s.out.reserve(n + n / 4 + 16);
    std::size_t stretchStart = 0;
    std::size_t search = 0;
    for (;;) {
        std::size_t tagStart = n;
        std::size_t tagClose = n;
        if (!s.tags.Next(search, tagStart, tagClose)) tagStart = tagClose = n;
        s.a.assign(text, stretchStart, tagStart - stretchStart);
        CorrectStretch(o, s.a, s.b, text.data() + tagStart, n - tagStart);
        s.out.append(s.a);
        if (tagStart == n) break;
        // The tag's ">" opens the next stretch.
        s.out.append(text, tagStart, tagClose - tagStart);
        stretchStart = tagClose;
        search = tagClose + 1;
    }
    text.swap(s.out);
}

void CapitalizeLine(std::u16string& text) {
    std::size_t k = 0;
    while (k < text.size() && IsBlank(text[k])) ++k;
    if (k < text.size()) UpperCaseAt(text, k);
}

void TrimSpaces(std::u16string& text) {
    const std::size_t last = text.find_last_not_of(u' ');
    if (last == std::u16string::npos) {
        text.clear();
        return;
    }
    text.resize(last + 1);
    const std::size_t first = text.find_first_not_of(u' ');
    if (first > 0) text.erase(0, first);
}

}  // namespace

void UpperCaseAt(std::u16string& text, std::size_t k) {
    SplitText t{text.data(), text.size(), nullptr, 0};
    UpperCaseAtSplit(t, k);
}

void AutoCorrect(std::u16string& text, const AutoCorrectionOptions& o) {
    const bool stretchRules = o.addSpacesAfterPunctuation || o.removeExtraSpaces || o.removeSpacesBeforePunctuation ||
                              o.removeExtraPunctuation || o.capitalizeSentences;
    if (!stretchRules && !o.capitalizeLine && !o.trimLine) return;
    if (stretchRules && !text.empty()) {
        if (o.skipHtmlTags)
            CorrectBetweenTags(text, o);
        else
            CorrectWholeText(text, o);
        scratch.Trim();
    }
    if (o.capitalizeLine) CapitalizeLine(text);
    if (o.trimLine) TrimSpaces(text);
}
