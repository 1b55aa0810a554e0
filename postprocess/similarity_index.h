// The indexes behind the similarity test, shared by the run's test of each
// new version and the Delete Identical jobs: exact-match keys, the shingles
// normalisation, and the shingle store.
//
//   CExactKeySet keys;
//   bool fresh = keys.Insert(ExactKeyOf(text));
//   ShingleStore store;
//   bool keep = store.TestAndRemember(index, LowerCaseNarrow(text), 7, 20);
//
// The shingle store answers exactly as comparing the candidate with every kept
// version would (the answer never depends on which kept version is too close),
// but through an index from each shingle's digest to the kept versions that
// hold it: a candidate only meets the kept versions that share its rarer
// shingles. Versions of varied text cost about the same however many are kept;
// versions that share most shingles with a fixed share of the kept ones still
// cost in proportion to that share, with a constant far below a comparison
// with each. A shingle is identified by its MD5 digest alone.
// A candidate whose normalised text is empty is never similar.
// Narrow text is UTF-8; lower-casing uses ICU simple case mapping.
// Thread safety: a key set or store is used by one thread at a time.
#pragma once

#include "md5.h"
#include "postprocess/similarity.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The 46 stop words, UTF-8, lower case, in table order.
extern const std::array<std::string_view, 46> StopWords;

// Decimal UTF-16 length followed by the MD5 hex digest of the UTF-8 text.
std::string ExactKey(std::u16string_view text);

// The same key held compactly (24 bytes): a run may keep millions of them.
struct ExactKeyDigest {
    uint64_t length = 0;  // UTF-16 code units
    Md5Digest digest{};
    bool operator==(const ExactKeyDigest&) const = default;
};
ExactKeyDigest ExactKeyOf(std::u16string_view text);
std::string ExactKeyText(const ExactKeyDigest& key);  // the string form of ExactKey

// A set of exact-match keys: open addressing over the digests themselves.
class CExactKeySet {
public:
    bool Insert(const ExactKeyDigest& key);  // true when the key was not there yet
    bool Contains(const ExactKeyDigest& key) const;
    std::size_t Size() const { return size_; }
    void Clear();
    std::size_t ApproximateBytes() const;

private:
    std::size_t SlotOf(const ExactKeyDigest& key) const;
    void Grow();

    std::vector<ExactKeyDigest> slots_;  // an all-zero slot is empty: no text has that key
    std::size_t size_ = 0;
};

struct NormalizedText {
    std::string text;
    int wordCount = 0;
};
// Lower-cases the wide text (ICU simple case mapping) before conversion.
std::string LowerCaseNarrow(std::u16string_view text);
// The normalisation steps after lower-casing: tags, blanks, punctuation, stop
// words, trimming, collapsing; then the word count.
NormalizedText NormalizeForShingles(std::string_view lowerCasedNarrow);

struct Shingle {
    Md5Digest digest;
    std::string text;
    auto operator<=>(const Shingle&) const = default;
};
using ShingleSet = std::vector<Shingle>;  // ordered by digest, then text; distinct
// A shingle length below 1 counts as 1.
ShingleSet BuildShingles(std::string_view normalized, int wordCount, int shingleLength);
// The digests of the same shingles, distinct, in no particular order.
void BuildShingleDigests(std::string_view normalized, int wordCount, int shingleLength,
                         std::vector<Md5Digest>& out);

class ShingleStore {
public:
    // A shingle held by at least bitmapFrom kept versions (and by 1/64 of
    // them) is indexed by a bitmap instead of a list; the answers are the same.
    ShingleStore() : ShingleStore(1024) {}
    explicit ShingleStore(uint32_t bitmapFrom);
    ~ShingleStore();
    ShingleStore(ShingleStore&&) noexcept;
    ShingleStore& operator=(ShingleStore&&) noexcept;

    void Clear();
    std::size_t Size() const;            // kept records
    std::size_t ApproximateBytes() const;  // memory held, for run budgets

    // The shingles test of one lower-cased narrow text: true when it is new,
    // and then it has been remembered.
    bool TestAndRemember(int64_t index, std::string_view lowerCasedNarrow, int shingleLength, int allowedPercent);
    // The same test for the digests that BuildShingleDigests made of the text.
    bool TestAndRememberDigests(const std::vector<Md5Digest>& digests, int allowedPercent);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

bool TestAndRemember(ShingleStore& store, int64_t index, std::string_view lowerCasedNarrow, int shingleLength,
                     int allowedPercent);

struct CVersionFingerprint::Data {
    ExactKeyDigest exactKey;
    std::vector<Md5Digest> shingleDigests;
};

struct SimilarityState::Indexes {
    CExactKeySet exactKeys;
    ShingleStore shingles;
};
