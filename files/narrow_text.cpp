#include "narrow_text.h"

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define PHRASEMILL_WIDE_NARROWERS 1
#endif

namespace {

bool NarrowRest(char* target, const char16_t* source, std::size_t i, std::size_t n) {
    for (; i < n; ++i) {
        if (source[i] >= 0x100) return false;
        target[i] = static_cast<char>(source[i]);
    }
    return true;
}

bool NarrowPortable(char* target, const char16_t* source, std::size_t n) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i highBytes = _mm_set1_epi16(static_cast<short>(0xFF00));
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i + 8));
        const __m128i over = _mm_and_si128(_mm_or_si128(low, next), highBytes);
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(over, zero)) != 0xFFFF) return false;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + i), _mm_packus_epi16(low, next));
    }
#endif
    return NarrowRest(target, source, i, n);
}

#if defined(PHRASEMILL_WIDE_NARROWERS)
__attribute__((target("avx2"))) bool NarrowAvx2(char* target, const char16_t* source, std::size_t n) {
    const __m256i highBytes = _mm256_set1_epi16(static_cast<short>(0xFF00));
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i + 16));
        if (!_mm256_testz_si256(_mm256_or_si256(low, next), highBytes)) return false;
        // The pack works within 128-bit lanes: its 64-bit pieces are put back in order.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(low, next), 0b11'01'10'00);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + i), packed);
    }
    return NarrowRest(target, source, i, n);
}

// The last step's units are loaded and stored under a mask, so short texts
// take no scalar loop.
__attribute__((target("avx512bw"))) bool NarrowAvx512(char* target, const char16_t* source, std::size_t n) {
    const __m512i highBytes = _mm512_set1_epi16(static_cast<short>(0xFF00));
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m512i units = _mm512_loadu_si512(source + i);
        if (_mm512_test_epi16_mask(units, highBytes) != 0) return false;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + i), _mm512_cvtepi16_epi8(units));
    }
    if (i == n) return true;
    const auto tail = static_cast<__mmask32>((uint32_t{1} << (n - i)) - 1);
    const __m512i units = _mm512_maskz_loadu_epi16(tail, source + i);
    if (_mm512_test_epi16_mask(units, highBytes) != 0) return false;
    _mm512_mask_cvtepi16_storeu_epi8(target + i, tail, units);
    return true;
}
#endif

NarrowerKind BestKind() {
    for (NarrowerKind kind : {NarrowerKind::kAvx512, NarrowerKind::kAvx2})
        if (NarrowerRuns(kind)) return kind;
    return NarrowerKind::kPortable;
}

}  // namespace

bool NarrowerRuns(NarrowerKind kind) {
#if defined(PHRASEMILL_WIDE_NARROWERS)
    __builtin_cpu_init();
    if (kind == NarrowerKind::kAvx512) return __builtin_cpu_supports("avx512bw");
    if (kind == NarrowerKind::kAvx2) return __builtin_cpu_supports("avx2");
#endif
    return kind == NarrowerKind::kPortable;
}

bool NarrowText(NarrowerKind kind, char* target, std::u16string_view text) {
#if defined(PHRASEMILL_WIDE_NARROWERS)
    if (kind == NarrowerKind::kAvx512) return NarrowAvx512(target, text.data(), text.size());
    if (kind == NarrowerKind::kAvx2) return NarrowAvx2(target, text.data(), text.size());
#endif
    return NarrowPortable(target, text.data(), text.size());
}

bool NarrowText(char* target, std::u16string_view text) {
    static const NarrowerKind best = BestKind();
    return NarrowText(best, target, text);
}
