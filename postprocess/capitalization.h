// The capitalisation step that auto-correction's sentence and line rules
// share.
//
//   std::u16string t = u"<br>ωmega";
//   UpperCaseAt(t, 0);   // "<br>Ωmega": the line-break tag is skipped
//
// Upper-case forms use ICU simple case mapping; a letter outside the BMP is
// mapped as a whole surrogate pair, a lone surrogate stays as it is.
// Thread safety: a pure function.
#pragma once

#include <cstddef>
#include <string>

// Skips transparent tags (<p>, </p>, <br>, </br>) at k, then upper-cases the character reached.
void UpperCaseAt(std::u16string& text, std::size_t k);
