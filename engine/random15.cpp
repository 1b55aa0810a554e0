#include "random15.h"

void CRandom15::Seed(uint32_t seed) { state_ = seed; }

int CRandom15::Next() {
    // splitmix64: every seed gives a full-period, well-mixed stream; the top
    // 15 bits of each output are the draw.
    state_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<int>(z >> 49);
}
