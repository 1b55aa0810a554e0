#include "text/text_encoding.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "utf8_encoders.h"

#if defined(__SSE2__)
#define PHRASEMILL_SSE2_ENCODER 1
#include <emmintrin.h>
#endif
// Processors with AVX-512 byte compression get an encoder that also writes
// two-byte characters a block at a time; it is chosen when the program starts.
#if defined(__x86_64__) && defined(__GNUC__)
#define PHRASEMILL_COMPRESSING_ENCODER 1
#include <immintrin.h>
#endif

namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendCodePoint(char32_t cp, std::u16string& out) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Decodes one UTF-8 sequence at bytes[i]; returns its length, or 0 when the
// bytes there are not a valid, shortest-form sequence of a scalar value.
size_t DecodeOne(std::string_view bytes, size_t i, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    size_t length;
    char32_t minimum;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        cp = b0 & 0x1F;
        minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        cp = b0 & 0x0F;
        minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        cp = b0 & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > bytes.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(bytes[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

// One code point (not a surrogate) as UTF-8 at out; returns the byte count.
std::size_t PutUtf8(char32_t cp, char* out) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

// Units per step of the ASCII copy; a shorter tail goes one unit at a time.
constexpr std::size_t kAsciiBlock = 16;

// The ASCII copiers: each copies the leading ASCII units of in (n units) to
// out as bytes and returns how many it copied. It stops at the first unit that
// is not ASCII, or before a tail shorter than kAsciiBlock units. It may write
// up to kAsciiBlock bytes past the copied ones (out has room for 3 n bytes).
#if defined(PHRASEMILL_SSE2_ENCODER)
std::size_t CopyAsciiRunSse2(const char16_t* in, std::size_t n, char* out) {
    std::size_t i = 0;
    const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    for (; i + kAsciiBlock <= n; i += kAsciiBlock) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(low, high));
        const __m128i asciiLow = _mm_cmpeq_epi16(_mm_and_si128(low, nonAscii), zero);
        const __m128i asciiHigh = _mm_cmpeq_epi16(_mm_and_si128(high, nonAscii), zero);
        const auto ascii = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(asciiLow, asciiHigh)));
        if (ascii != 0xFFFF) return i + static_cast<std::size_t>(std::countr_one(ascii));
    }
    return i;
}
#endif

std::size_t CopyAsciiRunWords(const char16_t* in, std::size_t n, char* out) {
    static_assert(std::endian::native == std::endian::little, "the word packing assumes little-endian units");
    constexpr uint64_t kNonAscii = 0xFF80FF80FF80FF80ULL;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint64_t x;
        std::memcpy(&x, in + i, sizeof x);
        if ((x & kNonAscii) != 0) break;
        // Four 16-bit units, each below 0x80, to four bytes.
        x = (x | (x >> 8)) & 0x0000FFFF0000FFFFULL;
        x = (x | (x >> 16)) & 0x00000000FFFFFFFFULL;
        const auto bytes = static_cast<uint32_t>(x);
        std::memcpy(out + i, &bytes, 4);
    }
    for (; i < n && n - i >= kAsciiBlock && in[i] < 0x80; ++i) out[i] = static_cast<char>(in[i]);
    return i;
}

using AsciiCopier = std::size_t (*)(const char16_t*, std::size_t, char*);

template <AsciiCopier CopyAsciiRun>
std::size_t EncodeUnitByUnit(const char16_t* in, std::size_t n, char* out) {
    char* const start = out;
    std::size_t i = 0;
    while (i < n) {
        const std::size_t ascii = CopyAsciiRun(in + i, n - i, out);
        i += ascii;
        out += ascii;
        // The characters that are not ASCII (or the short tail) one at a time,
        // up to the next ASCII unit.
        const bool tail = n - i < kAsciiBlock;
        while (i < n && (tail || in[i] >= 0x80)) {
            const char16_t c = in[i];
            if (c < 0x80) {
                *out++ = static_cast<char>(c);
                ++i;
            } else if (IsHighSurrogate(c) && i + 1 < n && IsLowSurrogate(in[i + 1])) {
                const char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (in[i + 1] - 0xDC00);
                out += PutUtf8(cp, out);
                i += 2;
            } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
                *out++ = '?';
                ++i;
            } else {
                out += PutUtf8(c, out);
                ++i;
            }
        }
    }
    return static_cast<std::size_t>(out - start);
}

#if defined(PHRASEMILL_SSE2_ENCODER)
constexpr AsciiCopier kBestAsciiCopier = CopyAsciiRunSse2;
#else
constexpr AsciiCopier kBestAsciiCopier = CopyAsciiRunWords;
#endif

#if defined(PHRASEMILL_COMPRESSING_ENCODER)
constexpr std::size_t kWideBlock = 32;

// Blocks of 32 units below U+0800 are written whole: every unit as its
// two-byte form (or itself when ASCII) in a 16-bit lane, then the bytes that
// belong to the output compressed together. A block holding a larger unit
// goes through EncodeUnitByUnit, as does the tail. out has room for 3 n bytes,
// so the 64-byte store of a block never passes it: before a block at i at most
// 3 i bytes are written and 32 units remain.
__attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt")))
std::size_t EncodeCompressing(const char16_t* in, std::size_t n, char* out) {
    char* const start = out;
    const __m512i twoByteLimit = _mm512_set1_epi16(0x800);
    const __m512i asciiLimit = _mm512_set1_epi16(0x80);
    const __m512i leadBits = _mm512_set1_epi16(0xC0);
    const __m512i trailMask = _mm512_set1_epi16(0x3F);
    const __m512i trailBits = _mm512_set1_epi16(0x80);
    std::size_t i = 0;
    while (n - i >= kWideBlock) {
        const __m512i v = _mm512_loadu_si512(in + i);
        if (_mm512_cmpge_epu16_mask(v, twoByteLimit) != 0) {
            // Never split a surrogate pair between two calls.
            const std::size_t units = IsHighSurrogate(in[i + kWideBlock - 1]) ? kWideBlock - 1 : kWideBlock;
            out += EncodeUnitByUnit<kBestAsciiCopier>(in + i, units, out);
            i += units;
            continue;
        }
        const __mmask32 ascii = _mm512_cmplt_epu16_mask(v, asciiLimit);
        if (ascii == 0xFFFFFFFFu) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm512_maskz_cvtepi16_epi8(~__mmask32{0}, v));
            out += kWideBlock;
            i += kWideBlock;
            continue;
        }
        const __m512i lead = _mm512_or_si512(_mm512_srli_epi16(v, 6), leadBits);
        const __m512i trail = _mm512_or_si512(_mm512_and_si512(v, trailMask), trailBits);
        const __m512i lanes = _mm512_mask_mov_epi16(_mm512_or_si512(lead, _mm512_slli_epi16(trail, 8)), ascii, v);
        const uint64_t wide = ~static_cast<uint64_t>(ascii) & 0xFFFFFFFFu;
        const uint64_t keep = 0x5555555555555555ull | _pdep_u64(wide, 0xAAAAAAAAAAAAAAAAull);
        _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(keep, lanes));
        out += kWideBlock + static_cast<std::size_t>(std::popcount(wide));
        i += kWideBlock;
    }
    out += EncodeUnitByUnit<kBestAsciiCopier>(in + i, n - i, out);
    return static_cast<std::size_t>(out - start);
}

bool CanCompress() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2");
}

const bool kCompressing = CanCompress();
#endif

}  // namespace

void AppendUtf8(char32_t cp, std::string& out) {
    char bytes[4];
    out.append(bytes, PutUtf8(cp, bytes));
}

std::size_t EncodeUtf8(std::u16string_view text, char* out) {
#if defined(PHRASEMILL_COMPRESSING_ENCODER)
    if (kCompressing && text.size() >= kWideBlock) return EncodeCompressing(text.data(), text.size(), out);
#endif
    return EncodeUnitByUnit<kBestAsciiCopier>(text.data(), text.size(), out);
}

bool Utf8EncoderRuns(EUtf8Encoder encoder) {
    switch (encoder) {
        case EUtf8Encoder::kWords: return true;
#if defined(PHRASEMILL_SSE2_ENCODER)
        case EUtf8Encoder::kSse2: return true;
#endif
#if defined(PHRASEMILL_COMPRESSING_ENCODER)
        case EUtf8Encoder::kCompressing: return kCompressing;
#endif
        default: return false;
    }
}

std::size_t EncodeUtf8With(EUtf8Encoder encoder, std::u16string_view text, char* out) {
    switch (encoder) {
#if defined(PHRASEMILL_SSE2_ENCODER)
        case EUtf8Encoder::kSse2: return EncodeUnitByUnit<CopyAsciiRunSse2>(text.data(), text.size(), out);
#endif
#if defined(PHRASEMILL_COMPRESSING_ENCODER)
        case EUtf8Encoder::kCompressing: return EncodeCompressing(text.data(), text.size(), out);
#endif
        default: return EncodeUnitByUnit<CopyAsciiRunWords>(text.data(), text.size(), out);
    }
}

void AppendNarrow(std::u16string_view text, std::string& out) {
    // Encoded through a small block that stays in the first-level cache, so the
    // string grows once by the exact size instead of being over-sized first.
    constexpr std::size_t kChunkUnits = 2048;
    char chunk[MaxUtf8Bytes(kChunkUnits)];
    out.reserve(out.size() + text.size());
    while (!text.empty()) {
        std::size_t units = std::min(text.size(), kChunkUnits);
        if (units < text.size() && IsHighSurrogate(text[units - 1])) --units;
        out.append(chunk, EncodeUtf8(text.substr(0, units), chunk));
        text.remove_prefix(units);
    }
}

std::string ToNarrow(std::u16string_view text) {
    std::string out;
    AppendNarrow(text, out);
    return out;
}

CUtf8Buffer::CUtf8Buffer(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 64)) {}

std::size_t CUtf8Buffer::UnitsThatFit(std::u16string_view text) const {
    std::size_t units = std::min(text.size(), (capacity_ - size_) / MaxUtf8Bytes(1));
    if (units < text.size() && IsHighSurrogate(text[units - 1])) --units;
    return units;
}

void CUtf8Buffer::EncodeUnits(std::u16string_view text) {
    if (!data_) data_.reset(new char[capacity_]);
    size_ += EncodeUtf8(text, data_.get() + size_);
}

bool DecodeUtf8(std::string_view bytes, std::u16string& out) {
    out.clear();
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        char32_t cp;
        const size_t length = DecodeOne(bytes, i, cp);
        if (length == 0) return false;
        AppendCodePoint(cp, out);
        i += length;
    }
    return true;
}

std::size_t AppendUtf8Prefix(std::string_view bytes, std::u16string& out) {
    size_t i = 0;
    while (i < bytes.size()) {
        char32_t cp;
        const size_t length = DecodeOne(bytes, i, cp);
        if (length == 0) break;
        AppendCodePoint(cp, out);
        i += length;
    }
    return i;
}

std::u16string FromNarrowLossy(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        char32_t cp;
        const size_t length = DecodeOne(bytes, i, cp);
        if (length == 0) {
            out.push_back(u'\uFFFD');
            ++i;
        } else {
            AppendCodePoint(cp, out);
            i += length;
        }
    }
    return out;
}

std::u16string NormalizeLineBreaks(std::u16string&& text) {
    size_t bare = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            ++i;
        } else if (text[i] == u'\r' || text[i] == u'\n') {
            ++bare;
        }
    }
    if (bare == 0) return std::move(text);
    // Filled from the back, where the writing never overtakes the reading.
    size_t read = text.size();
    size_t write = read + bare;
    text.resize(write);
    while (read > 0) {
        const char16_t c = text[--read];
        if (c == u'\n' || c == u'\r') {
            if (c == u'\n' && read > 0 && text[read - 1] == u'\r') --read;
            text[--write] = u'\n';
            text[--write] = u'\r';
        } else {
            text[--write] = c;
        }
    }
    return std::move(text);
}

std::u16string NormalizeLineBreaks(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\r') {
            out += u"\r\n";
            if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        } else if (c == u'\n') {
            out += u"\r\n";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

namespace {

std::size_t Utf16LengthBySteps(std::string_view utf8) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    // One unit per byte, less one per continuation byte (10xxxxxx), plus one
    // per four-byte lead (11110xxx).
    std::size_t continuations = 0;
    std::size_t fourByteLeads = 0;
    std::size_t i = 0;
#if defined(__SSE2__) && defined(__x86_64__)
    // Per-lane byte counters, summed before any of them can pass 255.
    const __m128i zero = _mm_setzero_si128();
    const __m128i continuationEnd = _mm_set1_epi8(-64);  // 0xC0: signed, continuations lie below
    const __m128i fourByteStart = _mm_set1_epi8(-17);    // 0xEF: signed, four-byte leads lie above, below 0
    while (i + 16 <= n) {
        __m128i continuationCounts = zero;
        __m128i fourByteCounts = zero;
        const std::size_t stepsEnd = i + 16 * std::min<std::size_t>(255, (n - i) / 16);
        for (; i < stepsEnd; i += 16) {
            const __m128i step = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
            continuationCounts = _mm_sub_epi8(continuationCounts, _mm_cmplt_epi8(step, continuationEnd));
            fourByteCounts = _mm_sub_epi8(
                fourByteCounts, _mm_and_si128(_mm_cmpgt_epi8(step, fourByteStart), _mm_cmplt_epi8(step, zero)));
        }
        const __m128i continuationSums = _mm_sad_epu8(continuationCounts, zero);
        const __m128i fourByteSums = _mm_sad_epu8(fourByteCounts, zero);
        continuations += static_cast<std::size_t>(_mm_cvtsi128_si64(continuationSums)) +
                         static_cast<std::size_t>(_mm_extract_epi16(continuationSums, 4));
        fourByteLeads += static_cast<std::size_t>(_mm_cvtsi128_si64(fourByteSums)) +
                         static_cast<std::size_t>(_mm_extract_epi16(fourByteSums, 4));
    }
#endif
    for (; i < n; ++i) {
        continuations += (bytes[i] & 0xC0) == 0x80;
        fourByteLeads += bytes[i] >= 0xF0;
    }
    return n - continuations + fourByteLeads;
}

#if defined(PHRASEMILL_COMPRESSING_ENCODER)
// Sixty-four bytes a step, each kind of byte picked out by a mask whose bits
// are counted; a step past the end reads zeros, which count as neither.
__attribute__((target("avx512f,avx512bw,popcnt"))) std::size_t Utf16LengthByMasks(std::string_view utf8) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    const __m512i continuationEnd = _mm512_set1_epi8(-64);  // 0xC0: signed, continuations lie below
    const __m512i fourByteStart = _mm512_set1_epi8(static_cast<char>(0xF0));
    std::size_t units = n;
    for (std::size_t i = 0; i < n; i += 64) {
        const std::size_t left = n - i;
        const __mmask64 present = left >= 64 ? ~__mmask64{0} : ~(~__mmask64{0} << left);
        const __m512i step = _mm512_maskz_loadu_epi8(present, bytes + i);
        units -= static_cast<std::size_t>(__builtin_popcountll(_mm512_cmplt_epi8_mask(step, continuationEnd)));
        units += static_cast<std::size_t>(__builtin_popcountll(_mm512_cmpge_epu8_mask(step, fourByteStart)));
    }
    return units;
}

bool CanCountByMasks() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("popcnt");
}

const bool kCountsByMasks = CanCountByMasks();
#endif

}  // namespace

bool Utf16CounterRuns(EUtf16Counter counter) {
    switch (counter) {
        case EUtf16Counter::kSteps: return true;
#if defined(PHRASEMILL_COMPRESSING_ENCODER)
        case EUtf16Counter::kMasks: return kCountsByMasks;
#endif
        default: return false;
    }
}

std::size_t Utf16LengthWith(EUtf16Counter counter, std::string_view utf8) {
#if defined(PHRASEMILL_COMPRESSING_ENCODER)
    if (counter == EUtf16Counter::kMasks) return Utf16LengthByMasks(utf8);
#endif
    (void)counter;
    return Utf16LengthBySteps(utf8);
}

std::size_t Utf16Length(std::string_view utf8) {
    return Utf16LengthWith(Utf16CounterRuns(EUtf16Counter::kMasks) ? EUtf16Counter::kMasks : EUtf16Counter::kSteps,
                           utf8);
}
