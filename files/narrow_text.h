// The row store's narrow form of a text: one byte per UTF-16 unit, for texts
// whose units are all below U+0100 (ISO 8859-1). Copying and checking go
// together, 16 to 32 units a step with the widest vectors the processor has
// (chosen once, at run time); every kind writes the same bytes and gives the
// same answer. The same form is made from UTF-8, 16 ASCII bytes a step, or 64
// bytes of ASCII and two-byte characters with AVX-512 VBMI2.
//
//   char bytes[6];
//   bool narrow = NarrowText(bytes, u"caf\u00E9s");   // true, bytes hold "caf\xE9s"
//   narrow = NarrowText(bytes, u"\u0100");           // false, bytes partly written
//   std::size_t n = NarrowUtf8(bytes, "caf\xC3\xA9s");  // 5, bytes hold "caf\xE9s"
//
// Thread safety: pure functions.
#pragma once

#include <cstddef>
#include <string_view>

enum class NarrowerKind { kPortable, kAvx2, kAvx512 };

bool NarrowerRuns(NarrowerKind kind);

// Writes text to target, text.size() bytes, while every unit is below
// U+0100; false, with target partly written, when one is not. kind must run
// here.
bool NarrowText(NarrowerKind kind, char* target, std::u16string_view text);
bool NarrowText(char* target, std::u16string_view text);  // the widest kind that runs

// UTF-8 to the same form: the number of characters written to target, which
// has room for bytes.size() bytes; kNotNarrow (target partly written) at the
// first character above U+00FF or sequence that is not valid UTF-8.
// kAvx512 takes 64 bytes a step, two-byte characters included, where the
// processor has the byte compress of AVX-512 VBMI2; kAvx2 does not exist.
inline constexpr std::size_t kNotNarrow = static_cast<std::size_t>(-1);
bool Utf8NarrowerRuns(NarrowerKind kind);
std::size_t NarrowUtf8(NarrowerKind kind, char* target, std::string_view bytes);  // kind must run here
std::size_t NarrowUtf8(char* target, std::string_view bytes);  // the widest kind that runs
