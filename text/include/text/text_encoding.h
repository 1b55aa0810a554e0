// Conversions between the program's UTF-16 text and the 8-bit text of files
// and of the similarity test (UTF-8 without a byte-order mark).
//
//   std::u16string wide;
//   if (!DecodeUtf8(bytes, wide)) { /* report invalid UTF-8 */ }
//   std::string narrow = ToNarrow(wide);          // lone surrogates -> "?"
//   std::u16string editorText = NormalizeLineBreaks(wide);  // CR LF only
//
//   CUtf8Buffer block;                            // output in large blocks
//   block.Append(version, [&](std::string_view bytes) { return WriteAll(fd, bytes); });
//   block.Flush([&](std::string_view bytes) { return WriteAll(fd, bytes); });
//
// The encoder converts sixteen ASCII code units at a time and falls back to
// one character at a time only around other characters.
// Thread safety: pure functions, callable from any thread; a CUtf8Buffer
// belongs to one thread at a time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

// UTF-16 -> UTF-8. A code unit that is not part of a valid surrogate pair is
// written as "?", the stand-in for a character the narrow text cannot hold.
std::string ToNarrow(std::u16string_view text);
void AppendNarrow(std::u16string_view text, std::string& out);

// The most bytes EncodeUtf8 writes for a text of this many code units.
constexpr std::size_t MaxUtf8Bytes(std::size_t units) { return units * 3; }
// UTF-16 -> UTF-8 into out, which has room for MaxUtf8Bytes(text.size())
// bytes; returns the number of bytes written. Same output as AppendNarrow.
std::size_t EncodeUtf8(std::u16string_view text, char* out);

// UTF-8 output collected in one block of fixed size, handed on whole: the
// writers of files and of standard output encode straight into it, so a
// version costs no allocation and the system sees a few large writes.
// Each Append is encoded on its own, exactly as AppendNarrow would.
class CUtf8Buffer {
public:
    explicit CUtf8Buffer(std::size_t capacity = std::size_t{1} << 20);

    // drain(std::string_view bytes) -> bool takes a full block; false (a
    // failed write) stops Append and Flush, which then return false.
    template <typename Drain>
    bool Append(std::u16string_view text, Drain&& drain);
    // Bytes already in UTF-8, taken as they are; a span of kDirectBytes or
    // more goes to drain as it stands, after what the buffer holds.
    static constexpr std::size_t kDirectBytes = std::size_t{1} << 16;
    template <typename Drain>
    bool AppendBytes(std::string_view bytes, Drain&& drain);
    template <typename Drain>
    bool Flush(Drain&& drain) {
        if (size_ == 0) return true;
        const std::size_t size = size_;
        size_ = 0;
        return drain(std::string_view(data_.get(), size));
    }
    void Clear() { size_ = 0; }
    std::size_t Size() const { return size_; }

private:
    // How many leading units of text fit the room left (at least one when
    // the room holds two characters), never splitting a surrogate pair.
    std::size_t UnitsThatFit(std::u16string_view text) const;
    void EncodeUnits(std::u16string_view text);

    std::unique_ptr<char[]> data_;  // allocated by the first Append
    std::size_t size_ = 0;
    std::size_t capacity_;
};

template <typename Drain>
bool CUtf8Buffer::AppendBytes(std::string_view bytes, Drain&& drain) {
    if (bytes.size() >= kDirectBytes) return Flush(drain) && drain(bytes);
    if (!data_) data_.reset(new char[capacity_]);
    while (!bytes.empty()) {
        if (size_ == capacity_ && !Flush(drain)) return false;
        const std::size_t n = std::min(bytes.size(), capacity_ - size_);
        std::memcpy(data_.get() + size_, bytes.data(), n);
        size_ += n;
        bytes.remove_prefix(n);
    }
    return true;
}

template <typename Drain>
bool CUtf8Buffer::Append(std::u16string_view text, Drain&& drain) {
    while (!text.empty()) {
        if (capacity_ - size_ < MaxUtf8Bytes(2) && !Flush(drain)) return false;
        const std::size_t units = UnitsThatFit(text);
        EncodeUnits(text.substr(0, units));
        text.remove_prefix(units);
    }
    return true;
}
// One code point (below U+110000, not a surrogate) as UTF-8.
void AppendUtf8(char32_t codePoint, std::string& out);

// UTF-8 -> UTF-16. Returns false (and leaves out unspecified) when the bytes are
// not valid UTF-8 (overlong forms, surrogates and values above U+10FFFF count as
// invalid). A leading byte-order mark is not skipped here.
bool DecodeUtf8(std::string_view bytes, std::u16string& out);
// The piecewise form for reading a stream: appends to out the code points of
// bytes up to the first sequence that is invalid or cut off by the end, and
// returns how many bytes that took (bytes.size() when all were decoded).
std::size_t AppendUtf8Prefix(std::string_view bytes, std::u16string& out);

// UTF-8 -> UTF-16 for bytes already known to be valid or where a lossy result
// is wanted: every invalid sequence becomes U+FFFD.
std::u16string FromNarrowLossy(std::string_view bytes);
// The number of UTF-16 code units that valid UTF-8 decodes to, sixteen or
// sixty-four bytes a step: one per byte that is not a continuation byte, two
// for a four-byte character.
std::size_t Utf16Length(std::string_view utf8);

// LF, CR and CR LF line breaks all become CR LF, as in the editor.
std::u16string NormalizeLineBreaks(std::u16string_view text);
// The same in the text's own buffer, which grows only by the bare CR and LF.
std::u16string NormalizeLineBreaks(std::u16string&& text);
inline std::u16string NormalizeLineBreaks(const char16_t* text) {
    return NormalizeLineBreaks(std::u16string_view(text));
}

// Convenience for literals in tests and messages (ASCII/UTF-8 input).
inline std::u16string U16(std::string_view utf8) { return FromNarrowLossy(utf8); }
