#include "similarity_index.h"
#include "postprocess/shingle_pairs.h"

#include "text/text_encoding.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <bit>
#include <cstring>

const std::array<std::string_view, 46> StopWords = {
    "а",  "без", "бы", "в",   "во", "вы",  "да",  "для", "до",  "же",    "за",  "и",
    "из", "или", "к",  "как", "ко", "кто", "ли",  "на",  "не",  "ни",    "но",  "ну",
    "о",  "об",  "он", "она", "они", "оно", "от", "по",  "под", "при",   "с",   "со",
    "так", "то", "ты", "у",   "уже", "что", "чтобы", "эта", "эти", "это"};

namespace {

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline std::size_t DigestHash(const Md5Digest& d) { return static_cast<std::size_t>(Load64(d.data())); }

// Digest comparisons on two 64-bit words instead of a byte-wise compare call.
inline bool DigestEqual(const Md5Digest& a, const Md5Digest& b) {
    return Load64(a.data()) == Load64(b.data()) && Load64(a.data() + 8) == Load64(b.data() + 8);
}
inline bool DigestWordsLess(const Md5Digest& a, const Md5Digest& b) {
    const uint64_t a0 = Load64(a.data()), b0 = Load64(b.data());
    return a0 != b0 ? a0 < b0 : Load64(a.data() + 8) < Load64(b.data() + 8);
}

// Index of a word in StopWords, or -1. Every stop word is one to five
// Cyrillic letters, two bytes each in UTF-8, which rejects most words at once.
int StopWordIndex(std::string_view word) {
    if (word.size() < 2 || word.size() > 10 || (static_cast<uint8_t>(word[0]) & 0xFE) != 0xD0) return -1;
    for (std::size_t i = 0; i < StopWords.size(); ++i)
        if (StopWords[i] == word) return static_cast<int>(i);
    return -1;
}

struct Word {
    uint32_t begin;
    uint32_t size;
    int stop;
};

// Removal of one stop word's " w " occurrences, one left-to-right pass that
// resumes after each space it puts back. Only the spaces around a word decide
// whether it goes: the one before it must not have been consumed by the
// previous removal in the same pass, so of "x w w y" one pass removes only
// the first w. gaps[i] is the number of spaces before words[i]; gaps.back()
// the trailing ones.
void RemoveStopWordPass(int stop, std::vector<Word>& words, std::vector<uint32_t>& gaps) {
    std::size_t kept = 0;
    uint32_t before = gaps[0];
    uint32_t available = gaps[0];
    for (std::size_t i = 0; i < words.size(); ++i) {
        const uint32_t after = gaps[i + 1];
        if (words[i].stop == stop && available >= 1 && after >= 1) {
            before = before + after - 1;
            available = after - 1;
            continue;
        }
        gaps[kept] = before;
        words[kept++] = words[i];
        before = after;
        available = after;
    }
    gaps[kept] = before;
    words.resize(kept);
    gaps.resize(kept + 1);
}

// Start offsets of the words of a normalised text (words joined by single
// spaces).
void WordStarts(std::string_view text, std::vector<uint32_t>& starts) {
    starts.clear();
    if (text.empty()) return;
    starts.push_back(0);
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == ' ') starts.push_back(static_cast<uint32_t>(i + 1));
}

// Calls f(shingleText) for every run of L consecutive words (the whole text
// when it has at most L words).
template <class F>
void ForEachShingle(std::string_view normalized, int wordCount, int shingleLength, F&& f) {
    if (normalized.empty()) return;
    const int L = std::max(shingleLength, 1);
    if (wordCount <= L) {
        f(normalized);
        return;
    }
    thread_local std::vector<uint32_t> starts;
    WordStarts(normalized, starts);
    const std::size_t W = starts.size();
    if (W <= static_cast<std::size_t>(L)) {
        f(normalized);
        return;
    }
    for (std::size_t i = 0; i + L <= W; ++i) {
        const std::size_t begin = starts[i];
        const std::size_t end = i + L < W ? starts[i + L] - 1 : normalized.size();
        f(normalized.substr(begin, end - begin));
    }
}

// The similarity in whole percent, as c / n * 100 in double precision
// truncated toward zero.
inline int64_t SimilarityPercent(std::size_t common, std::size_t count) {
    return static_cast<int64_t>(static_cast<double>(common) / static_cast<double>(count) * 100.0);
}

}  // namespace

// ---------------------------------------------------------------- exact keys

ExactKeyDigest ExactKeyOf(std::u16string_view text) {
    thread_local std::string narrow;
    narrow.clear();
    AppendNarrow(text, narrow);
    ExactKeyDigest key;
    key.length = text.size();
    key.digest = Md5(narrow);
    return key;
}

std::string ExactKeyText(const ExactKeyDigest& key) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string s = std::to_string(key.length);
    for (uint8_t b : key.digest) {
        s.push_back(kHex[b >> 4]);
        s.push_back(kHex[b & 15]);
    }
    return s;
}

std::string ExactKey(std::u16string_view text) { return ExactKeyText(ExactKeyOf(text)); }

std::size_t CExactKeySet::SlotOf(const ExactKeyDigest& key) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = (DigestHash(key.digest) ^ (key.length * 0x9E3779B97F4A7C15ull)) & mask;
    static const ExactKeyDigest kEmpty{};
    while (!(slots_[i] == kEmpty) && !(slots_[i] == key)) i = (i + 1) & mask;
    return i;
}

void CExactKeySet::Grow() {
    std::vector<ExactKeyDigest> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, ExactKeyDigest{});
    static const ExactKeyDigest kEmpty{};
    for (const ExactKeyDigest& k : old)
        if (!(k == kEmpty)) slots_[SlotOf(k)] = k;
}

bool CExactKeySet::Insert(const ExactKeyDigest& key) {
    if ((size_ + 1) * 10 > slots_.size() * 7) Grow();
    const std::size_t i = SlotOf(key);
    if (slots_[i] == key) return false;
    slots_[i] = key;
    ++size_;
    return true;
}

bool CExactKeySet::Contains(const ExactKeyDigest& key) const {
    return !slots_.empty() && slots_[SlotOf(key)] == key;
}

void CExactKeySet::Clear() {
    std::vector<ExactKeyDigest>().swap(slots_);
    size_ = 0;
}

std::size_t CExactKeySet::ApproximateBytes() const { return slots_.capacity() * sizeof(ExactKeyDigest); }

// ------------------------------------------------------------- normalisation

std::string LowerCaseNarrow(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = text[i];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c));
            continue;
        }
        UChar32 cp = c;
        if (U16_IS_LEAD(c) && i + 1 < n && U16_IS_TRAIL(text[i + 1])) {
            cp = U16_GET_SUPPLEMENTARY(c, text[i + 1]);
            ++i;
        } else if (U16_IS_SURROGATE(c)) {
            out.push_back('?');
            continue;
        }
        AppendUtf8(static_cast<char32_t>(u_tolower(cp)), out);
    }
    return out;
}

NormalizedText NormalizeForShingles(std::string_view lowered) {
    // Tags, blanks and punctuation in one pass. A ">" removes everything back
    // to the last "<" still in the text (so "a<b<c>d>e" loses both tags); a
    // ">" with no "<" before it stays. Blanks and the nine punctuation
    // characters inside a removed tag go with it either way, so the three
    // steps can share the pass.
    thread_local std::string buffer;
    thread_local std::vector<uint32_t> opens;
    buffer.clear();
    opens.clear();
    for (const char ch : lowered) {
        switch (ch) {
            case '<':
                opens.push_back(static_cast<uint32_t>(buffer.size()));
                buffer.push_back('<');
                break;
            case '>':
                if (opens.empty()) {
                    buffer.push_back('>');
                } else {
                    buffer.resize(opens.back());
                    opens.pop_back();
                }
                break;
            case '\t':
            case '\r':
            case '\n': buffer.push_back(' '); break;
            case '.':
            case ',':
            case '!':
            case '?':
            case ':':
            case ';':
            case '-':
            case '(':
            case ')': break;
            default: buffer.push_back(ch); break;
        }
    }

    thread_local std::vector<Word> words;
    thread_local std::vector<uint32_t> gaps;
    words.clear();
    gaps.clear();
    uint64_t presentStops = 0;
    {
        const std::size_t n = buffer.size();
        std::size_t i = 0;
        uint32_t gap = 0;
        while (i < n) {
            if (buffer[i] == ' ') {
                ++gap;
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j < n && buffer[j] != ' ') ++j;
            const int stop = StopWordIndex(std::string_view(buffer).substr(i, j - i));
            if (stop >= 0) presentStops |= uint64_t{1} << stop;
            gaps.push_back(gap);
            words.push_back({static_cast<uint32_t>(i), static_cast<uint32_t>(j - i), stop});
            gap = 0;
            i = j;
        }
        gaps.push_back(gap);
    }
    for (int stop = 0; presentStops != 0 && stop < static_cast<int>(StopWords.size()); ++stop) {
        if (!(presentStops & (uint64_t{1} << stop))) continue;
        RemoveStopWordPass(stop, words, gaps);
        RemoveStopWordPass(stop, words, gaps);
    }

    NormalizedText result;
    result.wordCount = static_cast<int>(words.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) result.text.push_back(' ');
        result.text.append(buffer, words[i].begin, words[i].size);
    }
    return result;
}

// ------------------------------------------------------------------ shingles

ShingleSet BuildShingles(std::string_view normalized, int wordCount, int shingleLength) {
    ShingleSet set;
    ForEachShingle(normalized, wordCount, shingleLength,
                   [&](std::string_view s) { set.push_back(Shingle{Md5(s), std::string(s)}); });
    std::sort(set.begin(), set.end());
    set.erase(std::unique(set.begin(), set.end()), set.end());
    return set;
}

void BuildShingleDigests(std::string_view normalized, int wordCount, int shingleLength,
                         std::vector<Md5Digest>& out) {
    out.clear();
    ForEachShingle(normalized, wordCount, shingleLength, [&](std::string_view s) { out.push_back(Md5(s)); });
    std::sort(out.begin(), out.end(), DigestWordsLess);
    out.erase(std::unique(out.begin(), out.end(), DigestEqual), out.end());
}

// -------------------------------------------------------------- shingle store

// Kept versions are not stored one by one. An open-addressing table maps each
// shingle digest (the MD5 identity stands for the shingle's text) to the kept
// records that contain it: inline when only one record does (most shingles of
// varied text), an ascending list when a few do, and a bitmap over all records
// once a shingle is held by a good share of them (the fixed wording of a
// template), which is far cheaper to count than a list.
//
// A candidate with n shingles is similar when some kept record shares at
// least `need` of them, need being the smallest count whose percentage
// exceeds the allowed one; the decision does not depend on which record it is
// or on the kept records' own sizes. Such a record must contain one of the
// candidate's (m - need + 1) rarest shingles (m of its shingles are known at
// all). When those few postings are short, only records met there are
// followed up; otherwise every record is counted at once: list postings into
// a 16-bit counter per record, bitmaps into bit-sliced counters (one bit
// plane per binary digit, 64 records per machine word).
struct ShingleStore::Impl {
    static constexpr uint32_t kBitmapFlag = 0x80000000u;

    struct Slot {
        Md5Digest digest{};
        // count == 1: the record id; a list index, or a bitmap index with
        // kBitmapFlag set, otherwise.
        uint32_t posting = 0;
        uint32_t count = 0;  // 0: empty slot
        bool IsBitmap() const { return count > 1 && (posting & kBitmapFlag) != 0; }
    };

    explicit Impl(uint32_t bitmapFrom) : bitmapFrom(bitmapFrom) {}

    const uint32_t bitmapFrom;
    std::vector<Slot> slots;
    std::size_t distinct = 0;
    std::vector<std::vector<uint32_t>> lists;
    std::vector<std::vector<uint64_t>> bitmaps;  // bit r: record r holds the shingle
    uint32_t records = 0;

    // Per-query scratch.
    std::vector<uint32_t> counts;  // per record, all zero between queries
    std::vector<uint32_t> touched;
    std::vector<uint16_t> dense;
    std::vector<uint64_t> planes;
    std::vector<Md5Digest> digests;
    std::vector<std::pair<uint32_t, const Slot*>> present;

    std::size_t SlotIndex(const Md5Digest& d) const {
        const std::size_t mask = slots.size() - 1;
        std::size_t i = DigestHash(d) & mask;
        while (slots[i].count != 0 && !DigestEqual(slots[i].digest, d)) i = (i + 1) & mask;
        return i;
    }

    const Slot* Find(const Md5Digest& d) const {
        if (slots.empty()) return nullptr;
        const Slot& s = slots[SlotIndex(d)];
        return s.count != 0 ? &s : nullptr;
    }

    void Grow() {
        std::vector<Slot> old = std::move(slots);
        slots.assign(old.empty() ? 1024 : old.size() * 2, Slot{});
        for (const Slot& s : old)
            if (s.count != 0) slots[SlotIndex(s.digest)] = s;
    }

    const std::vector<uint64_t>& Bitmap(const Slot& s) const { return bitmaps[s.posting & ~kBitmapFlag]; }

    // Calls f(record) for every record holding the shingle, ascending.
    template <class F>
    void ForEachPosting(const Slot& s, F&& f) const {
        if (s.count == 1) {
            f(s.posting);
        } else if (s.IsBitmap()) {
            const std::vector<uint64_t>& bits = Bitmap(s);
            for (std::size_t w = 0; w < bits.size(); ++w)
                for (uint64_t word = bits[w]; word != 0; word &= word - 1)
                    f(static_cast<uint32_t>(w * 64 + static_cast<unsigned>(__builtin_ctzll(word))));
        } else {
            for (uint32_t r : lists[s.posting]) f(r);
        }
    }

    bool Contains(const Slot& s, uint32_t record) const {
        if (s.count == 1) return s.posting == record;
        if (s.IsBitmap()) {
            const std::vector<uint64_t>& bits = Bitmap(s);
            return record / 64 < bits.size() && ((bits[record / 64] >> (record % 64)) & 1) != 0;
        }
        const std::vector<uint32_t>& l = lists[s.posting];
        return std::binary_search(l.begin(), l.end(), record);
    }

    void Remember(const std::vector<Md5Digest>& shingles) {
        const uint32_t id = records++;
        counts.push_back(0);
        for (const Md5Digest& d : shingles) {
            if ((distinct + 1) * 10 > slots.size() * 7) Grow();
            Slot& s = slots[SlotIndex(d)];
            if (s.count == 0) {
                s.digest = d;
                s.posting = id;
                s.count = 1;
                ++distinct;
                continue;
            }
            if (s.count == 1) {
                const uint32_t first = s.posting;
                s.posting = static_cast<uint32_t>(lists.size());
                lists.push_back({first});
            }
            ++s.count;
            if (s.IsBitmap()) {
                std::vector<uint64_t>& bits = bitmaps[s.posting & ~kBitmapFlag];
                if (bits.size() <= id / 64) bits.resize(id / 64 + 1, 0);
                bits[id / 64] |= uint64_t{1} << (id % 64);
                continue;
            }
            std::vector<uint32_t>& list = lists[s.posting];
            list.push_back(id);
            // From 1/64 of the records on, a bitmap (1 bit per record, twice
            // the list's 4 bytes per holder there) is much cheaper to count:
            // 64 records per word operation instead of one per posting.
            if (s.count >= bitmapFrom && static_cast<uint64_t>(s.count) * 64 >= records) {
                std::vector<uint64_t> bits(id / 64 + 1, 0);
                for (uint32_t r : list) bits[r / 64] |= uint64_t{1} << (r % 64);
                std::vector<uint32_t>().swap(list);
                s.posting = static_cast<uint32_t>(bitmaps.size()) | kBitmapFlag;
                bitmaps.push_back(std::move(bits));
            }
        }
    }

    // Every record counted at once. List postings go to a 16-bit counter per
    // record; bitmaps are added into bit-sliced counters wide enough for m.
    // A record reaches `need` when its two counts together do.
    bool DenseReaches(std::size_t m, uint32_t need) {
        const std::size_t words = (static_cast<std::size_t>(records) + 63) / 64;
        dense.assign(words * 64, 0);
        uint16_t* c = dense.data();
        const unsigned width = static_cast<unsigned>(std::bit_width(m));
        bool anyBitmap = false;
        const uint16_t limit = static_cast<uint16_t>(need);
        for (std::size_t i = 0; i < m; ++i) {
            const Slot& s = *present[i].second;
            if (s.IsBitmap()) {
                if (!anyBitmap) {
                    planes.assign(width * words, 0);
                    anyBitmap = true;
                }
                const std::vector<uint64_t>& bits = Bitmap(s);
                const std::size_t n = std::min(bits.size(), words);
                for (unsigned j = 0; j < width; ++j) {
                    // Ripple the carry one plane up at a time; after a plane
                    // the carry words are kept in bitsCarry (planes above are
                    // untouched where the carry died out).
                    uint64_t* plane = planes.data() + j * words;
                    uint64_t* carry = CarryBuffer(n);
                    if (j == 0) std::copy(bits.begin(), bits.begin() + n, carry);
                    uint64_t alive = 0;
                    for (std::size_t w = 0; w < n; ++w) {
                        const uint64_t k = carry[w];
                        const uint64_t t = plane[w] & k;
                        plane[w] ^= k;
                        carry[w] = t;
                        alive |= t;
                    }
                    if (alive == 0) break;
                }
                continue;
            }
            bool hit = false;
            ForEachPosting(s, [&](uint32_t r) { hit |= ++c[r] >= limit; });
            if (hit) return true;
        }
        if (!anyBitmap) return false;
        // Per word of 64 records: the largest list count bounds what the
        // bitmaps must add; only words whose bit-sliced counts reach that
        // bound are looked at record by record.
        for (std::size_t w = 0; w < words; ++w) {
            uint16_t most = 0;
            for (std::size_t b = 0; b < 64; ++b) most = std::max(most, c[w * 64 + b]);
            const uint64_t threshold = most >= need ? 0 : need - most;
            if (threshold >= (uint64_t{1} << width)) continue;
            uint64_t greater = 0, equal = ~uint64_t{0};
            for (int j = static_cast<int>(width) - 1; j >= 0; --j) {
                const uint64_t plane = planes[static_cast<std::size_t>(j) * words + w];
                if ((threshold >> j) & 1) {
                    equal &= plane;
                } else {
                    greater |= equal & plane;
                    equal &= ~plane;
                }
            }
            for (uint64_t maybe = greater | equal; maybe != 0; maybe &= maybe - 1) {
                const unsigned b = static_cast<unsigned>(__builtin_ctzll(maybe));
                uint64_t value = 0;
                for (unsigned j = 0; j < width; ++j) value |= ((planes[j * words + w] >> b) & 1) << j;
                if (value + c[w * 64 + b] >= need) return true;
            }
        }
        return false;
    }

    std::vector<uint64_t> carryWords;
    uint64_t* CarryBuffer(std::size_t n) {
        if (carryWords.size() < n) carryWords.resize(n);
        return carryWords.data();
    }

    // Whether some kept record shares at least `need` (>= 1) of the digests.
    bool AnyRecordReaches(const std::vector<Md5Digest>& shingles, uint32_t need) {
        present.clear();
        for (const Md5Digest& d : shingles)
            if (const Slot* s = Find(d)) present.emplace_back(s->count, s);
        const std::size_t m = present.size();
        if (m < need) return false;
        std::sort(present.begin(), present.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        const std::size_t prefix = m - need + 1;
        std::size_t prefixPostings = 0;
        for (std::size_t i = 0; i < prefix; ++i) prefixPostings += present[i].first;
        if (need <= UINT16_MAX && prefixPostings * 16 >= records) return DenseReaches(m, need);
        bool found = false;
        touched.clear();
        for (std::size_t i = 0; i < prefix && !found; ++i) {
            ForEachPosting(*present[i].second, [&](uint32_t r) {
                if (found) return;
                if (counts[r] == 0) touched.push_back(r);
                if (++counts[r] >= need) found = true;
            });
        }
        // Only records met so far can still reach `need`. A commoner shingle
        // is either counted by walking its postings (touching only those
        // records) or, when it is held by more records than are still in
        // reach, by looking each of them up.
        std::vector<uint32_t>& viable = touched;
        std::size_t viableEnd = viable.size();
        for (std::size_t i = prefix; i < m && !found; ++i) {
            const Slot& s = *present[i].second;
            if (s.count > viableEnd) {
                const uint32_t remaining = static_cast<uint32_t>(m - i);
                std::size_t w = 0;
                for (std::size_t v = 0; v < viableEnd; ++v) {
                    const uint32_t r = viable[v];
                    if (counts[r] + remaining >= need) std::swap(viable[w++], viable[v]);
                }
                viableEnd = w;
                if (viableEnd == 0) break;
                if (s.count > viableEnd) {
                    for (std::size_t v = 0; v < viableEnd && !found; ++v) {
                        const uint32_t r = viable[v];
                        if (Contains(s, r) && ++counts[r] >= need) found = true;
                    }
                    continue;
                }
            }
            ForEachPosting(s, [&](uint32_t r) {
                if (!found && counts[r] != 0 && ++counts[r] >= need) found = true;
            });
        }
        for (uint32_t r : touched) counts[r] = 0;
        return found;
    }
};

ShingleStore::ShingleStore(uint32_t bitmapFrom) : impl_(std::make_unique<Impl>(bitmapFrom)) {}
ShingleStore::~ShingleStore() = default;
ShingleStore::ShingleStore(ShingleStore&&) noexcept = default;
ShingleStore& ShingleStore::operator=(ShingleStore&&) noexcept = default;

void ShingleStore::Clear() { impl_ = std::make_unique<Impl>(impl_->bitmapFrom); }

std::size_t ShingleStore::Size() const { return impl_->records; }

std::size_t ShingleStore::ApproximateBytes() const {
    const Impl& s = *impl_;
    std::size_t bytes = s.slots.capacity() * sizeof(Impl::Slot) + s.lists.capacity() * sizeof(std::vector<uint32_t>) +
                        s.bitmaps.capacity() * sizeof(std::vector<uint64_t>) + s.counts.capacity() * sizeof(uint32_t) +
                        s.dense.capacity() * sizeof(uint16_t) +
                        (s.planes.capacity() + s.carryWords.capacity()) * sizeof(uint64_t);
    for (const auto& l : s.lists) bytes += l.capacity() * sizeof(uint32_t);
    for (const auto& b : s.bitmaps) bytes += b.capacity() * sizeof(uint64_t);
    return bytes;
}

bool ShingleStore::TestAndRemember(int64_t, std::string_view lowerCasedNarrow, int shingleLength,
                                   int allowedPercent) {
    Impl& s = *impl_;
    const NormalizedText normalized = NormalizeForShingles(lowerCasedNarrow);
    BuildShingleDigests(normalized.text, normalized.wordCount, shingleLength, s.digests);
    return TestAndRememberDigests(s.digests, allowedPercent);
}

bool ShingleStore::TestAndRememberDigests(const std::vector<Md5Digest>& digests, int allowedPercent) {
    Impl& s = *impl_;
    const std::size_t n = digests.size();
    if (n > 0 && s.records > 0) {
        // need: the smallest common count whose percentage exceeds the allowed
        // one (the percentage does not fall as the count grows).
        std::size_t lo = 0, hi = n + 1;
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            if (SimilarityPercent(mid, n) > allowedPercent)
                hi = mid;
            else
                lo = mid + 1;
        }
        const std::size_t need = lo;
        if (need == 0) return false;  // even nothing in common is too much
        if (need <= n && s.AnyRecordReaches(digests, static_cast<uint32_t>(need))) return false;
    }
    s.Remember(digests);
    return true;
}

bool TestAndRemember(ShingleStore& store, int64_t index, std::string_view lowerCasedNarrow, int shingleLength,
                     int allowedPercent) {
    return store.TestAndRemember(index, lowerCasedNarrow, shingleLength, allowedPercent);
}

// ---------------------------------------------------------------- run state

SimilarityState::SimilarityState() : kept_(std::make_unique<Indexes>()) {}
SimilarityState::~SimilarityState() = default;
SimilarityState::SimilarityState(SimilarityState&&) noexcept = default;
SimilarityState& SimilarityState::operator=(SimilarityState&&) noexcept = default;

std::size_t SimilarityState::ApproximateBytes() const {
    return kept_->exactKeys.ApproximateBytes() + kept_->shingles.ApproximateBytes();
}

bool IsNewVersion(SimilarityState& state, std::u16string_view text, int64_t index, const DeletingOptions& options) {
    switch (options.method) {
        case 0: return state.Kept().exactKeys.Insert(ExactKeyOf(text));
        case 1:
            return state.Kept().shingles.TestAndRemember(index, LowerCaseNarrow(text), options.shingleLength,
                                                         options.allowedPercent);
        default: return false;
    }
}

CVersionFingerprint::CVersionFingerprint() : data_(std::make_unique<Data>()) {}
CVersionFingerprint::~CVersionFingerprint() = default;
CVersionFingerprint::CVersionFingerprint(CVersionFingerprint&&) noexcept = default;
CVersionFingerprint& CVersionFingerprint::operator=(CVersionFingerprint&&) noexcept = default;

void FingerprintVersion(std::u16string_view text, const DeletingOptions& options, CVersionFingerprint& print) {
    CVersionFingerprint::Data& data = print.Get();
    if (options.method == 0) {
        data.exactKey = ExactKeyOf(text);
    } else if (options.method == 1) {
        const NormalizedText normalized = NormalizeForShingles(LowerCaseNarrow(text));
        BuildShingleDigests(normalized.text, normalized.wordCount, options.shingleLength, data.shingleDigests);
    }
}

bool IsNewFingerprint(SimilarityState& state, const CVersionFingerprint& print, const DeletingOptions& options) {
    switch (options.method) {
        case 0: return state.Kept().exactKeys.Insert(print.Get().exactKey);
        case 1: return state.Kept().shingles.TestAndRememberDigests(print.Get().shingleDigests, options.allowedPercent);
        default: return false;
    }
}

void ClearSimilarityState(SimilarityState& state) {
    state.Kept().exactKeys.Clear();
    state.Kept().shingles.Clear();
}

// ---------------------------------------------------------------- pairs

ShingleFingerprint MakeShingleFingerprint(std::u16string_view text, int shingleLength) {
    const NormalizedText normalized = NormalizeForShingles(LowerCaseNarrow(text));
    ShingleFingerprint f;
    BuildShingleDigests(normalized.text, normalized.wordCount, shingleLength, f.digests);
    return f;
}

int ShingleSimilarityPercent(const ShingleFingerprint& candidate, const ShingleFingerprint& kept) {
    const auto& a = candidate.digests;
    const auto& b = kept.digests;
    if (a.empty()) return 0;
    std::size_t common = 0;
    for (std::size_t i = 0, j = 0; i < a.size() && j < b.size();) {
        if (DigestEqual(a[i], b[j])) {
            ++common;
            ++i;
            ++j;
        } else if (DigestWordsLess(a[i], b[j])) {
            ++i;
        } else {
            ++j;
        }
    }
    return static_cast<int>(SimilarityPercent(common, a.size()));
}
