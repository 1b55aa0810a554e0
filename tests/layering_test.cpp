// The layering of the source tree: each folder may include only from the
// folders below it, and the plain C++ folders never include Qt. The build
// already refuses most wrong includes (a target sees only the include/
// folders of what it links); this test names the broken rule plainly and
// also catches a header included by a relative path that climbs out of its
// folder, and a thread started anywhere but through CBackgroundWork in
// background/, the one starter that gives every thread an owner that stops
// and joins it.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Layer {
    std::set<std::string> mayInclude;
    bool qt = false;
};

const std::map<std::string, Layer>& Layers() {
    static const std::map<std::string, Layer> layers = {
        {"background", {{}, false}},
        {"text", {{}, false}},
        {"postprocess", {{"text"}, false}},
        {"engine", {{"postprocess", "text"}, false}},
        {"run", {{"engine", "postprocess", "text", "background"}, false}},
        {"insight", {{"engine", "postprocess", "text"}, false}},
        {"files", {{"text", "background"}, false}},
        {"cli", {{"run", "files", "insight", "engine", "postprocess", "text", "background"}, false}},
        {"chrome", {{"text"}, true}},
        {"views", {{"chrome", "run", "files", "insight", "engine", "postprocess", "text", "background"}, true}},
        {"app", {{"views", "chrome", "run", "files", "insight", "engine", "postprocess", "text", "background"}, true}},
    };
    return layers;
}

// Every broken rule under root, one line each: "file: reason".
std::vector<std::string> LayeringViolations(const fs::path& root) {
    static const std::regex includeLine(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
    static const std::regex threadStart(
        R"(\b(std::(jthread|thread|async)\b(?!::hardware_concurrency)|QThread\b(?!::current)|QtConcurrent\b))");
    std::vector<std::string> violations;
    for (const auto& [folder, layer] : Layers()) {
        const fs::path dir = root / folder;
        if (!fs::is_directory(dir)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(dir)) {
            const std::string extension = entry.path().extension().string();
            if (!entry.is_regular_file() || (extension != ".h" && extension != ".cpp")) continue;
            std::ifstream in(entry.path());
            std::string line;
            int lineNumber = 0;
            while (std::getline(in, line)) {
                ++lineNumber;
                const std::string where =
                    fs::relative(entry.path(), root).string() + ":" + std::to_string(lineNumber) + ": ";
                std::smatch match;
                const std::string code = line.substr(0, line.find("//"));
                if (folder != "background" && std::regex_search(code, match, threadStart))
                    violations.push_back(where + "starts a thread outside background/ (" + match[1].str() +
                                         "): use CBackgroundWork");
                if (!std::regex_search(line, match, includeLine)) continue;
                const std::string target = match[2];
                const bool qtHeader = match[1] == "<" && target.size() > 1 && target[0] == 'Q' &&
                                      std::isupper(static_cast<unsigned char>(target[1]));
                if (qtHeader && !layer.qt) {
                    violations.push_back(where + "plain C++ folder includes Qt header " + target);
                    continue;
                }
                if (match[1] != "\"") continue;
                if (target.find("..") != std::string::npos) {
                    violations.push_back(where + "relative include climbs out of its folder: " + target);
                    continue;
                }
                const auto slash = target.find('/');
                if (slash == std::string::npos) continue;
                const std::string from = target.substr(0, slash);
                if (from == folder || !Layers().contains(from)) continue;
                if (!layer.mayInclude.contains(from))
                    violations.push_back(where + folder + " may not include from " + from + ": " + target);
            }
        }
    }
    return violations;
}

TEST(Layering, SourceTreeKeepsItsLayers) {
    const std::vector<std::string> violations = LayeringViolations(PHRASEMILL_SOURCE_DIR);
    std::string report;
    for (const auto& v : violations) report += v + "\n";
    EXPECT_TRUE(violations.empty()) << report;
}

TEST(Layering, CheckerFindsPlantedViolations) {
    const fs::path root = fs::temp_directory_path() / ("layering_test_" + std::to_string(::getpid()));
    fs::remove_all(root);
    const auto write = [&](const std::string& file, const std::string& text) {
        fs::create_directories((root / file).parent_path());
        std::ofstream(root / file) << text;
    };
    write("engine/ok.cpp", "#include \"engine/a.h\"\n#include \"postprocess/b.h\"\n#include <vector>\n");
    write("engine/up.cpp", "#include \"run/generation_run.h\"\n");
    write("postprocess/include/postprocess/qt.h", "#pragma once\n#include <QString>\n");
    write("files/climb.cpp", "#include \"../views/x.h\"\n");
    write("views/ok.cpp", "#include <QWidget>\n#include \"files/result_files.h\"\n");
    write("chrome/up.cpp", "  #  include \"views/saving.h\"\n");
    write("run/pool.cpp", "unsigned n = std::thread::hardware_concurrency();\n// std::jthread in a comment\n"
                          "std::vector<std::jthread> helpers;\n");
    write("background/work.cpp", "std::jthread thread_;\n");

    std::vector<std::string> violations = LayeringViolations(root);
    fs::remove_all(root);
    std::sort(violations.begin(), violations.end());
    ASSERT_EQ(violations.size(), 5u);
    EXPECT_NE(violations[0].find("chrome/up.cpp:1: chrome may not include from views"), std::string::npos);
    EXPECT_NE(violations[1].find("engine/up.cpp:1: engine may not include from run"), std::string::npos);
    EXPECT_NE(violations[2].find("files/climb.cpp:1: relative include climbs"), std::string::npos);
    EXPECT_NE(violations[3].find("postprocess/include/postprocess/qt.h:2: plain C++ folder includes Qt"),
              std::string::npos);
    EXPECT_NE(violations[4].find("run/pool.cpp:3: starts a thread outside background/ (std::jthread)"),
              std::string::npos);
}

}  // namespace
