#include "text/text_encoding.h"

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
        AppendUtf8(cp, out);
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
