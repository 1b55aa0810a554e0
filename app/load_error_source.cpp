#include "app/load_error_source.h"

#include "engine/macros.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::u16string_view kDirective = u"#set";

// Where a stretch of the text being expanded came from: editor characters
// (raw indexes, CR LF counting two) or the value of one macro use.
struct Piece {
    std::size_t start = 0;  // in the current text
    std::size_t length = 0;
    bool fromMacro = false;
    std::size_t editorStart = 0;  // raw editor index of the first character, or of the macro use
    std::size_t name = 0;         // index into the names, when fromMacro
};

class CTracedText {
public:
    std::u16string text;
    std::vector<Piece> pieces;  // ascending, covering text

    const Piece& PieceAt(std::size_t index) const {
        const auto it = std::upper_bound(pieces.begin(), pieces.end(), index,
                                         [](std::size_t i, const Piece& p) { return i < p.start; });
        return *(it - 1);
    }

    // Copies [from, to) of this text's pieces to out, starting at out's end.
    void CopyPieces(std::size_t from, std::size_t to, CTracedText& out) const {
        if (from >= to) return;
        auto it = std::upper_bound(pieces.begin(), pieces.end(), from,
                                   [](std::size_t i, const Piece& p) { return i < p.start; }) - 1;
        for (; it != pieces.end() && it->start < to; ++it) {
            const std::size_t a = std::max(from, it->start);
            const std::size_t b = std::min(to, it->start + it->length);
            if (a >= b) continue;
            Piece piece = *it;
            if (!piece.fromMacro) piece.editorStart += a - it->start;
            piece.start = out.text.size() + (a - from);
            piece.length = b - a;
            out.pieces.push_back(piece);
        }
        out.text.append(text, from, to - from);
    }
};

// The editor text without its definition lines, as the macro pass removes them.
CTracedText WithoutDefinitions(std::u16string_view editorText) {
    std::vector<std::pair<std::size_t, std::size_t>> lines;
    for (std::size_t a = editorText.find(kDirective); a != std::u16string_view::npos;
         a = editorText.find(kDirective, a + 1)) {
        if (!IsDirectiveAtLineStart(editorText, static_cast<int>(a))) continue;
        const std::size_t end = editorText.find(u"\r\n", a);
        if (end == std::u16string_view::npos) break;
        lines.emplace_back(a, end + 2);
    }
    CTracedText traced;
    std::size_t from = 0;
    auto keep = [&](std::size_t to) {
        if (to <= from) return;
        traced.pieces.push_back({traced.text.size(), to - from, false, from, 0});
        traced.text.append(editorText.substr(from, to - from));
    };
    for (const auto& [start, end] : lines) {
        keep(start);
        from = std::max(from, end);
    }
    keep(editorText.size());
    return traced;
}

int32_t EditorPosition(std::u16string_view editorText, std::size_t rawIndex) {
    int32_t pairs = 0;
    for (std::size_t i = 0; i < rawIndex && i + 1 < editorText.size(); ++i)
        if (editorText[i] == u'\r' && editorText[i + 1] == u'\n') ++pairs;
    return static_cast<int32_t>(rawIndex) - pairs;
}

}  // namespace

LoadErrorSource FindLoadErrorSource(std::u16string_view editorText, int64_t expandedIndex) {
    LoadErrorSource source;
    MacroTable table;
    const MacroPass pass = ProcessMacros(editorText, table);
    if (!pass.result.Ok() || expandedIndex < 0) return source;
    CTracedText traced = WithoutDefinitions(editorText);
    if (traced.text != pass.text) return source;  // removed otherwise than expected: no guessing

    // The names one after the other, each seeing the text the earlier ones
    // made, occurrences left to right without overlap; a value keeps the
    // origin of the use it replaces, so nested values count as the outer use.
    std::vector<const std::u16string*> names;
    for (const auto& [name, value] : table) {
        const std::size_t index = names.size();
        names.push_back(&name);
        std::size_t p = traced.text.find(name);
        if (p == std::u16string::npos) continue;
        CTracedText next;
        std::size_t from = 0;
        for (; p != std::u16string::npos; p = traced.text.find(name, from)) {
            traced.CopyPieces(from, p, next);
            const Piece& use = traced.PieceAt(p);
            Piece piece;
            piece.start = next.text.size();
            piece.length = value.size();
            piece.fromMacro = true;
            piece.editorStart = use.fromMacro ? use.editorStart : use.editorStart + (p - use.start);
            piece.name = use.fromMacro ? use.name : index;
            if (piece.length > 0) next.pieces.push_back(piece);
            next.text.append(value);
            from = p + name.size();
        }
        traced.CopyPieces(from, traced.text.size(), next);
        traced = std::move(next);
    }
    if (static_cast<uint64_t>(expandedIndex) >= traced.text.size()) return source;

    const auto index = static_cast<std::size_t>(expandedIndex);
    const Piece& piece = traced.PieceAt(index);
    source.found = true;
    if (!piece.fromMacro) {
        source.editorPosition = EditorPosition(editorText, piece.editorStart + (index - piece.start));
        return source;
    }
    source.editorPosition = EditorPosition(editorText, piece.editorStart);
    source.macroName = *names[piece.name];
    const auto definition = pass.definitionPositions.find(source.macroName);
    if (definition != pass.definitionPositions.end()) {
        source.definitionStart = definition->second;
        // The line runs to the next line break (editor positions count it as one).
        int32_t position = 0;
        std::size_t raw = 0;
        for (; raw < editorText.size() && position < definition->second; ++raw, ++position)
            if (editorText[raw] == u'\r' && raw + 1 < editorText.size() && editorText[raw + 1] == u'\n') ++raw;
        const std::size_t end = editorText.find(u"\r\n", raw);
        const std::size_t lineEnd = end == std::u16string_view::npos ? editorText.size() : end;
        source.definitionEnd = definition->second + static_cast<int32_t>(lineEnd - raw);
    }
    return source;
}
