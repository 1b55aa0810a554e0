// The similarity test between the versions of one run: exact matches by an MD5
// key of the text, or the shingles method (word windows with stop words
// removed, an MD5 identity per shingle and a percentage threshold). The state
// remembers the versions kept so far; a version is new when it is not too
// close to any of them.
//
//   SimilarityState state;
//   DeletingOptions options{1, 7, 20};
//   bool keep = IsNewVersion(state, version, attemptIndex, options);
//   ClearSimilarityState(state);   // the next run starts empty
//
// The answer is the one that comparing the version with every kept version
// would give; for varied text a version costs about the same however many are
// kept.
// A version whose normalised text is empty is never similar under shingles.
//
// The test in two steps, so that the costly part runs on many threads while
// the decisions stay in order on one:
//
//   CVersionFingerprint print;
//   FingerprintVersion(version, options, print);   // any thread
//   bool keep = IsNewFingerprint(state, print, options);   // in run order
//
// Thread safety: a state is used by one thread at a time; FingerprintVersion
// touches nothing but its fingerprint.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

struct DeletingOptions {
    int32_t method = 0;  // 0 exact matches, 1 shingles; any other: everything is similar
    int32_t shingleLength = 7;
    int32_t allowedPercent = 20;
    bool operator==(const DeletingOptions&) const = default;
};

class SimilarityState {
public:
    SimilarityState();
    ~SimilarityState();
    SimilarityState(SimilarityState&&) noexcept;
    SimilarityState& operator=(SimilarityState&&) noexcept;

    std::size_t ApproximateBytes() const;  // memory held, for run budgets

    // The exact-match keys and the shingle store; complete only inside the
    // post-processing library (similarity_index.h).
    struct Indexes;
    Indexes& Kept() { return *kept_; }
    const Indexes& Kept() const { return *kept_; }

private:
    std::unique_ptr<Indexes> kept_;
};

// What the similarity test needs to know of one version under one method.
class CVersionFingerprint {
public:
    CVersionFingerprint();
    ~CVersionFingerprint();
    CVersionFingerprint(CVersionFingerprint&&) noexcept;
    CVersionFingerprint& operator=(CVersionFingerprint&&) noexcept;

    struct Data;  // complete only inside the post-processing library
    Data& Get() { return *data_; }
    const Data& Get() const { return *data_; }

private:
    std::unique_ptr<Data> data_;
};

// Fills print for text under options; reusing a fingerprint reuses its memory.
void FingerprintVersion(std::u16string_view text, const DeletingOptions& options, CVersionFingerprint& print);
// The answer IsNewVersion gives for the fingerprinted text, and the same effect on state.
bool IsNewFingerprint(SimilarityState& state, const CVersionFingerprint& print, const DeletingOptions& options);

// True when text is not similar to any version kept in state under options,
// and then it has been remembered. index is the version's attempt number.
bool IsNewVersion(SimilarityState& state, std::u16string_view text, int64_t index, const DeletingOptions& options);
void ClearSimilarityState(SimilarityState& state);
