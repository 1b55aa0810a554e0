#include "files/result_files.h"

#include "text/text_encoding.h"

#include <cstdio>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kStreamBufferBytes = 1 << 20;

// A name beside the target that no other writer picks: the rename that
// publishes the file only works within one file system, so the temporary file
// must live in the target's own folder.
fs::path TemporaryBeside(const fs::path& target) {
    thread_local std::mt19937_64 random{(static_cast<uint64_t>(std::random_device{}()) << 32) ^
                                        std::random_device{}()};
    const fs::path folder = target.parent_path();
    // Keeps the temporary name within the usual 255-byte limit of a file name.
    const std::u8string stem = target.filename().u8string().substr(0, 200);
    for (;;) {
        char suffix[40];
        std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(random()));
        fs::path candidate = folder / (u8"." + stem + reinterpret_cast<const char8_t*>(suffix));
        std::error_code error;
        if (!fs::exists(fs::symlink_status(candidate, error))) return candidate;
    }
}

bool IsReadOnlyFile(const fs::file_status& status) {
    constexpr fs::perms anyWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    return fs::is_regular_file(status) && (status.permissions() & anyWrite) == fs::perms::none;
}

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
    failed_ = false;
    replacing_ = truncate;
    targetExisted_ = false;
    originalSize_ = 0;

    std::error_code error;
    target_ = path;
    // Replacing a link replaces the file it points to, not the link itself.
    if (fs::is_symlink(fs::symlink_status(path, error))) {
        fs::path resolved = fs::weakly_canonical(path, error);
        if (!error) target_ = resolved;
    }
    const fs::file_status status = fs::status(target_, error);
    targetExisted_ = fs::exists(status);
    if (fs::is_directory(status) || IsReadOnlyFile(status)) return false;

    if (streamBuffer_.empty()) streamBuffer_.resize(kStreamBufferBytes);
    stream_.rdbuf()->pubsetbuf(streamBuffer_.data(), static_cast<std::streamsize>(streamBuffer_.size()));

    if (replacing_) {
        temporary_ = TemporaryBeside(target_);
        stream_.open(temporary_, std::ios::binary | std::ios::out | std::ios::trunc);
    } else {
        if (targetExisted_ && fs::is_regular_file(status)) {
            originalSize_ = fs::file_size(target_, error);
            if (error) return false;
        }
        stream_.open(target_, std::ios::binary | std::ios::out | std::ios::app);
    }
    if (!stream_.is_open()) {
        stream_.clear();
        if (replacing_) temporary_.clear();
        return false;
    }
    open_ = true;
    return true;
}

bool CTextFileWriter::Write(std::u16string_view text) {
    if (!open_ || failed_) return false;
    buffer_.clear();
    AppendNarrow(text, buffer_);
    stream_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    if (!stream_) failed_ = true;
    return !failed_;
}

bool CTextFileWriter::Commit() {
    if (!open_) return false;
    stream_.flush();
    if (!stream_) failed_ = true;
    stream_.close();
    if (stream_.fail()) failed_ = true;
    open_ = false;
    if (failed_) {
        RollBack();
        return false;
    }
    if (!replacing_) return true;

    std::error_code error;
    if (targetExisted_) {
        const fs::perms old = fs::status(target_, error).permissions();
        if (!error) fs::permissions(temporary_, old, error);
    }
    fs::rename(temporary_, target_, error);
    if (error) {
        RollBack();
        return false;
    }
    temporary_.clear();
    return true;
}

void CTextFileWriter::Discard() {
    if (!open_) return;
    open_ = false;
    RollBack();
}

void CTextFileWriter::RollBack() {
    if (stream_.is_open()) stream_.close();
    stream_.clear();
    std::error_code error;
    if (replacing_) {
        if (!temporary_.empty()) fs::remove(temporary_, error);
        temporary_.clear();
    } else if (!targetExisted_) {
        fs::remove(target_, error);
    } else if (fs::is_regular_file(target_, error)) {
        fs::resize_file(target_, originalSize_, error);
    }
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
