#include "postprocess/autocorrect.h"

#include "capitalization.h"
#include "unit_classes.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <type_traits>
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

// The same rules run on UTF-16 and on UTF-8 text. Every character a rule
// reacts to is ASCII, and no unit of a longer character in either form is an
// ASCII value, so both forms give the same result once encoded; only the
// upper-case step reads whole characters. UTF-8 bytes are taken as unsigned.
inline uint32_t Unit(char16_t c) { return c; }
inline uint32_t Unit(char c) { return static_cast<unsigned char>(c); }

inline bool IsSentenceEnd(uint32_t c) { return c == '.' || c == '!' || c == '?'; }
inline bool IsSentenceGap(uint32_t c) { return IsSentenceEnd(c) || c == ' ' || c == '\r' || c == '\n' || c == '\t'; }
inline bool IsBlank(uint32_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
inline bool IsTagGap(uint32_t c) { return c == ' ' || c == '>' || c == '\t' || c == '\r' || c == '\n'; }

// Bit c set for the marks; all six are below 64.
constexpr uint64_t kMarkBits = (uint64_t{1} << '.') | (uint64_t{1} << ',') | (uint64_t{1} << '!') |
                               (uint64_t{1} << '?') | (uint64_t{1} << ':') | (uint64_t{1} << ';');
inline bool IsMark(uint32_t c) { return (c < 64) & static_cast<bool>((kMarkBits >> (c & 63)) & 1); }

// Length of the transparent tag ("<p>", "</p>", "<br>", "</br>") that begins
// at k, or 0.
template <typename String>
std::size_t TransparentTagLength(const String& t, std::size_t k) {
    const std::size_t n = t.size();
    auto is = [&](std::size_t at, char c) { return at < n && Unit(t[at]) == static_cast<uint32_t>(c); };
    if (!is(k, '<')) return 0;
    std::size_t i = k + 1;
    if (is(i, '/')) ++i;
    if (is(i, 'p') && is(i + 1, '>')) return i + 2 - k;
    if (is(i, 'b') && is(i + 1, 'r') && is(i + 2, '>')) return i + 3 - k;
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

// An upper-case form in UTF-8 that takes more or fewer bytes than the
// letter it replaces ("ı" two, "I" one). Such replacements wait until the
// capitalisation pass is done and are then made in one pass, so that the
// positions that pass works with stay valid and a text full of them costs no
// more than one copy.
struct Resize {
    std::size_t at;
    uint8_t oldLength;
    uint8_t newLength;
    char bytes[4];
};

thread_local std::vector<Resize> pendingResizes;

// The same mapping on UTF-8. A malformed sequence stays as it is.
void UpperCaseCharacter(std::string& t, std::size_t k) {
    const uint32_t c = Unit(t[k]);
    if (c < 0x80) {
        if (c >= 'a' && c <= 'z') t[k] = static_cast<char>(c - ('a' - 'A'));
        return;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(t.data() + k);
    const auto length = static_cast<int32_t>(std::min<std::size_t>(t.size() - k, 4));
    int32_t end = 0;
    UChar32 cp;
    U8_NEXT(bytes, end, length, cp);
    if (cp < 0) return;
    const UChar32 up = u_toupper(cp);
    // The UTF-16 form maps only within the same number of units.
    if (up == cp || (cp > 0xFFFF) != (up > 0xFFFF)) return;
    Resize r{k, static_cast<uint8_t>(end), 0, {}};
    int32_t upperLength = 0;
    U8_APPEND_UNSAFE(r.bytes, upperLength, up);
    r.newLength = static_cast<uint8_t>(upperLength);
    if (r.newLength == r.oldLength)
        std::memcpy(t.data() + k, r.bytes, r.newLength);
    else
        pendingResizes.push_back(r);
}

void ApplyResizes(std::u16string&) {}

void ApplyResizes(std::string& text) {
    if (pendingResizes.empty()) return;
    std::string resized;
    std::size_t size = text.size();
    for (const Resize& r : pendingResizes) size = size + r.newLength - r.oldLength;
    resized.reserve(size);
    std::size_t from = 0;
    for (const Resize& r : pendingResizes) {
        resized.append(text, from, r.at - from);
        resized.append(r.bytes, r.newLength);
        from = r.at + r.oldLength;
    }
    resized.append(text, from, std::string::npos);
    text.swap(resized);
    pendingResizes.clear();
}

// UpperCaseAt on either form (UTF-8 length changes wait for ApplyResizes);
// sets k to the position of the character it treated.
template <typename String>
void UpperCaseReached(String& text, std::size_t& k) {
    const std::size_t n = text.size();
    while (k < n && Unit(text[k]) == '<') {
        const std::size_t tag = TransparentTagLength(text, k);
        if (tag == 0) break;
        k += tag - 1;  // the tag's ">", itself part of the gap
        while (k < n && IsTagGap(Unit(text[k]))) ++k;
        if (k >= n) return;
    }
    if (k < n) UpperCaseCharacter(text, k);
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
// same as running each rule over the whole stretch before the next. When
// every stage is idle, no rule changes anything up to the next mark or pair
// of spaces (or the space before a mark): such runs, most of any prose, are
// copied whole, found with masks of 64 units; the commonest edits (one space
// before a mark, a mark before a word, two full stops) are made there too,
// and the stages see only what is left.
template <typename Char>
class CStretchEditor {
public:
    // Runs are copied a whole chunk at a time: the output needs room for
    // that many units beyond its end.
    static constexpr std::size_t kChunk = kClassChunk;
    static constexpr std::size_t kSlack = kChunk;

    // Corrects text[0, size) stretch by stretch (and copies the tags) into
    // out, which needs room for twice the text plus kSlack + 1 units.
    CStretchEditor(const AutoCorrectionOptions& o, std::vector<uint32_t>& sentenceEnds, const Char* text,
                   std::size_t size, const UnitClasses* classes, Char* out)
        : addSpaces_(o.addSpacesAfterPunctuation),
          removeExtraSpaces_(o.removeExtraSpaces),
          removeSpacesBefore_(o.removeSpacesBeforePunctuation),
          removeExtraStops_(o.removeExtraPunctuation),
          recordEnds_(o.capitalizeSentences),
          sentenceEnds_(sentenceEnds),
          text_(text),
          size_(size),
          classes_(classes),
          base_(out),
          w_(out) {}

    Char* Written() const { return w_; }

    // Corrects text[from, to), the stretch that ends there (at a tag's "<" or
    // the text's end).
    void Stretch(std::size_t from, std::size_t to) {
        pendingMark_ = false;
        seen_ = 0;
        previous_ = 0;
        spaces_ = 0;
        stops_ = 0;
        std::size_t i = from;
        while (i < to) {
            if (Idle()) {
                const std::size_t next = CopyIdle(i, to);
                if (next == to) break;
                if (next > i) {
                    // What the stages would hold after taking text[i, next)
                    // themselves: every one of them idle, the last character
                    // taken the one before next (an added space is always
                    // followed by the character that caused it), and past
                    // the stretch's first two (a space that starts a stretch
                    // is always an edit, so the fast path never passes it).
                    previous_ = Unit(text_[next - 1]);
                    seen_ = std::max<std::size_t>(seen_, 2);
                }
                i = next;
            }
            AddSpaceStage(text_[i++]);
        }
        if (pendingMark_) SpaceStage(' ');
        for (; spaces_ > 0; --spaces_) StopStage(' ');
        FlushStops();
    }

    // Copies text[from, to), a tag's inside, unchanged.
    void Verbatim(std::size_t from, std::size_t to) {
        for (std::size_t next; from < to; from = next) {
            next = std::min(to, from + kChunk);
            CopyRun(from, next, w_);
        }
    }

private:
    // A run of spaces at a stretch's start is the one edit that depends on
    // the position (the stages' count of characters); it is always an edit
    // for the fast path, so the count is not part of being idle.
    bool Idle() const {
        return !pendingMark_ && (!removeExtraSpaces_ || previous_ != ' ') && spaces_ == 0 && stops_ == 0;
    }

    // Copies text[i, j), at most one chunk, to w and advances w.
    void CopyRun(std::size_t i, std::size_t j, Char*& w) const {
        if (i + kChunk <= size_)
            std::memcpy(w, text_ + i, kChunk * sizeof(Char));
        else
            std::copy(text_ + i, text_ + j, w);
        w += j - i;
    }

    void Record(const Char* mark) { sentenceEnds_.push_back(static_cast<uint32_t>(mark - base_)); }

    // The sentence end at mark is followed by its gap and then c, which the
    // capitalisation rule upper-cases: a lower-case ASCII letter is done at
    // once (at); anything that could be a gap, a tag or a longer character
    // is left to CapitalizeSentences.
    void CapitalizeAfter(const Char* mark, Char* at, uint32_t c) {
        if (c - 'a' < 26u)
            *at = static_cast<Char>(c - ('a' - 'A'));
        else if (c >= 0x80 || c == '<' || c == '\r' || c == '\n' || c == '\t')
            Record(mark);
    }

    // Whether a run of full stops ends before k once the spaces before marks
    // are gone: text[k] is no full stop, nor (with that rule) one space and
    // a full stop; longer runs of spaces are not looked into.
    bool TwoStopsEnd(std::size_t k) const {
        if (k >= size_) return true;
        const uint32_t c = Unit(text_[k]);
        if (c == '.') return false;
        if (c != ' ' || !removeSpacesBefore_) return true;
        if (k + 1 >= size_) return true;
        const uint32_t after = Unit(text_[k + 1]);
        return after != '.' && after != ' ';
    }

    // While every stage is idle: copies what no rule changes, makes the
    // simple edits, and returns the position of the next character the
    // stages must see (or to). Positions are the text's; the chunk classes
    // are kept from call to call.
    std::size_t CopyIdle(std::size_t i, std::size_t to) {
        Char* w = w_;
        for (;;) {
            const UnitClasses now = classes_[i / kChunk];
            const UnitClasses ahead = classes_[i / kChunk + 1];
            const std::size_t c = i - i % kChunk;
            const uint64_t space = now.space, mark = now.mark;
            const uint64_t space1 = space >> 1 | ahead.space << 63, space2 = space >> 2 | ahead.space << 62;
            const uint64_t mark1 = mark >> 1 | ahead.mark << 63, mark2 = mark >> 2 | ahead.mark << 62;
            // A mark, one space and then neither: no rule changes it.
            const uint64_t spacedMark = mark & space1 & ~space2 & ~mark2;
            const std::size_t first = i - c;
            const std::size_t last = std::min(to - c, kChunk);
            uint64_t window = ~uint64_t{0} << first;
            if (last < kChunk) window &= (uint64_t{1} << last) - 1;
            const uint64_t edits = ((space & (space1 | mark1)) | (mark & ~spacedMark)) & window;
            const std::size_t stop = edits != 0 ? static_cast<std::size_t>(std::countr_zero(edits)) : last;
            Char* const runStart = w;
            CopyRun(i, c + stop, w);
            if (recordEnds_) {
                // The units two after these ends were copied with the run.
                uint64_t ends = now.end & spacedMark & window;
                if (stop < kChunk) ends &= (uint64_t{1} << stop) - 1;
                for (; ends != 0; ends &= ends - 1) {
                    const std::size_t at = c + static_cast<std::size_t>(std::countr_zero(ends));
                    Char* const out = runStart + (at - i);
                    if (at + 2 < c + stop)
                        CapitalizeAfter(out, out + 2, Unit(text_[at + 2]));
                    else
                        Record(out);
                }
            }
            if (edits == 0) {
                i = c + last;
                if (i >= to) break;
                continue;
            }
            const std::size_t p = c + stop;
            const uint64_t bit = uint64_t{1} << stop;
            if (space & bit) {
                if (space1 & bit) {  // a run of spaces
                    i = p;
                    break;
                }
                // One space before a mark (inside the stretch: its right
                // neighbour is a "<" or nothing): it goes, and the mark is
                // taken as if it had none.
                if (!removeSpacesBefore_) *w++ = ' ';
                i = p + 1;
                continue;
            }
            if (mark1 & bit) {
                // Exactly two full stops: the first goes, the second is
                // taken as a mark of its own.
                if (removeExtraStops_ && Unit(text_[p]) == '.' && Unit(text_[p + 1]) == '.' && TwoStopsEnd(p + 2)) {
                    i = p + 1;
                    continue;
                }
                i = p;
                break;
            }
            if ((space1 & bit) || p + 1 >= to) {
                i = p;
                break;
            }
            // A mark followed by a word inside the stretch: the space rule
            // puts a space between them, nothing else changes.
            const Char markUnit = text_[p];
            const uint32_t next = Unit(text_[p + 1]);
            Char* const out = w;
            *w++ = markUnit;
            if (addSpaces_) *w++ = ' ';
            *w = text_[p + 1];
            if (recordEnds_ && IsSentenceEnd(Unit(markUnit))) CapitalizeAfter(out, w, next);
            ++w;
            i = p + 2;
            if (i >= to) break;
        }
        w_ = w;
        return std::min(i, to);
    }

    // A mark gets a space after it unless a space or another mark follows.
    void AddSpaceStage(Char c) {
        if (addSpaces_) {
            if (pendingMark_ && Unit(c) != ' ' && !IsMark(Unit(c))) SpaceStage(' ');
            pendingMark_ = IsMark(Unit(c));
        }
        SpaceStage(c);
    }

    // Every run of spaces is cut to its first space, except that a stretch's
    // first position never starts a run: a run at the text's start keeps two
    // spaces. (A later stretch starts with a ">", so its second character is
    // never dropped either.)
    void SpaceStage(Char c) {
        if (removeExtraSpaces_) {
            const bool drop = seen_ >= 2 && Unit(c) == ' ' && previous_ == ' ';
            previous_ = Unit(c);
            ++seen_;
            if (drop) return;
        }
        MarkStage(c);
    }

    // A whole run of spaces goes when a mark follows it inside the stretch.
    void MarkStage(Char c) {
        if (removeSpacesBefore_) {
            if (Unit(c) == ' ') {
                ++spaces_;
                return;
            }
            if (!IsMark(Unit(c)))
                for (; spaces_ > 0; --spaces_) StopStage(' ');
            spaces_ = 0;
        }
        StopStage(c);
    }

    // Exactly two full stops become one; longer runs stay.
    void StopStage(Char c) {
        if (removeExtraStops_) {
            if (Unit(c) == '.') {
                ++stops_;
                return;
            }
            FlushStops();
        }
        Put(c);
    }

    void FlushStops() {
        const std::size_t kept = stops_ == 2 ? 1 : stops_;
        for (std::size_t k = 0; k < kept; ++k) Put('.');
        stops_ = 0;
    }

    void Put(Char c) {
        if (recordEnds_ && IsSentenceEnd(Unit(c))) Record(w_);
        *w_++ = c;
    }

    const bool addSpaces_, removeExtraSpaces_, removeSpacesBefore_, removeExtraStops_, recordEnds_;
    std::vector<uint32_t>& sentenceEnds_;
    const Char* const text_;
    const std::size_t size_;
    const UnitClasses* const classes_;
    Char* const base_;
    Char* w_;
    bool pendingMark_ = false;   // the last character was a mark, its space undecided
    std::size_t seen_ = 0;       // characters the space stage has taken in this stretch
    uint32_t previous_ = 0;      // the last of them
    std::size_t spaces_ = 0;     // spaces held back until the next character shows a mark or not
    std::size_t stops_ = 0;      // full stops held back until the run ends
};

// In place: after a sentence end that is not the last character of its
// stretch, the first character past the sentence gap is capitalised, possibly
// beyond the stretch (past the transparent tags that close it). Only the
// sentence ends the editor recorded (ascending) are visited; every other
// position would only be stepped over.
// Tags and sentence ends count from begin, where the corrected text starts.
template <typename String>
void CapitalizeSentences(String& text, std::size_t begin, const std::vector<TagSpan>& tags,
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
                while (q < e && IsSentenceGap(Unit(text[q]))) ++q;
                UpperCaseReached(text, q);
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
template <typename Char>
class CTagFinder {
public:
    // The brackets before from need no entries when no scan starts before
    // it: a scan never goes backwards, and of the brackets it meets it needs
    // the partners of "{" and "[" only, which lie after them.
    void Build(const Char* t, std::size_t n, std::size_t from) {
        positions_.clear();
        result_.clear();
        braces_.clear();
        squares_.clear();
        for (std::size_t i = NextBracket(t, from, n); i < n; i = NextBracket(t, i + 1, n)) {
            const uint32_t c = Unit(t[i]);
            const int32_t k = static_cast<int32_t>(positions_.size());
            positions_.push_back(static_cast<uint32_t>(i));
            result_.push_back(-1);  // for "{" and "[": the list entry of the partner
            if (c == '{') braces_.push_back(k);
            else if (c == '[') squares_.push_back(k);
            else if (c == '}' && !braces_.empty()) {
                result_[braces_.back()] = k;
                braces_.pop_back();
            } else if (c == ']' && !squares_.empty()) {
                result_[squares_.back()] = k;
                squares_.pop_back();
            }
        }
        const int32_t size = static_cast<int32_t>(positions_.size());
        auto after = [&](int32_t k) { return k + 1 < size ? result_[k + 1] : -1; };
        for (int32_t k = size - 1; k >= 0; --k) {
            const uint32_t c = Unit(t[positions_[k]]);
            int32_t r;
            if (c == '>') {
                r = k;
            } else if (c == '}') {
                r = -1;
            } else if (c == '{' || c == '[') {
                const int32_t m = result_[k];
                r = m < 0 ? -1 : after(m);
            } else if (c == '<') {
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
            if (Unit(text_[positions_[cursor_]]) != '<') continue;
            const int32_t m = cursor_ + 1 < size ? result_[cursor_ + 1] : -1;
            if (m < 0) continue;
            start = positions_[cursor_];
            close = positions_[m];
            return true;
        }
        return false;
    }

    // Answers Next for positions from from on only.
    void Start(const Char* text, std::size_t n, std::size_t from) {
        text_ = text;
        cursor_ = 0;
        Build(text, n, from);
    }

    void Trim(std::size_t keep) {
        for (std::vector<int32_t>* v : {&result_, &braces_, &squares_})
            if (v->capacity() > keep) std::vector<int32_t>().swap(*v);
        if (positions_.capacity() > keep) std::vector<uint32_t>().swap(positions_);
    }

private:
    static bool IsBracket(uint32_t c) { return c == '<' || c == '>' || c == '{' || c == '}' || c == '[' || c == ']'; }

    // The first bracket at or after i, or n. Brackets are rare in prose, so
    // the units are tested sixteen at a time.
    static std::size_t NextBracket(const Char* t, std::size_t i, std::size_t n) {
#if defined(__SSE2__)
        // "<" and ">" differ only in bit 1, "[" and "{" (and "]" and "}")
        // only in bit 5: with that bit cleared each pair is one value.
        const __m128i angleBit = _mm_set1_epi8(static_cast<char>(~2));
        const __m128i caseBit = _mm_set1_epi8(static_cast<char>(~0x20));
        const __m128i angle = _mm_set1_epi8('<');
        const __m128i opening = _mm_set1_epi8('[');
        const __m128i closing = _mm_set1_epi8(']');
        for (; i + 16 <= n; i += 16) {
            const __m128i v = Load16(t + i);
            const __m128i folded = _mm_and_si128(v, caseBit);
            const __m128i hit =
                _mm_or_si128(_mm_cmpeq_epi8(_mm_and_si128(v, angleBit), angle),
                             _mm_or_si128(_mm_cmpeq_epi8(folded, opening), _mm_cmpeq_epi8(folded, closing)));
            const auto bits = static_cast<unsigned>(_mm_movemask_epi8(hit));
            if (bits != 0) return i + static_cast<std::size_t>(std::countr_zero(bits));
        }
#endif
        for (; i < n; ++i)
            if (IsBracket(Unit(t[i]))) return i;
        return n;
    }

    std::vector<uint32_t> positions_;
    std::vector<int32_t> result_;  // list entry of the ">" the scan from entry k finds, or -1
    std::vector<int32_t> braces_, squares_;
    const Char* text_ = nullptr;
    int32_t cursor_ = 0;
};

// The stretch pass's output, reused from version to version.
template <typename Char>
struct CUnitBuffer {
    std::unique_ptr<Char[]> units;
    std::size_t capacity = 0;

    Char* Get(std::size_t count) {
        if (capacity < count) {
            capacity = std::max(count, capacity + capacity / 2);
            units.reset(new Char[capacity]);
        }
        return units.get();
    }
    void Trim(std::size_t keep) {
        if (capacity > keep) {
            units.reset();
            capacity = 0;
        }
    }
};

struct Scratch {
    CUnitBuffer<char16_t> wide;
    CUnitBuffer<char> utf8;
    std::vector<TagSpan> tags, movedTags;
    std::vector<uint32_t> sentenceEnds;
    std::vector<UnitClasses> classes;
    CTagFinder<char16_t> wideFinder;
    CTagFinder<char> utf8Finder;

    CUnitBuffer<char16_t>& Buffer(char16_t) { return wide; }
    CUnitBuffer<char>& Buffer(char) { return utf8; }
    CTagFinder<char16_t>& Finder(char16_t) { return wideFinder; }
    CTagFinder<char>& Finder(char) { return utf8Finder; }

    // Keeps one huge text from pinning its memory for the thread's lifetime.
    void Trim() {
        constexpr std::size_t kKeep = 1 << 20;
        wide.Trim(2 * kKeep);
        utf8.Trim(4 * kKeep);
        if (tags.capacity() > kKeep / 4) std::vector<TagSpan>().swap(tags);
        if (movedTags.capacity() > kKeep / 4) std::vector<TagSpan>().swap(movedTags);
        if (sentenceEnds.capacity() > kKeep / 4) std::vector<uint32_t>().swap(sentenceEnds);
        if (classes.capacity() > kKeep / 64) std::vector<UnitClasses>().swap(classes);
        wideFinder.Trim(kKeep);
        utf8Finder.Trim(kKeep);
    }
};

thread_local Scratch scratch;

// The first position of "<" at or after i in a text of n units, or n.
std::size_t FirstAngle(const UnitClasses* classes, std::size_t i, std::size_t n) {
    constexpr std::size_t kChunk = kClassChunk;
    uint64_t bits = classes[i / kChunk].angle & (~uint64_t{0} << (i % kChunk));
    for (std::size_t k = i / kChunk;;) {
        if (bits != 0) return k * kChunk + static_cast<std::size_t>(std::countr_zero(bits));
        if (++k * kChunk >= n) return n;
        bits = classes[k].angle;
    }
}

enum class TagLook { kTag, kNoTag, kUnknown };

// Most tags are short and hold no other bracket: then the first bracket after
// the "<" decides, a ">" closing the tag and a "}" (or the end of the text)
// meaning no tag. Anything else is left to the tag finder.
template <typename Char>
TagLook LookAtTag(const Char* t, std::size_t angle, std::size_t n, std::size_t& close) {
    constexpr std::size_t kReach = 64;
    const std::size_t limit = std::min(n, angle + 1 + kReach);
    for (std::size_t j = angle + 1; j < limit; ++j) {
        const uint32_t c = Unit(t[j]);
        if (c == '>') {
            close = j;
            return TagLook::kTag;
        }
        if (c == '}') return TagLook::kNoTag;
        if (c == '<' || c == '{' || c == '[') return TagLook::kUnknown;
    }
    return limit == n ? TagLook::kNoTag : TagLook::kUnknown;
}

template <typename Char>
void FindTags(const Char* t, std::size_t n, Scratch& s) {
    s.tags.clear();
    CTagFinder<Char>& finder = s.Finder(Char{});
    bool finderStarted = false;
    std::size_t search = 0;
    for (;;) {
        if (search >= n) return;
        const std::size_t angle = FirstAngle(s.classes.data(), search, n);
        if (angle == n) return;
        std::size_t start = angle, close = 0;
        const TagLook look = finderStarted ? TagLook::kUnknown : LookAtTag(t, angle, n, close);
        if (look == TagLook::kNoTag) {
            search = angle + 1;
            continue;
        }
        if (look == TagLook::kUnknown) {
            if (!finderStarted) finder.Start(t, n, angle);
            finderStarted = true;
            if (!finder.Next(angle, start, close)) return;
        }
        s.tags.push_back({start, close});
        search = close + 1;
    }
}

template <typename String>
void CorrectStretches(String& text, std::size_t begin, const AutoCorrectionOptions& o) {
    using Char = typename String::value_type;
    Scratch& s = scratch;
    const std::size_t size = text.size() - begin;
    const Char* const src = text.data() + begin;
    ClassifyText(src, size, s.classes);
    if (o.skipHtmlTags)
        FindTags(src, size, s);
    else
        s.tags.clear();
    s.sentenceEnds.clear();
    s.movedTags.clear();
    // Only the space rule adds characters, at most one per character.
    Char* const base = s.Buffer(Char{}).Get(size * 2 + 1 + CStretchEditor<Char>::kSlack);
    CStretchEditor<Char> editor(o, s.sentenceEnds, src, size, s.classes.data(), base);
    std::size_t pos = 0;
    for (const TagSpan& tag : s.tags) {
        editor.Stretch(pos, tag.start);
        const std::size_t movedStart = static_cast<std::size_t>(editor.Written() - base);
        editor.Verbatim(tag.start, tag.close);
        s.movedTags.push_back({movedStart, movedStart + (tag.close - tag.start)});
        pos = tag.close;
    }
    editor.Stretch(pos, size);
    Char* const w = editor.Written();
    text.resize(begin);
    text.append(base, static_cast<std::size_t>(w - base));
    if (o.capitalizeSentences) {
        CapitalizeSentences(text, begin, s.movedTags, s.sentenceEnds);
        ApplyResizes(text);
    }
    s.Trim();
}

template <typename String>
void CapitalizeLine(String& text, std::size_t begin) {
    std::size_t k = begin;
    while (k < text.size() && IsBlank(Unit(text[k]))) ++k;
    if (k < text.size()) {
        UpperCaseReached(text, k);
        ApplyResizes(text);
    }
}

template <typename String>
void TrimSpaces(String& text, std::size_t begin) {
    const std::size_t last = text.find_last_not_of(' ');
    if (last == String::npos || last < begin) {
        text.resize(begin);
        return;
    }
    text.resize(last + 1);
    const std::size_t first = text.find_first_not_of(' ', begin);
    if (first > begin) text.erase(begin, first - begin);
}

template <typename String>
void CorrectTail(String& text, std::size_t begin, const AutoCorrectionOptions& o) {
    const bool stretchRules = o.addSpacesAfterPunctuation || o.removeExtraSpaces || o.removeSpacesBeforePunctuation ||
                              o.removeExtraPunctuation || o.capitalizeSentences;
    if (!stretchRules && !o.capitalizeLine && !o.trimLine) return;
    if (begin >= text.size()) return;
    if (stretchRules) CorrectStretches(text, begin, o);
    if (o.capitalizeLine) CapitalizeLine(text, begin);
    if (o.trimLine) TrimSpaces(text, begin);
}

}  // namespace

void UpperCaseAt(std::u16string& text, std::size_t k) { UpperCaseReached(text, k); }

void AutoCorrect(std::u16string& text, const AutoCorrectionOptions& o) { CorrectTail(text, 0, o); }

void AutoCorrectTail(std::u16string& text, std::size_t begin, const AutoCorrectionOptions& o) {
    CorrectTail(text, begin, o);
}

void AutoCorrectUtf8Tail(std::string& text, std::size_t begin, const AutoCorrectionOptions& o) {
    CorrectTail(text, begin, o);
}
