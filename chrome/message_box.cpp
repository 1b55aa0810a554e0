#include "chrome/message_box.h"

#include "chrome/string_table.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <algorithm>
#include <cmath>

namespace {

MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}

// The box's template size, icon and button rectangles in today's pixels: the
// dialog-unit layout at the default 8-point interface font.
constexpr int kTemplateWidth = 206;
constexpr int kTemplateHeight = 93;
constexpr int kIconLeft = 14;
constexpr int kIconTop = 18;
constexpr int kTextTop = 24;
constexpr int kButtonWidth = 83;
constexpr int kButtonHeight = 26;
constexpr int kBorder = 1;
constexpr int kIconSize = 32;
constexpr int kIconGap = 8;
constexpr int kTextSlack = 2;

QStyle::StandardPixmap IconForFlags(unsigned flags) {
    if ((flags & 0x30) == 0x30) return QStyle::SP_MessageBoxWarning;
    if (flags & 0x40) return QStyle::SP_MessageBoxInformation;
    if (flags & 0x20) return QStyle::SP_MessageBoxQuestion;
    if (flags & 0x10) return QStyle::SP_MessageBoxCritical;
    return (flags & kMbYesNo) ? QStyle::SP_MessageBoxQuestion : QStyle::SP_MessageBoxWarning;
}

}  // namespace

CXPThemeMessageBox::CXPThemeMessageBox(const QString& text, unsigned flags, QWidget* parent)
    : QDialog(parent), flags_(flags), message_(text) {
    setWindowTitle(LoadStringById(kIdsProductName));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    icon_ = new QLabel(this);
    text_ = new QLabel(this);
    text_->setTextFormat(Qt::PlainText);
    text_->setWordWrap(true);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text_->setText(text);
    button1_ = new QPushButton(tr("OK"), this);
    button2_ = new QPushButton(tr("Cancel"), this);
    button1_->setDefault(true);
    button1_->setAutoDefault(true);
    button2_->setAutoDefault(false);
    connect(button1_, &QPushButton::clicked, this,
            [this] { done((flags_ & kMbYesNo) ? kMbResultYes : kMbResultOk); });
    connect(button2_, &QPushButton::clicked, this, [this] { done(kMbResultNo); });
    Arrange();
}

void CXPThemeMessageBox::reject() {
    done(kMbResultCancel);
}

namespace {

// The letter after "&" in a button's text, as a key code (upper case).
int MnemonicKey(const QString& text) {
    const qsizetype at = text.indexOf(u'&');
    return at < 0 || at + 1 >= text.size() ? 0 : static_cast<int>(text.at(at + 1).toUpper().unicode());
}

}  // namespace

// The answers' underlined letters answer the question without Alt, as the
// system's own box does; Y and N do so in every language.
void CXPThemeMessageBox::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~(Qt::AltModifier | Qt::KeypadModifier);
    if ((flags_ & kMbYesNo) && modifiers == Qt::NoModifier) {
        const int key = event->key();
        if (key == Qt::Key_Y || key == MnemonicKey(button1_->text())) {
            done(kMbResultYes);
            return;
        }
        if (key == Qt::Key_N || key == MnemonicKey(button2_->text())) {
            done(kMbResultNo);
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

void CXPThemeMessageBox::Arrange() {
    // The layout numbers are made for the classic 32-pixel icon; styles that
    // ask for larger ones would push the icon into the text.
    const int iconSize = kIconSize;
    const QIcon icon = style()->standardIcon(IconForFlags(flags_), nullptr, this);
    icon_->setPixmap(icon.pixmap(iconSize, iconSize));
    icon_->setGeometry(kIconLeft, kIconTop, iconSize, iconSize);
    const int iconWidth = iconSize;

    // Measured as one line, line breaks counting as characters, as the layout
    // rules expect; the wrapped height is checked against the real wrapping.
    const QFontMetrics metrics(text_->font());
    QString oneLine = message_;
    oneLine.replace(u'\r', u' ').replace(u'\n', u' ');
    // Drawn text advances by fractions of a pixel; rounded down, the last word
    // would no longer fit and wrap onto a line of its own.
    const int tw = static_cast<int>(std::ceil(QFontMetricsF(text_->font()).horizontalAdvance(oneLine))) + kTextSlack;
    const int th = metrics.height();
    int textWidth = tw;
    int textHeight = th * (1 + static_cast<int>(message_.count(u'\n')));

    int width = kTemplateWidth;
    int height = kTemplateHeight;
    bool wraps = false;
    widened_ = tw >= kTemplateWidth - 2 * kBorder - iconWidth - 20;
    if (widened_) {
        width = tw < 550 - iconWidth ? tw + iconWidth + 50 : 600;
        const int room = width - iconWidth - 40;
        wraps = tw > room;
        if (wraps) {
            textWidth = room;
            const int lines = static_cast<int>(std::ceil(static_cast<double>(tw) / room));
            const int wrapped = metrics.boundingRect(QRect(0, 0, room, 100000), Qt::TextWordWrap, message_).height();
            textHeight = std::max(th * lines, wrapped);
        } else {
            textHeight = std::max(textHeight,
                                  metrics.boundingRect(QRect(0, 0, textWidth, 100000), Qt::TextWordWrap, message_)
                                      .height());
        }
        if (height - 100 < textHeight) height = textHeight + 100;
    }
    setFixedSize(width, height);
    if (widened_) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->geometry();
            move(area.x() + (area.width() - width) / 2, area.y() + (area.height() - height) / 2);
        }
    }

    const int c = iconWidth == 0 ? 10 : (width - textWidth - iconWidth) / 2 + 10;
    const int left = std::max(c + (width - textWidth - c) / 2, kIconLeft + iconWidth + kIconGap);
    // A text that fits is laid out as it was measured, on its own lines.
    text_->setWordWrap(wraps);
    text_->setGeometry(left, kTextTop, std::min(textWidth, width - left), textHeight);

    const int top = height - kButtonHeight - 8;
    button1_->resize(kButtonWidth, kButtonHeight);
    button2_->resize(kButtonWidth, kButtonHeight);
    if (flags_ & kMbYesNo) {
        button1_->setText(tr("&Yes"));
        button2_->setText(tr("&No"));
        button1_->move((width + 5) / 2 - kButtonWidth - 5, top);
        button2_->move((kButtonWidth + 5) + (width - kButtonWidth - kButtonWidth - 5) / 2, top);
        button2_->show();
    } else {
        button1_->setText(tr("OK"));
        button1_->move((width - kButtonWidth) / 2, top);
        button2_->hide();
    }
}

int ShowMessageText(const QString& text, unsigned flags) {
    if (Hook()) return Hook()(text, flags);
    QWidget* owner = QApplication::activeWindow();
    if (!owner) {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isWindow() && w->isVisible() && w->inherits("QMainWindow")) {
                owner = w;
                break;
            }
        }
    }
    CXPThemeMessageBox box(text, flags, owner);
    return box.exec();
}

int ShowMessageById(int stringId, unsigned flags) {
    const QString text = LoadStringById(stringId);
    if (text.isEmpty()) return -1;
    return ShowMessageText(text, flags);
}

void SetMessageBoxHook(MessageBoxHook hook) {
    Hook() = std::move(hook);
}
