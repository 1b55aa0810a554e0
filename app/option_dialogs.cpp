#include "app/option_dialogs.h"

#include "chrome/string_table.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

CStringHandlingOptions::CStringHandlingOptions(AutoCorrectionOptions& options, QWidget* parent)
    : QDialog(parent), options_(options) {
    setWindowTitle(tr("Auto-correction options"));
    static const char* const kLabels[8] = {
        QT_TR_NOOP("Remove left and right spaces in the line"),
        QT_TR_NOOP("Remove spaces before punctuation marks"),
        QT_TR_NOOP("Remove extra spaces"),
        QT_TR_NOOP("Switch the first letter of the line to uppercase"),
        QT_TR_NOOP("Switch the first letter of the sentence to uppercase"),
        QT_TR_NOOP("Add spaces after punctuation marks if necessary"),
        QT_TR_NOOP("Remove extra punctuation marks"),
        QT_TR_NOOP("Do not apply auto-correction to HTML tags"),
    };
    auto* rules = new QGroupBox(tr("Rules"), this);
    auto* rulesLayout = new QVBoxLayout(rules);
    auto* tags = new QGroupBox(tr("HTML tags"), this);
    auto* tagsLayout = new QVBoxLayout(tags);
    const auto flags = options_.ToBytes();
    for (int i = 0; i < 8; ++i) {
        boxes_[i] = new QCheckBox(tr(kLabels[i]), i < 7 ? rules : tags);
        boxes_[i]->setChecked(flags[i] == 1);
        (i < 7 ? rulesLayout : tagsLayout)->addWidget(boxes_[i]);
    }
    ok_ = new QPushButton(tr("Ok"), this);
    cancel_ = new QPushButton(tr("Cancel"), this);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(rules);
    layout->addWidget(tags);
    layout->addLayout(buttons);
    setFixedSize(sizeHint());
}

void CStringHandlingOptions::accept() {
    std::array<uint8_t, 8> flags{};
    for (int i = 0; i < 8; ++i) flags[i] = boxes_[i]->isChecked() ? 1 : 0;
    options_ = AutoCorrectionOptions::FromBytes(flags);
    QDialog::accept();
}

CDeletingOptionsDlg::CDeletingOptionsDlg(DeletingOptions& options, Mode mode, QWidget* parent)
    : QDialog(parent), options_(options) {
    setWindowTitle(LoadStringById(mode == kDeleteMode ? kIdsDeleteTitle : kIdsDeletingOptionsTitle));
    exact_ = new QRadioButton(tr("Remove exact matches"), this);
    shingles_ = new QRadioButton(tr("Remove with Shingles method"), this);
    auto* validator = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,2}")), this);
    shingleLength_ = new QLineEdit(QString::number(options_.shingleLength), this);
    percent_ = new QLineEdit(QString::number(options_.allowedPercent), this);
    for (QLineEdit* edit : {shingleLength_, percent_}) {
        edit->setMaxLength(2);
        edit->setValidator(validator);
        edit->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("000")) + 16);
    }
    (options_.method == 1 ? shingles_ : exact_)->setChecked(true);
    confirm_ = new QPushButton(LoadStringById(mode == kDeleteMode ? kIdsDeleteButton : kIdsOkButton), this);
    cancel_ = new QPushButton(tr("Cancel"), this);
    confirm_->setDefault(true);

    auto* values = new QFormLayout;
    values->setContentsMargins(24, 0, 0, 0);
    values->addRow(tr("Shingle length"), shingleLength_);
    values->addRow(tr("Allowed percent of similarity"), percent_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(confirm_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(exact_);
    layout->addWidget(shingles_);
    layout->addLayout(values);
    layout->addLayout(buttons);

    connect(exact_, &QRadioButton::toggled, this, &CDeletingOptionsDlg::UpdateEnabling);
    connect(shingles_, &QRadioButton::toggled, this, &CDeletingOptionsDlg::UpdateEnabling);
    connect(confirm_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    UpdateEnabling();
    setFixedSize(sizeHint());
}

void CDeletingOptionsDlg::UpdateEnabling() {
    shingleLength_->setEnabled(shingles_->isChecked());
    percent_->setEnabled(shingles_->isChecked());
}

void CDeletingOptionsDlg::accept() {
    const int length = shingleLength_->text().toInt();
    const int percent = percent_->text().toInt();
    options_.method = shingles_->isChecked() ? 1 : 0;
    if (length > 0) options_.shingleLength = length;
    if (percent > 0) options_.allowedPercent = percent;
    QDialog::accept();
}
