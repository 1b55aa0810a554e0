// The analysis panel beside the template editor: the exact number of
// versions, the uniqueness forecast, the groups that add the most variety, the
// longest fixed stretches, and the lint findings, kept current with the
// editor's underlines. A row that names template text selects that text in
// the editor when clicked (or chosen with the keyboard).
//
//   CAnalysisPanel panel(editor, lint);
//   panel.ShowRunning();
//   ...
//   panel.ShowAnalysis(analysis);   // from the analysis job
//
// The rows keep document cursors: after edits a row still selects the text
// it named, and the numbers are marked as belonging to an earlier text.
// Thread safety: user interface thread only.
#pragma once

#include "insight/forecast.h"

#include <QTextCursor>
#include <QWidget>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CColoredRichEditCtrl;
class CLintUnderliner;
class QLabel;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

// What the analysis job hands over for a template that passed the check.
struct CTemplateAnalysis {
    std::u16string editorText;  // the text analysed, CR LF line breaks
    std::string exactCount;     // decimal digits
    int32_t allowedPercent = 20;
    CForecast forecast;
};

class CAnalysisPanel : public QWidget {
    Q_OBJECT
public:
    // The findings section lists at most this many rows.
    static constexpr int kMaxFindingRows = 500;

    CAnalysisPanel(CColoredRichEditCtrl* editor, CLintUnderliner* lint, QWidget* parent = nullptr);

    void ShowRunning();
    void ShowStopped();
    void ShowFailed(const QString& message);
    void ShowAnalysis(const CTemplateAnalysis& analysis);

    QSize sizeHint() const override;

    QLabel* Summary() const { return summary_; }
    QLabel* OutdatedNote() const { return outdated_; }
    QTreeWidget* Rows() const { return rows_; }
    QTreeWidgetItem* VarietySection() const { return variety_; }
    QTreeWidgetItem* StretchesSection() const { return stretches_; }
    QTreeWidgetItem* FindingsSection() const { return findings_; }

    // Decimal digits in groups of three with the locale's separator.
    static QString GroupedDigits(std::string_view digits);

signals:
    // A row selected its text in the editor.
    void TextChosen();

protected:
    void showEvent(QShowEvent* event) override;

private:
    enum RowKind { kForecastRow = 1, kFindingRow = 2 };
    void ClearSections();
    void ShowFindings();
    void OnRowChosen(QTreeWidgetItem* item);
    QString Excerpt(const QTextCursor& range) const;

    CColoredRichEditCtrl* editor_;
    CLintUnderliner* lint_;
    QLabel* summary_;
    QLabel* outdated_;
    QTreeWidget* rows_;
    QTreeWidgetItem* variety_;
    QTreeWidgetItem* stretches_;
    QTreeWidgetItem* findings_;
    QTimer* recheck_;
    std::vector<QTextCursor> ranges_;  // the forecast rows' text
    std::u16string shownText_;         // the text of the analysis on show
    bool shown_ = false;
    bool findingsStale_ = false;  // the findings changed while the panel was hidden
};
