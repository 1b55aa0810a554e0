// The outline of a template as the insight tools read it: the macro-expanded
// text exactly as the template check builds it, with the editor position that
// every code unit came from, the "#set" lines, and the groups of the expanded
// text with their alternatives and separators.
//
//   CTemplateOutline outline(editorText);          // editor text, CR LF line breaks
//   for (const COutlineGroup& g : outline.Groups()) ...
//   auto [start, end] = outline.EditorSpan(g.open, g.close + 1);
//
// A code unit that came from a macro value maps to its place in that value's
// "#set" line, so a finding inside a value is shown once, in the definition.
// Meant for text that passed CheckTemplateText; when the expanded text fails
// CheckSyntax (a value ending in ">" used as an inner alternative) the outline
// has no groups (Structured() is false).
// Thread safety: immutable after construction.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct COutlineDefinition {
    std::u16string name;          // percent signs included
    int32_t linePosition = 0;     // editor position of the "#set"
    int32_t namePosition = 0;     // editor position of the name's first "%"
    int32_t valuePosition = 0;    // editor position of the value's first character
    std::u16string value;
    bool first = true;            // false for a later line of a name already defined
    int64_t uses = 0;             // replacements made (first definitions only)
};

struct COutlineAlternative {
    int32_t start = 0;  // expanded text [start, end) of the alternative, its separators included
    int32_t end = 0;
    // Arrangement groups: [itemStart, itemEnd) is the item without the default
    // separator (first alternative) or its own "<...>" separator.
    int32_t itemStart = 0;
    int32_t itemEnd = 0;
    bool ownSeparator = false;
};

struct COutlineGroup {
    bool arrangement = false;
    int32_t open = 0;   // expanded text position of "{" or "["
    int32_t close = 0;  // of the matching closing bracket
    int32_t parent = -1;  // index in Groups(), -1 at the top level
    std::vector<COutlineAlternative> alternatives;
    // Arrangement groups: the default separator "<...>" right after the "[".
    int32_t defaultSeparatorOpen = -1;
    int32_t defaultSeparatorClose = -1;
};

class CTemplateOutline {
public:
    explicit CTemplateOutline(std::u16string_view editorText);

    // The macro-expanded text without definition lines (the template check's templateText).
    const std::u16string& Expanded() const { return expanded_; }
    const std::vector<COutlineDefinition>& Definitions() const { return definitions_; }
    bool Structured() const { return structured_; }
    // Groups in order of their opening brackets (parents before children).
    const std::vector<COutlineGroup>& Groups() const { return groups_; }
    // Top-level text runs between groups: [start, end) in the expanded text.
    const std::vector<std::pair<int32_t, int32_t>>& TopLevelText() const { return topLevelText_; }

    int32_t EditorPosition(int32_t expandedPosition) const { return origin_[static_cast<size_t>(expandedPosition)]; }
    // The editor selection of the expanded text [start, end): from the first
    // unit's origin to just after the last one's, or that first unit alone
    // when the two came from places in the other order. An empty span selects
    // nothing at its origin.
    std::pair<int32_t, int32_t> EditorSpan(int32_t start, int32_t end) const;

private:
    void ReadDefinitions(std::u16string_view editorText);
    void Expand();
    void ScanGroups();

    std::u16string body_;
    std::vector<int32_t> bodyOrigin_;
    std::u16string expanded_;
    std::vector<int32_t> origin_;
    std::vector<COutlineDefinition> definitions_;
    bool structured_ = false;
    std::vector<COutlineGroup> groups_;
    std::vector<std::pair<int32_t, int32_t>> topLevelText_;
};

// Space, tab, CR and LF: the white space that separates words and that the
// lint trims around alternatives.
bool IsOutlineSpace(char16_t c);
