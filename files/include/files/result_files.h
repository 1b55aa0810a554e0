// Result files and text files: separator expansion, the numbered file names,
// and the one writer of text files (UTF-8 without a byte-order mark; text is
// written as it is, so CR LF stays CR LF).
//
//   CTextFileWriter out;
//   if (!out.Open(path, /*truncate=*/true)) return false;
//   for (auto& v : versions) out.Write(v + separator);
//   bool saved = out.Commit();   // false on any write failure (disk full)
//
// How a file is written depends on what the name leads to (links followed):
// - a new name, or a regular file alone in a folder the user may write: the
//   text goes to a temporary file beside it (".NAME.PID.RANDOM.tmp"), which is
//   flushed to disk and renamed over it, so it appears whole or not at all; the
//   old file's permissions stay;
// - a regular file with other hard links, or in a folder the user may not
//   write: the whole text is made first and then written over the file;
// - devices, FIFOs, pipes and terminals: written directly, every write checked.
// A folder's temporary files whose writer process is gone are removed by the
// next writer that replaces a file there.
//
// Thread safety: one writer per thread.
#pragma once

#include "text/text_encoding.h"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

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

    // truncate: the text replaces the target's contents on Commit (see above).
    // Otherwise it is appended to the target (created if missing); a failed or
    // discarded append cuts a regular file back to its old length.
    bool Open(const std::filesystem::path& path, bool truncate);
    bool Write(std::u16string_view text);
    bool WriteUtf8(std::string_view bytes);  // bytes already in UTF-8
    bool Commit();  // flush, sync, put into place; false on any failure
    void Discard();
    // The system's error number of the first failure since Open (EISDIR for a
    // folder, EACCES for a file without write permission), 0 without one.
    int ErrorNumber() const { return errorNumber_; }

    // The writer's process id in a temporary file name of this writer, or
    // nothing for any other name.
    static std::optional<pid_t> AbandonedTemporaryWriter(std::string_view name);

private:
    enum class Mode { kNone, kReplace, kInPlace, kDirect, kAppend };

    bool OpenDirect(bool truncate);
    bool OpenForAppend(bool existed);
    bool OpenReplacement(const std::filesystem::path& folder, bool existed);
    bool OpenInPlace();
    int CreateTemporaryBeside(const std::filesystem::path& target);
    void RemoveAbandonedTemporaries(const std::filesystem::path& folder);
    bool Flush();
    bool WriteBlock(std::string_view bytes);
    static bool WriteAll(int file, const char* data, std::size_t size);
    static bool Sync(int file);
    void CopyOverTarget();
    void KeepOwnerAndPermissions();
    void CloseFiles();
    bool Refuse(int errorNumber);
    void Fail(int errorNumber);
    void RollBack();

    Mode mode_ = Mode::kNone;
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::filesystem::path sweptFolder_;
    int file_ = -1;        // what Write fills: the temporary file, the spool, or the target
    int targetFile_ = -1;  // the target while it is written in place
    bool failed_ = false;
    bool open_ = false;
    bool targetExisted_ = false;
    int errorNumber_ = 0;
    std::uintmax_t originalSize_ = 0;
    mode_t oldMode_ = 0;
    uid_t oldOwner_ = 0;
    gid_t oldGroup_ = 0;
    CUtf8Buffer block_{1 << 20};  // encoded text not yet written
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
