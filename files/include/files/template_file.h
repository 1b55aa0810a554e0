// The template file: "DefaultText.txt" next to the program, loaded at start
// and written at exit, and the Save command's file. Read whole (no size
// limit), UTF-8; written with CR LF line breaks through the atomic writer.
//
//   std::u16string text;
//   if (LoadTemplateFile(path, text)) editor.SetText(text);
//   SaveDefaultTemplate(path, editor.Text());   // trims; keeps the file when blank
//
// Thread safety: pure file operations.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Reads the whole file: skips a UTF-8 byte-order mark, stops at a 0x1A or zero
// byte, decodes UTF-8 (invalid bytes become U+FFFD) and makes every line break
// CR LF. False when the file is missing, unreadable or empty.
bool LoadTemplateFile(const std::filesystem::path& path, std::u16string& text);

// The Save command: writes the whole text, untrimmed; any line break (LF, CR,
// CR LF) is written as CR LF. False for an empty text or a failed write.
bool SaveTemplateFile(const std::filesystem::path& path, std::u16string_view text);

// The exit save: trims white space at both ends; a blank text leaves the file
// untouched (returns true). Writes through SaveTemplateFile otherwise; the
// old file stays whole when that fails.
bool SaveDefaultTemplate(const std::filesystem::path& path, std::u16string_view text);
