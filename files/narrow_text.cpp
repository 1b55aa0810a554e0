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

// The character that starts at byte i, when it is below U+0100: U+0080 to
// U+00FF are the two-byte sequences that start with C2 or C3.
bool NarrowCharacter(char* target, std::size_t& written, const unsigned char* source, std::size_t& i, std::size_t n) {
    const unsigned char lead = source[i];
    if (lead < 0x80) {
        target[written++] = static_cast<char>(lead);
        ++i;
        return true;
    }
    if ((lead & 0xFE) != 0xC2 || i + 1 >= n || (source[i + 1] & 0xC0) != 0x80) return false;
    target[written++] = static_cast<char>(((lead & 0x03) << 6) | (source[i + 1] & 0x3F));
    i += 2;
    return true;
}

// From byte i on, one character at a time.
std::size_t NarrowUtf8Rest(char* target, const unsigned char* source, std::size_t i, std::size_t n,
                           std::size_t written) {
    while (i < n)
        if (!NarrowCharacter(target, written, source, i, n)) return kNotNarrow;
    return written;
}

// Runs of ASCII sixteen bytes a step: the bytes go to the target as they are
// and the ASCII ones among them count. The target never runs ahead of the
// source, so the store stays inside its room.
std::size_t NarrowUtf8Portable(char* target, const unsigned char* source, std::size_t n) {
    std::size_t i = 0;
    std::size_t written = 0;
#if defined(__SSE2__)
    while (i + 16 <= n) {
        const __m128i step = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + written), step);
        const auto high = static_cast<unsigned>(_mm_movemask_epi8(step));
        if (high == 0) {
            i += 16;
            written += 16;
            continue;
        }
        const auto ascii = static_cast<std::size_t>(__builtin_ctz(high));
        i += ascii;
        written += ascii;
        if (!NarrowCharacter(target, written, source, i, n)) return kNotNarrow;
    }
#endif
    return NarrowUtf8Rest(target, source, i, n, written);
}

#if defined(PHRASEMILL_WIDE_NARROWERS)
// 64 bytes a step, two-byte sequences included: each continuation byte takes
// the two low bits of the byte before it, and the leads are squeezed out. A
// lead that ends a step is joined from the next one, so that every step starts
// 64 bytes after the last and the loads do not wait on the counting. Anything
// but ASCII and C2/C3 sequences goes to the plain loop, which finds what is
// wrong.
__attribute__((target("avx512bw,avx512vbmi,avx512vbmi2"))) std::size_t NarrowUtf8Avx512(char* target,
                                                                                       const unsigned char* source,
                                                                                       std::size_t n) {
    // Byte k of a step's "previous" is byte k - 1 of the step, byte 0 the last
    // byte of the step before.
    alignas(64) static constexpr unsigned char kPreviousIndex[64] = {
        127, 0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
        21,  22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42,
        43,  44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62};
    const __m512i previousIndex = _mm512_load_si512(kPreviousIndex);
    const __m512i leadBits = _mm512_set1_epi8(static_cast<char>(0xFE));
    const __m512i lead = _mm512_set1_epi8(static_cast<char>(0xC2));
    const __m512i continuationBits = _mm512_set1_epi8(static_cast<char>(0xC0));
    const __m512i continuation = _mm512_set1_epi8(static_cast<char>(0x80));
    const __m512i lowSix = _mm512_set1_epi8(0x3F);
    __m512i before = _mm512_setzero_si512();
    __mmask64 carriedLead = 0;  // bit 0 set when the step before ended in a lead
    std::size_t written = 0;
    for (std::size_t i = 0; i < n; i += 64) {
        const std::size_t left = n - i;
        const bool last = left <= 64;
        const __mmask64 present = last ? (~__mmask64{0} >> (64 - left)) : ~__mmask64{0};
        const __m512i bytes = last ? _mm512_maskz_loadu_epi8(present, source + i) : _mm512_loadu_si512(source + i);
        const __mmask64 high = _mm512_movepi8_mask(bytes);
        // Whole steps are stored whole, which the target's room allows (it
        // never runs ahead of the source) and which costs less than a mask.
        if (high == 0 && carriedLead == 0) {
            if (last) {
                _mm512_mask_storeu_epi8(target + written, present, bytes);
            } else {
                _mm512_storeu_si512(target + written, bytes);
            }
            written += last ? left : 64;
            before = bytes;
            continue;
        }
        const __mmask64 leads = _mm512_cmpeq_epi8_mask(_mm512_and_si512(bytes, leadBits), lead);
        const __mmask64 continuations =
            _mm512_cmpeq_epi8_mask(_mm512_and_si512(bytes, continuationBits), continuation);
        // Every high byte is a lead or a continuation, every continuation
        // follows a lead, and the text does not end in a lead.
        if (high != (leads | continuations) || continuations != ((leads << 1) | carriedLead) ||
            (last && (leads >> (left - 1)) != 0))
            return NarrowUtf8Rest(target, source, carriedLead ? i - 1 : i, n, written);
        const __m512i previous = _mm512_permutex2var_epi8(bytes, previousIndex, before);
        const __m512i joined = _mm512_or_si512(_mm512_and_si512(bytes, lowSix),
                                               _mm512_and_si512(_mm512_slli_epi16(previous, 6), continuationBits));
        const __mmask64 kept = present & ~leads;
        const __m512i narrow = _mm512_maskz_compress_epi8(kept, _mm512_mask_blend_epi8(continuations, bytes, joined));
        const auto keptCount = static_cast<std::size_t>(__builtin_popcountll(kept));
        if (last) {
            _mm512_mask_storeu_epi8(target + written, keptCount == 64 ? ~__mmask64{0} : ~(~__mmask64{0} << keptCount),
                                    narrow);
        } else {
            _mm512_storeu_si512(target + written, narrow);
        }
        written += keptCount;
        carriedLead = leads >> 63;
        before = bytes;
    }
    return written;
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

bool Utf8NarrowerRuns(NarrowerKind kind) {
#if defined(PHRASEMILL_WIDE_NARROWERS)
    __builtin_cpu_init();
    if (kind == NarrowerKind::kAvx512)
        return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi") &&
               __builtin_cpu_supports("avx512vbmi2");
#endif
    return kind == NarrowerKind::kPortable;
}

std::size_t NarrowUtf8(NarrowerKind kind, char* target, std::string_view bytes) {
    const auto* source = reinterpret_cast<const unsigned char*>(bytes.data());
#if defined(PHRASEMILL_WIDE_NARROWERS)
    if (kind == NarrowerKind::kAvx512) return NarrowUtf8Avx512(target, source, bytes.size());
#endif
    (void)kind;
    return NarrowUtf8Portable(target, source, bytes.size());
}

std::size_t NarrowUtf8(char* target, std::string_view bytes) {
    static const NarrowerKind best =
        Utf8NarrowerRuns(NarrowerKind::kAvx512) ? NarrowerKind::kAvx512 : NarrowerKind::kPortable;
    return NarrowUtf8(best, target, bytes);
}
