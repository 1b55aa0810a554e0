// The file writer's name and path handling: separator expansion, numbered
// names, the default extension, and writing, replacing and appending under
// any name inside a scratch folder. Names that are absolute or climb out with
// ".." are not tried (nor NULs), so nothing outside the scratch folder is touched. A
// successful write leaves exactly the target with exactly its text; a failed
// one leaves nothing behind, temporary files included.
#include "files/result_files.h"
#include "text/text_encoding.h"
#include "fuzz_input.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

namespace fs = std::filesystem;

namespace {

const fs::path& ScratchFolder() {
    static const fs::path folder = [] {
        std::string pattern = (fs::temp_directory_path() / "result_files_fuzz.XXXXXX").string();
        FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
        std::atexit([] { std::error_code e; fs::remove_all(ScratchFolder(), e); });
        return fs::path(pattern);
    }();
    return folder;
}

std::vector<fs::path> Entries(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& e : fs::recursive_directory_iterator(folder)) found.push_back(e.path());
    return found;
}

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void EmptyScratch() {
    for (const auto& e : fs::directory_iterator(ScratchFolder())) fs::remove_all(e.path());
}

bool StaysInside(const fs::path& relative) {
    if (relative.empty() || relative.has_root_path()) return false;
    for (const fs::path& part : relative) {
        if (part == "..") return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CFuzzInput in(data, size);
    const int64_t number = static_cast<int64_t>(in.Byte()) << (in.Byte() % 48);
    const std::u16string all = in.RestAsText();
    const std::size_t split = all.find(u'\n');
    const std::u16string name = all.substr(0, split);
    const std::u16string text = split == std::u16string::npos ? u"" : all.substr(split + 1);

    // "<br>" markers become CR LF and nothing else changes.
    const std::u16string expanded = ExpandSeparator(text);
    std::u16string naive = text;
    for (std::size_t at = naive.find(u"<br>"); at != std::u16string::npos; at = naive.find(u"<br>", at + 2)) {
        naive.replace(at, 4, u"\r\n");
    }
    FUZZ_CHECK(expanded == naive);

    const std::string numbered = ToNarrow(ResultFileName(number));
    FUZZ_CHECK(numbered.size() >= std::strlen("result0000000.txt"));
    FUZZ_CHECK(numbered.starts_with("result") && numbered.ends_with(".txt"));
    FUZZ_CHECK(std::stoll(numbered.substr(6, numbered.size() - 10)) == number);

    const fs::path relative = PathFromUtf16(name);
    const fs::path completed = WithDefaultExtension(relative);
    FUZZ_CHECK(completed.parent_path() == relative.parent_path());
    FUZZ_CHECK(completed.filename().native().find('.') != std::string::npos || relative.filename().empty());
    if (relative.filename().native().find('.') != std::string::npos) FUZZ_CHECK(completed == relative);

    // A NUL cannot reach the writer from a file dialog or an argument list.
    if (!StaysInside(relative) || name.find(u'\0') != std::u16string::npos) return 0;
    const fs::path target = ScratchFolder() / relative;
    const std::string narrow = ToNarrow(text);

    const bool written = WriteTextFile(text, target, true);
    std::vector<fs::path> left = Entries(ScratchFolder());
    if (written) {
        FUZZ_CHECK(!text.empty());
        FUZZ_CHECK(left.size() == 1 && fs::equivalent(left[0], target));
        FUZZ_CHECK(Contents(target) == narrow);
        // Appending adds to the end; replacing makes it whole again.
        FUZZ_CHECK(WriteTextFile(u"+", target, false));
        FUZZ_CHECK(Contents(target) == narrow + "+");
        FUZZ_CHECK(WriteTextFile(text, target, true));
        FUZZ_CHECK(Contents(target) == narrow);
        FUZZ_CHECK(Entries(ScratchFolder()).size() == 1);
    } else {
        FUZZ_CHECK(left.empty());
    }
    EmptyScratch();
    return 0;
}
