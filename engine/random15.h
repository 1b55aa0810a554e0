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
    // 0 .. 32767. splitmix64: every seed gives a full-period, well-mixed
    // stream; the top 15 bits of each output are the draw.
    int Next() {
        state_ += 0x9E3779B97F4A7C15ull;
        return static_cast<int>(Mix64Unfinished(state_) >> 49);
    }

    static uint64_t Mix64(uint64_t z) {
        z = Mix64Unfinished(z);
        return z ^ (z >> 31);
    }

private:
    // Mix64 without its last step, which leaves the top 31 bits as they are:
    // enough for a draw.
    static uint64_t Mix64Unfinished(uint64_t z) {
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        return (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    }

    uint64_t state_ = 0;
};

// trunc(r / 32768 * n): an index in 0 .. n-1 for a draw r. In doubles r / 32768
// and its product with n (below 2^46) are exact, so the integer form is the same.
inline int RandomIndex(int r, int n) { return static_cast<int>((int64_t{r} * n) >> 15); }
