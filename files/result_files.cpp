#include "files/result_files.h"

#include "text/text_encoding.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBufferBytes = 1 << 20;

}  // namespace

std::u16string ExpandSeparator(std::u16string_view text) {
    static constexpr std::u16string_view kMarker = u"<br>";
    std::u16string expanded;
    expanded.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t at = text.find(kMarker); at != std::u16string_view::npos; at = text.find(kMarker, from)) {
        expanded.append(text.substr(from, at - from));
        expanded.append(u"\r\n");
        from = at + kMarker.size();
    }
    expanded.append(text.substr(from));
    return expanded;
}

std::u16string ResultFileName(int64_t n) {
    char name[40];
    std::snprintf(name, sizeof name, "result%07lld.txt", static_cast<long long>(n));
    return U16(name);
}

fs::path WithDefaultExtension(const fs::path& path) {
    if (path.filename().native().find('.') != fs::path::string_type::npos) return path;
    fs::path completed = path;
    completed += ".txt";
    return completed;
}

fs::path PathFromUtf16(std::u16string_view path) {
    const std::string narrow = ToNarrow(path);
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(narrow.data()), narrow.size()));
}

CTextFileWriter::~CTextFileWriter() { Discard(); }

bool CTextFileWriter::Open(const fs::path& path, bool truncate) {
    Discard();
    mode_ = Mode::kNone;
    failed_ = false;
    errorNumber_ = 0;
    targetExisted_ = false;
    originalSize_ = 0;
    block_.Clear();
    target_ = path;

    // stat follows every link, also the /proc links behind /dev/stdout, so the
    // kind of file is the kind of what the name finally leads to.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno != ENOENT) return Refuse(errno);
        // A name that does not exist yet, or a link to one: the file is
        // created where the link points.
        std::error_code error;
        if (fs::is_symlink(fs::symlink_status(path, error))) {
            const fs::path resolved = fs::weakly_canonical(path, error);
            if (!error) target_ = resolved;
        }
        if (!truncate) return OpenForAppend(false);
        return OpenReplacement(target_.parent_path(), false);
    }
    targetExisted_ = true;
    if (S_ISDIR(status.st_mode)) return Refuse(EISDIR);
    // Devices, pipes, FIFOs and terminals are written as they are: there is
    // nothing to rename over and nothing to take back.
    if (!S_ISREG(status.st_mode)) return OpenDirect(truncate);
    if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return Refuse(EACCES);
    oldMode_ = status.st_mode & 07777;
    oldOwner_ = status.st_uid;
    oldGroup_ = status.st_gid;
    if (!truncate) {
        originalSize_ = static_cast<std::uintmax_t>(status.st_size);
        return OpenForAppend(true);
    }

    // The target is opened for writing first so that a file the user may not
    // write is refused here, whichever way it is then replaced.
    targetFile_ = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (targetFile_ < 0) return Refuse(errno);
    // Renaming replaces a name, so it needs the file's real name: the folder
    // that is written is the one holding the file, not the one holding a link.
    std::error_code error;
    const fs::path real = fs::canonical(path, error);
    struct stat realStatus {};
    const bool realNameKnown = !error && ::stat(real.c_str(), &realStatus) == 0 &&
                               realStatus.st_dev == status.st_dev && realStatus.st_ino == status.st_ino;
    if (realNameKnown) target_ = real;
    // A file with other hard links keeps its links only when its own contents
    // change; a rename would give this name a new file and leave the others
    // with the old text.
    if (!realNameKnown || status.st_nlink > 1) return OpenInPlace();
    return OpenReplacement(target_.parent_path(), true);
}

bool CTextFileWriter::OpenDirect(bool truncate) {
    file_ = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (truncate ? O_TRUNC : O_APPEND));
    if (file_ < 0) return Refuse(errno);
    mode_ = Mode::kDirect;
    open_ = true;
    return true;
}

bool CTextFileWriter::OpenForAppend(bool existed) {
    targetExisted_ = existed;
    file_ = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_APPEND | O_CREAT, 0666);
    if (file_ < 0) return Refuse(errno);
    mode_ = Mode::kAppend;
    open_ = true;
    return true;
}

bool CTextFileWriter::OpenReplacement(const fs::path& folder, bool existed) {
    const fs::path folderName = folder.empty() ? fs::path(".") : folder;
    if (sweptFolder_ != folderName) {
        RemoveAbandonedTemporaries(folderName);
        sweptFolder_ = folderName;
    }
    const int folderError = CreateTemporaryBeside(target_);
    if (folderError == 0) {
        mode_ = Mode::kReplace;
        if (targetFile_ >= 0) ::close(targetFile_);
        targetFile_ = -1;
        open_ = true;
        return true;
    }
    // A folder the user may not write still lets an existing writable file be
    // saved: in place, once the whole new text is ready.
    const bool folderNotWritable = folderError == EACCES || folderError == EPERM || folderError == EROFS;
    if (existed && folderNotWritable) return OpenInPlace();
    return Refuse(folderError);
}

// The new text is written to an unnamed file in the temporary folder and
// copied over the target only on Commit, so a run that fails or is cancelled
// leaves the target as it was. The copy itself is not atomic: this is the
// way for files that cannot be replaced by a rename (a folder the user may not
// write, other hard links), and a failure during the copy can leave it cut.
bool CTextFileWriter::OpenInPlace() {
    if (targetFile_ < 0) {
        targetFile_ = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (targetFile_ < 0) return Refuse(errno);
    }
    std::error_code error;
    fs::path spoolFolder = fs::temp_directory_path(error);
    if (error) spoolFolder = "/tmp";
    file_ = ::open(spoolFolder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (file_ < 0) {
        std::string name = (spoolFolder / "phrasemill-XXXXXX").string();
        file_ = ::mkstemp(name.data());
        if (file_ >= 0) ::unlink(name.c_str());
    }
    if (file_ < 0) return Refuse(errno);
    mode_ = Mode::kInPlace;
    open_ = true;
    return true;
}

// Temporary files are named ".NAME.PID.RANDOM.tmp": the writer's process id
// lets a later writer tell a file whose writer was killed from one still being
// written. Returns 0 or the error of creating the file.
int CTextFileWriter::CreateTemporaryBeside(const fs::path& target) {
    thread_local std::mt19937_64 random{(static_cast<uint64_t>(std::random_device{}()) << 32) ^
                                        std::random_device{}()};
    const fs::path folder = target.parent_path();
    // Keeps the temporary name within the usual 255-byte limit of a file name.
    const std::string stem = target.filename().string().substr(0, 200);
    for (;;) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".%ld.%016llx.tmp", static_cast<long>(::getpid()),
                      static_cast<unsigned long long>(random()));
        const fs::path candidate = folder / ("." + stem + suffix);
        file_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
        if (file_ >= 0) {
            temporary_ = candidate;
            return 0;
        }
        if (errno != EEXIST) return errno;
    }
}

// Removes the temporary files of writers that no longer run. Done once per
// folder and writer, for every target in the folder, so that saving many files
// into one folder reads the folder once.
void CTextFileWriter::RemoveAbandonedTemporaries(const fs::path& folder) {
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) return;
    const pid_t self = ::getpid();
    for (auto entry = fs::begin(entries); entry != fs::end(entries); entry.increment(error)) {
        if (error) return;
        const std::string name = entry->path().filename().string();
        const auto writer = AbandonedTemporaryWriter(name);
        if (!writer || *writer == self) continue;
        if (::kill(*writer, 0) == 0 || errno != ESRCH) continue;
        std::error_code ignored;
        if (entry->is_regular_file(ignored)) fs::remove(entry->path(), ignored);
    }
}

std::optional<pid_t> CTextFileWriter::AbandonedTemporaryWriter(std::string_view name) {
    // "." NAME "." PID "." 16 hexadecimal digits ".tmp"
    constexpr std::string_view kEnd = ".tmp";
    constexpr std::size_t kRandomDigits = 16;
    if (name.size() < 1 + 1 + 1 + 1 + 1 + kRandomDigits + kEnd.size() || name.front() != '.' ||
        name.substr(name.size() - kEnd.size()) != kEnd)
        return std::nullopt;
    name.remove_suffix(kEnd.size());
    const std::string_view random = name.substr(name.size() - kRandomDigits);
    if (random.find_first_not_of("0123456789abcdef") != std::string_view::npos) return std::nullopt;
    name.remove_suffix(kRandomDigits);
    if (name.back() != '.') return std::nullopt;
    name.remove_suffix(1);
    const std::size_t dot = name.rfind('.');
    if (dot == 0 || dot == std::string_view::npos) return std::nullopt;
    const std::string_view digits = name.substr(dot + 1);
    long pid = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || pid <= 0) return std::nullopt;
    return static_cast<pid_t>(pid);
}

bool CTextFileWriter::Write(std::u16string_view text) {
    if (!open_ || failed_) return false;
    return block_.Append(text, [this](std::string_view bytes) { return WriteBlock(bytes); });
}

bool CTextFileWriter::WriteUtf8(std::string_view bytes) {
    if (!open_ || failed_) return false;
    return block_.AppendBytes(bytes, [this](std::string_view full) { return WriteBlock(full); });
}

bool CTextFileWriter::WriteBlock(std::string_view bytes) {
    if (!WriteAll(file_, bytes.data(), bytes.size())) Fail(errno);
    return !failed_;
}

bool CTextFileWriter::Flush() {
    return block_.Flush([this](std::string_view bytes) { return WriteBlock(bytes); });
}

bool CTextFileWriter::WriteAll(int file, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(file, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// fsync is refused by devices and pipes and by some file systems for folders;
// that refusal is not a failure to store the data.
bool CTextFileWriter::Sync(int file) {
    return ::fsync(file) == 0 || errno == EINVAL || errno == ENOTSUP || errno == EROFS;
}

bool CTextFileWriter::Commit() {
    if (!open_) return false;
    open_ = false;
    if (!failed_) Flush();
    if (!failed_ && (mode_ == Mode::kReplace || mode_ == Mode::kAppend) && !Sync(file_)) Fail(errno);
    if (!failed_ && mode_ == Mode::kInPlace) CopyOverTarget();
    if (!failed_ && mode_ == Mode::kReplace && targetExisted_) KeepOwnerAndPermissions();
    if (!failed_) CloseFiles();
    if (failed_) {
        RollBack();
        return false;
    }
    if (mode_ != Mode::kReplace) return true;

    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        Fail(errno);
        RollBack();
        return false;
    }
    temporary_.clear();
    // The rename is on disk only once the folder is.
    const fs::path folder = target_.parent_path().empty() ? fs::path(".") : target_.parent_path();
    const int folderFile = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFile >= 0) {
        if (!Sync(folderFile)) Fail(errno);
        ::close(folderFile);
    }
    return !failed_;
}

void CTextFileWriter::KeepOwnerAndPermissions() {
    // Another owner's file keeps its owner where the system allows that (as
    // root); elsewhere the new file belongs to the writer, as a rename must.
    if (oldOwner_ != ::geteuid() || oldGroup_ != ::getegid()) {
        [[maybe_unused]] const int ownerKept = ::fchown(file_, oldOwner_, oldGroup_);
    }
    if (::fchmod(file_, oldMode_) != 0) Fail(errno);
}

void CTextFileWriter::CloseFiles() {
    for (int* file : {&file_, &targetFile_}) {
        if (*file < 0) continue;
        if (::close(*file) != 0) Fail(errno);
        *file = -1;
    }
}

void CTextFileWriter::CopyOverTarget() {
    std::vector<char> chunk(kBufferBytes);
    if (::lseek(file_, 0, SEEK_SET) != 0 || ::lseek(targetFile_, 0, SEEK_SET) != 0) return Fail(errno);
    off_t length = 0;
    for (;;) {
        const ssize_t got = ::read(file_, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Fail(errno);
        if (got == 0) break;
        if (!WriteAll(targetFile_, chunk.data(), static_cast<std::size_t>(got))) return Fail(errno);
        length += got;
    }
    // Cut only after the new text is in: overwriting the old blocks first
    // needs no new space on most file systems.
    if (::ftruncate(targetFile_, length) != 0) return Fail(errno);
    if (!Sync(targetFile_)) Fail(errno);
}

void CTextFileWriter::Discard() {
    if (!open_) return;
    open_ = false;
    RollBack();
}

bool CTextFileWriter::Refuse(int errorNumber) {
    Fail(errorNumber);
    RollBack();
    return false;
}

void CTextFileWriter::Fail(int errorNumber) {
    if (!failed_) errorNumber_ = errorNumber;
    failed_ = true;
}

void CTextFileWriter::RollBack() {
    block_.Clear();
    for (int* file : {&file_, &targetFile_}) {
        if (*file >= 0) ::close(*file);
        *file = -1;
    }
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
    if (mode_ == Mode::kAppend && targetExisted_) {
        [[maybe_unused]] const int cutBack = ::truncate(target_.c_str(), static_cast<off_t>(originalSize_));
    } else if (mode_ == Mode::kAppend) {
        ::unlink(target_.c_str());
    }
    mode_ = Mode::kNone;
}

bool WriteTextFile(std::u16string_view text, const fs::path& path, bool truncate) {
    if (text.empty()) return false;
    CTextFileWriter writer;
    if (!writer.Open(path, truncate)) return false;
    writer.Write(text);
    return writer.Commit();
}

bool SaveVersionsToFile(const std::function<std::u16string_view(int64_t)>& version, int64_t count,
                        std::u16string_view expandedSeparator, const fs::path& path, const SaveControl& control) {
    if (count <= 0) return false;
    CTextFileWriter writer;
    if (!writer.Open(path, true)) return false;
    for (int64_t i = 0; i < count; ++i) {
        if (control.cancelled && control.cancelled()) return false;  // the writer discards the temporary file
        if (!writer.Write(version(i)) || !writer.Write(expandedSeparator)) return false;
        if (control.progress) control.progress(i + 1);
    }
    return writer.Commit();
}

bool SaveVersionsToSeparateFiles(const std::function<std::u16string_view(int64_t)>& version, int64_t count,
                                 const fs::path& folder, const SaveControl& control) {
    if (count <= 0) return false;
    CTextFileWriter writer;
    for (int64_t n = 0; n < count; ++n) {
        if (control.cancelled && control.cancelled()) return false;
        if (!writer.Open(folder / PathFromUtf16(ResultFileName(n)), true)) return false;
        if (!writer.Write(version(n)) || !writer.Write(u"\r\n\r\n") || !writer.Commit()) return false;
        if (control.progress) control.progress(n + 1);
    }
    return true;
}
