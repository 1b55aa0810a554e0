// Helpers shared by the fuzz targets: turning the fuzzer's bytes into the
// program's UTF-16 text and options, and a check that fails the input.
//
//   CFuzzInput in(data, size);
//   const AutoCorrectionOptions rules = AutoCorrectionOptions::FromBytes(in.Bits8());
//   const std::u16string text = in.RestAsText();
//   FUZZ_CHECK(text.size() <= size);
//
// The text decoding is lenient on purpose: well-formed UTF-8 decodes as
// usual (so the dictionary's template characters stay single characters),
// encoded surrogates decode to lone surrogate code units (text the editor can
// hold but files cannot), and any other byte stands for the Latin-1
// character of the same value.
// Thread safety: none needed; each target runs one input at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

class CFuzzInput {
public:
    CFuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return pos_ >= size_; }

    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    // Eight on/off flags from one byte, lowest bit first.
    std::array<uint8_t, 8> Bits8() {
        const uint8_t b = Byte();
        std::array<uint8_t, 8> bits{};
        for (int i = 0; i < 8; ++i) bits[static_cast<std::size_t>(i)] = (b >> i) & 1;
        return bits;
    }

    std::u16string RestAsText() {
        std::u16string text = DecodeLenient(data_ + pos_, size_ - pos_);
        pos_ = size_;
        return text;
    }

    static std::u16string DecodeLenient(const uint8_t* p, std::size_t n) {
        std::u16string out;
        out.reserve(n);
        std::size_t i = 0;
        auto continuation = [&](std::size_t k) { return i + k < n && (p[i + k] & 0xC0) == 0x80; };
        while (i < n) {
            const uint8_t b = p[i];
            if (b < 0x80) {
                out += static_cast<char16_t>(b);
                i += 1;
            } else if (b >= 0xC2 && b < 0xE0 && continuation(1)) {
                out += static_cast<char16_t>(((b & 0x1F) << 6) | (p[i + 1] & 0x3F));
                i += 2;
            } else if (b >= 0xE0 && b < 0xF0 && continuation(1) && continuation(2) && (b != 0xE0 || p[i + 1] >= 0xA0)) {
                out += static_cast<char16_t>(((b & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F));
                i += 3;
            } else if (b >= 0xF0 && b < 0xF5 && continuation(1) && continuation(2) && continuation(3)) {
                const char32_t c = (static_cast<char32_t>(b & 0x07) << 18) | ((p[i + 1] & 0x3F) << 12) |
                                   ((p[i + 2] & 0x3F) << 6) | (p[i + 3] & 0x3F);
                if (c < 0x10000 || c > 0x10FFFF) {
                    out += static_cast<char16_t>(b);
                    i += 1;
                    continue;
                }
                out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
                out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
                i += 4;
            } else {
                out += static_cast<char16_t>(b);
                i += 1;
            }
        }
        return out;
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};
