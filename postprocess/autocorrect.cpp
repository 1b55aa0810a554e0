#include "postprocess/autocorrect.h"

#include "capitalization.h"

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

inline bool IsSentenceEnd(char16_t c) { return c == u'.' || c == u'!' || c == u'?'; }
inline bool IsSentenceGap(char16_t c) {
    return IsSentenceEnd(c) || c == u' ' || c == u'\r' || c == u'\n' || c == u'\t';
}
inline bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }
inline bool IsTagGap(char16_t c) { return c == u' ' || c == u'>' || c == u'\t' || c == u'\r' || c == u'\n'; }

// Bit c set for the marks; all six are below 64.
constexpr uint64_t kMarkBits = (uint64_t{1} << '.') | (uint64_t{1} << ',') | (uint64_t{1} << '!') |
                               (uint64_t{1} << '?') | (uint64_t{1} << ':') | (uint64_t{1} << ';');
inline bool IsMark(char16_t c) { return (c < 64) & static_cast<bool>((kMarkBits >> (c & 63)) & 1); }

// Length of the transparent tag ("<p>", "</p>", "<br>", "</br>") that begins
// at k, or 0.
std::size_t TransparentTagLength(const std::u16string& t, std::size_t k) {
    const std::size_t n = t.size();
    auto is = [&](std::size_t at, char16_t c) { return at < n && t[at] == c; };
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
void UpperCaseCharacter(std::u16string& t, std::size_t k) {
    const char16_t c = t[k];
    if (c < 0x80) {
        if (c >= u'a' && c <= u'z') t[k] = static_cast<char16_t>(c - (u'a' - u'A'));
        return;
    }
    if (U16_IS_LEAD(c)) {
        if (k + 1 >= t.size() || !U16_IS_TRAIL(t[k + 1])) return;
        const UChar32 cp = U16_GET_SUPPLEMENTARY(c, t[k + 1]);
        const UChar32 up = u_toupper(cp);
        if (up == cp || up <= 0xFFFF) return;
        t[k] = U16_LEAD(up);
        t[k + 1] = U16_TRAIL(up);
        return;
    }
    if (U16_IS_TRAIL(c)) return;
    const UChar32 up = u_toupper(c);
    if (up <= 0xFFFF) t[k] = static_cast<char16_t>(up);
}

// A tag in tag mode: "<" at start, its ">" at close. The characters from
// start up to close are left alone; the ">" opens the next stretch.
struct TagSpan {
    std::size_t start;
    std::size_t close;
};

// The stretch rules run over the whole text, one pass per rule, each copying
// the tags' insides unchanged and treating the text between them as the
// stretches. That gives the same result as correcting stretch after
// stretch: a stretch's neighbour on the right is a tag's "<" (or nothing),
// which no rule treats as a space, mark or full stop, and a later stretch
// starts with the tag's ">", which no rule treats as anything either.
//
// Within a stretch each rule is a single scan that writes every character and
// then decides, without a branch, whether the write position moves on (or
// back): on prose the outcome of the tests is close to random, and
// mispredictions would dominate.

// A mark gets a space after it unless a space or another mark follows.
void AddSpacesAfterPunctuation(const char16_t* in, std::size_t n, char16_t*& w) {
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = in[i];
        const char16_t next = i + 1 < n ? in[i + 1] : char16_t(0);
        *w++ = c;
        *w = u' ';
        w += IsMark(c) & (next != u' ') & !IsMark(next);
    }
}

// Every run of spaces is cut to its first space, except that a stretch's
// first position never starts a run: a run at the text's start keeps two
// spaces. (A later stretch starts with a ">", so its second character is
// never dropped either.)
void RemoveExtraSpaces(const char16_t* in, std::size_t n, char16_t*& w) {
    const std::size_t verbatim = std::min<std::size_t>(n, 2);
    for (std::size_t i = 0; i < verbatim; ++i) *w++ = in[i];
    for (std::size_t i = verbatim; i < n; ++i) {
        const char16_t c = in[i];
        *w = c;
        w += !((c == u' ') & (in[i - 1] == u' '));
    }
}

// A whole run of spaces goes when a mark follows it inside the stretch: the
// mark is written over the run's first space.
void RemoveSpacesBeforePunctuation(const char16_t* in, std::size_t n, char16_t*& w) {
    char16_t* runStart = w;
    bool previousSpace = false;
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = in[i];
        const bool space = c == u' ';
        runStart = (space & !previousSpace) ? w : runStart;
        w = (previousSpace & IsMark(c)) ? runStart : w;
        *w++ = c;
        previousSpace = space;
    }
}

// Exactly two full stops become one; longer runs stay. A run's length is known
// at the character after it, which then overwrites the run's second stop.
void RemoveExtraPunctuation(const char16_t* in, std::size_t n, char16_t*& w) {
    std::size_t run = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = in[i];
        const bool stop = c == u'.';
        w -= (!stop) & (run == 2);
        *w++ = c;
        run = stop ? run + 1 : 0;
    }
    w -= run == 2;
}

using StretchPass = void (*)(const char16_t*, std::size_t, char16_t*&);

// One rule over every stretch of in, into out; tags are copied and their new
// places recorded in outTags. growth: how many characters a stretch may gain
// per character (1 for the space-adding rule, 0 for the others).
void RunPass(StretchPass pass, std::size_t growth, const std::u16string& in, const std::vector<TagSpan>& tags,
             std::u16string& out, std::vector<TagSpan>& outTags) {
    out.resize(in.size() * (1 + growth) + 1);
    char16_t* const base = out.data();
    char16_t* w = base;
    const char16_t* src = in.data();
    outTags.clear();
    std::size_t pos = 0;
    for (const TagSpan& tag : tags) {
        pass(src + pos, tag.start - pos, w);
        const std::size_t start = static_cast<std::size_t>(w - base);
        const std::size_t inside = tag.close - tag.start;
        std::copy(src + tag.start, src + tag.close, w);
        w += inside;
        outTags.push_back({start, start + inside});
        pos = tag.close;
    }
    pass(src + pos, in.size() - pos, w);
    out.resize(static_cast<std::size_t>(w - base));
}

// In place: after a sentence end that is not the last character of its
// stretch, the first character past the sentence gap is capitalised, possibly
// beyond the stretch (past the transparent tags that close it).
void CapitalizeSentences(std::u16string& text, const std::vector<TagSpan>& tags) {
    std::size_t s = 0;
    for (std::size_t k = 0; k <= tags.size(); ++k) {
        const std::size_t e = k < tags.size() ? tags[k].start : text.size();
        std::size_t p = s;
        while (p < e) {
            if (IsSentenceEnd(text[p]) && p + 1 < e) {
                std::size_t q = p;
                while (q < e && IsSentenceGap(text[q])) ++q;
                UpperCaseAt(text, q);
                p = q;
            } else {
                ++p;
            }
        }
        if (k < tags.size()) s = tags[k].close;
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
    std::u16string buffer;
    std::vector<TagSpan> tags, movedTags;
    CTagFinder finder;

    // Keeps one huge text from pinning its memory for the thread's lifetime.
    void Trim() {
        constexpr std::size_t kKeep = 1 << 20;
        if (buffer.capacity() > kKeep) std::u16string().swap(buffer);
        if (tags.capacity() > kKeep / 4) std::vector<TagSpan>().swap(tags);
        if (movedTags.capacity() > kKeep / 4) std::vector<TagSpan>().swap(movedTags);
        finder.Trim(kKeep);
    }
};

thread_local Scratch scratch;

void FindTags(const std::u16string& text, Scratch& s) {
    s.tags.clear();
    if (text.find(u'<') == std::u16string::npos) return;
    s.finder.Start(text);
    std::size_t start = 0, close = 0, search = 0;
    while (s.finder.Next(search, start, close)) {
        s.tags.push_back({start, close});
        search = close + 1;
    }
}

void CorrectStretches(std::u16string& text, const AutoCorrectionOptions& o) {
    Scratch& s = scratch;
    if (o.skipHtmlTags)
        FindTags(text, s);
    else
        s.tags.clear();
    auto run = [&](StretchPass pass, std::size_t growth) {
        RunPass(pass, growth, text, s.tags, s.buffer, s.movedTags);
        text.swap(s.buffer);
        s.tags.swap(s.movedTags);
    };
    if (o.addSpacesAfterPunctuation) run(AddSpacesAfterPunctuation, 1);
    if (o.removeExtraSpaces) run(RemoveExtraSpaces, 0);
    if (o.removeSpacesBeforePunctuation) run(RemoveSpacesBeforePunctuation, 0);
    if (o.removeExtraPunctuation) run(RemoveExtraPunctuation, 0);
    if (o.capitalizeSentences) CapitalizeSentences(text, s.tags);
    s.Trim();
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
    const std::size_t n = text.size();
    while (k < n && text[k] == u'<') {
        const std::size_t tag = TransparentTagLength(text, k);
        if (tag == 0) break;
        k += tag - 1;  // the tag's ">", itself part of the gap
        while (k < n && IsTagGap(text[k])) ++k;
        if (k >= n) return;
    }
    if (k < n) UpperCaseCharacter(text, k);
}

void AutoCorrect(std::u16string& text, const AutoCorrectionOptions& o) {
    const bool stretchRules = o.addSpacesAfterPunctuation || o.removeExtraSpaces || o.removeSpacesBeforePunctuation ||
                              o.removeExtraPunctuation || o.capitalizeSentences;
    if (!stretchRules && !o.capitalizeLine && !o.trimLine) return;
    if (stretchRules && !text.empty()) CorrectStretches(text, o);
    if (o.capitalizeLine) CapitalizeLine(text);
    if (o.trimLine) TrimSpaces(text);
}
