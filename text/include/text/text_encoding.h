// Conversions between the program's UTF-16 text and the 8-bit text of files
// and of the similarity test (UTF-8 without a byte-order mark).
//
//   std::u16string wide;
//   if (!DecodeUtf8(bytes, wide)) { /* report invalid UTF-8 */ }
//   std::string narrow = ToNarrow(wide);          // lone surrogates -> "?"
//   std::u16string editorText = NormalizeLineBreaks(wide);  // CR LF only
//
// Thread safety: pure functions, callable from any thread.
#pragma once

#include <string>
#include <string_view>

// UTF-16 -> UTF-8. A code unit that is not part of a valid surrogate pair is
// written as "?", the stand-in for a character the narrow text cannot hold.
std::string ToNarrow(std::u16string_view text);
void AppendNarrow(std::u16string_view text, std::string& out);
// One code point (below U+110000, not a surrogate) as UTF-8.
void AppendUtf8(char32_t codePoint, std::string& out);

// UTF-8 -> UTF-16. Returns false (and leaves out unspecified) when the bytes are
// not valid UTF-8 (overlong forms, surrogates and values above U+10FFFF count as
// invalid). A leading byte-order mark is not skipped here.
bool DecodeUtf8(std::string_view bytes, std::u16string& out);

// UTF-8 -> UTF-16 for bytes already known to be valid or where a lossy result
// is wanted: every invalid sequence becomes U+FFFD.
std::u16string FromNarrowLossy(std::string_view bytes);

// LF, CR and CR LF line breaks all become CR LF, as in the editor.
std::u16string NormalizeLineBreaks(std::u16string_view text);

// Convenience for literals in tests and messages (ASCII/UTF-8 input).
inline std::u16string U16(std::string_view utf8) { return FromNarrowLossy(utf8); }
