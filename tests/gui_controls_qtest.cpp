// The desktop application's controls on their own: the numeric boxes' typing
// rules, the option dialogs, the settings store's layouts and fallbacks, the
// message box, the template editor's colouring and keys, and the template file.
#include "app/option_dialogs.h"
#include "views/options_panel.h"
#include "app/settings_store.h"
#include "chrome/message_box.h"
#include "chrome/string_table.h"
#include "views/input_data_page.h"
#include "views/template_editor.h"
#include "views/template_encoding.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include <memory>
#include <random>
#include <vector>

namespace {

QTextCharFormat FormatAt(CColoredRichEditCtrl& editor, int position) {
    const QTextBlock block = editor.document()->findBlock(position);
    const int offset = position - block.position();
    QTextCharFormat result;
    for (const QTextLayout::FormatRange& range : block.layout()->formats())
        if (offset >= range.start && offset < range.start + range.length) result = range.format;
    return result;
}

// The colouring of a paragraph character by character, literally: plain,
// then "#set" where the text before it on its line is white space (spaces
// only in the first paragraph), then whole-word macro names, then brackets.
std::vector<QTextCharFormat> ReferenceColouring(const QString& text, bool firstBlock, const QStringList& names,
                                                const TemplateFormats& formats) {
    auto wordChar = [](QChar c) { return c.isLetterOrNumber() || c == u'_'; };
    auto wholeWord = [&](qsizetype m, qsizetype length) {
        if (wordChar(text[m]) && m > 0 && wordChar(text[m - 1])) return false;
        const qsizetype after = m + length;
        return !(wordChar(text[after - 1]) && after < text.size() && wordChar(text[after]));
    };
    std::vector<QTextCharFormat> out(static_cast<std::size_t>(text.size()), formats.plain);
    for (qsizetype m = 0; m + 4 <= text.size(); ++m) {
        if (text.mid(m, 4) != QStringLiteral("#set") || !wholeWord(m, 4)) continue;
        const qsizetype lineStart = std::max(text.lastIndexOf(QChar(0x2028), m), text.lastIndexOf(u'\r', m)) + 1;
        const QString before = text.mid(lineStart, m - lineStart);
        const bool blank = std::all_of(before.begin(), before.end(),
                                       [](QChar c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); });
        const bool spacesOnly = before.count(u' ') == before.size();
        if (blank && (lineStart > 0 || !firstBlock || spacesOnly))
            std::fill_n(out.begin() + m, 4, formats.keyword);
    }
    for (const QString& name : names)
        for (qsizetype m = 0; m + name.size() <= text.size(); ++m)
            if (text.mid(m, name.size()) == name && wholeWord(m, name.size()))
                std::fill_n(out.begin() + m, name.size(), formats.macroName);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QString brackets = QStringLiteral("{}[]<>|");
        const QTextCharFormat* byBracket[] = {&formats.brace, &formats.brace, &formats.square, &formats.square,
                                              &formats.angle, &formats.angle, &formats.bar};
        const qsizetype b = brackets.indexOf(text[i]);
        if (b >= 0) out[static_cast<std::size_t>(i)] = *byBracket[b];
    }
    return out;
}

// The first character whose colour differs from a from-scratch colouring of
// the editor's text, or -1.
int FirstMiscoloured(CColoredRichEditCtrl& editor) {
    CTemplateHighlighter* highlighter = editor.Highlighter();
    highlighter->FinishColouring();
    for (QTextBlock block = editor.document()->firstBlock(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        const std::vector<QTextCharFormat> wanted =
            ReferenceColouring(text, block.blockNumber() == 0, highlighter->MacroNames(), highlighter->Formats());
        std::vector<QTextCharFormat> actual(static_cast<std::size_t>(text.size()));
        for (const QTextLayout::FormatRange& range : block.layout()->formats())
            for (int i = range.start; i < range.start + range.length && i < text.size(); ++i)
                actual[static_cast<std::size_t>(i)] = range.format;
        for (std::size_t i = 0; i < wanted.size(); ++i)
            if (!(actual[i] == wanted[i])) return block.position() + static_cast<int>(i);
    }
    return -1;
}

struct HookedMessage {
    QString text;
    unsigned flags = 0;
};

}  // namespace

class GuiControlsTest : public QObject {
    Q_OBJECT

private slots:
    void numericBoxTypingRules();
    void numericBoxRefusesPaste();
    void panelReadsAndEnabling();
    void correctionDialogConfirmAndCancel();
    void deletingDialogConfirmCancelAndModes();
    void settingsLayoutsAndFallbacks();
    void messageBoxButtonsAndResults();
    void messageBoxSizing();
    void editorColouring();
    void editorTypingRecoloursOnlyItsParagraph();
    void editorIncrementalColouringMatchesFullColouring();
    void editorKeysAndPositions();
    void editorLongParagraph();
    void templateFileLocations();
    void templateFileEncodings();
    void saveInputText();
};

void GuiControlsTest::numericBoxTypingRules() {
    CNumericalComboBox box;
    box.addItems({"Max", "50", "100"});
    box.setCurrentIndex(0);
    CNumberEdit* edit = box.NumberEdit();
    edit->setFocus();

    QTest::keyClicks(edit, "x");
    QCOMPARE(edit->text(), QString("Max"));
    edit->setCursorPosition(3);
    QTest::keyClick(edit, Qt::Key_5);
    QCOMPARE(edit->text(), QString("5"));
    QTest::keyClicks(edit, "a-1 2");
    QCOMPARE(edit->text(), QString("512"));
    QTest::keyClicks(edit, "3456");
    QCOMPARE(edit->text(), QString("51234"));  // five digits at most

    box.setEditText("Unlimited");
    QCOMPARE(edit->text(), QString("Unlimited"));  // the word itself is not cut to five characters
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QString());
    box.setEditText("Max");
    edit->setCursorPosition(0);
    QTest::keyClick(edit, Qt::Key_Delete);
    QCOMPARE(edit->text(), QString());

    // A typed digit never completes to an item of the list ("5" is not "50").
    QTest::keyClick(edit, Qt::Key_5);
    QCOMPARE(edit->text(), QString("5"));
    // Enter does not add the typed text to the list.
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(box.count(), 3);

    // A selected digit can be replaced even at five digits.
    box.setEditText("12345");
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_9);
    QCOMPARE(edit->text(), QString("9"));
}

void GuiControlsTest::numericBoxRefusesPaste() {
    CNumericalComboBox box;
    box.addItems({"Max"});
    CNumberEdit* edit = box.NumberEdit();
    QApplication::clipboard()->setText("123");
    box.setEditText("7");
    edit->setCursorPosition(1);
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(edit->text(), QString("7"));
    QTest::keyClick(edit, Qt::Key_Insert, Qt::ShiftModifier);
    QCOMPARE(edit->text(), QString("7"));
    QVERIFY(!edit->acceptDrops());
    // Input methods commit only digits.
    QInputMethodEvent commit;
    commit.setCommitString("x1");
    QApplication::sendEvent(edit, &commit);
    QCOMPARE(edit->text(), QString("7"));
}

void GuiControlsTest::panelReadsAndEnabling() {
    COptionsDialogP1 panel(MainSettings{0, 1, 0, 1});
    QVERIFY(!panel.LengthLimitBox()->isChecked());
    QVERIFY(!panel.MinLengthBox()->isEnabled());
    QVERIFY(!panel.MaxLengthBox()->isEnabled());
    QVERIFY(panel.EditCorrectionButton()->isEnabled());
    QVERIFY(panel.EditDeletingButton()->isEnabled());
    QCOMPARE(panel.GenerationTypeBox()->currentText(), QString("In Series"));
    QCOMPARE(panel.MaxLengthBox()->currentText(), QString("Unlimited"));
    QCOMPARE(panel.VersionsCountBox()->currentText(), QString("Max"));

    panel.LengthLimitBox()->click();
    QVERIFY(panel.MinLengthBox()->isEnabled());
    panel.SkipSimilarBox()->click();
    QVERIFY(!panel.EditDeletingButton()->isEnabled());

    panel.MinLengthBox()->setEditText("");
    panel.MaxLengthBox()->setEditText("");
    panel.VersionsCountBox()->setEditText("");
    GenerationOptions options;
    panel.ReadGenerationOptions(options);
    QCOMPARE(panel.MinLengthBox()->currentText(), QString("0"));  // empty boxes become "0"
    QCOMPARE(panel.MaxLengthBox()->currentText(), QString("0"));
    QCOMPARE(options.versionsCount, 0);
    QCOMPARE(options.maxLength, 0);
    QVERIFY(!options.randomOrder);

    panel.VersionsCountBox()->setEditText("Max");
    panel.MaxLengthBox()->setEditText("Unlimited");
    panel.LengthLimitBox()->click();  // off: the length fields keep their values
    options.minLength = 3;
    options.maxLength = 4;
    panel.ReadGenerationOptions(options);
    QCOMPARE(options.versionsCount, INT32_MAX);
    QVERIFY(!options.lengthLimit);
    QCOMPARE(options.minLength, 3);
    QCOMPARE(panel.ReadLengthRange().maxLength, INT32_MAX);

    // An unknown stored generation type selects nothing and is kept.
    COptionsDialogP1 odd(MainSettings{1, 1, 5, 0});
    QCOMPARE(odd.GenerationTypeBox()->currentIndex(), -1);
    QCOMPARE(odd.CurrentSettings().generationType, 5);
    GenerationOptions keep;
    keep.randomOrder = false;
    odd.ReadGenerationOptions(keep);
    QVERIFY(!keep.randomOrder);
    odd.GenerationTypeBox()->setCurrentIndex(1);
    QCOMPARE(odd.CurrentSettings(), (MainSettings{1, 1, 1, 0}));
}

void GuiControlsTest::correctionDialogConfirmAndCancel() {
    AutoCorrectionOptions options;
    {
        CStringHandlingOptions dialog(options);
        for (int i = 0; i < 8; ++i) QVERIFY(dialog.Box(i)->isChecked());
        dialog.Box(1)->setChecked(false);
        dialog.Box(7)->setChecked(false);
        dialog.CancelButton()->click();
    }
    QCOMPARE(options, AutoCorrectionOptions{});
    {
        CStringHandlingOptions dialog(options);
        dialog.Box(1)->setChecked(false);
        dialog.Box(7)->setChecked(false);
        dialog.OkButton()->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    QCOMPARE(options.removeSpacesBeforePunctuation, uint8_t{0});
    QCOMPARE(options.skipHtmlTags, uint8_t{0});
    QCOMPARE(options.trimLine, uint8_t{1});
    CStringHandlingOptions reopened(options);
    QVERIFY(!reopened.Box(1)->isChecked());
    QVERIFY(reopened.Box(2)->isChecked());
}

void GuiControlsTest::deletingDialogConfirmCancelAndModes() {
    DeletingOptions options;
    {
        CDeletingOptionsDlg dialog(options, CDeletingOptionsDlg::kOptionsMode);
        QCOMPARE(dialog.windowTitle(), QString("Deleting options"));
        QCOMPARE(dialog.ConfirmButton()->text(), QString("Ok"));
        QVERIFY(dialog.ExactButton()->isChecked());
        QVERIFY(!dialog.ShingleLengthEdit()->isEnabled());
        QCOMPARE(dialog.ShingleLengthEdit()->text(), QString("7"));
        QCOMPARE(dialog.PercentEdit()->text(), QString("20"));
        dialog.ShinglesButton()->click();
        QVERIFY(dialog.ShingleLengthEdit()->isEnabled());
        dialog.ShingleLengthEdit()->clear();
        dialog.PercentEdit()->clear();
        QTest::keyClicks(dialog.PercentEdit(), "3x57");  // digits only, two at most
        QCOMPARE(dialog.PercentEdit()->text(), QString("35"));
        dialog.ConfirmButton()->click();
    }
    QCOMPARE(options, (DeletingOptions{1, 7, 35}));  // the emptied length keeps its value
    {
        CDeletingOptionsDlg dialog(options, CDeletingOptionsDlg::kDeleteMode);
        QCOMPARE(dialog.windowTitle(), QString("Delete"));
        QCOMPARE(dialog.ConfirmButton()->text(), QString("Delete"));
        QVERIFY(dialog.ShinglesButton()->isChecked());
        dialog.ExactButton()->click();
        dialog.ShingleLengthEdit()->setText("0");
        dialog.CancelButton()->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
    QCOMPARE(options, (DeletingOptions{1, 7, 35}));
    {
        CDeletingOptionsDlg dialog(options, CDeletingOptionsDlg::kDeleteMode);
        dialog.ExactButton()->click();
        dialog.ShingleLengthEdit()->setText("0");  // zero is ignored like an empty field
        dialog.ConfirmButton()->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    QCOMPARE(options, (DeletingOptions{0, 7, 35}));
}

void GuiControlsTest::settingsLayoutsAndFallbacks() {
    QTemporaryDir folder;
    const QString file = folder.filePath("settings.ini");
    {
        CSettingsStore store(file);
        QCOMPARE(store.ReadCorrection(), AutoCorrectionOptions{});
        QCOMPARE(store.ReadDeleting(), DeletingOptions{});
        QCOMPARE(store.ReadSeparator(), QString("<br><br>"));
        QCOMPARE(store.ReadMain(), MainSettings{});

        AutoCorrectionOptions correction;
        correction.capitalizeLine = 0;
        store.WriteCorrection(correction);
        store.WriteDeleting(DeletingOptions{1, 9, 33});
        store.WriteSeparator("");
        store.WriteMain(MainSettings{0, 1, 0, 1});
        store.Sync();
    }
    {
        CSettingsStore store(file);
        QCOMPARE(store.ReadBinary(kCorrectionValue), QByteArray("\1\1\1\0\1\1\1\1", 8));
        QCOMPARE(store.ReadBinary(kDeletingValue), QByteArray("\1\0\0\0\x09\0\0\0\x21\0\0\0", 12));
        QCOMPARE(store.ReadBinary(kMainValue), QByteArray("\0\0\0\0\1\0\0\0\0\0\0\0\1\0\0\0", 16));
        QCOMPARE(store.ReadDeleting(), (DeletingOptions{1, 9, 33}));
        QCOMPARE(store.ReadSeparator(), QString());  // an empty value stays empty
        QCOMPARE(store.ReadMain(), (MainSettings{0, 1, 0, 1}));
        QCOMPARE(store.ReadCorrection().capitalizeLine, uint8_t{0});

        // Wrong sizes leave the defaults, whole.
        store.WriteBinary(kDeletingValue, QByteArray(8, '\1'));
        store.WriteBinary(kCorrectionValue, QByteArray(9, '\0'));
        store.WriteBinary(kMainValue, QByteArray(12, '\0'));
        QCOMPARE(store.ReadDeleting(), DeletingOptions{});
        QCOMPARE(store.ReadCorrection(), AutoCorrectionOptions{});
        QCOMPARE(store.ReadMain(), MainSettings{});

        // Values that would keep nothing fall back one by one.
        const int32_t unusable[3] = {5, 0, 100};
        store.WriteBinary(kDeletingValue, CSettingsStore::PackInts(unusable, 3));
        QCOMPARE(store.ReadDeleting(), DeletingOptions{});
        const int32_t mixed[3] = {1, 120, 45};
        store.WriteBinary(kDeletingValue, CSettingsStore::PackInts(mixed, 3));
        QCOMPARE(store.ReadDeleting(), (DeletingOptions{1, 7, 45}));
        // A generation type the panel does not know is kept as it is.
        const int32_t main[4] = {1, 0, 5, 1};
        store.WriteBinary(kMainValue, CSettingsStore::PackInts(main, 4));
        QCOMPARE(store.ReadMain(), (MainSettings{1, 0, 5, 1}));
        // A text where binary data belongs is not binary data.
        QSettings raw(file, QSettings::IniFormat);
        raw.setValue(QString("%1/%2").arg(kSettingsGroup, kCorrectionValue), QString("12345678"));
        raw.sync();
        QCOMPARE(store.ReadCorrection(), AutoCorrectionOptions{});
    }
}

void GuiControlsTest::messageBoxButtonsAndResults() {
    {
        CXPThemeMessageBox box("Saved.", kMbIconInformation);
        QCOMPARE(box.windowTitle(), QString("Phrasemill 2.0"));
        QVERIFY(box.Button2()->isHidden());
        QCOMPARE(box.Button1()->text(), QString("OK"));
        QVERIFY(!box.Widened());
        QCOMPARE(box.size(), QSize(206, 93));
        QCOMPARE(box.Button1()->x(), (206 - box.Button1()->width()) / 2);
        QTimer::singleShot(0, box.Button1(), &QPushButton::click);
        QCOMPARE(box.exec(), 1);
    }
    {
        CXPThemeMessageBox box(LoadStringById(kIdsSaveBeforeExit), kMbYesNoQuestion);
        QVERIFY(!box.Button2()->isHidden());
        QCOMPARE(box.Button1()->text(), QString("&Yes"));
        QCOMPARE(box.Button2()->text(), QString("&No"));
        // Side by side, five pixels apart, the pair centred.
        QCOMPARE(box.Button2()->x() - (box.Button1()->x() + box.Button1()->width()), 5);
        const int left = box.Button1()->x();
        const int right = box.width() - (box.Button2()->x() + box.Button2()->width());
        QVERIFY(std::abs(left - right) <= 3);
        QTimer::singleShot(0, box.Button1(), &QPushButton::click);
        QCOMPARE(box.exec(), 6);
        QTimer::singleShot(0, box.Button2(), &QPushButton::click);
        QCOMPARE(box.exec(), 7);
        QTimer::singleShot(0, &box, [&box] { QTest::keyClick(&box, Qt::Key_Escape); });
        QCOMPARE(box.exec(), 2);
        const struct {
            Qt::Key key;
            Qt::KeyboardModifiers modifiers;
            int result;
        } keys[] = {{Qt::Key_Y, Qt::NoModifier, 6},
                    {Qt::Key_N, Qt::NoModifier, 7},
                    {Qt::Key_Y, Qt::AltModifier, 6},
                    {Qt::Key_N, Qt::AltModifier, 7}};
        for (const auto& k : keys) {
            QTimer::singleShot(0, &box, [&box, k] { QTest::keyClick(&box, k.key, k.modifiers); });
            QCOMPARE(box.exec(), k.result);
        }
    }
    {
        // Y and N mean nothing to a box with OK alone.
        CXPThemeMessageBox box("Saved.", kMbIconInformation);
        QTimer::singleShot(0, &box, [&box] {
            QTest::keyClick(&box, Qt::Key_N);
            QTest::keyClick(&box, Qt::Key_Escape);
        });
        QCOMPARE(box.exec(), 2);
    }
    std::vector<HookedMessage> shown;
    SetMessageBoxHook([&](const QString& text, unsigned flags) {
        shown.push_back({text, flags});
        return 7;
    });
    QCOMPARE(ShowMessageById(99999, kMbIconInformation), -1);
    QVERIFY(shown.empty());
    QCOMPARE(ShowMessageById(kIdsInputSaved, kMbIconInformation), 7);
    QCOMPARE(shown.size(), std::size_t{1});
    QCOMPARE(shown[0].text, QString("Input text has been saved successfully."));
    SetMessageBoxHook({});
}

void GuiControlsTest::messageBoxSizing() {
    const QString text = FormatStringById(kIdsBadMacroDefinition, {"12"});
    QVERIFY(text.startsWith("Incorrect variable definition at position 12.\r\nVariable must be defined like \"#set %variable% = value\""));
    CXPThemeMessageBox box(text, kMbIconExclamation);
    QVERIFY(box.Widened());
    QVERIFY(box.width() <= 600);
    QVERIFY(box.width() > 206);
    const QLabel* label = box.TextLabel();
    QVERIFY2(label->x() >= box.IconLabel()->x() + box.IconLabel()->width(), qPrintable(QString("%1 %2 %3 %4 %5").arg(label->x()).arg(label->width()).arg(box.IconLabel()->x()).arg(box.IconLabel()->width()).arg(box.width())));
    QVERIFY(label->x() + label->width() <= box.width());
    // The text box is at least as high as the wrapped text needs, and the
    // buttons stand below it.
    const int needed = label->fontMetrics()
                           .boundingRect(QRect(0, 0, label->width(), 100000), Qt::TextWordWrap, text)
                           .height();
    QVERIFY(label->height() >= needed);
    QVERIFY(box.Button1()->y() >= label->y() + label->height());
    QVERIFY(box.height() >= label->height() + 100);

    // A one-line text that fits is shown on one line, whole, at any length.
    QStringList oneLiners = {LoadStringById(kIdsResultsSaved), LoadStringById(kIdsInputSaved),
                             LoadStringById(kIdsSyntaxCorrect), LoadStringById(kIdsSavingErrors)};
    for (int position = 1; position < 100000; position = position * 3 + 1)
        oneLiners << FormatStringById(kIdsExtraBraceAtTop, {QString::number(position)});
    for (QString words = "Words"; words.size() < 80; words += " and more") oneLiners << words + ".";
    for (const QString& message : oneLiners) {
        CXPThemeMessageBox one(message, kMbIconExclamation);
        const QLabel* shown = one.TextLabel();
        const QFontMetricsF exact(shown->font());
        if (exact.horizontalAdvance(message) > 500) continue;  // wider than the widest box's room
        const bool wrapped = shown->wordWrap() && shown->heightForWidth(shown->width()) > shown->fontMetrics().height();
        QVERIFY2(!wrapped, qPrintable(message));
        QVERIFY2(shown->width() >= exact.horizontalAdvance(message), qPrintable(message));
        QVERIFY2(shown->x() + shown->width() <= one.width(), qPrintable(message));
    }
}

void GuiControlsTest::editorColouring() {
    CColoredRichEditCtrl editor;
    editor.SetText(u"#set %n% = {x|y}\r\nuse %n% and #set [a<, >|b]\r\n  #set %m% = 1\r\n");
    auto color = [&](int p) { return FormatAt(editor, p).foreground().color(); };
    auto bold = [&](int p) { return FormatAt(editor, p).fontWeight() == QFont::Bold; };
    QCOMPARE(color(0), QColor(181, 75, 7));           // "#set" at the line start
    QCOMPARE(FormatAt(editor, 0).background().color(), QColor(255, 255, 255));
    QCOMPARE(color(11), QColor(255, 0, 64));          // "{"
    QVERIFY(bold(11));
    QCOMPARE(color(13), QColor(69, 181, 17));         // "|"
    QVERIFY(bold(13));
    QVERIFY(!bold(12));                               // "x" is plain
    const int line2 = 17;
    QCOMPARE(FormatAt(editor, line2 + 4).background().color(), QColor(255, 255, 255));  // "%n%"
    QVERIFY(FormatAt(editor, line2 + 4).hasProperty(QTextFormat::BackgroundBrush));
    QVERIFY(!FormatAt(editor, line2 + 12).hasProperty(QTextFormat::BackgroundBrush));  // mid-line "#set"
    QCOMPARE(color(line2 + 12), QColor(0, 0, 0));
    QCOMPARE(color(line2 + 17), QColor(0, 10, 255));   // "["
    QCOMPARE(color(line2 + 19), QColor(69, 181, 17));  // "<"
    const int line3 = line2 + 27;
    QCOMPARE(color(line3 + 2), QColor(181, 75, 7));    // "#set" after spaces only
    QCOMPARE(editor.Macros().size(), std::size_t{2});
}

void GuiControlsTest::editorTypingRecoloursOnlyItsParagraph() {
    CColoredRichEditCtrl editor;
    std::u16string text;
    for (int i = 0; i < 200; ++i) text += u"line {a|b} %v%\r\n";
    editor.SetText(text);
    const int before = editor.Highlighter()->HighlightedBlocks();
    QTextCursor cursor = editor.textCursor();
    cursor.setPosition(5);
    editor.setTextCursor(cursor);
    editor.setFocus();
    QTest::keyClicks(&editor, "x[");
    const int typed = editor.Highlighter()->HighlightedBlocks() - before;
    QVERIFY2(typed <= 4, qPrintable(QString::number(typed)));
    QCOMPARE(FormatAt(editor, 6).foreground().color(), QColor(0, 10, 255));

    // A paste that defines a new macro re-colours the whole text once.
    QVERIFY(!FormatAt(editor, editor.TextLength() - 1 - 3).hasProperty(QTextFormat::BackgroundBrush));
    const int beforePaste = editor.Highlighter()->HighlightedBlocks();
    cursor.movePosition(QTextCursor::End);
    editor.setTextCursor(cursor);
    QApplication::clipboard()->setText("#set %v% = z\n");
    editor.paste();
    editor.Highlighter()->FinishColouring();  // the paragraphs out of view are coloured lazily
    QVERIFY(editor.Highlighter()->HighlightedBlocks() - beforePaste >= 200);
    QVERIFY(FormatAt(editor, 13).hasProperty(QTextFormat::BackgroundBrush));  // "%v%" of line 1
    // A paste that changes no name leaves the other paragraphs alone.
    const int beforeSecond = editor.Highlighter()->HighlightedBlocks();
    QApplication::clipboard()->setText("{p|q}");
    editor.paste();
    editor.Highlighter()->FinishColouring();
    QVERIFY(editor.Highlighter()->HighlightedBlocks() - beforeSecond <= 4);
}

// Random typing, deleting, replacing, pasting and undoing in a text of many
// lines and in one long paragraph: after every edit each character carries the
// format a from-scratch colouring of the whole text gives it.
void GuiControlsTest::editorIncrementalColouringMatchesFullColouring() {
    const QString tokens[] = {
        "{", "}", "[", "]", "<", ">", "|", "#set", "#set ", "#", "set", " ", "  ", "\t", "%a%", "%bb%", "%", "a",
        "bb", "x", "_", "word", "\n", QString(QChar(0x2028)),
    };
    std::u16string body;
    for (int i = 0; i < 60; ++i) body += u"  #set %a% {x|y} [p<, >|%bb%] %a%_ #set\t";
    std::u16string lines;
    for (int i = 0; i < 60; ++i) lines += u"#set %a% = {x|y}\r\n  #set z [p<, >|%bb%] %a%x\r\n\t#set w\r\n";
    const std::u16string defines = u"#set %a% = 1\r\n#set %bb% = {x|y}\r\n";
    const std::u16string texts[] = {defines + body, defines + lines, body};
    std::mt19937 random(11);
    for (const std::u16string& start : texts) {
        CColoredRichEditCtrl editor;
        editor.resize(400, 300);
        editor.SetText(start);
        QCOMPARE(FirstMiscoloured(editor), -1);
        for (int step = 0; step < 150; ++step) {
            auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
            const int length = editor.TextLength();
            const int at = pick(length + 1);
            QTextCursor cursor = editor.textCursor();
            cursor.setPosition(at);
            if (pick(3) == 0) cursor.setPosition(std::min(length, at + pick(12)), QTextCursor::KeepAnchor);
            editor.setTextCursor(cursor);
            const QString token = tokens[pick(static_cast<int>(std::size(tokens)))];
            QString action;
            switch (pick(8)) {
                case 0: action = "Backspace"; QTest::keyClick(&editor, Qt::Key_Backspace); break;
                case 1: action = "Delete"; QTest::keyClick(&editor, Qt::Key_Delete); break;
                case 2:
                    action = "paste " + token;
                    QApplication::clipboard()->setText(token);
                    editor.paste();
                    break;
                case 3: action = "undo"; editor.undo(); break;
                case 4: action = "snippet"; editor.InsertSnippet(pick(2) ? "#set %c_1% = " : "[|||]"); break;
                default:
                    action = "type " + token;
                    if (token == "\n") QTest::keyClick(&editor, Qt::Key_Return);
                    else if (token == QChar(0x2028)) QTest::keyClick(&editor, Qt::Key_Return, Qt::ShiftModifier);
                    else QTest::keyClicks(&editor, token);
                    break;
            }
            const int wrong = FirstMiscoloured(editor);
            QVERIFY2(wrong == -1, qPrintable(QString("step %1: %2 at %3, miscoloured %4").arg(step).arg(action).arg(at).arg(wrong)));
        }
    }
}

void GuiControlsTest::editorKeysAndPositions() {
    CColoredRichEditCtrl editor;
    std::vector<int> positions;
    connect(&editor, &CColoredRichEditCtrl::PositionChanged, [&](int p) { positions.push_back(p); });
    editor.setFocus();
    QTest::keyClick(&editor, Qt::Key_F5);
    QTest::keyClick(&editor, Qt::Key_F5, Qt::ShiftModifier);
    QTest::keyClick(&editor, Qt::Key_F7);
    QTest::keyClick(&editor, Qt::Key_F8, Qt::ShiftModifier);
    QTest::keyClick(&editor, Qt::Key_F9);
    QTest::keyClick(&editor, Qt::Key_F6, Qt::ShiftModifier);
    QTest::keyClick(&editor, Qt::Key_F6);
    QCOMPARE(editor.toPlainText(), QString("{[<>|]}"));
    QCOMPARE(positions.back(), 7);

    editor.SetText(u"ab\r\ncd");
    QCOMPARE(editor.Text(), std::u16string(u"ab\r\ncd"));
    QCOMPARE(editor.TextLength(), 5);  // the line break counts one
    editor.SetText(u"a\u00a0b\r\nc");
    QTextCursor end = editor.textCursor();
    end.movePosition(QTextCursor::End);
    end.insertText(QString(QChar::LineSeparator) + "d");
    QCOMPARE(editor.Text(), std::u16string(u"a\u00a0b\r\nc\r\nd"));  // no-break space kept
    QCOMPARE(editor.TextLength(), 7);
    editor.SetText(u"ab\r\ncd");
    editor.SelectRange(3, 3);
    QCOMPARE(positions.back(), 3);
    // Extending the selection reports the end that moved.
    QTest::keyClick(&editor, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(positions.back(), 4);
    QTest::keyClick(&editor, Qt::Key_Left);
    QCOMPARE(positions.back(), 3);
    editor.SelectRange(3, 1);
    QCOMPARE(positions.back(), 1);

    editor.SelectRange(0, 2);
    editor.InsertSnippet("#set %% = ");
    QCOMPARE(editor.toPlainText(), QString("#set %% = \ncd"));
    QCOMPARE(editor.textCursor().position(), 10);

    std::unique_ptr<QMenu> menu(editor.CreateContextMenu());
    auto find = [&](int id) -> QAction* {
        for (QAction* a : menu->actions())
            if (a->data().toInt() == id) return a;
        return nullptr;
    };
    QVERIFY(!find(CColoredRichEditCtrl::kCut)->isEnabled());
    QVERIFY(!find(CColoredRichEditCtrl::kDelete)->isEnabled());
    QVERIFY(find(CColoredRichEditCtrl::kPaste)->isEnabled());
    QVERIFY(find(CColoredRichEditCtrl::kSelectAll)->isEnabled());
    editor.SelectRange(0, 4);
    menu.reset(editor.CreateContextMenu());
    QVERIFY(find(CColoredRichEditCtrl::kDelete)->isEnabled());
    find(CColoredRichEditCtrl::kDelete)->trigger();
    QCOMPARE(editor.toPlainText(), QString(" %% = \ncd"));
    editor.SetText(u"");
    menu.reset(editor.CreateContextMenu());
    QVERIFY(!find(CColoredRichEditCtrl::kSelectAll)->isEnabled());
}

void GuiControlsTest::editorLongParagraph() {
    // One paragraph of about 60,000 characters between two short lines.
    QString paragraph;
    const QStringList words = {"{alpha|beta}", "%name%", "[one|two<, >]", "plain", "#set", "x%name%y", "\t|", "words"};
    for (int i = 0; paragraph.size() < 60000; ++i) paragraph += words[i % words.size()] + (i % 11 == 0 ? "  " : " ");
    const QString whole = "#set %name% = {v|w}\r\n" + paragraph + "\r\nlast line";
    CColoredRichEditCtrl editor;
    editor.resize(600, 400);
    editor.SetText(whole.toStdU16String());
    const int length = static_cast<int>(whole.size()) - 2;  // two line breaks count one each
    QCOMPARE(QString::fromStdU16String(editor.Text()), whole);
    QCOMPARE(editor.TextLength(), length);
    // Every block the text layout has to redo for a key stays short.
    for (QTextBlock block = editor.document()->begin(); block.isValid(); block = block.next())
        QVERIFY2(block.length() <= 2 * kLongParagraph, qPrintable(QString::number(block.length())));

    // The same colours as the paragraph in one piece.
    CTemplateHighlighter* highlighter = editor.Highlighter();
    highlighter->FinishColouring();
    const std::vector<QTextCharFormat> wanted =
        ReferenceColouring(paragraph, false, highlighter->MacroNames(), highlighter->Formats());
    const int paragraphStart = 20;
    for (int i = 0; i < paragraph.size(); i += 3) {
        const QTextCharFormat actual = FormatAt(editor, editor.ToDocument(paragraphStart + i));
        QVERIFY2(actual == wanted[static_cast<std::size_t>(i)], qPrintable(QString::number(i)));
    }

    // Positions in and out: each editor position maps to a document position that maps back.
    for (int p = 0; p <= length; p += 997) QCOMPARE(editor.FromDocument(editor.ToDocument(p)), p);
    std::vector<int> reported;
    connect(&editor, &CColoredRichEditCtrl::PositionChanged, [&](int p) { reported.push_back(p); });
    const QTextBlock second = editor.document()->findBlockByNumber(2);
    QVERIFY(IsContinuation(second));
    const int atBreak = editor.FromDocument(second.position());
    editor.SelectRange(atBreak, atBreak);
    QCOMPARE(reported.back(), atBreak);

    // Keys next to a piece break act on the characters either side of it.
    std::u16string expected = whole.toStdU16String();
    auto editorIndex = [&](int position) {  // raw index of an editor position in expected (CR LF before it)
        int raw = 0;
        for (int p = 0; p < position; ++p) raw += expected[static_cast<std::size_t>(raw)] == u'\r' ? 2 : 1;
        return static_cast<std::size_t>(raw);
    };
    QTextCursor cursor(editor.document());
    cursor.setPosition(second.position());
    editor.setTextCursor(cursor);
    QTest::keyClick(&editor, Qt::Key_Backspace);
    expected.erase(editorIndex(atBreak - 1), 1);
    QCOMPARE(editor.Text(), expected);
    const QTextBlock third = editor.document()->findBlockByNumber(3);
    QVERIFY(IsContinuation(third));
    cursor.setPosition(third.position() - 1);
    editor.setTextCursor(cursor);
    const int beforeThird = editor.FromDocument(third.position() - 1);
    QTest::keyClick(&editor, Qt::Key_Delete);
    expected.erase(editorIndex(beforeThird), 1);
    QCOMPARE(editor.Text(), expected);
    // Enter inside a piece makes a line break; the text after it stays one line.
    editor.SelectRange(beforeThird + 100, beforeThird + 100);
    QTest::keyClick(&editor, Qt::Key_Return);
    expected.insert(editorIndex(beforeThird + 100), u"\r\n");
    QCOMPARE(editor.Text(), expected);
    QTest::keyClicks(&editor, "typed");
    expected.insert(editorIndex(beforeThird + 101), u"typed");
    QCOMPARE(editor.Text(), expected);
    QCOMPARE(editor.TextLength(), length - 2 + 1 + 5);
    editor.document()->undo();
    editor.document()->undo();
    editor.document()->undo();
    QVERIFY(editor.Text().find(u"typed") == std::u16string::npos);

    // The arrow keys, with Shift and Ctrl, cross a piece break in one press:
    // the caret and the selection go where they go in one unbroken paragraph.
    editor.SetText(whole.toStdU16String());
    QPlainTextEdit unbroken;
    unbroken.resize(600, 400);
    unbroken.setPlainText(QString(whole).replace("\r\n", "\n"));
    const std::vector<std::pair<int, Qt::KeyboardModifiers>> moves = {
        {Qt::Key_Right, Qt::NoModifier},      {Qt::Key_Right, Qt::NoModifier},
        {Qt::Key_Right, Qt::NoModifier},      {Qt::Key_Left, Qt::NoModifier},
        {Qt::Key_Left, Qt::NoModifier},       {Qt::Key_Left, Qt::NoModifier},
        {Qt::Key_Right, Qt::ShiftModifier},   {Qt::Key_Right, Qt::ShiftModifier},
        {Qt::Key_Right, Qt::ShiftModifier},   {Qt::Key_Left, Qt::ShiftModifier},
        {Qt::Key_Left, Qt::ShiftModifier},    {Qt::Key_Left, Qt::ShiftModifier},
        {Qt::Key_Left, Qt::ShiftModifier},    {Qt::Key_Right, Qt::NoModifier},
        {Qt::Key_Right, Qt::ControlModifier}, {Qt::Key_Right, Qt::ControlModifier},
        {Qt::Key_Left, Qt::ControlModifier},  {Qt::Key_Left, Qt::ControlModifier},
        {Qt::Key_Left, Qt::ControlModifier},  {Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier},
        {Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier}, {Qt::Key_Left, Qt::ShiftModifier},
    };
    int breaksTried = 0;
    for (QTextBlock block = editor.document()->begin(); block.isValid() && breaksTried < 4; block = block.next()) {
        if (!IsContinuation(block)) continue;
        ++breaksTried;
        const int breakAt = editor.FromDocument(block.position());
        for (const int start : {breakAt - 2, breakAt + 1}) {
            editor.SelectRange(start, start);
            QTextCursor reference = unbroken.textCursor();
            reference.setPosition(start);
            unbroken.setTextCursor(reference);
            for (std::size_t m = 0; m < moves.size(); ++m) {
                QTest::keyClick(&editor, static_cast<Qt::Key>(moves[m].first), moves[m].second);
                QTest::keyClick(&unbroken, static_cast<Qt::Key>(moves[m].first), moves[m].second);
                const QTextCursor got = editor.textCursor();
                const QString where = QString("break at %1, start %2, move %3").arg(breakAt).arg(start).arg(m);
                QVERIFY2(editor.FromDocument(got.position()) == unbroken.textCursor().position(), qPrintable(where));
                QVERIFY2(editor.FromDocument(got.anchor()) == unbroken.textCursor().anchor(), qPrintable(where));
            }
        }
    }
    QCOMPARE(breaksTried, 4);

    // Copy across a piece break gives the characters only; a long paste comes in pieces.
    editor.SetText(whole.toStdU16String());
    editor.SelectRange(atBreak - 50, atBreak + 50);
    editor.copy();
    QCOMPARE(QApplication::clipboard()->text(), whole.mid(atBreak - 50 + 1, 100));
    editor.SetText(u"start end");
    editor.SelectRange(6, 6);
    QApplication::clipboard()->setText(paragraph + "\n" + paragraph);
    editor.paste();
    QCOMPARE(QString::fromStdU16String(editor.Text()), "start " + paragraph + "\r\n" + paragraph + "end");
    QVERIFY(editor.document()->blockCount() > 4);
}

void GuiControlsTest::templateFileLocations() {
    QTemporaryDir folder;
    CTemplateFileLocation location;
    location.programFile = folder.filePath("missing-folder/DefaultText.txt");
    location.fallbackFile = folder.filePath("data/DefaultText.txt");
    QCOMPARE(location.FileToLoad(), QString());
    QCOMPARE(location.FileToWrite(), location.fallbackFile);  // the program's folder cannot take it

    {
        CInputDataPage page(MainSettings{}, location);
        page.Editor()->SetText(u"  {a|b}\r\nc  \r\n\r\n");
        QVERIFY(page.SaveDefaultText());
    }
    QFile saved(location.fallbackFile);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("{a|b}\r\nc"));
    saved.close();
    {
        CInputDataPage page(MainSettings{}, location);
        page.LoadDefaultText();
        QCOMPARE(page.Editor()->Text(), std::u16string(u"{a|b}\r\nc"));
        page.Editor()->SetText(u" \r\n\t ");
        QVERIFY(page.SaveDefaultText());  // blank: the file keeps its contents
    }
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("{a|b}\r\nc"));
    saved.close();

    // With both files present the newer one is loaded.
    CTemplateFileLocation both;
    both.programFile = folder.filePath("DefaultText.txt");
    both.fallbackFile = location.fallbackFile;
    QFile program(both.programFile);
    QVERIFY(program.open(QIODevice::WriteOnly));
    program.write("older");
    program.close();
    QVERIFY(program.open(QIODevice::ReadWrite));
    QVERIFY(program.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
    program.close();
    QCOMPARE(both.FileToLoad(), both.fallbackFile);
    QCOMPARE(both.FileToWrite(), both.programFile);
}

void GuiControlsTest::templateFileEncodings() {
    struct Case {
        QByteArray bytes;
        QString text;
        int codePage;
    };
    const Case cases[] = {
        {"a\nb\rc\r\nd", "a\r\nb\r\nc\r\nd", 0},
        {"\xEF\xBB\xBF\xD0\x9F\xD1\x80\xD0\xB8", QString::fromUtf8("\xD0\x9F\xD1\x80\xD0\xB8"), 0},
        // Windows-1251: Cyrillic words, the letters beside 0xC0-0xFF and the number sign.
        {"{\xCF\xF0\xE8\xE2\xE5\xF2|\xA8\xEB\xEA\xE0} \xB9 5\x1A tail", QString::fromUtf8("{Привет|Ёлка} № 5"), 1251},
        {"\xE5\xF9\xB8 \xF0\xE0\xE7", QString::fromUtf8("ещё раз"), 1251},
        // Windows-1252: single accented letters among ASCII, the euro sign, an undefined byte.
        {"Caf\xE9 {na\xEFve|d\xE9j\xE0 vu} \x80\x81", QString::fromUtf8("Café {naïve|déjà vu} €") + QChar(0x81), 1252},
        {"Gr\xF6\xDF" "e \x93quoted\x94", QString::fromUtf8("Größe “quoted”"), 1252},
    };
    for (const Case& c : cases) {
        const DecodedTemplate decoded = DecodeTemplateBytes(std::string_view(c.bytes.constData(), c.bytes.size()));
        QCOMPARE(QString::fromStdU16String(decoded.text), c.text);
        QCOMPARE(decoded.codePage, c.codePage);
    }

    // The page: an unchanged template is never written back; a changed one
    // keeps the original bytes beside the file before the first write.
    QTemporaryDir folder;
    const QString path = folder.filePath("DefaultText.txt");
    auto write = [&](const QByteArray& bytes) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };
    auto read = [](const QString& name) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    };
    std::vector<HookedMessage> shown;
    SetMessageBoxHook([&](const QString& text, unsigned flags) {
        shown.push_back({text, flags});
        return 1;
    });
    const QByteArray cyrillic = "#set %\xE8\xEC\xFF% = {\xCF\xF0\xE8\xE2\xE5\xF2|\xC7\xE4\xF0\xE0\xE2\xF1\xF2\xE2\xF3\xE9}\n%\xE8\xEC\xFF%";
    write(cyrillic);
    {
        CInputDataPage page(MainSettings{}, CTemplateFileLocation::At(path));
        page.LoadDefaultText();
        QCOMPARE(page.LoadedCodePage(), 1251);
        QVERIFY(page.Editor()->toPlainText().startsWith(QString::fromUtf8("#set %имя% = {Привет|")));
        QTRY_COMPARE(shown.size(), std::size_t{1});
        QVERIFY2(shown[0].text.contains("Windows-1251") && shown[0].text.contains("DefaultText.txt.bak"),
                 qPrintable(shown[0].text));
        QCOMPARE(shown[0].flags, unsigned{kMbIconInformation});
        QVERIFY(page.SaveDefaultText());
        QCOMPARE(read(path), cyrillic);
        QVERIFY(!QFile::exists(path + ".bak"));

        page.Editor()->moveCursor(QTextCursor::End);
        page.Editor()->TypeCharacter(u'!');
        QVERIFY(page.SaveDefaultText());
        QCOMPARE(read(path + ".bak"), cyrillic);
        QCOMPARE(QString::fromUtf8(read(path)),
                 QString::fromUtf8("#set %имя% = {Привет|Здравствуй}\r\n%имя%!"));
    }
    {
        // Now UTF-8: no message, and a second change writes no second backup.
        shown.clear();
        CInputDataPage page(MainSettings{}, CTemplateFileLocation::At(path));
        page.LoadDefaultText();
        QCoreApplication::processEvents();
        QVERIFY(shown.empty());
        page.Editor()->moveCursor(QTextCursor::End);
        page.Editor()->TypeCharacter(u'?');
        QVERIFY(page.SaveDefaultText());
        QVERIFY(!QFile::exists(path + ".1.bak"));
        QCOMPARE(read(path + ".bak"), cyrillic);
    }
    // LF line breaks of an untouched UTF-8 file stay as they are.
    write("a\nb");
    {
        CInputDataPage page(MainSettings{}, CTemplateFileLocation::At(path));
        page.LoadDefaultText();
        QVERIFY(page.SaveDefaultText());
    }
    QCOMPARE(read(path), QByteArray("a\nb"));
    SetMessageBoxHook({});
}

void GuiControlsTest::saveInputText() {
    QTemporaryDir folder;
    std::vector<HookedMessage> shown;
    SetMessageBoxHook([&](const QString& text, unsigned flags) {
        shown.push_back({text, flags});
        return 1;
    });
    CInputDataPage page(MainSettings{}, CTemplateFileLocation::At(folder.filePath("DefaultText.txt")));
    page.Editor()->SetText(u"a\r\nb ");
    QVERIFY(page.SaveInputTextTo(folder.filePath("template")));
    QFile file(folder.filePath("template.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("a\r\nb "));  // the whole text, not trimmed
    QCOMPARE(shown.back().text, QString("Input text has been saved successfully."));
    QCOMPARE(shown.back().flags, unsigned{kMbIconInformation});
    QVERIFY(page.SaveInputTextTo(folder.filePath("plan.v2/name.md")) == false);
    QCOMPARE(shown.back().text, QString("Input text could not be saved."));
    QCOMPARE(shown.back().flags, unsigned{kMbIconExclamation});
    SetMessageBoxHook({});
}

QTEST_MAIN(GuiControlsTest)
#include "gui_controls_qtest.moc"
