#include "postprocess/autocorrect.h"

#include "capitalization.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The stretch rules run over the whole text in one pass that copies the tags'
// insides unchanged and treats the text between them as the stretches. That
// gives the same result as correcting stretch after stretch: a stretch's
// neighbour on the right is a tag's "<" (or nothing), which no rule treats as
// a space, mark or full stop, and a later stretch starts with the tag's ">",
// which no rule treats as anything either.
//
// The four rules that add or remove characters form a chain of stages, in the
// order the rules apply: each stage takes the previous stage's output one
// character at a time and holds back only what it cannot decide yet (whether
// a mark gets a space, a run of spaces, a run of full stops), which is the
// same as running each rule over the whole stretch before the next. After a
// character that is neither a space nor a mark every stage is idle, and then
// no rule changes anything up to the next mark or pair of spaces (or the
// space before one): such runs, most of any prose, are copied whole.
class CStretchEditor {
public:
    CStretchEditor(const AutoCorrectionOptions& o, std::vector<uint32_t>& sentenceEnds)
        : addSpaces_(o.addSpacesAfterPunctuation),
          removeExtraSpaces_(o.removeExtraSpaces),
          removeSpacesBefore_(o.removeSpacesBeforePunctuation),
          removeExtraStops_(o.removeExtraPunctuation),
          recordEnds_(o.capitalizeSentences),
          sentenceEnds_(sentenceEnds) {}

    // Corrects in[0, n) into w, which advances; base is the output's start,
    // for the positions of the sentence ends.
    void Stretch(const char16_t* in, std::size_t n, const char16_t* text, std::size_t textSize, char16_t* base,
                 char16_t*& w) {
        base_ = base;
        w_ = w;
        pendingMark_ = false;
        seen_ = 0;
        previous_ = 0;
        spaces_ = 0;
        stops_ = 0;
        std::size_t i = 0;
        while (i < n) {
            if (Idle()) {
                std::size_t j = NextEditPosition(in, i, n, text + textSize);
                if (j > i && in[j - 1] == u' ') --j;  // a lone space before a mark: R3 may drop it
                if (j > i) {
                    std::copy(in + i, in + j, w_);
                    w_ += j - i;
                    seen_ += j - i;
                    previous_ = in[j - 1];
                    i = j;
                    if (i == n) break;
                }
                // The commonest edit position, a mark followed by one space
                // and a word, is one no rule changes: it goes out as it is.
                if (i + 2 < n && in[i + 1] == u' ' && in[i + 2] != u' ' && IsMark(in[i]) && !IsMark(in[i + 2])) {
                    Put(in[i]);
                    w_[0] = u' ';
                    w_[1] = in[i + 2];
                    w_ += 2;
                    seen_ += 3;
                    previous_ = in[i + 2];
                    i += 3;
                    continue;
                }
                // A mark followed by a word gets the space between them when
                // that rule is on, and nothing else changes.
                if (i + 1 < n && in[i + 1] != u' ' && IsMark(in[i]) && !IsMark(in[i + 1])) {
                    Put(in[i]);
                    if (addSpaces_) *w_++ = u' ';
                    *w_++ = in[i + 1];
                    seen_ += addSpaces_ ? 3 : 2;
                    previous_ = in[i + 1];
                    i += 2;
                    continue;
                }
            }
            AddSpaceStage(in[i++]);
        }
        if (pendingMark_) SpaceStage(u' ');
        for (; spaces_ > 0; --spaces_) StopStage(u' ');
        FlushStops();
        w = w_;
    }

private:
    bool Idle() const {
        return !pendingMark_ && (!removeExtraSpaces_ || (seen_ >= 2 && previous_ != u' ')) && spaces_ == 0 &&
               stops_ == 0;
    }

    // The first position at or after i of a mark or of a space followed by a
    // space inside the stretch [.., n); n when there is none. end: the end of
    // the whole text, the limit of what may be read.
    static std::size_t NextEditPosition(const char16_t* in, std::size_t i, std::size_t n, const char16_t* end) {
#if defined(__SSE2__)
        // Sixteen units at a time as bytes: a unit above 255 saturates to 0 or
        // 255, neither a space nor a mark. The marks all lie in "!" .. "?", so
        // a unit in that range is a candidate, checked one by one (digits and
        // dashes are the few others in prose).
        const __m128i space = _mm_set1_epi8(' ');
        const __m128i first = _mm_set1_epi8('!');
        const __m128i span = _mm_set1_epi8('?' - '!');
        const __m128i zero = _mm_setzero_si128();
        // The pair test at the block's last unit reads one unit past it: past
        // the stretch that is a "<" (never a space), and never past the text.
        for (; i + 16 <= n && in + i + 17 <= end; i += 16) {
            const auto* at = reinterpret_cast<const __m128i*>(in + i);
            const auto* after = reinterpret_cast<const __m128i*>(in + i + 1);
            const __m128i v = _mm_packus_epi16(_mm_loadu_si128(at), _mm_loadu_si128(at + 1));
            const __m128i next = _mm_packus_epi16(_mm_loadu_si128(after), _mm_loadu_si128(after + 1));
            const __m128i pair = _mm_and_si128(_mm_cmpeq_epi8(v, space), _mm_cmpeq_epi8(next, space));
            const __m128i candidate = _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(v, first), span), zero);
            for (auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(pair, candidate))); bits != 0;
                 bits &= bits - 1) {
                const std::size_t p = i + static_cast<std::size_t>(std::countr_zero(bits));
                if (in[p] == u' ' || IsMark(in[p])) return p;
            }
        }
#else
        (void)end;
#endif
        for (; i < n; ++i) {
            const char16_t c = in[i];
            if (IsMark(c) || (c == u' ' && i + 1 < n && in[i + 1] == u' ')) return i;
        }
        return n;
    }

    // A mark gets a space after it unless a space or another mark follows.
    void AddSpaceStage(char16_t c) {
        if (addSpaces_) {
            if (pendingMark_ && c != u' ' && !IsMark(c)) SpaceStage(u' ');
            pendingMark_ = IsMark(c);
        }
        SpaceStage(c);
    }

    // Every run of spaces is cut to its first space, except that a stretch's
    // first position never starts a run: a run at the text's start keeps two
    // spaces. (A later stretch starts with a ">", so its second character is
    // never dropped either.)
    void SpaceStage(char16_t c) {
        if (removeExtraSpaces_) {
            const bool drop = seen_ >= 2 && c == u' ' && previous_ == u' ';
            previous_ = c;
            ++seen_;
            if (drop) return;
        }
        MarkStage(c);
    }

    // A whole run of spaces goes when a mark follows it inside the stretch.
    void MarkStage(char16_t c) {
        if (removeSpacesBefore_) {
            if (c == u' ') {
                ++spaces_;
                return;
            }
            if (!IsMark(c))
                for (; spaces_ > 0; --spaces_) StopStage(u' ');
            spaces_ = 0;
        }
        StopStage(c);
    }

    // Exactly two full stops become one; longer runs stay.
    void StopStage(char16_t c) {
        if (removeExtraStops_) {
            if (c == u'.') {
                ++stops_;
                return;
            }
            FlushStops();
        }
        Put(c);
    }

    void FlushStops() {
        const std::size_t kept = stops_ == 2 ? 1 : stops_;
        for (std::size_t k = 0; k < kept; ++k) Put(u'.');
        stops_ = 0;
    }

    void Put(char16_t c) {
        if (recordEnds_ && IsSentenceEnd(c)) sentenceEnds_.push_back(static_cast<uint32_t>(w_ - base_));
        *w_++ = c;
    }

    const bool addSpaces_, removeExtraSpaces_, removeSpacesBefore_, removeExtraStops_, recordEnds_;
    std::vector<uint32_t>& sentenceEnds_;
    char16_t* base_ = nullptr;
    char16_t* w_ = nullptr;
    bool pendingMark_ = false;   // the last character was a mark, its space undecided
    std::size_t seen_ = 0;       // characters the space stage has taken in this stretch
    char16_t previous_ = 0;      // the last of them
    std::size_t spaces_ = 0;     // spaces held back until the next character shows a mark or not
    std::size_t stops_ = 0;      // full stops held back until the run ends
};

// In place: after a sentence end that is not the last character of its
// stretch, the first character past the sentence gap is capitalised, possibly
// beyond the stretch (past the transparent tags that close it). Only the
// sentence ends the editor recorded (ascending) are visited; every other
// position would only be stepped over.
// Tags and sentence ends count from begin, where the corrected text starts.
void CapitalizeSentences(std::u16string& text, std::size_t begin, const std::vector<TagSpan>& tags,
                         const std::vector<uint32_t>& sentenceEnds) {
    std::size_t next = 0;
    std::size_t s = begin;
    for (std::size_t k = 0; k <= tags.size(); ++k) {
        const std::size_t e = k < tags.size() ? begin + tags[k].start : text.size();
        std::size_t p = s;
        for (; next < sentenceEnds.size() && begin + sentenceEnds[next] < e; ++next) {
            const std::size_t at = begin + sentenceEnds[next];
            if (at < p) continue;
            if (at + 1 < e) {
                std::size_t q = at;
                while (q < e && IsSentenceGap(text[q])) ++q;
                UpperCaseAt(text, q);
                p = q;
            } else {
                p = at + 1;
            }
        }
        if (k < tags.size()) s = begin + tags[k].close;
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
    // The brackets before from need no entries when no "<" lies before it:
    // a scan never goes backwards, and of the brackets it meets it needs the
    // partners of "{" and "[" only, which lie after them.
    void Build(const std::u16string& text, std::size_t from) {
        positions_.clear();
        result_.clear();
        braces_.clear();
        squares_.clear();
        const char16_t* t = text.data();
        const std::size_t n = text.size();
        for (std::size_t i = NextBracket(t, from, n); i < n; i = NextBracket(t, i + 1, n)) {
            const char16_t c = t[i];
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

    // from: the first "<" of the text, or any position before it.
    void Start(const std::u16string& text, std::size_t from) {
        text_ = text.data();
        cursor_ = 0;
        Build(text, from);
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

    // The first bracket at or after i, or n. Brackets are rare in prose, so
    // the units are tested eight at a time.
    static std::size_t NextBracket(const char16_t* t, std::size_t i, std::size_t n) {
#if defined(__SSE2__)
        // Sixteen units at a time as bytes (a unit above 255 saturates to 0
        // or 255, no bracket). "<" and ">" differ only in bit 1, "[" and "{"
        // (and "]" and "}") only in bit 5: with that bit cleared each pair is
        // one value.
        const __m128i angleBit = _mm_set1_epi8(static_cast<char>(~2));
        const __m128i caseBit = _mm_set1_epi8(static_cast<char>(~0x20));
        const __m128i angle = _mm_set1_epi8('<');
        const __m128i opening = _mm_set1_epi8('[');
        const __m128i closing = _mm_set1_epi8(']');
        for (; i + 16 <= n; i += 16) {
            const auto* at = reinterpret_cast<const __m128i*>(t + i);
            const __m128i v = _mm_packus_epi16(_mm_loadu_si128(at), _mm_loadu_si128(at + 1));
            const __m128i folded = _mm_and_si128(v, caseBit);
            const __m128i hit =
                _mm_or_si128(_mm_cmpeq_epi8(_mm_and_si128(v, angleBit), angle),
                             _mm_or_si128(_mm_cmpeq_epi8(folded, opening), _mm_cmpeq_epi8(folded, closing)));
            const auto bits = static_cast<unsigned>(_mm_movemask_epi8(hit));
            if (bits != 0) return i + static_cast<std::size_t>(std::countr_zero(bits));
        }
#endif
        for (; i < n; ++i)
            if (IsBracket(t[i])) return i;
        return n;
    }

    std::vector<uint32_t> positions_;
    std::vector<int32_t> result_;  // list entry of the ">" the scan from entry k finds, or -1
    std::vector<int32_t> braces_, squares_;
    const char16_t* text_ = nullptr;
    int32_t cursor_ = 0;
};

struct Scratch {
    std::unique_ptr<char16_t[]> buffer;
    std::size_t capacity = 0;
    std::vector<TagSpan> tags, movedTags;
    std::vector<uint32_t> sentenceEnds;
    CTagFinder finder;

    char16_t* Buffer(std::size_t units) {
        if (capacity < units) {
            capacity = std::max(units, capacity + capacity / 2);
            buffer.reset(new char16_t[capacity]);
        }
        return buffer.get();
    }

    // Keeps one huge text from pinning its memory for the thread's lifetime.
    void Trim() {
        constexpr std::size_t kKeep = 1 << 20;
        if (capacity > 2 * kKeep) {
            buffer.reset();
            capacity = 0;
        }
        if (tags.capacity() > kKeep / 4) std::vector<TagSpan>().swap(tags);
        if (movedTags.capacity() > kKeep / 4) std::vector<TagSpan>().swap(movedTags);
        if (sentenceEnds.capacity() > kKeep / 4) std::vector<uint32_t>().swap(sentenceEnds);
        finder.Trim(kKeep);
    }
};

thread_local Scratch scratch;

// The first position of unit in text at or after i, or its size.
std::size_t FirstUnit(const std::u16string& text, std::size_t i, char16_t unit) {
    const char16_t* t = text.data();
    const std::size_t n = text.size();
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(unit));
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
        const auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, wanted)));
        if (bits != 0) return i + static_cast<std::size_t>(std::countr_zero(bits)) / 2;
    }
#endif
    for (; i < n; ++i)
        if (t[i] == unit) return i;
    return n;
}

void FindTags(const std::u16string& text, std::size_t begin, Scratch& s) {
    s.tags.clear();
    const std::size_t firstAngle = FirstUnit(text, begin, u'<');
    if (firstAngle == text.size()) return;
    s.finder.Start(text, firstAngle);
    std::size_t start = 0, close = 0, search = begin;
    while (s.finder.Next(search, start, close)) {
        s.tags.push_back({start, close});
        search = close + 1;
    }
}

void CorrectStretches(std::u16string& text, std::size_t begin, const AutoCorrectionOptions& o) {
    Scratch& s = scratch;
    if (o.skipHtmlTags)
        FindTags(text, begin, s);
    else
        s.tags.clear();
    s.sentenceEnds.clear();
    s.movedTags.clear();
    // Only the space rule adds characters, at most one per character.
    char16_t* const base = s.Buffer((text.size() - begin) * 2 + 1);
    char16_t* w = base;
    const char16_t* src = text.data();
    CStretchEditor editor(o, s.sentenceEnds);
    std::size_t pos = begin;
    for (const TagSpan& tag : s.tags) {
        editor.Stretch(src + pos, tag.start - pos, src, text.size(), base, w);
        const std::size_t start = static_cast<std::size_t>(w - base);
        const std::size_t inside = tag.close - tag.start;
        std::copy(src + tag.start, src + tag.close, w);
        w += inside;
        s.movedTags.push_back({start, start + inside});
        pos = tag.close;
    }
    editor.Stretch(src + pos, text.size() - pos, src, text.size(), base, w);
    text.resize(begin);
    text.append(base, static_cast<std::size_t>(w - base));
    if (o.capitalizeSentences) CapitalizeSentences(text, begin, s.movedTags, s.sentenceEnds);
    s.Trim();
}

void CapitalizeLine(std::u16string& text, std::size_t begin) {
    std::size_t k = begin;
    while (k < text.size() && IsBlank(text[k])) ++k;
    if (k < text.size()) UpperCaseAt(text, k);
}

void TrimSpaces(std::u16string& text, std::size_t begin) {
    const std::size_t last = text.find_last_not_of(u' ');
    if (last == std::u16string::npos || last < begin) {
        text.resize(begin);
        return;
    }
    text.resize(last + 1);
    const std::size_t first = text.find_first_not_of(u' ', begin);
    if (first > begin) text.erase(begin, first - begin);
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

void AutoCorrect(std::u16string& text, const AutoCorrectionOptions& o) { AutoCorrectTail(text, 0, o); }

void AutoCorrectTail(std::u16string& text, std::size_t begin, const AutoCorrectionOptions& o) {
    const bool stretchRules = o.addSpacesAfterPunctuation || o.removeExtraSpaces || o.removeSpacesBeforePunctuation ||
                              o.removeExtraPunctuation || o.capitalizeSentences;
    if (!stretchRules && !o.capitalizeLine && !o.trimLine) return;
    if (begin >= text.size()) return;
    if (stretchRules) CorrectStretches(text, begin, o);
    if (o.capitalizeLine) CapitalizeLine(text, begin);
    if (o.trimLine) TrimSpaces(text, begin);
}
