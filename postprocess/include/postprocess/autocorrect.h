// Auto-correction of one version: spacing, punctuation and capital letters by
// eight on/off rules, optionally leaving four simple HTML tags alone.
//
//   std::u16string v = u"  hello ,world..how are you?i am fine  ";
//   AutoCorrect(v, AutoCorrectionOptions{});  // "Hello, world. How are you? I am fine"
//
// Upper-case forms use ICU simple case mapping, whatever the process locale;
// a letter outside the BMP is mapped as a whole surrogate pair, a lone
// surrogate stays as it is.
// Linear in the text's length, tag search included (all tags are found in one
// pass with the same result as the bracket matcher's forward search).
// With every flag off the text is left untouched at no cost.
// Thread safety: callable from any thread (scratch buffers are per thread).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct AutoCorrectionOptions {
    uint8_t trimLine = 1;
    uint8_t removeSpacesBeforePunctuation = 1;
    uint8_t removeExtraSpaces = 1;
    uint8_t capitalizeLine = 1;
    uint8_t capitalizeSentences = 1;
    uint8_t addSpacesAfterPunctuation = 1;
    uint8_t removeExtraPunctuation = 1;
    uint8_t skipHtmlTags = 1;

    static AutoCorrectionOptions AllOff();
    // The eight flags as bytes, in field order (the stored layout).
    std::array<uint8_t, 8> ToBytes() const;
    static AutoCorrectionOptions FromBytes(const std::array<uint8_t, 8>& bytes);
    bool AnyOn() const;
    bool operator==(const AutoCorrectionOptions&) const = default;
};

void AutoCorrect(std::u16string& text, const AutoCorrectionOptions& options);
// Corrects text[begin, size) as AutoCorrect corrects a text of its own, and
// leaves text[0, begin) as it is: a version appended to a block of versions is
// corrected where it lies.
void AutoCorrectTail(std::u16string& text, std::size_t begin, const AutoCorrectionOptions& options);
// AutoCorrectTail on UTF-8: text[begin, size) ends up as the UTF-8 form of
// the same version corrected as UTF-16, so a version built as UTF-8 needs no
// round trip. The bytes must be what EncodeUtf8 writes for a text without
// lone surrogates (the "?" that stands for one would count as a mark).
void AutoCorrectUtf8Tail(std::string& text, std::size_t begin, const AutoCorrectionOptions& options);
