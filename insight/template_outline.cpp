#include "template_outline.h"

#include "engine/macros.h"
#include "engine/syntax_check.h"

#include <algorithm>
#include <map>

namespace {

// The white space that the macro pass trims (the C library's wide test).
bool IsMacroSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

bool IsOpening(char16_t c) { return c == u'{' || c == u'['; }
bool IsClosing(char16_t c) { return c == u'}' || c == u']'; }

}  // namespace

bool IsOutlineSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

CTemplateOutline::CTemplateOutline(std::u16string_view editorText) {
    ReadDefinitions(editorText);
    Expand();
    ScanGroups();
}

std::pair<int32_t, int32_t> CTemplateOutline::EditorSpan(int32_t start, int32_t end) const {
    const auto n = static_cast<int32_t>(origin_.size());
    if (start >= end) {
        const int32_t at = start < n ? origin_[static_cast<size_t>(start)] : (n > 0 ? origin_.back() + 1 : 0);
        return {at, at};
    }
    const int32_t first = origin_[static_cast<size_t>(start)];
    const int32_t last = origin_[static_cast<size_t>(end) - 1] + 1;
    return last > first ? std::pair{first, last} : std::pair{first, first + 1};
}

// Reads the "#set" lines as the macro pass does and keeps the rest of the text
// with the editor position of every code unit.
void CTemplateOutline::ReadDefinitions(std::u16string_view text) {
    std::vector<int32_t> editor(text.size() + 1);
    int32_t pairs = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        editor[i] = static_cast<int32_t>(i) - pairs;
        if (text[i] == u'\n' && i > 0 && text[i - 1] == u'\r') ++pairs;
    }
    editor[text.size()] = static_cast<int32_t>(text.size()) - pairs;

    std::vector<std::pair<size_t, size_t>> removed;
    std::map<std::u16string, bool, std::less<>> seen;
    for (size_t a = text.find(u"#set"); a != std::u16string_view::npos; a = text.find(u"#set", a + 1)) {
        if (!IsDirectiveAtLineStart(text, static_cast<int>(a))) continue;
        const size_t e = text.find(u"\r\n", a);
        if (e == std::u16string_view::npos) break;
        size_t p = a + 4;
        while (p < e && IsMacroSpace(text[p])) ++p;
        const size_t nameEnd = text.find(u'%', p + 1);
        if (text.substr(p, 1) != u"%" || nameEnd == std::u16string_view::npos || nameEnd >= e) break;
        COutlineDefinition d;
        d.name.assign(text.substr(p, nameEnd + 1 - p));
        d.linePosition = editor[a];
        d.namePosition = editor[p];
        size_t v = nameEnd + 1;
        while (v < e && IsMacroSpace(text[v])) ++v;
        ++v;  // the "="
        while (v < e && IsMacroSpace(text[v])) ++v;
        size_t valueEnd = e;
        while (valueEnd > v && IsMacroSpace(text[valueEnd - 1])) --valueEnd;
        d.valuePosition = editor[std::min(v, e)];
        if (v < valueEnd) d.value.assign(text.substr(v, valueEnd - v));
        d.first = seen.emplace(d.name, true).second;
        definitions_.push_back(std::move(d));
        removed.emplace_back(a, e + 2);
    }
    size_t from = 0;
    removed.emplace_back(text.size(), text.size());
    for (const auto& [cut, resume] : removed) {
        for (size_t i = from; i < cut; ++i) {
            body_.push_back(text[i]);
            bodyOrigin_.push_back(editor[i]);
        }
        from = resume;
    }
}

// Replaces the names one after the other in ascending order, each pass over
// the text the earlier ones made, as the macro pass does.
void CTemplateOutline::Expand() {
    expanded_ = std::move(body_);
    origin_ = std::move(bodyOrigin_);
    std::map<std::u16string_view, COutlineDefinition*> table;
    for (COutlineDefinition& d : definitions_) {
        if (d.first) table.emplace(d.name, &d);
    }
    std::u16string text;
    std::vector<int32_t> origin;
    for (auto& [name, definition] : table) {
        size_t at = expanded_.find(name);
        if (at == std::u16string::npos) continue;
        text.clear();
        origin.clear();
        size_t from = 0;
        for (; at != std::u16string::npos; at = expanded_.find(name, from)) {
            text.append(expanded_, from, at - from);
            origin.insert(origin.end(), origin_.begin() + static_cast<std::ptrdiff_t>(from),
                          origin_.begin() + static_cast<std::ptrdiff_t>(at));
            text.append(definition->value);
            for (size_t k = 0; k < definition->value.size(); ++k)
                origin.push_back(definition->valuePosition + static_cast<int32_t>(k));
            from = at + name.size();
            ++definition->uses;
        }
        text.append(expanded_, from);
        origin.insert(origin.end(), origin_.begin() + static_cast<std::ptrdiff_t>(from), origin_.end());
        expanded_.swap(text);
        origin_.swap(origin);
    }
}

void CTemplateOutline::ScanGroups() {
    const std::u16string& e = expanded_;
    const auto n = static_cast<int32_t>(e.size());
    structured_ = CheckSyntax(e).Ok();
    if (!structured_) {
        topLevelText_.emplace_back(0, n);
        return;
    }
    struct Open {
        int32_t group;
        int32_t alternativeStart;
    };
    std::vector<Open> stack;
    std::vector<int32_t> match(e.size(), -1);
    int32_t textStart = 0;
    for (int32_t p = 0; p < n; ++p) {
        const char16_t c = e[static_cast<size_t>(p)];
        if (IsOpening(c)) {
            if (stack.empty() && p > textStart) topLevelText_.emplace_back(textStart, p);
            COutlineGroup g;
            g.arrangement = c == u'[';
            g.open = p;
            g.parent = stack.empty() ? -1 : stack.back().group;
            groups_.push_back(std::move(g));
            stack.push_back({static_cast<int32_t>(groups_.size()) - 1, p + 1});
        } else if (c == u'|' && !stack.empty()) {
            groups_[static_cast<size_t>(stack.back().group)].alternatives.push_back(
                {stack.back().alternativeStart, p, stack.back().alternativeStart, p, false});
            stack.back().alternativeStart = p + 1;
        } else if (IsClosing(c) && !stack.empty()) {
            COutlineGroup& g = groups_[static_cast<size_t>(stack.back().group)];
            g.alternatives.push_back({stack.back().alternativeStart, p, stack.back().alternativeStart, p, false});
            g.close = p;
            match[static_cast<size_t>(g.open)] = p;
            match[static_cast<size_t>(p)] = g.open;
            stack.pop_back();
            if (stack.empty()) textStart = p + 1;
        }
    }
    if (n > textStart) topLevelText_.emplace_back(textStart, n);

    // Separator brackets at the group's own level: nested groups are skipped whole.
    for (COutlineGroup& g : groups_) {
        if (!g.arrangement) continue;
        COutlineAlternative& first = g.alternatives.front();
        if (e[static_cast<size_t>(g.open) + 1] == u'<') {
            int depth = 0;
            for (int32_t q = g.open + 2; q < g.close; ++q) {
                const char16_t c = e[static_cast<size_t>(q)];
                if (IsOpening(c)) {
                    q = match[static_cast<size_t>(q)];
                } else if (c == u'<') {
                    ++depth;
                } else if (c == u'>' && depth-- == 0) {
                    g.defaultSeparatorOpen = g.open + 1;
                    g.defaultSeparatorClose = q;
                    first.itemStart = q + 1;
                    break;
                }
            }
        }
        for (size_t i = 0; i + 1 < g.alternatives.size(); ++i) {
            COutlineAlternative& alt = g.alternatives[i];
            if (alt.itemEnd <= alt.itemStart || e[static_cast<size_t>(alt.itemEnd) - 1] != u'>') continue;
            int depth = 0;
            for (int32_t q = alt.itemEnd - 2; q >= alt.itemStart; --q) {
                const char16_t c = e[static_cast<size_t>(q)];
                if (IsClosing(c)) {
                    q = match[static_cast<size_t>(q)];
                } else if (c == u'>') {
                    ++depth;
                } else if (c == u'<' && depth-- == 0) {
                    alt.itemEnd = q;
                    alt.ownSeparator = true;
                    break;
                }
            }
        }
    }
}
