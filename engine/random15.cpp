#include "random15.h"

void CRandom15::Seed(uint32_t seed) { state_ = seed; }

void CRandom15::SeedStream(uint32_t seed, uint64_t stream) {
    state_ = Mix64(Mix64(stream + 0x9E3779B97F4A7C15ull) ^ (static_cast<uint64_t>(seed) << 32 | seed));
}
