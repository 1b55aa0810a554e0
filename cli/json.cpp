#include "json.h"

#include <charconv>

namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

class CParser {
public:
    CParser(std::u16string_view text, std::string& error) : text_(text), error_(error) {}

    bool ParseObject(JsonObject& out) {
        out.fields.clear();
        SkipBlanks();
        if (!Expect(u'{')) return false;
        SkipBlanks();
        if (Peek() == u'}') {
            ++pos_;
            return AtEnd();
        }
        for (;;) {
            JsonField field;
            SkipBlanks();
            if (Peek() != u'"') return Fail("expected a quoted key");
            if (!ParseString(field.key)) return false;
            if (out.Find(field.key)) return Fail("repeated key");
            SkipBlanks();
            if (!Expect(u':')) return false;
            SkipBlanks();
            if (Peek() == u'"') {
                field.isString = true;
                if (!ParseString(field.text)) return false;
            } else if (Peek() == u'-' || IsDigit(Peek())) {
                if (!ParseNumber(field.numberText)) return false;
            } else {
                return Fail("expected a string or a number");
            }
            out.fields.push_back(std::move(field));
            SkipBlanks();
            if (Peek() == u',') {
                ++pos_;
                continue;
            }
            if (!Expect(u'}')) return false;
            return AtEnd();
        }
    }

private:
    char16_t Peek() const { return pos_ < text_.size() ? text_[pos_] : u'\0'; }
    bool More() const { return pos_ < text_.size(); }

    void SkipBlanks() {
        while (More() && (text_[pos_] == u' ' || text_[pos_] == u'\t' || text_[pos_] == u'\r' || text_[pos_] == u'\n'))
            ++pos_;
    }

    bool Fail(const char* what) {
        error_ = std::string(what) + " at column " + std::to_string(pos_ + 1);
        return false;
    }

    bool Expect(char16_t c) {
        if (Peek() != c || !More()) {
            std::string what = "expected '";
            what += static_cast<char>(c);
            what += "'";
            error_ = what + " at column " + std::to_string(pos_ + 1);
            return false;
        }
        ++pos_;
        return true;
    }

    bool AtEnd() {
        SkipBlanks();
        return More() ? Fail("unexpected text after the object") : true;
    }

    bool ParseHex4(char16_t& unit) {
        if (text_.size() - pos_ < 4) return Fail("incomplete \\u escape");
        unsigned value = 0;
        for (int k = 0; k < 4; ++k) {
            const char16_t c = text_[pos_ + k];
            value <<= 4;
            if (c >= u'0' && c <= u'9') value |= c - u'0';
            else if (c >= u'a' && c <= u'f') value |= c - u'a' + 10;
            else if (c >= u'A' && c <= u'F') value |= c - u'A' + 10;
            else return Fail("bad \\u escape");
        }
        pos_ += 4;
        unit = static_cast<char16_t>(value);
        return true;
    }

    // At the opening quote.
    bool ParseString(std::u16string& out) {
        ++pos_;
        out.clear();
        for (;;) {
            if (!More()) return Fail("unterminated string");
            const std::size_t runStart = pos_;
            while (More() && text_[pos_] != u'"' && text_[pos_] != u'\\' && text_[pos_] >= 0x20) ++pos_;
            out.append(text_.substr(runStart, pos_ - runStart));
            if (!More()) return Fail("unterminated string");
            const char16_t c = text_[pos_];
            if (c == u'"') {
                ++pos_;
                return true;
            }
            if (c < 0x20) return Fail("control character inside a string");
            ++pos_;  // the backslash
            if (!More()) return Fail("unterminated string");
            const char16_t e = text_[pos_++];
            switch (e) {
                case u'"': out.push_back(u'"'); break;
                case u'\\': out.push_back(u'\\'); break;
                case u'/': out.push_back(u'/'); break;
                case u'b': out.push_back(u'\b'); break;
                case u'f': out.push_back(u'\f'); break;
                case u'n': out.push_back(u'\n'); break;
                case u'r': out.push_back(u'\r'); break;
                case u't': out.push_back(u'\t'); break;
                case u'u': {
                    char16_t unit = 0;
                    if (!ParseHex4(unit)) return false;
                    out.push_back(unit);
                    break;
                }
                default: --pos_; return Fail("unknown escape");
            }
        }
    }

    bool ParseNumber(std::u16string& out) {
        const std::size_t start = pos_;
        if (Peek() == u'-') ++pos_;
        if (Peek() == u'0') {
            ++pos_;
        } else if (IsDigit(Peek()) && More()) {
            while (More() && IsDigit(Peek())) ++pos_;
        } else {
            return Fail("bad number");
        }
        if (More() && Peek() == u'.') {
            ++pos_;
            if (!More() || !IsDigit(Peek())) return Fail("bad number");
            while (More() && IsDigit(Peek())) ++pos_;
        }
        if (More() && (Peek() == u'e' || Peek() == u'E')) {
            ++pos_;
            if (More() && (Peek() == u'+' || Peek() == u'-')) ++pos_;
            if (!More() || !IsDigit(Peek())) return Fail("bad number");
            while (More() && IsDigit(Peek())) ++pos_;
        }
        out.assign(text_.substr(start, pos_ - start));
        return true;
    }

    std::u16string_view text_;
    std::string& error_;
    std::size_t pos_ = 0;
};

}  // namespace

const JsonField* JsonObject::Find(std::u16string_view key) const {
    for (const JsonField& field : fields)
        if (field.key == key) return &field;
    return nullptr;
}

bool ParseJsonObject(std::u16string_view text, JsonObject& out, std::string& error) {
    return CParser(text, error).ParseObject(out);
}

std::optional<int64_t> JsonInteger(const JsonField& field) {
    if (field.isString || field.numberText.empty()) return std::nullopt;
    std::string narrow;
    for (char16_t c : field.numberText) {
        if (c != u'-' && !IsDigit(c)) return std::nullopt;
        narrow.push_back(static_cast<char>(c));
    }
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(narrow.data(), narrow.data() + narrow.size(), value);
    if (ec != std::errc() || end != narrow.data() + narrow.size()) return std::nullopt;
    return value;
}

void AppendJsonString(std::u16string_view text, std::u16string& out) {
    static constexpr char16_t kHex[] = u"0123456789abcdef";
    out.push_back(u'"');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        switch (c) {
            case u'"': out.append(u"\\\""); continue;
            case u'\\': out.append(u"\\\\"); continue;
            case u'\b': out.append(u"\\b"); continue;
            case u'\f': out.append(u"\\f"); continue;
            case u'\n': out.append(u"\\n"); continue;
            case u'\r': out.append(u"\\r"); continue;
            case u'\t': out.append(u"\\t"); continue;
            default: break;
        }
        if (c < 0x20) {
            out.append(u"\\u00");
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            out.push_back(c);
            out.push_back(text[++i]);
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            out.push_back(u'?');
        } else {
            out.push_back(c);
        }
    }
    out.push_back(u'"');
}
