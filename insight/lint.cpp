#include "insight/lint.h"

#include "template_outline.h"
#include "text/messages.h"

#include <algorithm>
#include <tuple>
#include <unordered_map>

namespace {

bool IsWordCharacter(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c >= 0x80;
}

bool IsLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c >= 0x80; }

// What may stand between the two percent signs of something that looks like a
// macro name: letters, digits, "_", "-" and "." with at least one letter, so
// that "50% off, 20%" or "10%-20%" are plain percentages.
bool LooksLikeName(std::u16string_view inner) {
    if (inner.empty()) return false;
    bool letter = false;
    for (const char16_t c : inner) {
        if (IsOutlineSpace(c)) return false;
        if (!IsWordCharacter(c) && c != u'_' && c != u'-' && c != u'.') return false;
        letter = letter || IsLetter(c);
    }
    return letter;
}

std::u16string_view Trimmed(std::u16string_view s) {
    while (!s.empty() && IsOutlineSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsOutlineSpace(s.back())) s.remove_suffix(1);
    return s;
}

class CLinter {
public:
    explicit CLinter(std::u16string_view editorText) : outline_(editorText) {}

    std::vector<CLintFinding> Run() {
        LintDefinitions();
        LintLeftoverNames();
        if (outline_.Structured()) {
            for (size_t g = 0; g < outline_.Groups().size(); ++g) LintGroup(g);
        }
        for (const auto& [start, end] : outline_.TopLevelText()) LintFixedText(start, end);
        std::sort(findings_.begin(), findings_.end(), [](const CLintFinding& a, const CLintFinding& b) {
            return std::tie(a.selectionStart, a.selectionEnd, a.code) < std::tie(b.selectionStart, b.selectionEnd, b.code);
        });
        // A value used several times gives the same finding at the same place.
        findings_.erase(std::unique(findings_.begin(), findings_.end(),
                                    [](const CLintFinding& a, const CLintFinding& b) {
                                        return a.code == b.code && a.selectionStart == b.selectionStart &&
                                               a.selectionEnd == b.selectionEnd;
                                    }),
                        findings_.end());
        return std::move(findings_);
    }

private:
    void Add(std::string code, LintSeverity severity, std::u16string message, std::pair<int32_t, int32_t> span) {
        findings_.push_back({std::move(code), severity, std::move(message), span.first, span.second});
    }

    std::u16string_view Text(int32_t start, int32_t end) const {
        return std::u16string_view(outline_.Expanded()).substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
    }

    void LintDefinitions() {
        const auto& definitions = outline_.Definitions();
        for (const COutlineDefinition& d : definitions) {
            const std::pair name{d.namePosition, d.namePosition + static_cast<int32_t>(d.name.size())};
            if (!d.first) {
                Add("duplicate-definition", LintSeverity::kWarning,
                    FormatMessage(kIdsLintDuplicateDefinition, {d.name}), name);
                continue;
            }
            if (d.uses == 0) Add("unused-macro", LintSeverity::kWarning, FormatMessage(kIdsLintUnusedMacro, {d.name}), name);
            // Names are replaced in ascending order, so a name in this value
            // that does not sort after the value's own was already replaced.
            for (const COutlineDefinition& other : definitions) {
                if (!other.first || other.name > d.name) continue;
                const size_t at = d.value.find(other.name);
                if (at == std::u16string::npos) continue;
                const int32_t start = d.valuePosition + static_cast<int32_t>(at);
                const std::pair span{start, start + static_cast<int32_t>(other.name.size())};
                if (other.name == d.name) {
                    Add("macro-order", LintSeverity::kWarning, FormatMessage(kIdsLintMacroSelfUse, {d.name}), span);
                } else {
                    Add("macro-order", LintSeverity::kWarning, FormatMessage(kIdsLintMacroOrder, {other.name, d.name}),
                        span);
                }
            }
        }
    }

    bool IsDefined(std::u16string_view name) const {
        return std::any_of(outline_.Definitions().begin(), outline_.Definitions().end(),
                           [&](const COutlineDefinition& d) { return d.name == name; });
    }

    void LintLeftoverNames() {
        const std::u16string& e = outline_.Expanded();
        size_t p = e.find(u'%');
        while (p != std::u16string::npos) {
            const size_t q = e.find(u'%', p + 1);
            if (q == std::u16string::npos) break;
            const std::u16string_view name = std::u16string_view(e).substr(p, q + 1 - p);
            if (LooksLikeName(name.substr(1, name.size() - 2))) {
                if (!IsDefined(name)) {
                    Add("undefined-macro", LintSeverity::kWarning, FormatMessage(kIdsLintUndefinedMacro, {name}),
                        outline_.EditorSpan(static_cast<int32_t>(p), static_cast<int32_t>(q + 1)));
                }
                p = e.find(u'%', q + 1);
            } else {
                p = q;
            }
        }
    }

    // A group that is the whole of its parent's only alternative, where that
    // parent already has a finding of its own ("{{NAME}}").
    bool WrappedInReportedGroup(const COutlineGroup& g) const {
        if (g.parent < 0) return false;
        const COutlineGroup& parent = outline_.Groups()[static_cast<size_t>(g.parent)];
        return parent.alternatives.size() == 1 && parent.alternatives[0].start == g.open &&
               parent.alternatives[0].end == g.close + 1;
    }

    void LintGroup(size_t index) {
        const COutlineGroup& g = outline_.Groups()[index];
        const auto& alts = g.alternatives;
        const auto whole = outline_.EditorSpan(g.open, g.close + 1);
        const bool allEmpty = std::all_of(alts.begin(), alts.end(), [](const COutlineAlternative& a) {
            return a.itemEnd <= a.itemStart;
        });
        if (alts.size() == 1) {
            if (!WrappedInReportedGroup(g)) {
                if (allEmpty) {
                    Add("empty-group", LintSeverity::kWarning, std::u16string(MessageText(kIdsLintEmptyGroup)), whole);
                } else if (g.arrangement) {
                    Add("single-arrangement", LintSeverity::kWarning,
                        std::u16string(MessageText(kIdsLintSingleArrangement)), whole);
                } else {
                    Add("single-alternative", LintSeverity::kWarning,
                        std::u16string(MessageText(kIdsLintSingleAlternative)), whole);
                }
            }
        } else if (allEmpty) {
            Add("empty-alternatives", LintSeverity::kWarning, std::u16string(MessageText(kIdsLintEmptyAlternatives)),
                whole);
        } else {
            LintRepeatedAlternatives(g);
        }
        if (g.defaultSeparatorOpen >= 0) {
            const bool overridden = std::all_of(alts.begin(), alts.end() - 1,
                                                [](const COutlineAlternative& a) { return a.ownSeparator; });
            if (alts.size() == 1 || overridden) {
                Add("unreachable-separator", LintSeverity::kWarning,
                    std::u16string(MessageText(alts.size() == 1 ? kIdsLintSeparatorSingle : kIdsLintSeparatorOverridden)),
                    outline_.EditorSpan(g.defaultSeparatorOpen, g.defaultSeparatorClose + 1));
            }
        }
    }

    void LintRepeatedAlternatives(const COutlineGroup& g) {
        std::unordered_map<std::u16string_view, bool> exact;
        std::unordered_map<std::u16string_view, bool> trimmed;
        for (const COutlineAlternative& alt : g.alternatives) {
            const std::u16string_view text = Text(alt.itemStart, alt.itemEnd);
            // An empty alternative is shown by the "|" (or bracket) before it.
            const auto span = text.empty() ? outline_.EditorSpan(alt.itemStart - 1, alt.itemStart)
                                           : outline_.EditorSpan(alt.itemStart, alt.itemEnd);
            if (!exact.emplace(text, true).second) {
                Add("duplicate-alternative", LintSeverity::kWarning,
                    std::u16string(MessageText(kIdsLintDuplicateAlternative)), span);
            } else if (!trimmed.emplace(Trimmed(text), true).second) {
                Add("whitespace-alternative", LintSeverity::kWarning,
                    std::u16string(MessageText(kIdsLintWhitespaceAlternative)), span);
            }
            trimmed.emplace(Trimmed(text), true);
        }
    }

    void LintFixedText(int32_t start, int32_t end) {
        const int32_t words = CountWords(Text(start, end));
        if (words < kFixedStretchWords) return;
        while (start < end && IsOutlineSpace(outline_.Expanded()[static_cast<size_t>(start)])) ++start;
        while (end > start && IsOutlineSpace(outline_.Expanded()[static_cast<size_t>(end) - 1])) --end;
        Add("fixed-stretch", LintSeverity::kNote, FormatMessage(kIdsLintFixedStretch, {words}),
            outline_.EditorSpan(start, end));
    }

    CTemplateOutline outline_;
    std::vector<CLintFinding> findings_;
};

}  // namespace

int32_t CountWords(std::u16string_view text) {
    int32_t words = 0;
    bool inWord = false;
    bool counted = false;
    for (const char16_t c : text) {
        if (IsOutlineSpace(c)) {
            inWord = false;
            continue;
        }
        if (!inWord) counted = false;
        inWord = true;
        if (!counted && IsWordCharacter(c)) {
            ++words;
            counted = true;
        }
    }
    return words;
}

std::vector<CLintFinding> LintTemplate(std::u16string_view editorText) { return CLinter(editorText).Run(); }

std::string_view SeverityName(LintSeverity severity) {
    return severity == LintSeverity::kNote ? "note" : "warning";
}

std::vector<CFixedStretch> FixedStretches(std::u16string_view editorText, int32_t minWords) {
    const CTemplateOutline outline(editorText);
    const std::u16string& e = outline.Expanded();
    std::vector<CFixedStretch> stretches;
    for (auto [start, end] : outline.TopLevelText()) {
        const int32_t words =
            CountWords(std::u16string_view(e).substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
        if (words < minWords || words == 0) continue;
        while (start < end && IsOutlineSpace(e[static_cast<size_t>(start)])) ++start;
        while (end > start && IsOutlineSpace(e[static_cast<size_t>(end) - 1])) --end;
        const auto span = outline.EditorSpan(start, end);
        stretches.push_back({span.first, span.second, words});
    }
    std::stable_sort(stretches.begin(), stretches.end(),
                     [](const CFixedStretch& a, const CFixedStretch& b) { return a.words > b.words; });
    return stretches;
}
