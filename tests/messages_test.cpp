// The message catalogue: every id the source tree uses has a text, every id
// the catalogue declares is used by the program, and the formatter fills
// placeholders as printf would for the texts' "%d", "%ld" and "%s".

#include "text/messages.h"
#include "text/text_encoding.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using TextOf = std::function<std::u16string_view(int)>;

constexpr const char* kCatalogueHeader = "text/include/text/messages.h";
constexpr const char* kCatalogueSource = "text/messages.cpp";

// The file's code with comments and string and character literals blanked
// out, so that only real uses of an id count.
std::string ReadCode(const fs::path& file) {
    std::ifstream in(file);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string code;
    code.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 2, "//") == 0) {
            i = text.find('\n', i);
            if (i == std::string::npos) break;
        } else if (text.compare(i, 2, "/*") == 0) {
            const auto close = text.find("*/", i + 2);
            i = close == std::string::npos ? text.size() : close + 2;
            code += ' ';
        } else if (text.compare(i, 3, "R\"(") == 0) {
            const auto close = text.find(")\"", i + 3);
            i = close == std::string::npos ? text.size() : close + 2;
            code += "\"\"";
        } else if (text[i] == '"' || text[i] == '\'') {
            const char quote = text[i++];
            while (i < text.size() && text[i] != quote && text[i] != '\n') i += text[i] == '\\' ? 2 : 1;
            ++i;
            code += "\"\"";
        } else {
            code += text[i++];
        }
    }
    return code;
}

// Every fault of the catalogue under root, one line each: ids used without a
// text, ids the program uses by number without a text, and ids the program
// (as opposed to its tests) never uses.
std::vector<std::string> CatalogueFaults(const fs::path& root, const TextOf& textOf) {
    static const std::regex declaration(R"(\b(kIds\w+)\s*=\s*(\d+))");
    static const std::regex name(R"(\bkIds\w+\b)");
    static const std::regex numericUse(
        R"(\b(?:MessageText|FormatMessage|LoadStringById|FormatStringById|ShowMessageById)\s*\(\s*(\d+)\s*[,)])");

    std::map<std::string, int> declared;
    const std::string header = ReadCode(root / kCatalogueHeader);
    for (std::sregex_iterator it(header.begin(), header.end(), declaration), end; it != end; ++it)
        declared[(*it)[1]] = std::stoi((*it)[2]);

    std::vector<std::string> faults;
    std::map<std::string, bool> usedByProgram;
    for (const char* folder : {"text", "postprocess", "engine", "run", "insight", "files", "cli", "chrome", "views", "app",
                               "tests", "bench"}) {
        if (!fs::is_directory(root / folder)) continue;
        const bool programCode = std::string(folder) != "tests" && std::string(folder) != "bench";
        for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
            const std::string extension = entry.path().extension().string();
            if (!entry.is_regular_file() || (extension != ".h" && extension != ".cpp")) continue;
            const std::string relative = fs::relative(entry.path(), root).generic_string();
            if (relative == kCatalogueHeader) continue;
            const std::string source = ReadCode(entry.path());
            for (std::sregex_iterator it(source.begin(), source.end(), name), end; it != end; ++it) {
                const std::string id = it->str();
                const auto found = declared.find(id);
                if (found == declared.end()) {
                    faults.push_back(relative + ": " + id + " is not a catalogue id");
                } else if (textOf(found->second).empty()) {
                    faults.push_back(relative + ": " + id + " (" + std::to_string(found->second) + ") has no text");
                }
                if (programCode && relative != kCatalogueSource) usedByProgram[id] = true;
            }
            // Tests may ask for an id without text on purpose.
            if (!programCode) continue;
            for (std::sregex_iterator it(source.begin(), source.end(), numericUse), end; it != end; ++it) {
                if (textOf(std::stoi((*it)[1])).empty())
                    faults.push_back(relative + ": id " + (*it)[1].str() + " has no text");
            }
        }
    }
    for (const auto& [id, value] : declared) {
        if (!usedByProgram.contains(id)) faults.push_back(std::string(kCatalogueHeader) + ": " + id + " is never used");
    }
    return faults;
}

TEST(MessageCatalogue, EveryUsedIdHasATextAndEveryIdIsUsed) {
    const std::vector<std::string> faults = CatalogueFaults(PHRASEMILL_SOURCE_DIR, MessageText);
    std::string report;
    for (const auto& fault : faults) report += fault + "\n";
    EXPECT_TRUE(faults.empty()) << report;
}

TEST(MessageCatalogue, CheckerFindsPlantedFaults) {
    const fs::path root = fs::temp_directory_path() / ("messages_test_" + std::to_string(::getpid()));
    fs::remove_all(root);
    const auto write = [&](const std::string& file, const std::string& text) {
        fs::create_directories((root / file).parent_path());
        std::ofstream(root / file) << text;
    };
    write(kCatalogueHeader,
          "enum MessageId : int {\n  kIdsKept = 320,\n  kIdsNoText = 321,\n  kIdsOnlyInTests = 322,\n"
          "  kIdsOnlyInCatalogue = 323,\n};\n");
    write(kCatalogueSource, "{kIdsKept, u\"x\"}, {kIdsOnlyInTests, u\"y\"}, {kIdsOnlyInCatalogue, u\"z\"},\n");
    write("engine/a.cpp", "auto a = MessageText(kIdsKept);\n// kIdsOnlyInTests in a comment is no use\n");
    write("views/b.cpp", "auto b = LoadStringById(kIdsNoText) + LoadStringById(320) + LoadStringById( 399 );\n");
    write("app/c.cpp", "ShowMessageById(kIdsMissing, 0);\n");
    write("tests/d_test.cpp", "MessageText(kIdsOnlyInTests);\nShowMessageById(99999, 0);\n");
    const std::map<int, std::u16string_view> texts = {{320, u"x"}, {322, u"y"}, {323, u"z"}};
    const TextOf textOf = [&](int id) {
        const auto found = texts.find(id);
        return found == texts.end() ? std::u16string_view() : found->second;
    };

    std::vector<std::string> faults = CatalogueFaults(root, textOf);
    fs::remove_all(root);
    std::sort(faults.begin(), faults.end());
    const std::vector<std::string> expected = {
        "app/c.cpp: kIdsMissing is not a catalogue id",
        "text/include/text/messages.h: kIdsOnlyInCatalogue is never used",
        "text/include/text/messages.h: kIdsOnlyInTests is never used",
        "views/b.cpp: id 399 has no text",
        "views/b.cpp: kIdsNoText (321) has no text",
    };
    EXPECT_EQ(faults, expected);
}

struct FormatCase {
    std::u16string_view format;
    std::vector<CMessageArgument> values;
    std::u16string_view expected;
};

TEST(FormatText, FillsPlaceholdersInOrder) {
    // An argument holds a view, so a string argument must outlive the cases.
    const std::u16string length = u"30";
    const std::vector<FormatCase> cases = {
        {u"Position: %d", {12}, u"Position: 12"},
        {u"%ld strings has been processed. %ld strings has been deleted.", {int64_t{3}, std::size_t{1}},
         u"3 strings has been processed. 1 strings has been deleted."},
        {u"Version #%s (length %s) ", {u"7", length}, u"Version #7 (length 30) "},
        {u"like \"#set %%variable%% = value\" at %ld", {5}, u"like \"#set %variable% = value\" at 5"},
        {u"at %ld", {-1}, u"at -1"},
        {u"%ld|%ld|%d", {std::numeric_limits<int64_t>::min(), std::numeric_limits<uint64_t>::max(), 0},
         u"-9223372036854775808|18446744073709551615|0"},
        {u"%ld and %ld", {4}, u"4 and "},
        {u"100% sure, %x, %l and 50%", {}, u"100% sure, %x, %l and 50%"},
        {u"", {1}, u""},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(FormatText(c.format, c.values), c.expected)
            << ToNarrow(c.format);
    }
}

}  // namespace
