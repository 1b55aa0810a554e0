// The two option dialogs that the main window owns: the auto-correction
// rules (eight check boxes) and the deleting options (exact matches or the
// shingles method with its length and percent). Both edit the window's
// working records; Cancel leaves them alone. In delete mode the deleting
// dialog's confirm button reads "Delete" and its Accepted result starts the
// Delete Identical job (the caller starts it).
//
//   CDeletingOptionsDlg dialog(frame->Deleting(), CDeletingOptionsDlg::kDeleteMode, frame);
//   if (dialog.exec() == QDialog::Accepted) run.StartDeleteIdentical(rows, frame->Deleting(), sink);
//
// Thread safety: user interface thread only.
#pragma once

#include "postprocess/autocorrect.h"
#include "postprocess/similarity.h"

#include <QDialog>

#include <array>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CStringHandlingOptions : public QDialog {
    Q_OBJECT
public:
    CStringHandlingOptions(AutoCorrectionOptions& options, QWidget* parent = nullptr);

    QCheckBox* Box(int index) const { return boxes_[index]; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

    void accept() override;

private:
    AutoCorrectionOptions& options_;
    std::array<QCheckBox*, 8> boxes_{};
    QPushButton* ok_;
    QPushButton* cancel_;
};

class CDeletingOptionsDlg : public QDialog {
    Q_OBJECT
public:
    enum Mode { kOptionsMode = 0, kDeleteMode = 1 };
    CDeletingOptionsDlg(DeletingOptions& options, Mode mode, QWidget* parent = nullptr);

    QRadioButton* ExactButton() const { return exact_; }
    QRadioButton* ShinglesButton() const { return shingles_; }
    QLineEdit* ShingleLengthEdit() const { return shingleLength_; }
    QLineEdit* PercentEdit() const { return percent_; }
    QPushButton* ConfirmButton() const { return confirm_; }
    QPushButton* CancelButton() const { return cancel_; }

    void accept() override;

private:
    void UpdateEnabling();

    DeletingOptions& options_;
    QRadioButton* exact_;
    QRadioButton* shingles_;
    QLineEdit* shingleLength_;
    QLineEdit* percent_;
    QPushButton* confirm_;
    QPushButton* cancel_;
};
