#include "text/text_encoding.h"
#include "utf8_encoders.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// The conversion one character at a time, as the rules state it.
std::string ReferenceUtf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        char32_t cp = c;
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out.push_back('?');
            continue;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

// ASCII runs of every length around the block sizes, mixed with characters of
// two, three and four bytes (alone and in runs longer than a block) and with
// lone surrogates, also at the ends.
std::u16string RandomText(std::mt19937& rng) {
    static const std::vector<std::u16string> others = {
        u"é", u"я", u"€", u"\U0001F600", u"\x7F", u"\x80", u"\uFFFF", u"\u07FF",
        u"съешь же ещё этих мягких французских булок", u"naïve façade, crème brûlée"};
    std::u16string text;
    const int pieces = static_cast<int>(rng() % 8);
    for (int p = 0; p < pieces; ++p) {
        const int ascii = static_cast<int>(rng() % 40);
        for (int k = 0; k < ascii; ++k) text.push_back(static_cast<char16_t>(0x20 + rng() % 0x5F));
        switch (rng() % 4) {
            case 0: text += others[rng() % others.size()]; break;
            case 1: text.push_back(static_cast<char16_t>(0xD800 + rng() % 0x400)); break;  // lone high
            case 2: text.push_back(static_cast<char16_t>(0xDC00 + rng() % 0x400)); break;  // lone low
            default: break;
        }
    }
    return text;
}

// Every encoder the processor can run, by name, for the failure messages.
std::vector<std::pair<EUtf8Encoder, const char*>> RunnableEncoders() {
    std::vector<std::pair<EUtf8Encoder, const char*>> encoders;
    for (const auto& [encoder, name] : {std::pair{EUtf8Encoder::kWords, "words"}, std::pair{EUtf8Encoder::kSse2, "sse2"},
                                        std::pair{EUtf8Encoder::kCompressing, "compressing"}}) {
        if (Utf8EncoderRuns(encoder)) encoders.emplace_back(encoder, name);
    }
    return encoders;
}

// Each encoder on its own, into exactly the room it is promised (a longer
// block store than that shows up as a changed guard byte).
std::string EncodeWith(EUtf8Encoder encoder, std::u16string_view text) {
    constexpr char kGuard = '\x5A';
    std::string buffer(MaxUtf8Bytes(text.size()) + 64, kGuard);
    const std::size_t size = EncodeUtf8With(encoder, text, buffer.data());
    for (std::size_t i = MaxUtf8Bytes(text.size()); i < buffer.size(); ++i) {
        if (buffer[i] != kGuard) return "wrote past its room";
    }
    buffer.resize(size);
    return buffer;
}

// The texts where the block encoders change step: ASCII runs of every length
// across the 16- and 32-unit blocks, alone and in front of and behind each
// kind of other character (so a pair or a lone surrogate lands on every
// block border), runs of two- and three-byte characters, and mixtures.
std::vector<std::u16string> BorderTexts() {
    const std::vector<std::u16string> others = {
        u"é", u"߿", u"ࠀ", u"€", u"￿", u"😀", u"􏿿",
        u"Ø3D", u"Þ00", u"Þ00Ø3D", u""};
    std::vector<std::u16string> texts;
    for (std::size_t run = 0; run <= 80; ++run) {
        std::u16string ascii;
        for (std::size_t k = 0; k < run; ++k) ascii.push_back(static_cast<char16_t>(u'!' + k % 90));
        texts.push_back(ascii);
        texts.push_back(std::u16string(run, u'я'));
        texts.push_back(std::u16string(run, u'€'));
        std::u16string alternating;
        for (std::size_t k = 0; k < run; ++k) alternating.push_back(k % 2 ? u'ж' : u'z');
        texts.push_back(alternating);
        for (const std::u16string& other : others) {
            texts.push_back(ascii + other);
            texts.push_back(other + ascii);
            texts.push_back(ascii + other + ascii);
            texts.push_back(std::u16string(run, u'я') + other + std::u16string(40, u'ы'));
        }
    }
    return texts;
}

TEST(TextEncoding, EveryEncoderMatchesTheCharacterByCharacterConversion) {
    const auto encoders = RunnableEncoders();
    ASSERT_GE(encoders.size(), 1u);
    std::mt19937 rng(13);
    std::vector<std::u16string> texts = BorderTexts();
    for (int i = 0; i < 5000; ++i) texts.push_back(RandomText(rng));
    for (const std::u16string& text : texts) {
        const std::string expected = ReferenceUtf8(text);
        for (const auto& [encoder, name] : encoders) {
            ASSERT_EQ(EncodeWith(encoder, text), expected) << name << ", " << text.size() << " units";
        }
    }
}

TEST(TextEncoding, EncodersMatchTheCharacterByCharacterConversion) {
    std::mt19937 rng(11);
    for (int iteration = 0; iteration < 20000; ++iteration) {
        const std::u16string text = RandomText(rng);
        const std::string expected = ReferenceUtf8(text);
        ASSERT_EQ(ToNarrow(text), expected);
        std::string buffer(MaxUtf8Bytes(text.size()), '\0');
        buffer.resize(EncodeUtf8(text, buffer.data()));
        ASSERT_EQ(buffer, expected);
    }
    EXPECT_EQ(ToNarrow(u"a\xD83D"), "a?");
    EXPECT_EQ(ToNarrow(u"\xDE00\xD83D\xDE00"), "?\xF0\x9F\x98\x80");
    // Longer than AppendNarrow's chunk, with a pair across the chunk border.
    std::u16string longText(2047, u'x');
    longText += u"\U0001F600tail";
    EXPECT_EQ(ToNarrow(longText), ReferenceUtf8(longText));
}

// The code units of UTF-8 as decoding finds them, by every counter that runs
// here: around the 16- and 64-byte steps and the last, partial one, with
// characters of every width, also astride two steps; and in texts long
// enough for the per-lane counters to be summed on the way.
TEST(TextEncoding, Utf16LengthCountsWhatDecodingGives) {
    for (const EUtf16Counter counter : {EUtf16Counter::kSteps, EUtf16Counter::kMasks}) {
        if (!Utf16CounterRuns(counter)) continue;
        const auto count = [counter](std::string_view bytes) { return Utf16LengthWith(counter, bytes); };
        std::mt19937 rng(14);
        for (int iteration = 0; iteration < 20000; ++iteration) {
            const std::string bytes = ToNarrow(RandomText(rng));
            ASSERT_EQ(count(bytes), FromNarrowLossy(bytes).size()) << bytes;
        }
        for (int iteration = 0; iteration < 20; ++iteration) {
            std::string bytes;
            while (bytes.size() < 20000) bytes += ToNarrow(RandomText(rng));
            ASSERT_EQ(count(bytes), FromNarrowLossy(bytes).size()) << bytes.size() << " bytes";
        }
        // Every lane counts in every step.
        std::string cyrillic;
        std::string faces;
        for (int i = 0; i < 30000; ++i) cyrillic += "\xD1\x8F";
        for (int i = 0; i < 20000; ++i) faces += "\xF0\x9F\x98\x80";
        EXPECT_EQ(count(cyrillic), 30000u);
        EXPECT_EQ(count(faces), 40000u);
    }
}

// Small blocks split the texts everywhere; each text is still converted on
// its own, and a failed drain stops the writing.
TEST(TextEncoding, BlockBufferHandsOnTheSameBytes) {
    std::mt19937 rng(12);
    for (const std::size_t capacity : {std::size_t{64}, std::size_t{67}, std::size_t{1000}}) {
        CUtf8Buffer block(capacity);
        std::string drained;
        std::string expected;
        auto drain = [&](std::string_view bytes) {
            EXPECT_LE(bytes.size(), capacity);
            drained.append(bytes);
            return true;
        };
        for (int i = 0; i < 3000; ++i) {
            const std::u16string text = RandomText(rng);
            expected += ReferenceUtf8(text);
            ASSERT_TRUE(block.Append(text, drain));
        }
        ASSERT_TRUE(block.Flush(drain));
        EXPECT_EQ(drained, expected) << capacity;
        EXPECT_EQ(block.Size(), 0u);
    }
    CUtf8Buffer block(64);
    int calls = 0;
    auto failing = [&](std::string_view) { return ++calls > 1 ? false : true; };
    EXPECT_FALSE(block.Append(std::u16string(200, u'a'), failing));
    EXPECT_EQ(calls, 2);
}

}  // namespace
