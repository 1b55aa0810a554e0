#include "cli_io.h"

#include "engine/string_generator.h"
#include "text/text_encoding.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kReadChunk = 1 << 16;

// The system's reason, when the failed call left one.
std::string Reason() {
    return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
}

std::string FileError(const std::string& path, int errorNumber) {
    return "cannot write '" + path + "': " + std::strerror(errorNumber);
}

}  // namespace

int Fail(int code, std::string_view message) {
    std::string line = "phrasemill-cli: ";
    line.append(message);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return code;
}

std::string Narrow(std::u16string_view text) { return ToNarrow(text); }

std::u16string TrimTrailingSpaces(std::u16string_view text) {
    const auto last = text.find_last_not_of(u' ');
    return std::u16string(last == std::u16string_view::npos ? std::u16string_view() : text.substr(0, last + 1));
}

int ReadInputText(const std::string& path, std::u16string& text) {
    const bool fromStdin = path.empty() || path == "-";
    const std::string name = fromStdin ? std::string("standard input") : "'" + path + "'";
    std::FILE* in = fromStdin ? stdin : std::fopen(path.c_str(), "rb");
    if (!in) return Fail(kExitUsage, "cannot open " + name + ": " + std::strerror(errno));
    const auto close = [&] {
        if (!fromStdin) std::fclose(in);
    };

    // Decoded chunk by chunk, so the input is never held twice and reading
    // stops at the first bad byte or once the text is too long to load.
    text.clear();
    struct stat status {};
    if (fstat(fileno(in), &status) == 0 && S_ISREG(status.st_mode)) {
        text.reserve(std::min<std::size_t>(static_cast<std::size_t>(status.st_size),
                                           SyntaxStringGenerator::kMaxTemplateLength + 1));
    }
    std::string pending;     // bytes read but not decoded yet: a sequence cut by the chunk's end
    uint64_t decoded = 0;    // input bytes before pending
    bool atStart = true;
    std::vector<char> chunk(kReadChunk);
    for (;;) {
        const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), in);
        const bool atEnd = got < chunk.size();
        if (atEnd && std::ferror(in)) {
            const int readErrno = errno;
            close();
            return Fail(kExitUsage, "cannot read " + name + ": " + std::strerror(readErrno));
        }
        pending.append(chunk.data(), got);
        if (atStart && pending.size() < 3 && !atEnd) continue;
        std::string_view view(pending);
        if (atStart && view.substr(0, 3) == "\xEF\xBB\xBF") {
            view.remove_prefix(3);
            decoded += 3;
        }
        atStart = false;
        const std::size_t used = AppendUtf8Prefix(view, text);
        decoded += used;
        view.remove_prefix(used);
        if (text.size() > SyntaxStringGenerator::kMaxTemplateLength) {
            close();
            return Fail(kExitBadInput, name + " is too large: the limit is " +
                                           std::to_string(SyntaxStringGenerator::kMaxTemplateLength) +
                                           " UTF-16 code units of text");
        }
        // Fewer than four bytes left before more input may be a sequence the
        // next chunk completes; anything else is a bad byte.
        if (!view.empty() && (atEnd || view.size() >= 4)) {
            close();
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(view[0]));
            return Fail(kExitUsage, name + " is not valid UTF-8 text: byte " + hex + " at offset " +
                                        std::to_string(decoded) + " does not start a valid sequence");
        }
        pending.assign(view);
        if (atEnd) break;
    }
    close();
    return kExitDone;
}

bool COutput::Open(const std::string& path) {
    path_ = path;
    toFile_ = !(path.empty() || path == "-");
    if (!toFile_) return true;
    if (!file_.Open(std::filesystem::path(path), true)) {
        failed_ = true;
        error_ = FileError(path, file_.ErrorNumber());
        return false;
    }
    return true;
}

bool COutput::WriteStdout(std::string_view bytes) {
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
        failed_ = true;
        error_ = "cannot write to standard output" + Reason();
    }
    return !failed_;
}

bool COutput::Write(std::u16string_view text) {
    if (failed_) return false;
    if (toFile_) {
        written_ = true;
        if (!file_.Write(text)) {
            failed_ = true;
            error_ = FileError(path_, file_.ErrorNumber());
        }
        return !failed_;
    }
    written_ = true;
    return stdoutBlock_.Append(text, [this](std::string_view bytes) { return WriteStdout(bytes); });
}

bool COutput::WriteUtf8(std::string_view bytes) {
    if (failed_) return false;
    written_ = true;
    if (toFile_) {
        if (!file_.WriteUtf8(bytes)) {
            failed_ = true;
            error_ = FileError(path_, file_.ErrorNumber());
        }
        return !failed_;
    }
    return stdoutBlock_.AppendBytes(bytes, [this](std::string_view full) { return WriteStdout(full); });
}

bool COutput::Commit() {
    if (failed_) {
        Discard();
        return false;
    }
    if (toFile_) {
        if (!file_.Commit()) {
            failed_ = true;
            error_ = FileError(path_, file_.ErrorNumber());
        }
        return !failed_;
    }
    if (stdoutBlock_.Flush([this](std::string_view bytes) { return WriteStdout(bytes); }) &&
        std::fflush(stdout) != 0) {
        failed_ = true;
        error_ = "cannot write to standard output" + Reason();
    }
    return !failed_;
}

void COutput::Discard() {
    if (toFile_) file_.Discard();
    stdoutBlock_.Clear();
}

CProgressBar::CProgressBar() : enabled_(isatty(STDERR_FILENO) == 1) {}

void CProgressBar::Start(int64_t range) {
    range_ = range;
    position_ = 0;
    if (enabled_) Update(0, u"", true);
}

void CProgressBar::Update(int64_t position, std::u16string_view note, bool force) {
    if (!enabled_) return;
    if (position >= 0) position_ = position;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    constexpr int kWidth = 30;
    const double share = range_ > 0 ? std::min(1.0, static_cast<double>(position_) / static_cast<double>(range_)) : 0;
    const int filled = static_cast<int>(share * kWidth);
    std::string line = "\r[";
    line.append(filled, '#');
    line.append(kWidth - filled, '.');
    char percent[16];
    std::snprintf(percent, sizeof percent, "] %3d%% ", static_cast<int>(share * 100));
    line += percent;
    line += Narrow(note);
    line += "\033[K";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    shown_ = true;
}

void CProgressBar::Finish() {
    if (!enabled_ || !shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}
