#include "views/analysis_panel.h"

#include "chrome/string_table.h"
#include "views/lint_underlines.h"
#include "views/template_editor.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QTextBlock>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kRowKindRole = Qt::UserRole;
constexpr int kRowIndexRole = Qt::UserRole + 1;
constexpr int kExcerptLength = 60;

QString OneDecimal(double value) {
    return QLocale().toString(value, 'f', 1);
}

// A count of versions: whole and grouped below 10^15, else in scientific notation.
QString Versions(double value) {
    if (value < 1e15) return QLocale().toString(static_cast<qlonglong>(std::llround(value)));
    return QLocale().toString(value, 'g', 3);
}

}  // namespace

CAnalysisPanel::CAnalysisPanel(CColoredRichEditCtrl* editor, CLintUnderliner* lint, QWidget* parent)
    : QWidget(parent), editor_(editor), lint_(lint) {
    summary_ = new QLabel(this);
    summary_->setTextFormat(Qt::PlainText);
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary_->setObjectName(QStringLiteral("analysisSummary"));
    outdated_ = new QLabel(tr("The template has changed since this analysis."), this);
    outdated_->setWordWrap(true);
    outdated_->setEnabled(false);
    outdated_->hide();
    rows_ = new QTreeWidget(this);
    rows_->setColumnCount(2);
    rows_->setHeaderLabels({tr("Text"), tr("Detail")});
    rows_->setRootIsDecorated(true);
    rows_->setUniformRowHeights(true);
    rows_->setAllColumnsShowFocus(true);
    // The columns share the panel's width: a row longer than its column ends
    // in "...", and nothing is pushed out of sight to the right.
    rows_->header()->setSectionResizeMode(QHeaderView::Stretch);
    const auto section = [this](const QString& title) {
        auto* item = new QTreeWidgetItem(rows_, {title});
        item->setFirstColumnSpanned(true);
        item->setFlags(Qt::ItemIsEnabled);
        QFont font = item->font(0);
        font.setBold(true);
        item->setFont(0, font);
        item->setExpanded(true);
        return item;
    };
    variety_ = section(tr("Groups that add the most variety"));
    stretches_ = section(tr("Longest fixed stretches"));
    findings_ = section(tr("Findings"));
    variety_->setToolTip(0, tr("How much the mean similarity rises when the group always gives its first "
                               "alternative"));

    setMinimumWidth(240);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(summary_);
    layout->addWidget(outdated_);
    layout->addWidget(rows_, 1);

    connect(rows_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { OnRowChosen(item); });
    connect(rows_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { OnRowChosen(item); });
    connect(lint_, &CLintUnderliner::FindingsChanged, this, &CAnalysisPanel::ShowFindings);
    // Compared once typing pauses, not at every key.
    recheck_ = new QTimer(this);
    recheck_->setSingleShot(true);
    recheck_->setInterval(CLintUnderliner::kPauseMilliseconds);
    connect(recheck_, &QTimer::timeout, this, [this] { outdated_->setVisible(editor_->Text() != shownText_); });
    connect(editor_, &QPlainTextEdit::textChanged, this, [this] {
        if (shown_ && !outdated_->isVisible()) recheck_->start();
    });
    ShowFindings();
}

// Wide enough for the section titles, which span both columns.
QSize CAnalysisPanel::sizeHint() const {
    QSize size = QWidget::sizeHint();
    int title = 0;
    for (const QTreeWidgetItem* section : {variety_, stretches_, findings_})
        title = std::max(title, QFontMetrics(section->font(0)).horizontalAdvance(section->text(0)));
    const QMargins margins = layout()->contentsMargins();
    const int itemMargins = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, rows_) + 1);
    const int rows = title + itemMargins + rows_->indentation() + 2 * rows_->frameWidth() +
                     rows_->verticalScrollBar()->sizeHint().width();
    size.setWidth(std::max(size.width(), rows + margins.left() + margins.right()));
    return size;
}

QString CAnalysisPanel::GroupedDigits(std::string_view digits) {
    const QString separator = QLocale().groupSeparator();
    QString out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += separator;
            // Lets a long number wrap at its group separators.
            if (digits.size() > 24) out += QChar(0x200B);
        }
        out += QLatin1Char(digits[i]);
    }
    return out;
}

void CAnalysisPanel::ClearSections() {
    for (QTreeWidgetItem* section : {variety_, stretches_}) qDeleteAll(section->takeChildren());
    ranges_.clear();
    shownText_.clear();
    shown_ = false;
    recheck_->stop();
    outdated_->hide();
}

void CAnalysisPanel::ShowRunning() {
    ClearSections();
    summary_->setText(tr("Analysing the template..."));
}

void CAnalysisPanel::ShowStopped() {
    ClearSections();
    summary_->setText(tr("The analysis was stopped."));
}

void CAnalysisPanel::ShowFailed(const QString& message) {
    ClearSections();
    summary_->setText(message);
}

void CAnalysisPanel::ShowAnalysis(const CTemplateAnalysis& analysis) {
    ClearSections();
    const CForecast& f = analysis.forecast;
    QStringList lines;
    lines << tr("Versions: %1").arg(GroupedDigits(analysis.exactCount));
    lines << tr("Similarity of %1 random pairs: mean %2%, median %3%, 95th percentile %4%")
                 .arg(QLocale().toString(static_cast<qlonglong>(f.pairs)), OneDecimal(f.meanSimilarity),
                      OneDecimal(f.medianSimilarity), OneDecimal(f.p95Similarity));
    lines << tr("Similar pairs (above %1%): %2% (%3% to %4%)")
                 .arg(QString::number(analysis.allowedPercent), OneDecimal(100 * f.similarShare),
                      OneDecimal(100 * f.similarShareLow), OneDecimal(100 * f.similarShareHigh));
    lines << tr("Versions a \"skip similar\" run keeps: about %1 (%2 to %3)")
                 .arg(Versions(f.forecastKept), Versions(f.forecastLow), Versions(f.forecastHigh));
    summary_->setText(lines.join(u'\n'));

    // The rows select text by the positions of the analysed text: only while
    // the editor still holds it.
    shownText_ = analysis.editorText;
    const bool current = editor_->Text() == shownText_;
    std::vector<EditorRange> editorRanges;
    for (const CGroupVariety& g : f.groups) editorRanges.push_back({g.selectionStart, g.selectionEnd});
    for (const CFixedStretch& s : f.fixedStretches) editorRanges.push_back({s.selectionStart, s.selectionEnd});
    if (current) {
        for (const auto& [start, end] : editor_->DocumentRanges(editorRanges)) {
            QTextCursor cursor(editor_->document());
            cursor.setPosition(start);
            cursor.setPosition(end, QTextCursor::KeepAnchor);
            ranges_.push_back(cursor);
        }
    }
    const auto addRow = [&](QTreeWidgetItem* section, std::size_t index, const QString& detail) {
        auto* item = new QTreeWidgetItem(section);
        if (current) {
            item->setText(0, Excerpt(ranges_[index]));
            item->setData(0, kRowKindRole, kForecastRow);
            item->setData(0, kRowIndexRole, static_cast<int>(index));
        }
        item->setText(1, detail);
    };
    std::size_t index = 0;
    for (const CGroupVariety& g : f.groups)
        addRow(variety_, index++, tr("+%1 points").arg(OneDecimal(std::max(0.0, g.meanRise))));
    for (const CFixedStretch& s : f.fixedStretches)
        addRow(stretches_, index++, s.words == 1 ? tr("1 word") : tr("%n words", nullptr, s.words));
    shown_ = true;
    outdated_->setVisible(!current);
}

void CAnalysisPanel::showEvent(QShowEvent* event) {
    if (findingsStale_) ShowFindings();
    QWidget::showEvent(event);
}

// Filled only while the panel is on show (a template can have thousands of
// findings), and all rows at once.
void CAnalysisPanel::ShowFindings() {
    findingsStale_ = !isVisible();
    if (findingsStale_) return;
    qDeleteAll(findings_->takeChildren());
    const std::vector<CShownFinding>& findings = lint_->Findings();
    findings_->setText(0, tr("Findings (%1)").arg(findings.size()));
    const QIcon warning = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    const QIcon note = style()->standardIcon(QStyle::SP_MessageBoxInformation);
    const std::size_t shown = std::min<std::size_t>(findings.size(), kMaxFindingRows);
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(shown) + 1);
    for (std::size_t i = 0; i < shown; ++i) {
        const CShownFinding& finding = findings[i];
        auto* item = new QTreeWidgetItem;
        rows.append(item);
        const QString message = TranslateFormattedText(finding.finding.message);
        item->setIcon(0, finding.finding.severity == LintSeverity::kWarning ? warning : note);
        item->setText(0, Excerpt(lint_->Selecting(finding)));
        item->setText(1, message);
        item->setToolTip(1, message);
        item->setData(0, kRowKindRole, kFindingRow);
        item->setData(0, kRowIndexRole, static_cast<int>(i));
    }
    if (findings.size() > shown) {
        auto* more = new QTreeWidgetItem;
        more->setText(0, tr("... and %1 more").arg(findings.size() - shown));
        rows.append(more);
    }
    findings_->addChildren(rows);
    if (findings.size() > shown) rows.last()->setFirstColumnSpanned(true);
}

void CAnalysisPanel::OnRowChosen(QTreeWidgetItem* item) {
    if (!item) return;
    const int index = item->data(0, kRowIndexRole).toInt();
    QTextCursor range;
    switch (item->data(0, kRowKindRole).toInt()) {
    case kForecastRow:
        if (index >= 0 && static_cast<std::size_t>(index) < ranges_.size()) range = ranges_[static_cast<std::size_t>(index)];
        break;
    case kFindingRow:
        if (index >= 0 && static_cast<std::size_t>(index) < lint_->Findings().size())
            range = lint_->Selecting(lint_->Findings()[static_cast<std::size_t>(index)]);
        break;
    default: return;
    }
    if (range.isNull()) return;
    editor_->setTextCursor(range);
    editor_->ensureCursorVisible();
    emit TextChosen();
}

// The start of a range's text, a line break shown as a space; the breaks
// between the pieces of a long paragraph are no characters.
QString CAnalysisPanel::Excerpt(const QTextCursor& range) const {
    const int start = range.selectionStart();
    const int end = range.selectionEnd();
    QString text;
    QTextBlock block = editor_->document()->findBlock(start);
    for (; block.isValid() && block.position() < end && text.size() <= kExcerptLength; block = block.next()) {
        if (block.position() > start && !IsContinuation(block)) text += u' ';
        const int from = std::max(start, block.position()) - block.position();
        const int to = std::min(end, block.position() + block.length() - 1) - block.position();
        if (to > from) text += block.text().mid(from, std::min(to - from, kExcerptLength + 1));
    }
    text.replace(QChar::LineSeparator, u' ');
    if (text.size() > kExcerptLength) text = text.left(kExcerptLength - 3) + QStringLiteral("...");
    return text;
}
