// Reading the template file whatever encoding it was saved in: UTF-8 (with or
// without a byte-order mark) as the program writes it, or, when the bytes are
// not valid UTF-8, an 8-bit Windows code page: Windows-1251 when the bytes look
// like Cyrillic text, Windows-1252 otherwise. Line breaks become CR LF; a 0x1A
// or zero byte ends the text.
//
//   std::string bytes = ...;                         // the file's whole contents
//   DecodedTemplate decoded = DecodeTemplateBytes(bytes);
//   if (decoded.codePage != 0) TellUser(CodePageName(decoded.codePage));
//   editor.SetText(decoded.text);
//
// Thread safety: pure functions, callable from any thread.
#pragma once

#include <string>
#include <string_view>

struct DecodedTemplate {
    std::u16string text;  // CR LF line breaks
    int codePage = 0;     // 0: UTF-8; otherwise the Windows code page assumed (1251 or 1252)
};

DecodedTemplate DecodeTemplateBytes(std::string_view bytes);

// Bytes of a Windows code page (1251 or 1252) as UTF-16, byte for byte; the few
// byte values a code page leaves undefined become the C1 control of that value.
std::u16string DecodeWindowsCodePage(std::string_view bytes, int codePage);

// 1251 when most of the bytes that are Cyrillic letters in Windows-1251 stand
// in runs of three or more, as the letters of Cyrillic words do; 1252
// otherwise (Western text has its accented letters one or two at a time
// among ASCII letters).
int GuessWindowsCodePage(std::string_view bytes);

// "Windows-1251" or "Windows-1252".
const char* CodePageName(int codePage);
