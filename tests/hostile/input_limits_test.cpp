// Runs the built phrasemill-cli against inputs that are endless, not UTF-8,
// too large once their macros are replaced, or too large for the memory the
// program may use, and interrupts it while a large template loads. Each case
// checks the exit code, the message and the state of an -o file.
//
// The memory caps (RLIMIT_AS) cannot work under AddressSanitizer, which
// reserves far more address space than any cap; those cases are skipped there.
#include "../file_bytes.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

struct Result {
    int code = -1;  // the exit code, or 128 + the signal that ended the program
    std::string out;
    std::string err;
};

class HostileInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device seed;
        dir_ = fs::temp_directory_path() / ("phrasemill-hostile-input-" + std::to_string(getpid()) + "-" +
                                            std::to_string(seed()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path Write(const std::string& name, const std::string& bytes) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Runs the program with the address space capped at memoryCap bytes (0:
    // no cap); interruptAfter, when positive, sends SIGINT that long after
    // the program has begun to read its input: a slow start, as under the
    // sanitizers, must not let the signal arrive before it listens for it.
    Result Run(const std::vector<std::string>& args, rlim_t memoryCap = 0,
               std::chrono::milliseconds interruptAfter = 0ms) {
        const fs::path errPath = dir_ / "stderr.txt";
        const fs::path outPath = dir_ / "stdout.txt";
        const pid_t child = fork();
        if (child == 0) {
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, STDERR_FILENO);
            dup2(out, STDOUT_FILENO);
            if (memoryCap != 0) {
                const rlimit cap{memoryCap, memoryCap};
                setrlimit(RLIMIT_AS, &cap);
            }
            std::vector<char*> argv;
            std::string program = PHRASEMILL_CLI;
            argv.push_back(program.data());
            std::vector<std::string> copies = args;
            for (std::string& a : copies) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (interruptAfter > 0ms) {
            WaitUntilReading(child);
            std::this_thread::sleep_for(interruptAfter);
            kill(child, SIGINT);
        }
        int status = 0;
        waitpid(child, &status, 0);
        Result result;
        result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = ReadFileBytes(outPath);
        result.err = ReadFileBytes(errPath);
        return result;
    }

    // Waits until the process has read a megabyte (it then reads the
    // template), or has ended, or a minute has passed.
    static void WaitUntilReading(pid_t process) {
        const std::string io = "/proc/" + std::to_string(process) + "/io";
        const std::string stat = "/proc/" + std::to_string(process) + "/stat";
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (std::chrono::steady_clock::now() < giveUp) {
            std::ifstream counters(io);
            std::string name;
            unsigned long long value = 0;
            while (counters >> name >> value) {
                if (name == "rchar:" && value >= (1u << 20)) return;
            }
            std::ifstream state(stat);
            std::string pid, command, letter;
            if (!(state >> pid >> command >> letter) || letter == "Z") return;
            std::this_thread::sleep_for(5ms);
        }
    }

    // Names in the scratch folder other than the ones given.
    std::vector<std::string> Strays(const std::vector<std::string>& expected) const {
        std::vector<std::string> strays;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (std::find(expected.begin(), expected.end(), name) == expected.end()) strays.push_back(name);
        }
        return strays;
    }

    // A template of about the given size with a group every three characters.
    fs::path DenseTemplate(std::size_t bytes) {
        std::string text;
        text.reserve(bytes);
        while (text.size() < bytes) text += "{|}";
        return Write("dense.txt", text);
    }

    fs::path dir_;
};

TEST_F(HostileInputTest, EndlessInputStopsAtTheTemplateLimit) {
    const Result r = Run({"check", "/dev/zero"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("phrasemill-cli: '/dev/zero' is too large: the limit is "), std::string::npos) << r.err;
}

TEST_F(HostileInputTest, InvalidUtf8NamesTheOffsetOfTheFirstBadByte) {
    const std::string chunk(65536, 'a');  // the reader's chunk size
    const struct {
        std::string bytes;
        std::string byte;  // as the message writes it; empty: valid input
        std::size_t offset;
    } cases[] = {
        {"\x80" "abc", "0x80", 0},
        {"ab\xC3\xA9" "c\xFF" "d", "0xFF", 5},
        {"abc\xC0\x80", "0xC0", 3},                  // overlong form of NUL
        {"a\xED\xA0\x80", "0xED", 1},                // a surrogate
        {"abc\xF4\x90\x80\x80", "0xF4", 3},          // above U+10FFFF
        {"abc\xE2\x82", "0xE2", 3},                  // cut off by the end
        {"\xEF\xBB\xBF" "ab\xFE", "0xFE", 5},        // the byte-order mark counts
        {chunk.substr(1) + "\xC3\xA9" + "{a|b}", "", 0},  // a sequence across two chunks
        {chunk + chunk + "x\xE2\x82" "a", "0xE2", 2 * 65536 + 1},
    };
    for (const auto& c : cases) {
        const fs::path path = Write("input.txt", c.bytes);
        const Result r = Run({"check", path.string()});
        if (c.byte.empty()) {
            EXPECT_EQ(r.code, 0) << r.err;
            continue;
        }
        EXPECT_EQ(r.code, 2) << c.offset;
        EXPECT_EQ(r.err, "phrasemill-cli: '" + path.string() + "' is not valid UTF-8 text: byte " + c.byte +
                             " at offset " + std::to_string(c.offset) + " does not start a valid sequence\n");
    }
}

// Seven "#set" lines of 41 bytes whose values use the next name ten times
// stand for 3 * 10^7 characters; twenty-five stand for 3 * 10^25. Both are
// refused before any of it is built, so a small memory cap is enough. The
// seventh line (at editor position 252, counted from 0) is the first whose
// replacement passes the limit.
TEST_F(HostileInputTest, MacroBombsAreRefusedAtTheirDefinition) {
    for (const int lines : {7, 25}) {
        std::string text;
        for (int i = 0; i < lines; ++i) {
            text += "#set %" + std::string(1, char('a' + i)) + "% = ";
            for (int k = 0; k < 10; ++k) text += "%" + std::string(1, char('a' + i + 1)) + "%";
            text += "\n";
        }
        text += "%a%\n";
        const fs::path path = Write("bomb.txt", text);
        const rlim_t cap = kAddressSanitizer ? 0 : rlim_t{256} << 20;
        for (const char* command : {"check", "count", "generate"}) {
            const Result r = Run({command, path.string()}, cap);
            EXPECT_EQ(r.code, 1) << command << " " << lines;
            const std::string message = "Variable defined at position " + std::to_string(text.find("#set %g%")) +
                                        " makes the template too large";
            // check reports on standard output, the others as an error.
            const std::string& report = std::string(command) == "check" ? r.out : r.err;
            EXPECT_NE(report.find(message), std::string::npos) << command << " " << lines << ": " << report;
        }
    }
}

TEST_F(HostileInputTest, OutOfMemoryEndsWithAMessageAndLeavesTheOutputAlone) {
    if (kAddressSanitizer) GTEST_SKIP() << "address space caps do not work under AddressSanitizer";
    const fs::path templ = DenseTemplate(4 << 20);
    const fs::path output = Write("out.txt", "previous\n");
    const rlim_t cap = rlim_t{48} << 20;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"count", templ.string()},
          std::vector<std::string>{"generate", templ.string(), "-n", "3", "-o", output.string()}}) {
        const Result r = Run(args, cap);
        EXPECT_EQ(r.code, 2) << args[0];
        EXPECT_EQ(r.err, "phrasemill-cli: out of memory: the command could not finish\n") << args[0];
    }
    EXPECT_EQ(ReadFileBytes(output), "previous\n");
    EXPECT_EQ(Strays({"dense.txt", "out.txt", "stderr.txt", "stdout.txt"}), std::vector<std::string>{});

    // Without the cap the same template loads.
    EXPECT_EQ(Run({"count", templ.string()}).code, 0);
}

// Ctrl+C while a large template is checked or loaded ends the program with
// the interrupted report, and an -o file that got nothing keeps its contents.
TEST_F(HostileInputTest, InterruptDuringALargeLoad) {
    const fs::path templ = DenseTemplate(30 << 20);
    const fs::path output = Write("out.txt", "previous\n");
    const Result r = Run({"generate", templ.string(), "-n", "3", "-o", output.string()}, 0, 200ms);
    EXPECT_EQ(r.code, 130) << r.err;
    EXPECT_NE(r.err.find("nterrupted"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFileBytes(output), "previous\n");
    EXPECT_EQ(Strays({"dense.txt", "out.txt", "stderr.txt", "stdout.txt"}), std::vector<std::string>{});
}

}  // namespace
