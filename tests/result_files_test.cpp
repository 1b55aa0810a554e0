#include "files/result_files.h"
#include "files/template_file.h"

#include "text/text_encoding.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("phrasemill-files-" + std::to_string(getpid()) + "-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void Put(const fs::path& path, std::string_view bytes) {
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    bool SaveOneFile(const std::vector<std::u16string>& versions, std::u16string_view separator,
                     const fs::path& path, const SaveControl& control = {}) {
        return SaveVersionsToFile([&](int64_t i) -> std::u16string_view { return versions[i]; },
                                  static_cast<int64_t>(versions.size()), ExpandSeparator(separator), path, control);
    }

    fs::path dir_;
};

// Makes every write past `bytes` fail (EFBIG), as a full disk would, also for root.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

std::vector<std::u16string> Versions(int count, std::size_t length) {
    std::vector<std::u16string> versions;
    for (int i = 0; i < count; ++i) versions.push_back(std::u16string(length, static_cast<char16_t>(u'a' + i % 26)));
    return versions;
}

}  // namespace

TEST(ExpandSeparator, OnlyTheLowerCaseMarkerBecomesALineBreak) {
    EXPECT_EQ(ExpandSeparator(u"<br><br>"), u"\r\n\r\n");
    EXPECT_EQ(ExpandSeparator(u"---<br>"), u"---\r\n");
    EXPECT_EQ(ExpandSeparator(u"<BR>"), u"<BR>");
    EXPECT_EQ(ExpandSeparator(u"<br/>x\\n"), u"<br/>x\\n");
    EXPECT_EQ(ExpandSeparator(u"<<br>>"), u"<\r\n>");
    EXPECT_EQ(ExpandSeparator(u"<br<br>"), u"<br\r\n");
    EXPECT_EQ(ExpandSeparator(u""), u"");
}

TEST(ResultFileName, SevenDigitsThenAsManyAsNeeded) {
    EXPECT_EQ(ResultFileName(0), u"result0000000.txt");
    EXPECT_EQ(ResultFileName(11), u"result0000011.txt");
    EXPECT_EQ(ResultFileName(9999999), u"result9999999.txt");
    EXPECT_EQ(ResultFileName(10000000), u"result10000000.txt");
    EXPECT_EQ(ResultFileName(123456789012), u"result123456789012.txt");
}

TEST(WithDefaultExtension, OnlyADotInTheFileNameCounts) {
    EXPECT_EQ(WithDefaultExtension("out"), fs::path("out.txt"));
    EXPECT_EQ(WithDefaultExtension("out.csv"), fs::path("out.csv"));
    EXPECT_EQ(WithDefaultExtension("/tmp/my.dir/out"), fs::path("/tmp/my.dir/out.txt"));
    EXPECT_EQ(WithDefaultExtension("/tmp/my.dir/out.txt"), fs::path("/tmp/my.dir/out.txt"));
    EXPECT_EQ(PathFromUtf16(u"/tmp/кот.txt"), fs::path(u8"/tmp/кот.txt"));
}

TEST_F(FilesTest, OneFileLayoutBytes) {
    const fs::path path = dir_ / "out.txt";
    const std::vector<std::u16string> ab{u"A", u"B"};
    ASSERT_TRUE(SaveOneFile(ab, u"<br><br>", path));
    EXPECT_EQ(Read(path), "A\r\n\r\nB\r\n\r\n");
    ASSERT_TRUE(SaveOneFile(ab, u"---<br>", path));
    EXPECT_EQ(Read(path), "A---\r\nB---\r\n");
    ASSERT_TRUE(SaveOneFile(ab, u"<BR>", path));
    EXPECT_EQ(Read(path), "A<BR>B<BR>");
    ASSERT_TRUE(SaveOneFile(ab, u"", path));
    EXPECT_EQ(Read(path), "AB");
}

TEST_F(FilesTest, TextIsUtf8WithoutByteOrderMarkAndLineBreaksStayAsTheyAre) {
    const fs::path path = dir_ / "out.txt";
    std::u16string loneSurrogate = u"x";
    loneSurrogate += static_cast<char16_t>(0xD800);
    ASSERT_TRUE(SaveOneFile({u"кот\r\nпёс", u"€ \U0001F600", u"a\nb", loneSurrogate}, u"|", path));
    EXPECT_EQ(Read(path), "\xD0\xBA\xD0\xBE\xD1\x82\r\n\xD0\xBF\xD1\x91\xD1\x81|"
                          "\xE2\x82\xAC \xF0\x9F\x98\x80|a\nb|x?|");
}

TEST_F(FilesTest, NothingToSaveTouchesNothing) {
    const fs::path path = dir_ / "out.txt";
    EXPECT_FALSE(SaveOneFile({}, u"<br>", path));
    EXPECT_FALSE(WriteTextFile(u"", path, true));
    EXPECT_FALSE(WriteTextFile(u"", path, false));
    EXPECT_FALSE(SaveVersionsToSeparateFiles([](int64_t) { return std::u16string_view(u"x"); }, 0, dir_));
    EXPECT_TRUE(Names().empty());
}

TEST_F(FilesTest, ReplacingAFileLeavesOnlyTheNewWholeFileWithTheOldPermissions) {
    const fs::path path = dir_ / "out.txt";
    Put(path, std::string(10000, 'o'));
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(WriteTextFile(u"new", path, true));
    EXPECT_EQ(Read(path), "new");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Names(), (std::vector<std::string>{"out.txt"}));
}

TEST_F(FilesTest, AFileNameOfTheLongestLengthCanBeReplaced) {
    const fs::path path = dir_ / std::string(251, 'n').append(".txt");
    Put(path, "old");
    ASSERT_TRUE(WriteTextFile(u"new", path, true));
    EXPECT_EQ(Read(path), "new");
    EXPECT_EQ(Names().size(), 1u);
}

TEST_F(FilesTest, ReplacingThroughALinkReplacesTheLinkedFile) {
    Put(dir_ / "real.txt", "old");
    fs::create_symlink(dir_ / "real.txt", dir_ / "link.txt");
    ASSERT_TRUE(WriteTextFile(u"new", dir_ / "link.txt", true));
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.txt"));
    EXPECT_EQ(Read(dir_ / "real.txt"), "new");
}

TEST_F(FilesTest, AppendModeAddsToTheEnd) {
    const fs::path path = dir_ / "out.txt";
    ASSERT_TRUE(WriteTextFile(u"one", path, false));
    ASSERT_TRUE(WriteTextFile(u"two", path, false));
    EXPECT_EQ(Read(path), "onetwo");
    ASSERT_TRUE(WriteTextFile(u"three", path, true));
    EXPECT_EQ(Read(path), "three");
}

TEST_F(FilesTest, FilesThatCannotBeOpenedAreReported) {
    EXPECT_FALSE(WriteTextFile(u"x", dir_ / "missing" / "out.txt", true));
    EXPECT_FALSE(WriteTextFile(u"x", dir_ / "missing" / "out.txt", false));
    fs::create_directory(dir_ / "folder");
    EXPECT_FALSE(WriteTextFile(u"x", dir_ / "folder", true));
    EXPECT_FALSE(WriteTextFile(u"x", dir_ / "folder", false));
    EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
    Put(dir_ / "readonly.txt", "keep");
    fs::permissions(dir_ / "readonly.txt", fs::perms::owner_read);
    EXPECT_FALSE(WriteTextFile(u"x", dir_ / "readonly.txt", true));
    EXPECT_EQ(Read(dir_ / "readonly.txt"), "keep");
    EXPECT_EQ(Names(), (std::vector<std::string>{"folder", "readonly.txt"}));
}

TEST_F(FilesTest, AFullDeviceIsAFailureNotASuccess) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    EXPECT_FALSE(WriteTextFile(u"x", "/dev/full", false));
    CTextFileWriter writer;
    ASSERT_TRUE(writer.Open("/dev/full", false));
    bool allWritten = true;
    for (int i = 0; i < 100 && allWritten; ++i) allWritten = writer.Write(std::u16string(100000, u'x'));
    EXPECT_FALSE(allWritten && writer.Commit());
}

TEST_F(FilesTest, AWriteFailureKeepsTheOldFileWholeAndLeavesNoTemporaryFile) {
    const fs::path path = dir_ / "out.txt";
    Put(path, "previous contents");
    const auto versions = Versions(50, 1000);
    {
        FileSizeLimit limit(8192);
        EXPECT_FALSE(SaveOneFile(versions, u"<br>", path));
        EXPECT_FALSE(WriteTextFile(std::u16string(20000, u'y'), path, true));
    }
    EXPECT_EQ(Read(path), "previous contents");
    EXPECT_EQ(Names(), (std::vector<std::string>{"out.txt"}));
}

TEST_F(FilesTest, AFailedAppendIsCutBackToTheOldLength) {
    const fs::path path = dir_ / "out.txt";
    Put(path, "previous");
    {
        FileSizeLimit limit(4096);
        EXPECT_FALSE(WriteTextFile(std::u16string(20000, u'y'), path, false));
        EXPECT_FALSE(WriteTextFile(std::u16string(20000, u'y'), dir_ / "new.txt", false));
    }
    EXPECT_EQ(Read(path), "previous");
    EXPECT_EQ(Names(), (std::vector<std::string>{"out.txt"}));
}

TEST_F(FilesTest, CancelledOneFileSaveKeepsTheOldFile) {
    const fs::path path = dir_ / "out.txt";
    Put(path, "old");
    std::vector<int64_t> progress;
    SaveControl control{[&](int64_t done) { progress.push_back(done); }, [&] { return progress.size() == 2; }};
    EXPECT_FALSE(SaveOneFile(Versions(5, 10), u"<br>", path, control));
    EXPECT_EQ(progress, (std::vector<int64_t>{1, 2}));
    EXPECT_EQ(Read(path), "old");
    EXPECT_EQ(Names(), (std::vector<std::string>{"out.txt"}));
}

TEST_F(FilesTest, SeparateFilesAreNumberedFromZeroAndReplaceOnlyTheirOwnNames) {
    Put(dir_ / "result0000003.txt", "older and longer");
    Put(dir_ / "result0000012.txt", "left from a larger save");
    const auto versions = Versions(12, 3);
    std::vector<int64_t> progress;
    ASSERT_TRUE(SaveVersionsToSeparateFiles([&](int64_t n) -> std::u16string_view { return versions[n]; }, 12, dir_,
                                            {[&](int64_t done) { progress.push_back(done); }, {}}));
    EXPECT_EQ(progress.size(), 12u);
    EXPECT_EQ(Names().size(), 13u);
    EXPECT_EQ(Read(dir_ / "result0000000.txt"), "aaa\r\n\r\n");
    EXPECT_EQ(Read(dir_ / "result0000003.txt"), "ddd\r\n\r\n");
    EXPECT_EQ(Read(dir_ / "result0000011.txt"), "lll\r\n\r\n");
    EXPECT_EQ(Read(dir_ / "result0000012.txt"), "left from a larger save");
}

TEST_F(FilesTest, CancelledSeparateFilesKeepTheCompletedOnes) {
    const auto versions = Versions(5, 2);
    int asked = 0;
    EXPECT_FALSE(SaveVersionsToSeparateFiles([&](int64_t n) -> std::u16string_view { return versions[n]; }, 5, dir_,
                                             {{}, [&] { return ++asked > 3; }}));
    EXPECT_EQ(Names(), (std::vector<std::string>{"result0000000.txt", "result0000001.txt", "result0000002.txt"}));
    EXPECT_FALSE(SaveVersionsToSeparateFiles([&](int64_t n) -> std::u16string_view { return versions[n]; }, 5,
                                             dir_ / "missing"));
}

TEST_F(FilesTest, TemplateLoadMakesEveryLineBreakCrLf) {
    const fs::path path = dir_ / "DefaultText.txt";
    std::u16string text;
    Put(path, "a\r\nb");
    ASSERT_TRUE(LoadTemplateFile(path, text));
    EXPECT_EQ(text, u"a\r\nb");
    ASSERT_TRUE(SaveTemplateFile(path, text));
    EXPECT_EQ(Read(path), "a\r\nb");

    Put(path, "\xEF\xBB\xBF" "a\nb\rc\r\n\r\nd\n");
    ASSERT_TRUE(LoadTemplateFile(path, text));
    EXPECT_EQ(text, u"a\r\nb\r\nc\r\n\r\nd\r\n");

    ASSERT_TRUE(SaveTemplateFile(path, u"x\ny"));
    EXPECT_EQ(Read(path), "x\r\ny");
}

TEST_F(FilesTest, TemplateLoadEndsAtEndOfFileOrZeroAndReplacesInvalidBytes) {
    const fs::path path = dir_ / "DefaultText.txt";
    std::u16string text;
    Put(path, "ab\x1A" "cd");
    ASSERT_TRUE(LoadTemplateFile(path, text));
    EXPECT_EQ(text, u"ab");
    Put(path, std::string("ab\0cd", 5));
    ASSERT_TRUE(LoadTemplateFile(path, text));
    EXPECT_EQ(text, u"ab");
    Put(path, "\xD0\xBA\xFF!");
    ASSERT_TRUE(LoadTemplateFile(path, text));
    EXPECT_EQ(text, u"к\uFFFD!");
}

TEST_F(FilesTest, TemplateLoadOfNothingGivesAnEmptyText) {
    std::u16string text = u"stale";
    EXPECT_FALSE(LoadTemplateFile(dir_ / "missing.txt", text));
    EXPECT_TRUE(text.empty());
    for (std::string_view bytes :
         {std::string_view(""), std::string_view("\xEF\xBB\xBF"), std::string_view("\x1A" "x")}) {
        Put(dir_ / "t.txt", bytes);
        text = u"stale";
        EXPECT_FALSE(LoadTemplateFile(dir_ / "t.txt", text));
        EXPECT_TRUE(text.empty());
    }
    EXPECT_FALSE(LoadTemplateFile(dir_, text));
}

TEST_F(FilesTest, ALargeTemplateIsReadWhole) {
    const fs::path path = dir_ / "DefaultText.txt";
    std::string bytes;
    while (bytes.size() < 300000) bytes += "{alpha|beta|gamma} line\r\n";
    bytes += "THE END";
    Put(path, bytes);
    std::u16string text;
    ASSERT_TRUE(LoadTemplateFile(path, text));
    EXPECT_EQ(text.size(), bytes.size());
    EXPECT_TRUE(text.ends_with(u"line\r\nTHE END"));
    // Saved back at exit, the file is unchanged.
    ASSERT_TRUE(SaveDefaultTemplate(path, text));
    EXPECT_EQ(Read(path), bytes);
}

TEST_F(FilesTest, ExitSaveTrimsAndKeepsTheFileForABlankText) {
    const fs::path path = dir_ / "DefaultText.txt";
    Put(path, "previous template");
    EXPECT_TRUE(SaveDefaultTemplate(path, u" \r\n\t\u00A0\u3000\r\n "));
    EXPECT_EQ(Read(path), "previous template");
    ASSERT_TRUE(SaveDefaultTemplate(path, u"\r\n  {a|b}\r\nc \t\r\n"));
    EXPECT_EQ(Read(path), "{a|b}\r\nc");
    EXPECT_TRUE(SaveDefaultTemplate(dir_ / "never.txt", u""));
    EXPECT_FALSE(fs::exists(dir_ / "never.txt"));
}
