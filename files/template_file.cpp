#include "files/template_file.h"

#include "text/text_encoding.h"
#include "files/result_files.h"

#include <fstream>

namespace {

bool IsWhiteSpace(char16_t c) {
    switch (c) {
        case u'\t': case u'\n': case u'\v': case u'\f': case u'\r': case u' ':
        case u'\u0085': case u'\u00A0': case u'\u1680': case u'\u2028': case u'\u2029':
        case u'\u202F': case u'\u205F': case u'\u3000':
            return true;
        default:
            return c >= u'\u2000' && c <= u'\u200A';
    }
}

}  // namespace

bool LoadTemplateFile(const std::filesystem::path& path, std::u16string& text) {
    text.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) return false;
    std::string bytes;
    char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (in.bad()) return false;

    std::string_view data = bytes;
    if (data.starts_with("\xEF\xBB\xBF")) data.remove_prefix(3);
    // Old editors end a text file with 0x1A; a zero byte cannot be part of a template.
    data = data.substr(0, data.find_first_of(std::string_view("\x1A\0", 2)));
    if (data.empty()) return false;

    text = NormalizeLineBreaks(FromNarrowLossy(data));
    return true;
}

bool SaveTemplateFile(const std::filesystem::path& path, std::u16string_view text) {
    return WriteTextFile(NormalizeLineBreaks(text), path, true);
}

bool SaveDefaultTemplate(const std::filesystem::path& path, std::u16string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsWhiteSpace(text[first])) ++first;
    while (last > first && IsWhiteSpace(text[last - 1])) --last;
    if (first == last) return true;
    return SaveTemplateFile(path, text.substr(first, last - first));
}
