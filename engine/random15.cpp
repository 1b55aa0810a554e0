#include "random15.h"

namespace {

uint64_t Mix64(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

void CRandom15::Seed(uint32_t seed) { state_ = seed; }

void CRandom15::SeedStream(uint32_t seed, uint64_t stream) {
    state_ = Mix64(Mix64(stream + 0x9E3779B97F4A7C15ull) ^ (static_cast<uint64_t>(seed) << 32 | seed));
}

int CRandom15::Next() {
    // splitmix64: every seed gives a full-period, well-mixed stream; the top
    // 15 bits of each output are the draw.
    state_ += 0x9E3779B97F4A7C15ull;
    return static_cast<int>(Mix64(state_) >> 49);
}
