// Runs the built phrasemill-cli on temporary files and checks its output,
// messages and exit codes.
#include "file_bytes.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("phrasemill-cli-test-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path Path(const std::string& name) const { return dir_ / name; }

    std::string File(const std::string& name, const std::string& bytes) const {
        WriteFileBytes(Path(name), bytes);
        return Path(name).string();
    }

    static std::string Read(const fs::path& path) { return ReadFileBytes(path); }

    // args is appended to the program path as it stands (shell syntax).
    Result Run(const std::string& args, const std::string& input = "") {
        const std::string in = File("stdin.bin", input);
        const std::string command = std::string("'") + PHRASEMILL_CLI + "' " + args + " <'" + in + "' >'" +
                                    Path("stdout.bin").string() + "' 2>'" + Path("stderr.bin").string() + "'";
        const int status = std::system(command.c_str());
        Result result;
        result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = Read(Path("stdout.bin"));
        result.err = Read(Path("stderr.bin"));
        return result;
    }

    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path dir_;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST_F(CliTest, CheckReportsDefectsAndSelections) {
    Result r = Run("check", "{a|b} [x|y]");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "Syntax is correct.\n");

    r = Run("check -", "{a|b");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("Unclosed bracket {"), std::string::npos);

    // A line break counts as one position: the extra "}" on line 3 is at 9.
    const std::string multi = File("multi.txt", "ab\ncd\nef}");
    r = Run("check --json '" + multi + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("\"ok\":false"), std::string::npos);
    EXPECT_NE(r.out.find("\"kind\":1"), std::string::npos);
    EXPECT_NE(r.out.find("\"position\":9"), std::string::npos);
    EXPECT_NE(r.out.find("\"selectionStart\":8,\"selectionEnd\":9"), std::string::npos);

    // The byte-order mark is not part of the template.
    r = Run("check --json", "\xEF\xBB\xBF{a|b}");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.substr(0, 11), "{\"ok\":true,");
    EXPECT_NE(r.out.find("\"message\":\"Syntax is correct.\""), std::string::npos);
}

TEST_F(CliTest, InputErrorsExitWithTwo) {
    Result r = Run("check", "{a|\xC3\x28}");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("UTF-8"), std::string::npos);
    EXPECT_TRUE(r.out.empty());

    r = Run("count '" + Path("missing.txt").string() + "'");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("missing.txt"), std::string::npos);

    for (const char* args : {"generate --bogus", "generate -n abc", "generate --rules 0101",
                             "generate --from 3", "generate --min-length 10 --max-length 5",
                             "generate --order sideways", "frobnicate", ""}) {
        r = Run(args, "{a|b}");
        EXPECT_EQ(r.code, 2) << args;
        EXPECT_FALSE(r.err.empty()) << args;
        EXPECT_TRUE(r.out.empty()) << args;
    }
    for (const char* args : {"--help", "check --help", "count --help", "generate --help", "correct --help",
                             "dedupe --help", "shuffle --help", "--version"}) {
        r = Run(args);
        EXPECT_EQ(r.code, 0) << args;
        EXPECT_FALSE(r.out.empty()) << args;
    }
}

// Ctrl+C stops a generation run, which then reports it and exits with 130,
// rather than killing the process (whose shell status would also be 130).
TEST_F(CliTest, CtrlCStopsGenerate) {
    std::string endless;
    for (int i = 0; i < 60; ++i) endless += "{a|b}";
    const std::string tpl = File("endless.txt", endless);
    const std::string command = std::string("timeout --preserve-status -s INT 2 '") + PHRASEMILL_CLI +
                                "' generate --min-length 1000 '" + tpl + "' </dev/null >'" +
                                Path("stdout.bin").string() + "' 2>'" + Path("stderr.bin").string() + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_NE(Read(Path("stderr.bin")).find("nterrupted"), std::string::npos) << Read(Path("stderr.bin"));
}

TEST_F(CliTest, CountPrintsIntegersAndShortestDoubles) {
    EXPECT_EQ(Run("count", "{a|b}{c|d|e} [x|y|z]").out, "36\n");
    EXPECT_EQ(Run("count", "#set %v% = {a|b|c}\r\n%v% %v%").out, "9\n");

    std::string sixty;
    for (int i = 0; i < 60; ++i) sixty += "{a|b}";
    Result r = Run("count", sixty);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "1152921504606846976\n");  // 2^60: the digits are the shortest text here

    std::string tens;
    for (int i = 0; i < 20; ++i) tens += "{0|1|2|3|4|5|6|7|8|9}";
    EXPECT_EQ(Run("count", tens).out, "1e+20\n");

    std::string capped;
    for (int i = 0; i < 1100; ++i) capped += "{a|b}";
    EXPECT_EQ(Run("count", capped).out, "1.7e+300\n");

    r = Run("count", "a}");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_FALSE(r.err.empty());
}

TEST_F(CliTest, TemplatesThatPassTheCheckButFailToLoad) {
    const std::string target = File("keep.txt", "old contents");
    Result r = Run("generate -o '" + target + "'", "[<x><y|b]");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot be loaded"), std::string::npos);
    EXPECT_EQ(Read(target), "old contents");
    EXPECT_EQ(Run("count", "[<x><y|b]").code, 1);
    EXPECT_EQ(Run("check", "[<x><y|b]").code, 0);
    // A macro value that ends in ">" inside a square group fails only after expansion.
    EXPECT_EQ(Run("generate", "#set %v% = b>\r\n[x|%v%|c]").code, 1);
}

TEST_F(CliTest, GenerateTextFormat) {
    Result r = Run("generate -n 3 --order series --no-autocorrect", "{a|b|c|d}");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "a\r\n\r\nb\r\n\r\nc\r\n\r\n");
    EXPECT_NE(r.err.find("Max possible versions:   4"), std::string::npos);
    EXPECT_NE(r.err.find("Generated versions:   3"), std::string::npos);

    r = Run("generate --order series --separator '<br>--<br>'", "{hello world|bye}");
    EXPECT_EQ(r.out, "Hello world\r\n--\r\nBye\r\n--\r\n");
    r = Run("generate --order series --rules 00000000 --separator ''", "{x|y}\n{1|2}");
    EXPECT_EQ(r.out, "x\r\n1y\r\n1x\r\n2y\r\n2");

    // Empty versions are not written; the length range is inclusive.
    r = Run("generate --order series --no-autocorrect --separator '|' --min-length 2 --max-length 3",
            "{|a|bb|ccc|dddd}");
    EXPECT_EQ(r.out, "bb|ccc|");
    r = Run("generate --order series --no-autocorrect --separator '|' --max-length unlimited", "{|a|bb}");
    EXPECT_EQ(r.out, "a|bb|");

    // Repeated texts dropped, and the summary shows kept / drawn.
    r = Run("generate --order series --skip-similar exact --separator '|'", "{same|same|other}");
    EXPECT_EQ(r.out, "Same|Other|");
    EXPECT_NE(r.err.find("Generated versions:   2 / 3"), std::string::npos);
}

TEST_F(CliTest, GenerateJsonlEscapesAndCounts) {
    Result r = Run("generate --order series --no-autocorrect --format jsonl",
                   "{say \"hi\"|back\\slash|tab\there|\xF0\x9F\x98\x80 smile}");
    ASSERT_EQ(r.code, 0);
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "{\"n\":1,\"length\":8,\"text\":\"say \\\"hi\\\"\"}");
    EXPECT_EQ(lines[1], "{\"n\":2,\"length\":10,\"text\":\"back\\\\slash\"}");
    EXPECT_EQ(lines[2], "{\"n\":3,\"length\":8,\"text\":\"tab\\there\"}");
    EXPECT_EQ(lines[3], "{\"n\":4,\"length\":8,\"text\":\"\xF0\x9F\x98\x80 smile\"}");

    // Multi-line versions stay on one line, their CR LF escaped.
    r = Run("generate --order series --no-autocorrect --format jsonl", "a\n{b|c}");
    EXPECT_EQ(Lines(r.out)[0], "{\"n\":1,\"length\":4,\"text\":\"a\\r\\nb\"}");
}

TEST_F(CliTest, SeedRepeatsAndFromResumes) {
    const std::string tpl = File("t.txt", "{a|b|c|d|e|f|g|h}{1|2|3|4|5|6|7|8} {x|y|z} [p|q|r]");
    const Result a = Run("generate -n 20 --seed 99 '" + tpl + "'");
    const Result b = Run("generate -n 20 --seed 99 '" + tpl + "'");
    const Result c = Run("generate -n 20 --seed 100 '" + tpl + "'");
    EXPECT_EQ(a.code, 0);
    EXPECT_EQ(a.out, b.out);
    EXPECT_NE(a.out, c.out);
    EXPECT_EQ(Run("generate -n 20 '" + tpl + "'").err.find("Seed: ") != std::string::npos, true);

    const Result whole = Run("generate --order series -n 10 --format jsonl '" + tpl + "'");
    const Result resumed = Run("generate --order series -n 4 --from 6 --format jsonl '" + tpl + "'");
    const auto all = Lines(whole.out);
    const auto tail = Lines(resumed.out);
    ASSERT_EQ(all.size(), 10u);
    ASSERT_EQ(tail.size(), 4u);
    for (int k = 0; k < 4; ++k) {
        // Same texts; the row numbers count this run's rows.
        EXPECT_EQ(all[6 + k].substr(all[6 + k].find("\"length\"")), tail[k].substr(tail[k].find("\"length\"")));
    }
}

TEST_F(CliTest, ThreadsKeepTheBytesAndSeriesShardsConcatenate) {
    std::string text;
    for (int i = 0; i < 12; ++i) text += "{Alpha|beta, gamma|delta.|epsilon|} {zeta|eta|theta} ";  // 15^12 versions
    const std::string big = File("big.txt", text);
    const std::string mid = File("mid.txt", "{a|b|c|d}{e|f|g|h}{i|j|k} [<, >x|y|z] more text.");  // 288 versions
    for (const std::string& args : {"--order series -n 4000 '" + big + "'", "-n 3000 --seed 5 '" + big + "'",
                                    "-n max --seed 5 --skip-similar exact --format jsonl '" + mid + "'",
                                    "-n 1500 --seed 3 --skip-similar shingles --shingle-length 2 --percent 99 '" + big + "'"}) {
        const Result one = Run("generate --threads 1 " + args);
        const Result three = Run("generate --threads 3 " + args);
        ASSERT_EQ(one.code, 0) << one.err;
        EXPECT_GT(one.out.size(), 2000u) << args;
        EXPECT_EQ(one.out, three.out) << args;
    }
    EXPECT_EQ(Run("generate --threads 0 '" + mid + "'").code, 2);

    // Version numbers split an enumeration: the shards, concatenated, are the whole run.
    const Result whole = Run("generate --order series -n 3000 '" + big + "'");
    std::string shards;
    for (int from = 0; from < 3000; from += 1000)
        shards += Run("generate --order series --from " + std::to_string(from) + " -n 1000 '" + big + "'").out;
    EXPECT_EQ(shards, whole.out);
}

TEST_F(CliTest, OutputFilesAreWholeOrAbsent) {
    const std::string target = Path("out.txt").string();
    Result r = Run("generate --order series -o '" + target + "' --separator '<br>'", "{a|b}");
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(Read(target), "A\r\nB\r\n");

    r = Run("generate -o '" + Path("no/such/dir/out.txt").string() + "'", "{a|b}");
    EXPECT_EQ(r.code, 2);
    EXPECT_FALSE(r.err.empty());
    EXPECT_FALSE(fs::exists(Path("no")));

    // Only the files this test made: no temporary left behind.
    std::set<std::string> names;
    for (const auto& name : Entries()) names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"out.txt", "stdin.bin", "stdout.bin", "stderr.bin"}));

    const fs::path split = Path("split");
    r = Run("generate --order series --no-autocorrect --split-dir '" + split.string() + "'", "{a|b|c}");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(Read(split / "result0000000.txt"), "a\r\n\r\n");
    EXPECT_EQ(Read(split / "result0000002.txt"), "c\r\n\r\n");
    EXPECT_FALSE(fs::exists(split / "result0000003.txt"));
}

TEST_F(CliTest, CorrectPrintsExactly) {
    Result r = Run("correct", "  hello ,world..how are you?i am fine  ");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "Hello, world. How are you? I am fine");
    r = Run("correct --rules 00000000", "a  b\nc ");
    EXPECT_EQ(r.out, "a  b\r\nc ");
    EXPECT_EQ(Run("correct --rules 2", "x").code, 2);
}

TEST_F(CliTest, DedupeAndShuffleRows) {
    // generate -> dedupe round trip keeps the surviving rows' numbers.
    const std::string rows = File("rows.jsonl", Run("generate --order series --format jsonl", "{a|a|b|a|c}").out);
    Result r = Run("dedupe '" + rows + "'");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              "{\"n\":1,\"length\":1,\"text\":\"A\"}\n{\"n\":3,\"length\":1,\"text\":\"B\"}\n"
              "{\"n\":5,\"length\":1,\"text\":\"C\"}\n");
    EXPECT_NE(r.err.find("All strings has been processed. 2 strings has been deleted."), std::string::npos);

    // Rows without "n" are numbered from 1; escapes and surrogate pairs decode.
    r = Run("dedupe", "{\"text\": \"\\ud83d\\ude00 x\"}\n\n{\"text\":\"\xF0\x9F\x98\x80 x\", \"length\": 4}\r\n");
    EXPECT_EQ(r.out, "{\"n\":1,\"length\":4,\"text\":\"\xF0\x9F\x98\x80 x\"}\n");

    r = Run("dedupe --method shingles --shingle-length 2 --percent 20 --lines",
            "red green white\nred green blue black\nsomething else\n");
    EXPECT_EQ(r.out, "red green white\r\nsomething else\r\n");

    for (const char* bad : {"{\"text\":\"a\"}\n{\"text\":\"b\"", "{\"text\":1}", "{\"n\":1.5,\"text\":\"a\"}",
                            "{\"text\":\"a\",\"text\":\"b\"}", "[1]", "{\"text\":\"\\x\"}", "{\"text\":\"a\"} x"}) {
        r = Run("dedupe", bad);
        EXPECT_EQ(r.code, 1) << bad;
        EXPECT_NE(r.err.find("bad data at line"), std::string::npos) << bad;
    }
    r = Run("dedupe", "{\"text\":\"ok\"}\n{\"text\":\"a\"}\n{\"text\":\"a\"\n");
    EXPECT_NE(r.err.find("line 3"), std::string::npos);
    EXPECT_EQ(Run("dedupe", "\xFF").code, 2);

    // Shuffle: same seed, same order; numbers stay, texts move as whole rows.
    std::string many;
    for (int i = 1; i <= 50; ++i) many += "line " + std::to_string(i) + "\n";
    const Result s1 = Run("shuffle --lines --seed 5", many);
    const Result s2 = Run("shuffle --lines --seed 5", many);
    EXPECT_EQ(s1.code, 0);
    EXPECT_EQ(s1.out, s2.out);
    EXPECT_NE(s1.out, Run("shuffle --lines --seed 6", many).out);
    EXPECT_NE(s1.err.find("All strings has been shuffled."), std::string::npos);
    auto shuffled = Lines(s1.out);
    std::set<std::string> texts;
    for (auto& line : shuffled) texts.insert(line.substr(0, line.size() - 1));  // drop the CR
    EXPECT_EQ(texts.size(), 50u);
    EXPECT_TRUE(texts.count("line 37"));

    r = Run("shuffle --seed 1 '" + rows + "'");
    const auto out = Lines(r.out);
    ASSERT_EQ(out.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i].substr(0, 6), "{\"n\":" + std::to_string(i + 1));
}

TEST_F(CliTest, InsightCommandsReportAndExitAsCheckDoes) {
    struct Case {
        std::string args;
        std::string input;
        int code;
        std::string out;  // expected standard output; "*" for any
    };
    // 64 binary groups: 2^64 versions, version 2^64 - 1 is every second alternative.
    std::string bits;
    for (int i = 0; i < 64; ++i) bits += "{0|1}";
    const std::vector<Case> cases = {
        {"lint --json", "Dear {{FIRST_NAME}}, 50% off", 0,
         "{\"ok\":true,\"findings\":[{\"code\":\"single-alternative\",\"severity\":\"warning\",\"message\":\"This "
         "group has only one alternative: its braces disappear and every version gets the same text.\","
         "\"selectionStart\":5,\"selectionEnd\":19}]}\n"},
        {"lint --json", "{a|b} 20% more", 0, "{\"ok\":true,\"findings\":[]}\n"},
        {"lint --json", "a\n}", 1, "*"},
        {"count --exact", bits, 0, "18446744073709551616\n"},
        {"count", bits, 0, "*"},
        {"version 18446744073709551615", bits, 0, std::string(64, '1') + "\n"},
        {"version 18446744073709551616", bits, 2, ""},
        {"version x", bits, 2, ""},
        {"generate --order series --no-autocorrect -n 2 --from 18446744073709551614", bits, 0,
         "0" + std::string(63, '1') + "\r\n\r\n" + std::string(64, '1') + "\r\n\r\n"},
        {"analyze --samples 100 --json", "{a|b}", 0, "*"},
        {"analyze", "{a|b", 1, "*"},
    };
    for (const Case& c : cases) {
        const Result r = Run(c.args, c.input);
        EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.err;
        if (c.out != "*") EXPECT_EQ(r.out, c.out) << c.args;
    }
    // The lint of an incorrect template is check's report.
    EXPECT_EQ(Run("lint --json", "a\n}").out, Run("check --json", "a\n}").out);
    const Result analyze = Run("analyze --samples 100 --json", "{a|b}");
    for (const char* field : {"\"meanSimilarity\":", "\"medianSimilarity\":", "\"p95Similarity\":", "\"similarShare\":",
                              "\"forecastKept\":", "\"forecastLow\":", "\"forecastHigh\":", "\"groups\":[",
                              "\"fixedStretches\":["})
        EXPECT_NE(analyze.out.find(field), std::string::npos) << field;
}
