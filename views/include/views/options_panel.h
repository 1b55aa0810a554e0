// The options panel beneath the template editor: the allowed length range,
// auto-correction switch, versions count, generation type and the switch for
// skipping similar versions, with the two "Edit..." buttons. Its numeric boxes
// take digits only (at most five), and "Max"/"Unlimited" give way to the first
// digit or Backspace/Delete; pasting into them is refused in every form.
//
//   COptionsDialogP1 panel(settings);
//   connect(&panel, &COptionsDialogP1::EditCorrectionRequested, ...);
//   LengthRange range = panel.ReadLengthRange();   // empty boxes become "0"
//   panel.ReadGenerationOptions(options);
//   store.WriteMain(panel.CurrentSettings());      // at exit
//
// Thread safety: user interface thread only.
#pragma once

#include "run/generation_run.h"

#include <cstdint>

#include <QComboBox>
#include <QLineEdit>
#include <QWidget>

class QCheckBox;
class QPushButton;

// The options panel's record: "Allowed length from", "Enable auto-correction",
// generation type (0 "In Series", 1 "Random"), "Skip similar versions".
struct MainSettings {
    int32_t lengthLimit = 1;
    int32_t autoCorrection = 1;
    int32_t generationType = 1;
    int32_t skipSimilar = 0;
    bool operator==(const MainSettings&) const = default;
};

class CNumberEdit : public QLineEdit {
    Q_OBJECT
public:
    static constexpr int kMaxDigits = 5;
    explicit CNumberEdit(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool HoldsWord() const;  // the whole text is "Max" or "Unlimited"
    bool RoomFor(int characters) const;
    // Digits only, within the length limit; a "Max" or "Unlimited" word makes way first.
    bool AdmitInsertion(const QString& inserted);
};

class CNumericalComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit CNumericalComboBox(QWidget* parent = nullptr);
    CNumberEdit* NumberEdit() const { return edit_; }

private:
    CNumberEdit* edit_;
};

struct LengthRange {
    int32_t minLength = 0;
    int32_t maxLength = 0;
};

class COptionsDialogP1 : public QWidget {
    Q_OBJECT
public:
    explicit COptionsDialogP1(const MainSettings& stored, QWidget* parent = nullptr);

    // Both length boxes as Generate! reads them, whether the range is on or
    // not: an empty box is set to "0"; "Unlimited" is 2147483647.
    LengthRange ReadLengthRange();
    // The rest of the generation options; fields the panel leaves alone keep
    // their previous values.
    void ReadGenerationOptions(GenerationOptions& options);
    MainSettings CurrentSettings() const;

    QCheckBox* LengthLimitBox() const { return lengthLimit_; }
    QCheckBox* AutoCorrectionBox() const { return autoCorrection_; }
    QCheckBox* SkipSimilarBox() const { return skipSimilar_; }
    CNumericalComboBox* MinLengthBox() const { return minLength_; }
    CNumericalComboBox* MaxLengthBox() const { return maxLength_; }
    CNumericalComboBox* VersionsCountBox() const { return versionsCount_; }
    QComboBox* GenerationTypeBox() const { return generationType_; }
    QPushButton* EditCorrectionButton() const { return editCorrection_; }
    QPushButton* EditDeletingButton() const { return editDeleting_; }

signals:
    void EditCorrectionRequested();
    void EditDeletingRequested();

private:
    void UpdateEnabling();
    static int32_t ReadNumber(QComboBox* box, const QString& word);

    MainSettings settings_;
    QCheckBox* lengthLimit_;
    CNumericalComboBox* minLength_;
    CNumericalComboBox* maxLength_;
    QCheckBox* autoCorrection_;
    QPushButton* editCorrection_;
    CNumericalComboBox* versionsCount_;
    QComboBox* generationType_;
    QCheckBox* skipSimilar_;
    QPushButton* editDeleting_;
};
