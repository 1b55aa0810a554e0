#include "unit_classes.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define PHRASEMILL_WIDE_CLASSIFIERS 1
#endif

namespace {

constexpr std::size_t kChunk = kClassChunk;

inline uint32_t Unit(char c) { return static_cast<unsigned char>(c); }
inline uint32_t Unit(char16_t c) { return c; }

template <typename Char>
UnitClasses ClassifyChunk(const Char* p) {
    UnitClasses k;
#if defined(__SSE2__)
    for (int b = 0; b < 4; ++b) {
        const __m128i v = Load16(p + 16 * b);
        const auto is = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
        const __m128i ends = _mm_or_si128(is('.'), _mm_or_si128(is('!'), is('?')));
        // ":" and ";" differ only in bit 0.
        const __m128i colons =
            _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xFE))), _mm_set1_epi8(':'));
        const __m128i marks = _mm_or_si128(ends, _mm_or_si128(is(','), colons));
        const auto bits = [](__m128i m) { return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(m))); };
        const int shift = 16 * b;
        k.space |= bits(is(' ')) << shift;
        k.mark |= bits(marks) << shift;
        k.end |= bits(ends) << shift;
        k.angle |= bits(is('<')) << shift;
    }
#else
    for (std::size_t j = 0; j < kChunk; ++j) {
        const uint32_t c = Unit(p[j]);
        const bool end = c == '.' || c == '!' || c == '?';
        k.space |= static_cast<uint64_t>(c == ' ') << j;
        k.mark |= static_cast<uint64_t>(end || c == ',' || c == ':' || c == ';') << j;
        k.end |= static_cast<uint64_t>(end) << j;
        k.angle |= static_cast<uint64_t>(c == '<') << j;
    }
#endif
    return k;
}

template <typename Char>
void ClassifyPortable(const Char* p, std::size_t chunks, UnitClasses* out) {
    for (std::size_t k = 0; k < chunks; ++k) out[k] = ClassifyChunk(p + k * kChunk);
}

#if defined(PHRASEMILL_WIDE_CLASSIFIERS)
// No lambdas here: they would not inherit the target. UTF-16 units are
// narrowed as Load16 narrows them; the packs work within 128-bit lanes, so
// their 64-bit pieces are put back in order.
__attribute__((target("avx2"))) inline __m256i Load32(const char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) inline __m256i Load32(const char16_t* p) {
    const auto* at = reinterpret_cast<const __m256i*>(p);
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(_mm256_loadu_si256(at), _mm256_loadu_si256(at + 1)),
                                    0b11'01'10'00);
}

template <typename Char>
__attribute__((target("avx2"))) void ClassifyAvx2(const Char* p, std::size_t chunks, UnitClasses* out) {
    const __m256i space = _mm256_set1_epi8(' '), stop = _mm256_set1_epi8('.'), bang = _mm256_set1_epi8('!'),
                  question = _mm256_set1_epi8('?'), comma = _mm256_set1_epi8(','), colon = _mm256_set1_epi8(':'),
                  angle = _mm256_set1_epi8('<'), colonMask = _mm256_set1_epi8(static_cast<char>(0xFE));
    for (std::size_t k = 0; k < chunks; ++k) {
        UnitClasses c;
        for (int half = 0; half < 2; ++half) {
            const __m256i v = Load32(p + k * kChunk + 32 * half);
            const __m256i ends =
                _mm256_or_si256(_mm256_cmpeq_epi8(v, stop),
                                _mm256_or_si256(_mm256_cmpeq_epi8(v, bang), _mm256_cmpeq_epi8(v, question)));
            const __m256i marks =
                _mm256_or_si256(ends, _mm256_or_si256(_mm256_cmpeq_epi8(v, comma),
                                                      _mm256_cmpeq_epi8(_mm256_and_si256(v, colonMask), colon)));
            const int shift = 32 * half;
            c.space |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, space))))
                       << shift;
            c.mark |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(marks))) << shift;
            c.end |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(ends))) << shift;
            c.angle |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, angle))))
                       << shift;
        }
        out[k] = c;
    }
}

__attribute__((target("avx512bw"))) inline __m512i Load64(const char* p) { return _mm512_loadu_si512(p); }

__attribute__((target("avx512bw"))) inline __m512i Load64(const char16_t* p) {
    const __m512i packed = _mm512_packus_epi16(_mm512_loadu_si512(p), _mm512_loadu_si512(p + 32));
    return _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), packed);
}

template <typename Char>
__attribute__((target("avx512bw"))) void ClassifyAvx512(const Char* p, std::size_t chunks, UnitClasses* out) {
    const __m512i space = _mm512_set1_epi8(' '), stop = _mm512_set1_epi8('.'), bang = _mm512_set1_epi8('!'),
                  question = _mm512_set1_epi8('?'), comma = _mm512_set1_epi8(','), colon = _mm512_set1_epi8(':'),
                  angle = _mm512_set1_epi8('<'), colonMask = _mm512_set1_epi8(static_cast<char>(0xFE));
    for (std::size_t k = 0; k < chunks; ++k) {
        const __m512i v = Load64(p + k * kChunk);
        const uint64_t ends =
            _mm512_cmpeq_epi8_mask(v, stop) | _mm512_cmpeq_epi8_mask(v, bang) | _mm512_cmpeq_epi8_mask(v, question);
        const uint64_t marks = ends | _mm512_cmpeq_epi8_mask(v, comma) |
                               _mm512_cmpeq_epi8_mask(_mm512_and_si512(v, colonMask), colon);
        out[k] = {_mm512_cmpeq_epi8_mask(v, space), marks, ends, _mm512_cmpeq_epi8_mask(v, angle)};
    }
}
#endif

ClassifierKind BestKind() {
    for (ClassifierKind kind : {ClassifierKind::kAvx512, ClassifierKind::kAvx2})
        if (ClassifierRuns(kind)) return kind;
    return ClassifierKind::kPortable;
}

template <typename Char>
void ClassifyWide(ClassifierKind kind, const Char* p, std::size_t chunks, UnitClasses* out) {
#if defined(PHRASEMILL_WIDE_CLASSIFIERS)
    if (kind == ClassifierKind::kAvx512) return ClassifyAvx512(p, chunks, out);
    if (kind == ClassifierKind::kAvx2) return ClassifyAvx2(p, chunks, out);
#endif
    ClassifyPortable(p, chunks, out);
}

template <typename Char>
void ClassifyWhole(const Char* p, std::size_t chunks, UnitClasses* out) {
    static const ClassifierKind best = BestKind();
    ClassifyWide(best, p, chunks, out);
}

template <typename Char>
void ClassifyAll(const Char* text, std::size_t size, std::vector<UnitClasses>& classes) {
    const std::size_t whole = size / kChunk;
    classes.resize(whole + 2);
    ClassifyWhole(text, whole, classes.data());
    Char padded[kChunk];
    std::fill(padded, padded + kChunk, Char('x'));
    std::copy(text + whole * kChunk, text + size, padded);
    ClassifyWhole(padded, 1, classes.data() + whole);
    classes[whole + 1] = UnitClasses{};
}

}  // namespace

bool ClassifierRuns(ClassifierKind kind) {
#if defined(PHRASEMILL_WIDE_CLASSIFIERS)
    __builtin_cpu_init();
    if (kind == ClassifierKind::kAvx512) return __builtin_cpu_supports("avx512bw");
    if (kind == ClassifierKind::kAvx2) return __builtin_cpu_supports("avx2");
#endif
    return kind == ClassifierKind::kPortable;
}

void ClassifyChunks(ClassifierKind kind, const char* p, std::size_t chunks, UnitClasses* out) {
    ClassifyWide(kind, p, chunks, out);
}

void ClassifyChunks(ClassifierKind kind, const char16_t* p, std::size_t chunks, UnitClasses* out) {
    ClassifyWide(kind, p, chunks, out);
}

void ClassifyText(const char* text, std::size_t size, std::vector<UnitClasses>& classes) {
    ClassifyAll(text, size, classes);
}

void ClassifyText(const char16_t* text, std::size_t size, std::vector<UnitClasses>& classes) {
    ClassifyAll(text, size, classes);
}
