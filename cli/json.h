// The small JSON subset the command line reads and writes: one flat object
// per line whose values are strings or numbers (the result rows
// {"n","length","text"}), and properly escaped string output.
//
//   JsonObject row;
//   std::string error;
//   if (!ParseJsonObject(u"{\"n\": 3, \"text\": \"a\\u00e9\"}", row, error)) Report(error);
//   const JsonField* text = row.Find(u"text");
//
//   std::u16string line = u"{\"text\":";
//   AppendJsonString(version, line);   // then ToNarrow(line) for UTF-8
//
// The reader is strict: no other value types, no duplicate keys, no raw
// control characters inside strings, nothing after the object but blanks.
// Escaped lone surrogates are kept as the code units they name, since the
// program's text is UTF-16. The writer escapes quotes, backslashes and control
// characters and writes a lone surrogate of the text as "?", the same stand-in
// that the UTF-8 conversion of text output and files uses.
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct JsonField {
    std::u16string key;
    bool isString = false;
    std::u16string text;        // the decoded string value
    std::u16string numberText;  // a number exactly as written
};

struct JsonObject {
    std::vector<JsonField> fields;
    const JsonField* Find(std::u16string_view key) const;
};

// Parses one object filling out; on a defect returns false and describes it in error.
bool ParseJsonObject(std::u16string_view text, JsonObject& out, std::string& error);

// A number field as a whole integer (no fraction or exponent), if it is one that fits.
std::optional<int64_t> JsonInteger(const JsonField& field);

// Appends text as a JSON string literal, quotes included.
void AppendJsonString(std::u16string_view text, std::u16string& out);
