#include "views/lint_underlines.h"

#include "chrome/string_table.h"
#include "engine/template_check.h"
#include "views/template_editor.h"

#include <QHelpEvent>
#include <QScrollBar>
#include <QTextDocument>
#include <QTextBlock>
#include <QTextEdit>
#include <QToolTip>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <optional>
#include <utility>

CLintUnderliner::CLintUnderliner(CColoredRichEditCtrl* editor, QObject* parent) : QObject(parent), editor_(editor), viewport_(editor->viewport()) {
    pause_.setSingleShot(true);
    pause_.setInterval(kPauseMilliseconds);
    connect(&pause_, &QTimer::timeout, this, &CLintUnderliner::LintNow);
    // The colouring's own layout refreshes count as changes too: the lint
    // then waits until the colouring has settled.
    connect(editor_, &QPlainTextEdit::textChanged, this, &CLintUnderliner::OnTextChanged);
    connect(editor_->document(), &QTextDocument::contentsChange, this, &CLintUnderliner::OnContentsChange);
    connect(editor_->verticalScrollBar(), &QScrollBar::valueChanged, this, &CLintUnderliner::ShowVisibleUnderlines);
    viewport_->installEventFilter(this);
    pause_.start();
}

CLintUnderliner::~CLintUnderliner() {
    stop_.store(true);
    worker_.RequestStop();
    worker_.Join();
}

QTextCharFormat CLintUnderliner::UnderlineFormat(LintSeverity severity) {
    QTextCharFormat format;
    format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
    format.setUnderlineColor(severity == LintSeverity::kWarning ? QColor(214, 150, 60) : QColor(140, 150, 170));
    return format;
}

void CLintUnderliner::OnTextChanged() {
    ++revision_;
    pause_.start();
}

// The colouring's layout refreshes report a stretch as removed and added
// again: a position inside a changed stretch keeps its offset as far as the
// new text reaches.
void CLintUnderliner::OnContentsChange(int position, int removed, int added) {
    if (findings_.empty()) return;
    const auto move = [&](int& p) {
        if (p >= position + removed) p += added - removed;
        else if (p > position) p = position + std::min(p - position, added);
    };
    for (CShownFinding& shown : findings_) {
        move(shown.start);
        move(shown.end);
    }
}

QTextCursor CLintUnderliner::Selecting(const CShownFinding& shown) const {
    QTextCursor cursor(editor_->document());
    const int last = editor_->document()->characterCount() - 1;
    cursor.setPosition(std::clamp(shown.start, 0, last));
    cursor.setPosition(std::clamp(shown.end, 0, last), QTextCursor::KeepAnchor);
    return cursor;
}

void CLintUnderliner::LintNow() {
    pause_.stop();
    if (busy_) {
        // Ends the running check early; the lint starts again once it is back.
        again_ = true;
        stop_.store(true);
        return;
    }
    busy_ = true;
    again_ = false;
    stop_.store(false);
    const uint64_t revision = revision_;
    worker_.Start([this, text = editor_->Text(), revision](std::stop_token) {
        std::optional<std::vector<CLintFinding>> findings;
        try {
            const TemplateCheckResult check = CheckTemplateText(text, &stop_);
            if (!check.stopped && !stop_.load()) {
                findings.emplace();
                if (check.passed) *findings = LintTemplate(text);
            }
        } catch (const std::bad_alloc&) {
            findings.reset();
        }
        // Dropped when the underliner is gone.
        handBack_.Post([this, revision, findings = std::move(findings)]() mutable {
            busy_ = false;
            if (findings && revision == revision_) Deliver(std::move(*findings));
            if (again_) LintNow();
        });
    });
}

void CLintUnderliner::Deliver(std::vector<CLintFinding> findings) {
    std::vector<EditorRange> ranges;
    ranges.reserve(findings.size());
    for (const CLintFinding& f : findings) ranges.push_back({f.selectionStart, f.selectionEnd});
    const std::vector<std::pair<int, int>> positions = editor_->DocumentRanges(ranges);
    findings_.clear();
    findings_.reserve(findings.size());
    for (std::size_t i = 0; i < findings.size(); ++i)
        findings_.push_back({std::move(findings[i]), positions[i].first, positions[i].second});
    ShowVisibleUnderlines();
    emit FindingsChanged();
}

// The editor checks every extra selection against every block it paints:
// only the findings that reach the visible lines are handed to it.
void CLintUnderliner::ShowVisibleUnderlines() {
    QList<QTextEdit::ExtraSelection> selections;
    if (!findings_.empty()) {
        const QRect area = editor_->viewport()->rect();
        const QTextBlock first = editor_->cursorForPosition(area.topLeft()).block();
        const QTextBlock last = editor_->cursorForPosition(area.bottomRight()).block();
        const int from = first.position();
        const int to = last.position() + last.length();
        for (const CShownFinding& shown : findings_) {
            if (shown.start >= to || shown.end <= from) continue;
            QTextEdit::ExtraSelection selection;
            selection.cursor = Selecting(shown);
            selection.format = UnderlineFormat(shown.finding.severity);
            selections.append(selection);
        }
    }
    if (selections.isEmpty() && editor_->extraSelections().isEmpty()) return;
    editor_->setExtraSelections(selections);
}

const CShownFinding* CLintUnderliner::FindingAt(int documentPosition) const {
    const CShownFinding* found = nullptr;
    for (const CShownFinding& shown : findings_) {
        if (shown.start > documentPosition) break;
        if (documentPosition >= shown.end) continue;
        // The narrowest finding is the one the pointer is on.
        if (!found || shown.end - shown.start < found->end - found->start) found = &shown;
    }
    return found;
}

bool CLintUnderliner::eventFilter(QObject* watched, QEvent* event) {
    // The viewport is destroyed after the editor's scroll-area part, and its
    // last events still pass through here: compare with the pointer kept
    // from the start rather than ask the editor, which is no longer whole.
    if (watched == viewport_) {
        if (event->type() == QEvent::Resize) ShowVisibleUnderlines();
        if (event->type() == QEvent::ToolTip && !findings_.empty()) {
            const auto* help = static_cast<QHelpEvent*>(event);
            const QTextCursor at = editor_->cursorForPosition(help->pos());
            // The nearest caret position: the character under the pointer is
            // the one after it or the one before, and a pointer far right of a
            // line's end is on no character at all.
            const QRect caret = editor_->cursorRect(at);
            const int reach = editor_->fontMetrics().maxWidth();
            const CShownFinding* shown = nullptr;
            if (help->pos().y() >= caret.top() && help->pos().y() <= caret.bottom() &&
                std::abs(help->pos().x() - caret.center().x()) <= reach)
                shown = FindingAt(help->pos().x() >= caret.center().x() ? at.position() : at.position() - 1);
            if (shown) {
                QToolTip::showText(help->globalPos(), TranslateFormattedText(shown->finding.message),
                                   editor_->viewport());
            } else {
                QToolTip::hideText();
            }
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
