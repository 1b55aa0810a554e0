#include "views/template_encoding.h"

#include "text/text_encoding.h"

#include <cstdint>

namespace {

// Code points of the bytes 0x80 to 0xBF; 0xC0 to 0xFF follow a rule per code
// page. A zero entry is a byte the code page leaves undefined.
constexpr char16_t kHigh1251[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0,      0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};
constexpr char16_t kC1Of1252[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char16_t FromCodePage(unsigned char byte, int codePage) {
    if (byte < 0x80) return byte;
    char16_t mapped = 0;
    if (codePage == 1251) {
        mapped = byte >= 0xC0 ? static_cast<char16_t>(0x0410 + (byte - 0xC0)) : kHigh1251[byte - 0x80];
    } else {
        mapped = byte >= 0xA0 ? byte : kC1Of1252[byte - 0x80];
    }
    return mapped != 0 ? mapped : static_cast<char16_t>(byte);
}

bool IsCyrillicLetter1251(unsigned char byte) {
    return byte >= 0xC0 || byte == 0xA8 || byte == 0xB8;
}

}  // namespace

std::u16string DecodeWindowsCodePage(std::string_view bytes, int codePage) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char c : bytes) out.push_back(FromCodePage(static_cast<unsigned char>(c), codePage));
    return out;
}

int GuessWindowsCodePage(std::string_view bytes) {
    std::size_t letters = 0;
    std::size_t inWords = 0;  // letters in runs of three or more
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t run = 0;
        while (i + run < bytes.size() && IsCyrillicLetter1251(static_cast<unsigned char>(bytes[i + run]))) ++run;
        letters += run;
        if (run >= 3) inWords += run;
        i += run > 0 ? run : 1;
    }
    return letters > 0 && inWords * 2 > letters ? 1251 : 1252;
}

const char* CodePageName(int codePage) {
    return codePage == 1251 ? "Windows-1251" : "Windows-1252";
}

DecodedTemplate DecodeTemplateBytes(std::string_view bytes) {
    DecodedTemplate decoded;
    const bool marked = bytes.starts_with("\xEF\xBB\xBF");
    if (marked) bytes.remove_prefix(3);
    // Old editors end a text file with 0x1A; a zero byte cannot be part of a template.
    bytes = bytes.substr(0, bytes.find_first_of(std::string_view("\x1A\0", 2)));
    std::u16string text;
    if (!DecodeUtf8(bytes, text)) {
        if (marked) {
            text = FromNarrowLossy(bytes);  // said to be UTF-8: damaged, not another code page
        } else {
            decoded.codePage = GuessWindowsCodePage(bytes);
            text = DecodeWindowsCodePage(bytes, decoded.codePage);
        }
    }
    decoded.text = NormalizeLineBreaks(text);
    return decoded;
}
