// The engine's 15-bit pseudo-random generator (values 0 .. 32767), seedable so
// that a run can be repeated exactly.
//
//   CRandom15 rng(seed);
//   int r = rng.Next();                 // 0 .. 32767
//   int pick = RandomIndex(rng.Next(), n);  // trunc(r / 32768 * n)
//
// Thread safety: one generator per thread; no shared state.
#pragma once

#include <cstdint>

class CRandom15 {
public:
    explicit CRandom15(uint32_t seed = 1) { Seed(seed); }
    void Seed(uint32_t seed);
    // Stream number stream of a seed: its start is a hash of both, so the
    // streams of one seed do not overlap in practice and any one of them can
    // be reached without drawing the ones before it.
    void SeedStream(uint32_t seed, uint64_t stream);
    int Next();  // 0 .. 32767

private:
    uint64_t state_ = 0;
};

// trunc(r / 32768 * n): an index in 0 .. n-1 for a draw r.
inline int RandomIndex(int r, int n) { return static_cast<int>(static_cast<double>(r) / 32768.0 * n); }
