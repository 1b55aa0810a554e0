#include "postprocess/similarity.h"

#include "engine/text_encoding.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
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

void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
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
// shingle digest (the MD5 identity stands for the shingle's text) to the
// ascending list of kept records that contain it: inline when only one record
// does, which is the case for most shingles of varied text.
//
// A candidate with n shingles is similar when some kept record shares at
// least `need` of them, need being the smallest count whose percentage
// exceeds the allowed one; the decision does not depend on which record it is
// or on the kept records' own sizes. Such a record must contain one of the
// candidate's (m - need + 1) rarest shingles (m of its shingles are known at
// all), so only the postings of those are walked; the commoner shingles are
// then only checked against the records found so far that can still reach
// `need`.
struct ShingleStore::Impl {
    struct Slot {
        Md5Digest digest{};
        uint32_t posting = 0;  // the record id when count == 1, else an index into lists
        uint32_t count = 0;    // 0: empty slot
    };

    std::vector<Slot> slots;
    std::size_t distinct = 0;
    std::vector<std::vector<uint32_t>> lists;
    uint32_t records = 0;

    // Per-query scratch.
    std::vector<uint32_t> counts;  // per record, all zero between queries
    std::vector<uint32_t> touched;
    std::vector<uint16_t> dense;
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

    const uint32_t* Postings(const Slot& s) const { return s.count == 1 ? &s.posting : lists[s.posting].data(); }

    bool Contains(const Slot& s, uint32_t record) const {
        const uint32_t* p = Postings(s);
        return std::binary_search(p, p + s.count, record);
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
            } else if (s.count == 1) {
                const uint32_t first = s.posting;
                s.posting = static_cast<uint32_t>(lists.size());
                lists.push_back({first, id});
                s.count = 2;
            } else {
                lists[s.posting].push_back(id);
                ++s.count;
            }
        }
    }

    // The same decision when the postings to walk cover a good share of all
    // records: a counter per record, cleared in one sweep, and no branch per
    // posting. The commoner shingles past the prefix are counted for every
    // record too: one that shares none of the prefix cannot reach `need`
    // through them alone.
    bool DenseReaches(std::size_t m, uint32_t need) {
        dense.assign(records, 0);
        uint16_t* c = dense.data();
        const uint16_t limit = static_cast<uint16_t>(need);
        for (std::size_t i = 0; i < m; ++i) {
            const Slot& s = *present[i].second;
            const uint32_t* p = Postings(s);
            bool hit = false;
            for (uint32_t k = 0; k < s.count; ++k) hit |= ++c[p[k]] >= limit;
            if (hit) return true;
        }
        return false;
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
            const Slot& s = *present[i].second;
            const uint32_t* p = Postings(s);
            for (uint32_t k = 0; k < s.count; ++k) {
                const uint32_t r = p[k];
                if (counts[r] == 0) touched.push_back(r);
                if (++counts[r] >= need) {
                    found = true;
                    break;
                }
            }
        }
        // Only records met so far can still reach `need`. A commoner shingle
        // is either counted by walking its postings (touching only those
        // records) or, when its list is longer than the records still in
        // reach, by looking each of them up in it.
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
            const uint32_t* p = Postings(s);
            for (uint32_t k = 0; k < s.count && !found; ++k) {
                const uint32_t r = p[k];
                if (counts[r] != 0 && ++counts[r] >= need) found = true;
            }
        }
        for (uint32_t r : touched) counts[r] = 0;
        return found;
    }
};

ShingleStore::ShingleStore() : impl_(std::make_unique<Impl>()) {}
ShingleStore::~ShingleStore() = default;
ShingleStore::ShingleStore(ShingleStore&&) noexcept = default;
ShingleStore& ShingleStore::operator=(ShingleStore&&) noexcept = default;

void ShingleStore::Clear() { impl_ = std::make_unique<Impl>(); }

std::size_t ShingleStore::Size() const { return impl_->records; }

std::size_t ShingleStore::ApproximateBytes() const {
    const Impl& s = *impl_;
    std::size_t bytes = s.slots.capacity() * sizeof(Impl::Slot) + s.lists.capacity() * sizeof(std::vector<uint32_t>) +
                        s.counts.capacity() * sizeof(uint32_t) + s.dense.capacity() * sizeof(uint16_t);
    for (const auto& l : s.lists) bytes += l.capacity() * sizeof(uint32_t);
    return bytes;
}

bool ShingleStore::TestAndRemember(int64_t, std::string_view lowerCasedNarrow, int shingleLength,
                                   int allowedPercent) {
    Impl& s = *impl_;
    const NormalizedText normalized = NormalizeForShingles(lowerCasedNarrow);
    BuildShingleDigests(normalized.text, normalized.wordCount, shingleLength, s.digests);
    const std::size_t n = s.digests.size();
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
        if (need <= n && s.AnyRecordReaches(s.digests, static_cast<uint32_t>(need))) return false;
    }
    s.Remember(s.digests);
    return true;
}

bool TestAndRemember(ShingleStore& store, int64_t index, std::string_view lowerCasedNarrow, int shingleLength,
                     int allowedPercent) {
    return store.TestAndRemember(index, lowerCasedNarrow, shingleLength, allowedPercent);
}

// ---------------------------------------------------------------- run state

std::size_t SimilarityState::ApproximateBytes() const {
    return exactKeys.ApproximateBytes() + shingles.ApproximateBytes();
}

bool IsNewVersion(SimilarityState& state, std::u16string_view text, int64_t index, const DeletingOptions& options) {
    switch (options.method) {
        case 0: return state.exactKeys.Insert(ExactKeyOf(text));
        case 1:
            return state.shingles.TestAndRemember(index, LowerCaseNarrow(text), options.shingleLength,
                                                  options.allowedPercent);
        default: return false;
    }
}

void ClearSimilarityState(SimilarityState& state) {
    state.exactKeys.Clear();
    state.shingles.Clear();
}
