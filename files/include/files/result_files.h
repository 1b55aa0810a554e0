// Result files and text files: separator expansion, the numbered file names,
// and the one writer of text files (UTF-8 without a byte-order mark; text is
// written as it is, so CR LF stays CR LF).
//
//   CTextFileWriter out;
//   if (!out.Open(path, /*truncate=*/true)) return false;
//   for (auto& v : versions) out.Write(v + separator);
//   bool saved = out.Commit();   // false on any write failure (disk full)
//
// A file that replaces another is written beside it and renamed over it, so it
// appears whole or not at all. Thread safety: one writer per thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct SavingOptions {
    std::u16string versionsSeparator = u"<br><br>";
};

// Every "<br>" becomes CR LF; nothing else is interpreted.
std::u16string ExpandSeparator(std::u16string_view text);

// "result" + n zero-padded to seven digits + ".txt"; past 9,999,999 the number
// simply takes more digits.
std::u16string ResultFileName(int64_t n);

// Appends ".txt" when the file name has no "." (the folder's dots do not count).
std::filesystem::path WithDefaultExtension(const std::filesystem::path& path);

std::filesystem::path PathFromUtf16(std::u16string_view path);

class CTextFileWriter {
public:
    CTextFileWriter() = default;
    ~CTextFileWriter();  // an uncommitted file is discarded
    CTextFileWriter(const CTextFileWriter&) = delete;
    CTextFileWriter& operator=(const CTextFileWriter&) = delete;

    // truncate: the text goes to a temporary file in the same folder that
    // replaces the target as a whole on Commit. Otherwise it is appended to
    // the target (created if missing); a failed or discarded append cuts the
    // file back to its old length.
    bool Open(const std::filesystem::path& path, bool truncate);
    bool Write(std::u16string_view text);
    bool Commit();  // flush, close, rename into place; false on any failure
    void Discard();

private:
    void RollBack();

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::ofstream stream_;
    bool failed_ = false;
    bool open_ = false;
    bool replacing_ = false;
    bool targetExisted_ = false;
    std::uintmax_t originalSize_ = 0;
    std::string buffer_;
    std::vector<char> streamBuffer_;
};

// Returns false without touching the disk when text is empty, and false when
// the file cannot be opened or any write fails.
bool WriteTextFile(std::u16string_view text, const std::filesystem::path& path, bool truncate);

// Progress and cancellation for long saves; both may be empty. progress gets
// the number of versions written so far, once per version; cancelled is asked
// before each version.
struct SaveControl {
    std::function<void(int64_t done)> progress;
    std::function<bool()> cancelled;
};

// One file: each version followed by the expanded separator. The file appears
// whole or not at all; false also when count is 0 (nothing is touched) and
// when cancelled (the temporary file is discarded, an old file stays).
bool SaveVersionsToFile(const std::function<std::u16string_view(int64_t)>& version, int64_t count,
                        std::u16string_view expandedSeparator, const std::filesystem::path& path,
                        const SaveControl& control = {});

// One file per version, ResultFileName(n) in folder, each version followed by
// CR LF CR LF; each file appears whole or not at all. Stops at the first
// failure or on cancel; the files completed before stay. False when count is 0.
bool SaveVersionsToSeparateFiles(const std::function<std::u16string_view(int64_t)>& version, int64_t count,
                                 const std::filesystem::path& folder, const SaveControl& control = {});
