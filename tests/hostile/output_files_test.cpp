// Runs the built phrasemill-cli against hostile output targets: device files,
// FIFOs, links, hard links, folders it may not write, a full disk, runs killed
// or interrupted while they write, and bad option values. Each case checks the
// exit code, the message and what is left on disk.
//
// The tests run as root in the usual setups. Root passes every permission
// check, so the cases about permissions run the program as the unprivileged
// user 65534 when the tests run as root. The same goes for the cases that
// name the real /dev/null and /dev/full: a writer that replaced them would
// need a writable /dev, which that user does not have.
#include "../file_bytes.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr uid_t kUnprivileged = 65534;

struct Result {
    int code = -1;  // the exit code, or 128 + the signal that ended the program
    std::string out;
    std::string err;
};

struct Launch {
    explicit Launch(std::vector<std::string> arguments = {}, bool asUnprivileged = false, std::string toPath = {},
                    int toFile = -1)
        : args(std::move(arguments)), stdoutPath(std::move(toPath)), stdoutFile(toFile), unprivileged(asUnprivileged) {}

    std::vector<std::string> args;
    std::string stdoutPath;  // empty: a file in the scratch folder, read into Result::out
    int stdoutFile = -1;     // when set, instead of stdoutPath
    bool unprivileged = false;
};

class HostileOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("phrasemill-hostile-" + std::to_string(::getpid()) + "-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
        fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    }
    void TearDown() override {
        std::error_code error;
        for (const auto& entry : fs::recursive_directory_iterator(dir_, error))
            if (entry.is_directory(error)) fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
        fs::remove_all(dir_, error);
    }

    fs::path Path(const std::string& name) const { return dir_ / name; }

    std::string Put(const std::string& name, const std::string& bytes) const {
        WriteFileBytes(Path(name), bytes);
        return Path(name).string();
    }

    static std::string Read(const fs::path& path) { return ReadFileBytes(path); }

    // The names in a folder that look like the writer's temporary files.
    static std::vector<std::string> Temporaries(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name.front() == '.' && name.size() > 4 && name.substr(name.size() - 4) == ".tmp") names.push_back(name);
        }
        return names;
    }

    static bool RunningAsRoot() { return ::geteuid() == 0; }

    pid_t Start(const Launch& launch) {
        const std::string errPath = Path("stderr.bin").string();
        const std::string outPath = launch.stdoutPath.empty() ? Path("stdout.bin").string() : launch.stdoutPath;
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int out = launch.stdoutFile >= 0 ? launch.stdoutFile
                                               : ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        std::vector<std::string> args{PHRASEMILL_CLI};
        args.insert(args.end(), launch.args.begin(), launch.args.end());
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int in = ::open("/dev/null", O_RDONLY);
            ::dup2(in, STDIN_FILENO);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            if (launch.unprivileged && RunningAsRoot() &&
                (::setgroups(0, nullptr) != 0 || ::setgid(kUnprivileged) != 0 || ::setuid(kUnprivileged) != 0))
                ::_exit(126);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(err);
        if (launch.stdoutFile < 0) ::close(out);
        return pid;
    }

    Result Finish(pid_t pid, const Launch& launch = Launch()) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        Result result;
        result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.err = Read(Path("stderr.bin"));
        if (launch.stdoutFile < 0 && launch.stdoutPath.empty()) result.out = Read(Path("stdout.bin"));
        return result;
    }

    Result Run(const Launch& launch) { return Finish(Start(launch), launch); }

    // The unprivileged cases need a program that user may run.
    void RequireUnprivilegedRuns() {
        if (!RunningAsRoot()) return;
        const Result probe = Run(Launch({"--version"}, true));
        if (probe.code == 126 || probe.code == 127)
            GTEST_SKIP() << "user " << kUnprivileged << " cannot run " << PHRASEMILL_CLI;
    }

    // Waits until condition holds, for at most 60 s; false on timeout.
    static bool WaitFor(const std::function<bool()>& condition) {
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    // A template whose load takes a while and whose versions are large, so a
    // signal can arrive before the first version and the output fills fast.
    std::string BigTemplate() {
        std::string text;
        for (int i = 0; i < 400000; ++i) text += "{ab|cd} ";
        return Put("big.txt", text);
    }

    fs::path dir_;
};

TEST_F(HostileOutputTest, DevicesAreWrittenDirectlyAndAFullDiskIsAnError) {
    RequireUnprivilegedRuns();
    const std::string tpl = Put("t.txt", "{a|b}");
    struct Case {
        const char* device;
        int code;
        const char* err;
    };
    for (const Case& c : {Case{"/dev/null", 0, ""},
                          Case{"/dev/full", 2, "phrasemill-cli: cannot write '/dev/full': No space left on device\n"}}) {
        if (!fs::exists(c.device)) continue;
        const Result r = Run(Launch({"generate", "--seed", "1", "-o", c.device, tpl}, true));
        EXPECT_EQ(r.code, c.code) << c.device << ": " << r.err;
        if (c.code != 0) {
            EXPECT_EQ(r.err, c.err);
        }
        EXPECT_TRUE(fs::is_character_file(c.device)) << c.device << " is no longer a device";
    }
}

TEST_F(HostileOutputTest, FifosPipesAndLinksAreWrittenThroughNotReplaced) {
    const std::string tpl = Put("t.txt", "{a|b|c}");
    const std::vector<std::string> series{"generate", "--order", "series", "--no-autocorrect", "-o"};
    const std::string expected = "a\r\n\r\nb\r\n\r\nc\r\n\r\n";

    // A FIFO with a reader that copies what arrives into a file.
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0644), 0);
    const pid_t reader = ::fork();
    if (reader == 0) {
        const int in = ::open(Path("fifo").c_str(), O_RDONLY);
        const int out = ::open(Path("from-fifo.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        char chunk[4096];
        for (ssize_t got; (got = ::read(in, chunk, sizeof chunk)) > 0;)
            if (::write(out, chunk, static_cast<std::size_t>(got)) != got) ::_exit(1);
        ::_exit(0);
    }
    std::vector<std::string> args = series;
    args.insert(args.end(), {Path("fifo").string(), tpl});
    Result r = Run(Launch(args));
    EXPECT_EQ(r.code, 0) << r.err;
    // A writer that replaced the FIFO never opened it: the reader still waits.
    if (!WaitFor([&] { return ::waitpid(reader, nullptr, WNOHANG) == reader; }) || r.code != 0) {
        ::kill(reader, SIGKILL);
        ::waitpid(reader, nullptr, 0);
    }
    EXPECT_EQ(Read(Path("from-fifo.txt")), expected);
    EXPECT_TRUE(fs::is_fifo(Path("fifo")));

    // A pipe named through a link to the program's standard output, as
    // /dev/stdout names it.
    fs::create_symlink("/proc/self/fd/1", Path("stdout-link"));
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    args = series;
    args.insert(args.end(), {Path("stdout-link").string(), tpl});
    const Launch toPipe(args, false, "", pipeEnds[1]);
    const pid_t writer = Start(toPipe);
    ::close(pipeEnds[1]);
    std::string piped;
    char chunk[4096];
    for (ssize_t got; (got = ::read(pipeEnds[0], chunk, sizeof chunk)) > 0;) piped.append(chunk, static_cast<std::size_t>(got));
    ::close(pipeEnds[0]);
    r = Finish(writer, toPipe);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(piped, expected);
    EXPECT_TRUE(fs::is_symlink(Path("stdout-link")));

    // A link to a regular file replaces the file and keeps the link.
    Put("real.txt", "old");
    fs::create_symlink(Path("real.txt"), Path("file-link"));
    args = series;
    args.insert(args.end(), {Path("file-link").string(), tpl});
    EXPECT_EQ(Run(Launch(args)).code, 0);
    EXPECT_TRUE(fs::is_symlink(Path("file-link")));
    EXPECT_EQ(Read(Path("real.txt")), expected);
    EXPECT_TRUE(Temporaries(dir_).empty());
}

TEST_F(HostileOutputTest, HardLinksAndFoldersThatCannotBeWrittenAreWrittenInPlace) {
    RequireUnprivilegedRuns();
    const std::string tpl = Put("t.txt", "{a|b}");
    const std::string expected = "a\r\n\r\nb\r\n\r\n";
    auto generate = [&](const fs::path& target) {
        return std::vector<std::string>{"generate", "--order", "series", "--no-autocorrect", "-o", target.string(), tpl};
    };

    Put("first.txt", "old text of both names");
    fs::create_hard_link(Path("first.txt"), Path("second.txt"));
    Result r = Run(Launch(generate(Path("first.txt"))));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Read(Path("second.txt")), expected);
    EXPECT_TRUE(fs::equivalent(Path("first.txt"), Path("second.txt")));
    EXPECT_EQ(fs::hard_link_count(Path("first.txt")), 2u);

    // A writable file in a folder its user may not write.
    const fs::path locked = Path("locked");
    fs::create_directory(locked);
    const std::string target = (locked / "out.txt").string();
    std::ofstream(target) << "a longer old text that the new one must not leave a tail of";
    if (RunningAsRoot()) {
        ASSERT_EQ(::chown(locked.c_str(), kUnprivileged, kUnprivileged), 0);
        ASSERT_EQ(::chown(target.c_str(), kUnprivileged, kUnprivileged), 0);
    }
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    r = Run(Launch(generate(target), true));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Read(target), expected);
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // A new name there cannot be created, and the message says why.
    r = Run(Launch(generate(locked / "new.txt"), true));
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "phrasemill-cli: cannot write '" + (locked / "new.txt").string() + "': Permission denied\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(locked), fs::directory_iterator()), 1);
}

TEST_F(HostileOutputTest, TemporaryFilesOfAKilledRunAreRemovedByTheNextRun) {
    const std::string big = BigTemplate();
    const std::string target = Put("out.txt", "old");
    const Launch endless({"generate", "-n", "max", "--no-autocorrect", "-o", target, big});
    const pid_t killed = Start(endless);
    ASSERT_TRUE(WaitFor([&] { return !Temporaries(dir_).empty(); }));
    ::kill(killed, SIGKILL);
    Finish(killed, endless);
    const std::vector<std::string> left = Temporaries(dir_);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_NE(left[0].find("." + std::to_string(killed) + "."), std::string::npos) << left[0];
    EXPECT_EQ(Read(target), "old");

    // A temporary file whose writer still runs (this test) stays.
    const std::string live = ".out.txt." + std::to_string(::getpid()) + ".0123456789abcdef.tmp";
    Put(live, "in use");
    const Result r = Run(Launch({"generate", "-n", "1", "--seed", "1", "-o", target, Put("t.txt", "{a|b}")}));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Temporaries(dir_), std::vector<std::string>{live});
}

TEST_F(HostileOutputTest, CtrlCBeforeTheFirstVersionKeepsTheOldFileAndAfterItKeepsWholeVersions) {
    const std::string big = BigTemplate();
    const std::string target = Put("out.txt", "old contents");
    const Launch endless({"generate", "-n", "max", "--no-autocorrect", "--separator", "|", "-o", target, big});

    // The temporary file appears when the output is opened, before the
    // template is loaded, so the signal arrives before the first version.
    pid_t pid = Start(endless);
    ASSERT_TRUE(WaitFor([&] { return !Temporaries(dir_).empty(); }));
    ::kill(pid, SIGINT);
    Result r = Finish(pid, endless);
    EXPECT_EQ(r.code, 130) << r.err;
    EXPECT_NE(r.err.find("Interrupted"), std::string::npos) << r.err;
    EXPECT_EQ(Read(target), "old contents");
    EXPECT_TRUE(Temporaries(dir_).empty());

    // Once versions have reached the disk, they are kept, each one whole.
    pid = Start(endless);
    ASSERT_TRUE(WaitFor([&] {
        const auto names = Temporaries(dir_);
        std::error_code error;
        return !names.empty() && fs::file_size(dir_ / names[0], error) > 0;
    }));
    ::kill(pid, SIGINT);
    r = Finish(pid, endless);
    EXPECT_EQ(r.code, 130) << r.err;
    const std::string kept = Read(target);
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.back(), '|');
    std::size_t versions = 0;
    for (std::size_t from = 0, bar; (bar = kept.find('|', from)) != std::string::npos; from = bar + 1, ++versions)
        EXPECT_EQ(bar - from, 400000u * 3) << "version " << versions << " is cut";
    EXPECT_GT(versions, 0u);
    EXPECT_TRUE(Temporaries(dir_).empty());
}

TEST_F(HostileOutputTest, EveryErrorMessageSaysWhatFailedAndWhy) {
    const std::string tpl = Put("t.txt", "{a|b}");
    fs::create_directory(Path("folder"));
    const std::string readOnly = Put("read-only.txt", "keep");
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::create_directories(Path("split") / "result0000000.txt");
    const std::string notAFolder = Put("not-a-folder", "");
    const std::string range = "phrasemill-cli: --min-length takes a whole number from 0 to 2147483647\n";
    const std::string full = "phrasemill-cli: cannot write to standard output: No space left on device\n";
    struct Case {
        std::vector<std::string> args;
        std::string stdoutPath;
        std::string err;
    };
    const std::vector<Case> cases{
        {{"generate", "--min-length", "-1", tpl}, "", range},
        {{"generate", "--min-length", "99999999999", tpl}, "", range},
        {{"generate", "--min-length", "2147483648", tpl}, "", range},
        {{"--version"}, "/dev/full", full},
        {{"--help"}, "/dev/full", full},
        {{"check", tpl}, "/dev/full", full},
        {{"generate", tpl}, "/dev/full", full},
        {{"generate", "-o", Path("folder").string(), tpl}, "",
         "phrasemill-cli: cannot write '" + Path("folder").string() + "': Is a directory\n"},
        {{"generate", "-o", readOnly, tpl}, "", "phrasemill-cli: cannot write '" + readOnly + "': Permission denied\n"},
        {{"generate", "--split-dir", Path("split").string(), tpl}, "",
         "phrasemill-cli: cannot write '" + (Path("split") / "result0000000.txt").string() + "': Is a directory\n"},
        {{"generate", "--split-dir", notAFolder, tpl}, "",
         "phrasemill-cli: cannot use the folder '" + notAFolder + "': Not a directory\n"},
    };
    for (const Case& c : cases) {
        if (!c.stdoutPath.empty() && !fs::exists(c.stdoutPath)) continue;
        const Result r = Run(Launch(c.args, false, c.stdoutPath));
        EXPECT_EQ(r.code, 2) << c.args[0] << " " << c.args.back();
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_EQ(Read(readOnly), "keep");
    EXPECT_TRUE(fs::is_character_file("/dev/full") || !fs::exists("/dev/full"));
}

}  // namespace
