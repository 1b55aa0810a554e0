#include "result_rows.h"

#include "command_steps.h"
#include "interrupt.h"
#include "json.h"
#include "text/text_encoding.h"

namespace {

// Splits at LF; a CR before it belongs to the line break.
std::vector<std::u16string_view> SplitLines(std::u16string_view text) {
    std::vector<std::u16string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(u'\n', start);
        if (end == std::u16string_view::npos) end = text.size();
        std::u16string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool IsBlank(std::u16string_view line) {
    return line.find_first_not_of(u" \t\r") == std::u16string_view::npos;
}

}  // namespace

int ReadRows(const std::string& input, bool lines, CRowStore& rows) {
    std::u16string raw;
    if (const int code = ReadInputText(input, raw)) return code;
    if (lines) {
        const std::u16string text = NormalizeLineBreaks(raw);
        std::vector<CStoredRow> read;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find(u"\r\n", start);
            if (end == std::u16string::npos) end = text.size();
            if (end > start)
                read.push_back({static_cast<int64_t>(read.size()) + 1, std::u16string_view(text).substr(start, end - start)});
            start = end + 2;
        }
        rows.Append(read);
        return kExitDone;
    }
    const auto rawLines = SplitLines(raw);
    JsonObject object;
    std::string error;
    for (std::size_t i = 0; i < rawLines.size(); ++i) {
        if (IsBlank(rawLines[i])) continue;
        const std::string where = "bad data at line " + std::to_string(i + 1) + ": ";
        if (!ParseJsonObject(rawLines[i], object, error)) return Fail(kExitBadInput, where + error);
        const JsonField* text = object.Find(u"text");
        if (!text || !text->isString) return Fail(kExitBadInput, where + "no \"text\" string");
        CStoredRow row{static_cast<int64_t>(rows.RowCount()) + 1, text->text};
        if (const JsonField* n = object.Find(u"n")) {
            const auto value = JsonInteger(*n);
            if (!value) return Fail(kExitBadInput, where + "\"n\" is not a whole number");
            row.number = *value;
        }
        if (const JsonField* length = object.Find(u"length"); length && length->isString)
            return Fail(kExitBadInput, where + "\"length\" is not a number");
        rows.Append({&row, 1});
    }
    return kExitDone;
}

int WriteRows(const std::string& output, bool lines, const CRowSnapshot& rows) {
    COutput out;
    if (!out.Open(output)) return Fail(kExitUsage, out.Error());
    std::u16string scratch;
    for (std::size_t i = 0; i < rows.Size(); ++i) {
        const std::u16string_view text = rows.Text(i).View(scratch);
        const bool written = lines ? out.Write(text) && out.Write(u"\r\n") : out.Write(JsonRow(rows.Number(i), text));
        if (!written) break;
    }
    if (!out.Commit()) return Fail(kExitUsage, out.Error());
    return kExitDone;
}

void CRowJobSink::JobProgress(int64_t position) {
    bar_.Update(position, u"");
    if (Interrupted()) run_.Stop();
}
