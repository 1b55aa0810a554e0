#include "views/options_panel.h"

#include "chrome/string_table.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include <climits>

namespace {

bool IsDigitText(const QString& text) {
    if (text.isEmpty()) return false;
    for (QChar c : text)
        if (c < u'0' || c > u'9') return false;
    return true;
}

}  // namespace

CNumberEdit::CNumberEdit(QWidget* parent) : QLineEdit(parent) {
    setAcceptDrops(false);
    setDragEnabled(false);
}

bool CNumberEdit::HoldsWord() const {
    const QString t = text();
    return t == LoadStringById(kIdsMax) || t == LoadStringById(kIdsUnlimited);
}

bool CNumberEdit::RoomFor(int characters) const {
    return text().size() - selectedText().size() + characters <= kMaxDigits;
}

bool CNumberEdit::AdmitInsertion(const QString& inserted) {
    if (!IsDigitText(inserted)) return false;
    if (HoldsWord()) clear();
    return RoomFor(static_cast<int>(inserted.size()));
}

void CNumberEdit::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Paste) ||
        (event->key() == Qt::Key_Insert && (event->modifiers() & Qt::ShiftModifier))) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete) {
        if (HoldsWord()) clear();
        QLineEdit::keyPressEvent(event);
        return;
    }
    const QString typed = event->text();
    const bool printable = !typed.isEmpty() && typed[0].isPrint() &&
                           !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (printable && !AdmitInsertion(typed)) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void CNumberEdit::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    if (!commit.isEmpty() && !AdmitInsertion(commit)) {
        event->accept();
        return;
    }
    QLineEdit::inputMethodEvent(event);
}

void CNumberEdit::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu();
    for (QAction* action : menu->actions())
        if (action->objectName() == QLatin1String("edit-paste")) action->setEnabled(false);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

// The middle button pastes the X11 selection.
void CNumberEdit::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton) {
        event->accept();
        return;
    }
    QLineEdit::mousePressEvent(event);
}

void CNumberEdit::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton) {
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void CNumberEdit::dragEnterEvent(QDragEnterEvent* event) {
    event->ignore();
}

void CNumberEdit::dropEvent(QDropEvent* event) {
    event->ignore();
}

CNumericalComboBox::CNumericalComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    edit_ = new CNumberEdit(this);
    setLineEdit(edit_);
    // Inline completion would turn a typed "5" into "50"; Enter must not add
    // the typed text to the list.
    setCompleter(nullptr);
    setInsertPolicy(QComboBox::NoInsert);
    setAcceptDrops(false);
}

COptionsDialogP1::COptionsDialogP1(const MainSettings& stored, QWidget* parent)
    : QWidget(parent), settings_(stored) {
    auto* textGroup = new QGroupBox(tr("Text options"), this);
    lengthLimit_ = new QCheckBox(tr("Allowed length from"), textGroup);
    minLength_ = new CNumericalComboBox(textGroup);
    maxLength_ = new CNumericalComboBox(textGroup);
    autoCorrection_ = new QCheckBox(tr("Enable auto-correction"), textGroup);
    editCorrection_ = new QPushButton(tr("Edit..."), textGroup);
    auto* textLayout = new QGridLayout(textGroup);
    textLayout->addWidget(lengthLimit_, 0, 0);
    textLayout->addWidget(minLength_, 0, 1);
    textLayout->addWidget(new QLabel(tr("to"), textGroup), 0, 2);
    textLayout->addWidget(maxLength_, 0, 3);
    textLayout->addWidget(autoCorrection_, 1, 0);
    textLayout->addWidget(editCorrection_, 1, 1);
    textLayout->setColumnStretch(4, 1);

    auto* generationGroup = new QGroupBox(tr("Generation options"), this);
    versionsCount_ = new CNumericalComboBox(generationGroup);
    generationType_ = new QComboBox(generationGroup);
    skipSimilar_ = new QCheckBox(tr("Skip similar versions"), generationGroup);
    editDeleting_ = new QPushButton(tr("Edit..."), generationGroup);
    auto* generationLayout = new QGridLayout(generationGroup);
    generationLayout->addWidget(new QLabel(tr("Versions count"), generationGroup), 0, 0);
    generationLayout->addWidget(versionsCount_, 0, 1);
    generationLayout->addWidget(skipSimilar_, 0, 2);
    generationLayout->addWidget(new QLabel(tr("Generation type"), generationGroup), 1, 0);
    generationLayout->addWidget(generationType_, 1, 1);
    generationLayout->addWidget(editDeleting_, 1, 2, Qt::AlignLeft);
    generationLayout->setColumnStretch(3, 1);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(textGroup);
    layout->addWidget(generationGroup);

    const int boxWidth = fontMetrics().horizontalAdvance(LoadStringById(kIdsUnlimited)) + 48;
    for (QComboBox* box : {static_cast<QComboBox*>(minLength_), static_cast<QComboBox*>(maxLength_),
                           static_cast<QComboBox*>(versionsCount_), generationType_})
        box->setMinimumWidth(boxWidth);

    lengthLimit_->setChecked(settings_.lengthLimit != 0);
    autoCorrection_->setChecked(settings_.autoCorrection != 0);
    skipSimilar_->setChecked(settings_.skipSimilar != 0);
    generationType_->addItem(LoadStringById(kIdsInSeries));
    generationType_->addItem(LoadStringById(kIdsRandom));
    generationType_->setCurrentIndex(settings_.generationType == 0 ? 0 : settings_.generationType == 1 ? 1 : -1);

    minLength_->addItems({"0", "50", "100", "200", "500"});
    minLength_->setCurrentIndex(0);
    maxLength_->addItems({LoadStringById(kIdsUnlimited), "50", "100", "200", "500"});
    maxLength_->setCurrentIndex(0);
    versionsCount_->addItems({LoadStringById(kIdsMax), "50", "100", "500", "1000", "10000"});
    versionsCount_->setCurrentIndex(0);

    connect(lengthLimit_, &QCheckBox::toggled, this, &COptionsDialogP1::UpdateEnabling);
    connect(autoCorrection_, &QCheckBox::toggled, this, &COptionsDialogP1::UpdateEnabling);
    connect(skipSimilar_, &QCheckBox::toggled, this, &COptionsDialogP1::UpdateEnabling);
    connect(editCorrection_, &QPushButton::clicked, this, &COptionsDialogP1::EditCorrectionRequested);
    connect(editDeleting_, &QPushButton::clicked, this, &COptionsDialogP1::EditDeletingRequested);
    UpdateEnabling();
}

void COptionsDialogP1::UpdateEnabling() {
    minLength_->setEnabled(lengthLimit_->isChecked());
    maxLength_->setEnabled(lengthLimit_->isChecked());
    editCorrection_->setEnabled(autoCorrection_->isChecked());
    editDeleting_->setEnabled(skipSimilar_->isChecked());
}

int32_t COptionsDialogP1::ReadNumber(QComboBox* box, const QString& word) {
    const QString text = box->currentText();
    if (text.isEmpty()) {
        box->setEditText(QStringLiteral("0"));
        return 0;
    }
    if (!word.isEmpty() && text == word) return INT32_MAX;
    // Five digits at most, so the value always fits.
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? value : 0;
}

LengthRange COptionsDialogP1::ReadLengthRange() {
    LengthRange range;
    range.minLength = ReadNumber(minLength_, QString());
    range.maxLength = ReadNumber(maxLength_, LoadStringById(kIdsUnlimited));
    return range;
}

void COptionsDialogP1::ReadGenerationOptions(GenerationOptions& options) {
    options.lengthLimit = lengthLimit_->isChecked();
    if (options.lengthLimit) {
        const LengthRange range = ReadLengthRange();
        options.minLength = range.minLength;
        options.maxLength = range.maxLength;
    }
    options.versionsCount = ReadNumber(versionsCount_, LoadStringById(kIdsMax));
    options.autoCorrection = autoCorrection_->isChecked();
    const QString type = generationType_->currentText();
    if (type == LoadStringById(kIdsInSeries)) options.randomOrder = false;
    else if (type == LoadStringById(kIdsRandom)) options.randomOrder = true;
    options.skipSimilar = skipSimilar_->isChecked();
}

MainSettings COptionsDialogP1::CurrentSettings() const {
    MainSettings out = settings_;
    out.lengthLimit = lengthLimit_->isChecked() ? 1 : 0;
    out.autoCorrection = autoCorrection_->isChecked() ? 1 : 0;
    out.skipSimilar = skipSimilar_->isChecked() ? 1 : 0;
    const QString type = generationType_->currentText();
    if (type == LoadStringById(kIdsInSeries)) out.generationType = 0;
    else if (type == LoadStringById(kIdsRandom)) out.generationType = 1;
    return out;
}
