// Where the auto-correction rules can act in a text, 64 code units at a
// time: one bit per unit for the spaces, the six marks, the three sentence
// ends and "<". The rules' fast path reads these masks instead of the units.
//
//   std::vector<UnitClasses> classes;
//   ClassifyText(text.data(), text.size(), classes);
//   bool spaceAt70 = classes[1].space >> 6 & 1;
//
// Bytes and UTF-16 units are classified with the widest vectors the
// processor has (chosen once, at run time); every kind gives the same masks.
// Thread safety: pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Bit k of each mask stands for unit 64 * chunk + k. Units past the text are
// none of these.
struct UnitClasses {
    uint64_t space = 0, mark = 0, end = 0, angle = 0;
    bool operator==(const UnitClasses&) const = default;
};

inline constexpr std::size_t kClassChunk = 64;

#if defined(__SSE2__)
// Sixteen units as sixteen bytes; a UTF-16 unit above 255 saturates to 0 or
// 255, neither of which a classifier or a search looks for.
inline __m128i Load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i Load16(const char16_t* p) {
    const auto* at = reinterpret_cast<const __m128i*>(p);
    return _mm_packus_epi16(_mm_loadu_si128(at), _mm_loadu_si128(at + 1));
}
#endif

enum class ClassifierKind { kPortable, kAvx2, kAvx512 };

bool ClassifierRuns(ClassifierKind kind);

// Classifies chunks * 64 units at p into out[0, chunks); kind must run here.
void ClassifyChunks(ClassifierKind kind, const char* p, std::size_t chunks, UnitClasses* out);
void ClassifyChunks(ClassifierKind kind, const char16_t* p, std::size_t chunks, UnitClasses* out);

// The classes of text[0, size): one entry per chunk begun and one more past
// the end, so that every chunk of the text has a next one.
void ClassifyText(const char* text, std::size_t size, std::vector<UnitClasses>& classes);
void ClassifyText(const char16_t* text, std::size_t size, std::vector<UnitClasses>& classes);
