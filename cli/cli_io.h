// Input, output and terminal feedback of the command line: the input text
// (a file or standard input, UTF-8, byte-order mark skipped), the output
// channel (standard output, or a file that appears whole or not at all), the
// progress bar on a terminal, and the error messages with their exit codes.
//
//   std::u16string text;
//   if (int code = ReadInputText(path, text)) return code;   // 2 on failure
//   COutput out;
//   if (!out.Open(outputPath)) return Fail(kExitUsage, out.Error());
//   out.Write(u"version\r\n");
//   if (!out.Commit()) return Fail(kExitUsage, out.Error());
//
// Thread safety: one thread at a time per object; Fail writes to stderr.
#pragma once

#include "files/result_files.h"
#include "text/text_encoding.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

constexpr int kExitDone = 0;
constexpr int kExitBadInput = 1;  // incorrect template or data
constexpr int kExitUsage = 2;     // usage or I/O error
constexpr int kExitInterrupted = 130;

// Writes "phrasemill-cli: message" and a line break to stderr; returns code.
int Fail(int code, std::string_view message);
std::string Narrow(std::u16string_view text);
std::u16string TrimTrailingSpaces(std::u16string_view text);

// Reads the whole input ("-" or empty: standard input) and decodes it; 0 on
// success, else an exit code after a message: kExitUsage when the input cannot
// be read or is not UTF-8 (naming the byte offset of the first bad byte),
// kExitBadInput when it is longer than a template can be (reading stops
// there, so an endless input ends too). Line breaks are left as they are.
int ReadInputText(const std::string& path, std::u16string& text);

// Standard output ("-" or empty) or a file that CTextFileWriter puts into
// place on Commit.
class COutput {
public:
    bool Open(const std::string& path);
    bool Write(std::u16string_view text);
    bool WriteUtf8(std::string_view bytes);  // bytes already in UTF-8
    bool Commit();
    void Discard();
    bool Failed() const { return failed_; }
    bool WroteAnything() const { return written_; }
    const std::string& Error() const { return error_; }

private:
    bool WriteStdout(std::string_view bytes);

    bool toFile_ = false;
    bool failed_ = false;
    bool written_ = false;
    std::string path_;
    std::string error_;
    CUtf8Buffer stdoutBlock_{1 << 18};  // written to stdout whenever full
    CTextFileWriter file_;
};

// A one-line progress bar on stderr, drawn only when stderr is a terminal.
class CProgressBar {
public:
    CProgressBar();
    void Start(int64_t range);
    void Update(int64_t position, std::u16string_view note, bool force = false);
    void Finish();
    bool Enabled() const { return enabled_; }

private:
    bool enabled_ = false;
    bool shown_ = false;
    int64_t range_ = 0;
    int64_t position_ = 0;
    std::chrono::steady_clock::time_point lastDraw_{};
};
