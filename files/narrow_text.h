// The row store's narrow form of a text: one byte per UTF-16 unit, for texts
// whose units are all below U+0100 (ISO 8859-1). Copying and checking go
// together, 16 to 32 units a step with the widest vectors the processor has
// (chosen once, at run time); every kind writes the same bytes and gives the
// same answer.
//
//   char bytes[5];
//   bool narrow = NarrowText(bytes, u"caf\u00E9s");   // true, bytes hold "caf\xE9s"
//   narrow = NarrowText(bytes, u"\u0100");           // false, bytes partly written
//
// Thread safety: pure functions.
#pragma once

#include <string_view>

enum class NarrowerKind { kPortable, kAvx2, kAvx512 };

bool NarrowerRuns(NarrowerKind kind);

// Writes text to target, text.size() bytes, while every unit is below
// U+0100; false, with target partly written, when one is not. kind must run
// here.
bool NarrowText(NarrowerKind kind, char* target, std::u16string_view text);
bool NarrowText(char* target, std::u16string_view text);  // the widest kind that runs
