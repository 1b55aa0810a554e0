// The shingles test between two versions, pair by pair: what the uniqueness
// forecast measures on random pairs of a template's versions.
//
//   ShingleFingerprint a = MakeShingleFingerprint(first, 7);
//   ShingleFingerprint b = MakeShingleFingerprint(second, 7);
//   int percent = ShingleSimilarityPercent(a, b);   // a as the candidate, b as kept
//
// Thread safety: pure functions, callable from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

// The distinct shingle digests of one version, ordered.
struct ShingleFingerprint {
    std::vector<std::array<uint8_t, 16>> digests;
};

ShingleFingerprint MakeShingleFingerprint(std::u16string_view text, int shingleLength);

// The similarity of candidate to kept in whole percent, exactly as the
// shingles test measures it (shared shingles over the candidate's own count,
// truncated); 0 when the candidate has no shingles.
int ShingleSimilarityPercent(const ShingleFingerprint& candidate, const ShingleFingerprint& kept);
