// The command line's JSON-lines reader, one object per input line. An object
// it accepts, written back with the writer (strings escaped, numbers as
// written), reads back as the same fields; the writer's only change is a lone
// surrogate becoming "?".
#include "json.h"
#include "fuzz_input.h"

#include <set>

namespace {

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

std::u16string WithLoneSurrogatesReplaced(const std::u16string& s) {
    std::u16string out = s;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (IsHigh(out[i]) && i + 1 < out.size() && IsLow(out[i + 1])) {
            ++i;
        } else if (IsHigh(out[i]) || IsLow(out[i])) {
            out[i] = u'?';
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CFuzzInput in(data, size);
    const std::u16string all = in.RestAsText();
    std::size_t from = 0;
    while (from <= all.size()) {
        std::size_t end = all.find(u'\n', from);
        if (end == std::u16string::npos) end = all.size();
        const std::u16string_view line(all.data() + from, end - from);
        from = end + 1;

        JsonObject row;
        std::string error;
        if (!ParseJsonObject(line, row, error)) {
            FUZZ_CHECK(!error.empty());
            continue;
        }
        // Two keys that differ only in lone surrogates become one key.
        std::set<std::u16string> keys;
        for (const JsonField& field : row.fields) keys.insert(WithLoneSurrogatesReplaced(field.key));
        if (keys.size() != row.fields.size()) continue;

        std::u16string written = u"{";
        for (const JsonField& field : row.fields) {
            if (written.size() > 1) written += u',';
            AppendJsonString(field.key, written);
            written += u':';
            if (field.isString) AppendJsonString(field.text, written);
            else written += field.numberText;
            if (!field.isString) JsonInteger(field);
        }
        written += u'}';

        JsonObject again;
        FUZZ_CHECK(ParseJsonObject(written, again, error));
        FUZZ_CHECK(again.fields.size() == row.fields.size());
        for (std::size_t i = 0; i < row.fields.size(); ++i) {
            const JsonField& a = row.fields[i];
            const JsonField& b = again.fields[i];
            FUZZ_CHECK(b.isString == a.isString);
            FUZZ_CHECK(b.key == WithLoneSurrogatesReplaced(a.key));
            FUZZ_CHECK(b.text == WithLoneSurrogatesReplaced(a.text));
            FUZZ_CHECK(b.numberText == a.numberText);
        }
    }
    return 0;
}
