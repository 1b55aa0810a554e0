// The shipped translations: each .ts file is current with the sources (lupdate
// finds nothing new; texts the sources no longer have may stay until the next
// update) and gives every text a finished translation that keeps
// the source's placeholders, shortcut, mnemonic and line count; the catalogue's
// texts and the English texts that the plain layers format are shown
// translated with their values in place; switching to Russian changes what the
// window shows while every window and dialog keeps its layout whole.
#include "app/main_frame.h"
#include "app/option_dialogs.h"
#include "app/translations.h"
#include "chrome/message_box.h"
#include "chrome/string_table.h"
#include "views/analysis_panel.h"
#include "views/input_data_page.h"
#include "views/output_data_page.h"
#include "views/results_model.h"
#include "views/saving.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QXmlStreamReader>

#include <memory>

namespace {

struct TsMessage {
    QString context;
    QString source;
    QString comment;
    QStringList translations;  // one, or one per plural form of a "%n" text
    bool finished = false;
};

// The text of the element the reader stands on; <byte value="xd"/> is a
// character that XML cannot hold as it is.
QString ReadTsText(QXmlStreamReader& reader) {
    QString text;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isCharacters()) {
            text += reader.text();
        } else if (reader.isStartElement() && reader.name() == QLatin1String("byte")) {
            const QString value = reader.attributes().value(QLatin1String("value")).toString();
            text += QChar(value.mid(1).toUShort(nullptr, 16));
        } else if (reader.isEndElement() && reader.name() != QLatin1String("byte")) {
            break;
        }
    }
    return text;
}

QStringList ReadTsTranslation(QXmlStreamReader& reader) {
    QStringList forms;
    QString text;
    bool plural = false;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("numerusform")) {
            plural = true;
            forms.append(ReadTsText(reader));
        } else if (reader.isStartElement() && reader.name() == QLatin1String("byte")) {
            text += QChar(reader.attributes().value(QLatin1String("value")).mid(1).toUShort(nullptr, 16));
        } else if (reader.isCharacters()) {
            text += reader.text();
        } else if (reader.isEndElement() && reader.name() == QLatin1String("translation")) {
            break;
        }
    }
    return plural ? forms : QStringList{text};
}

QList<TsMessage> ReadTs(const QString& file, QString& error) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        error = file + QStringLiteral(": cannot be read");
        return {};
    }
    QList<TsMessage> messages;
    QXmlStreamReader reader(&in);
    QString context;
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement()) continue;
        if (reader.name() == QLatin1String("name")) {
            context = reader.readElementText();
        } else if (reader.name() == QLatin1String("message")) {
            TsMessage message;
            message.context = context;
            while (!(reader.isEndElement() && reader.name() == QLatin1String("message")) && !reader.atEnd()) {
                reader.readNext();
                if (!reader.isStartElement()) continue;
                if (reader.name() == QLatin1String("source")) {
                    message.source = ReadTsText(reader);
                } else if (reader.name() == QLatin1String("comment")) {
                    message.comment = ReadTsText(reader);
                } else if (reader.name() == QLatin1String("translation")) {
                    message.finished = reader.attributes().value(QLatin1String("type")).isEmpty();
                    message.translations = ReadTsTranslation(reader);
                }
            }
            messages.append(message);
        }
    }
    if (reader.hasError()) error = file + QStringLiteral(": ") + reader.errorString();
    return messages;
}

// What a translation must keep of its source: the printf placeholders in
// order, the numbered ones in any order, the shortcut after a tab, whether a
// letter is underlined, and the number of lines.
QString Shape(const QString& text) {
    static const QRegularExpression placeholder(QStringLiteral("%(%|l?[ds]|\\d+|n)"));
    QStringList printf;
    QStringList numbered;
    for (auto it = placeholder.globalMatch(text); it.hasNext();) {
        const QString token = it.next().captured(0);
        (token.at(1).isDigit() || token == QLatin1String("%n") ? numbered : printf).append(token);
    }
    numbered.sort();
    const qsizetype tab = text.indexOf(u'\t');
    static const QRegularExpression mnemonic(QStringLiteral("&[^&\\s]"));
    return printf.join(u' ') + u'|' + numbered.join(u' ') + u'|' + (tab < 0 ? QString() : text.mid(tab)) + u'|' +
           (text.contains(mnemonic) ? u'&' : u'-') + u'|' + QString::number(text.count(u'\n'));
}

QStringList TsFiles() {
    const QDir folder(QStringLiteral(PHRASEMILL_SOURCE_DIR "/resources/translations"));
    QStringList files;
    for (const QString& name : folder.entryList({QStringLiteral("phrasemill_*.ts")}, QDir::Files))
        files.append(folder.filePath(name));
    return files;
}

// Every visible control under top whose text is cut (narrower than it asks
// for), that reaches past top's edges, or that overlaps another control.
QStringList LayoutFaults(QWidget* top) {
    QList<QWidget*> controls;
    for (QWidget* w : top->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(top) || w->width() == 0) continue;
        if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) || qobject_cast<QLineEdit*>(w) ||
            qobject_cast<QGroupBox*>(w) || qobject_cast<QLabel*>(w)) {
            if (qobject_cast<QLineEdit*>(w) && qobject_cast<QComboBox*>(w->parentWidget())) continue;
            controls.append(w);
        }
    }
    const auto name = [](QWidget* w) {
        QString text;
        if (auto* button = qobject_cast<QAbstractButton*>(w)) text = button->text();
        else if (auto* label = qobject_cast<QLabel*>(w)) text = label->text();
        else if (auto* group = qobject_cast<QGroupBox*>(w)) text = group->title();
        else if (auto* box = qobject_cast<QComboBox*>(w)) text = box->currentText();
        return QStringLiteral("%1 \"%2\"").arg(QLatin1String(w->metaObject()->className()), text);
    };
    QStringList faults;
    for (QWidget* w : controls) {
        const QRect area(w->mapTo(top, QPoint(0, 0)), w->size());
        if (!top->rect().contains(area)) faults.append(name(w) + QStringLiteral(" reaches past the window's edge"));
        const auto* label = qobject_cast<QLabel*>(w);
        const bool wraps = label && label->wordWrap();
        const bool textControl = label || qobject_cast<QAbstractButton*>(w);
        const int wanted = textControl ? w->sizeHint().width() : w->minimumSizeHint().width();
        if (!wraps && w->width() < wanted)
            faults.append(name(w) + QStringLiteral(" is cut: %1 of %2 pixels").arg(w->width()).arg(wanted));
    }
    for (int i = 0; i < controls.size(); ++i) {
        for (int j = i + 1; j < controls.size(); ++j) {
            QWidget* a = controls[i];
            QWidget* b = controls[j];
            if (a->isAncestorOf(b) || b->isAncestorOf(a)) continue;
            const QRect ra(a->mapTo(top, QPoint(0, 0)), a->size());
            const QRect rb(b->mapTo(top, QPoint(0, 0)), b->size());
            if (ra.intersects(rb)) faults.append(name(a) + QStringLiteral(" overlaps ") + name(b));
        }
    }
    return faults;
}

QStringList Mnemonics(const QMenu* menu) {
    QStringList letters;
    for (const QAction* action : menu->actions()) {
        const qsizetype at = action->text().indexOf(u'&');
        if (at >= 0 && at + 1 < action->text().size()) letters.append(action->text().at(at + 1).toLower());
    }
    return letters;
}

}  // namespace

class TranslationsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> folder_;

    std::unique_ptr<CMainFrame> MakeFrame() {
        FrameConfig config;
        config.settingsFile = folder_->filePath("settings.ini");
        config.templateLocation = CTemplateFileLocation::At(folder_->filePath("DefaultText.txt"));
        auto frame = std::make_unique<CMainFrame>(config);
        frame->resize(900, 640);
        frame->show();
        if (!QTest::qWaitForWindowExposed(frame.get())) return nullptr;
        QApplication::processEvents();
        return frame;
    }

    static QStringList DialogFaults(QDialog& dialog, const QString& what) {
        dialog.show();
        QApplication::processEvents();
        QStringList faults;
        for (const QString& fault : LayoutFaults(&dialog)) faults.append(what + QStringLiteral(": ") + fault);
        dialog.hide();
        return faults;
    }

private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        QVERIFY(folder_->isValid());
        SetMessageBoxHook([](const QString&, unsigned) { return kMbResultOk; });
    }

    void cleanup() {
        SetMessageBoxHook({});
        InstallTranslations(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void EveryTextOfTheSourcesIsInEachTranslation() {
        const QStringList files = TsFiles();
        QVERIFY(!files.isEmpty());
        for (const QString& file : files) {
            QTemporaryDir scratch;
            const QString copy = scratch.filePath(QFileInfo(file).fileName());
            QVERIFY(QFile::copy(file, copy));
            QProcess lupdate;
            lupdate.setWorkingDirectory(QStringLiteral(PHRASEMILL_SOURCE_DIR));
            lupdate.start(QStringLiteral(PHRASEMILL_LUPDATE),
                          QStringLiteral(PHRASEMILL_LUPDATE_ARGUMENTS).split(u'|') + QStringList{"-ts", copy});
            QVERIFY(lupdate.waitForFinished(120000));
            QCOMPARE(lupdate.exitCode(), 0);
            // A text that the sources have and the file lacks (new, or changed
            // since it was translated) comes back unfinished.
            QString error;
            const QList<TsMessage> messages = ReadTs(copy, error);
            QVERIFY2(error.isEmpty(), qPrintable(error));
            QVERIFY(!messages.isEmpty());
            QStringList missing;
            for (const TsMessage& m : messages) {
                if (!m.finished) missing.append(m.context + QStringLiteral(" \"") + m.source + u'"');
            }
            QVERIFY2(missing.isEmpty(),
                     qPrintable(file + QStringLiteral(" lacks texts of the sources: run `ninja update-translations` and "
                                                      "translate them:\n") + missing.join(u'\n')));
        }
    }

    void EveryTextHasAFinishedTranslationOfTheSameShape() {
        QStringList languages;
        for (const QString& file : TsFiles()) {
            QString error;
            const QList<TsMessage> messages = ReadTs(file, error);
            QVERIFY2(error.isEmpty(), qPrintable(error));
            QVERIFY(!messages.isEmpty());
            QStringList faults;
            for (const TsMessage& m : messages) {
                const QString where = QFileInfo(file).fileName() + u' ' + m.context + QStringLiteral(" \"") + m.source +
                                      u'"';
                if (!m.finished || m.translations.contains(QString()))
                    faults.append(where + QStringLiteral(": not translated"));
                for (const QString& translation : m.translations) {
                    if (!translation.isEmpty() && Shape(translation) != Shape(m.source))
                        faults.append(where + QStringLiteral(": the translation's placeholders, shortcut, mnemonic or "
                                                             "lines differ: ") + Shape(translation) +
                                      QStringLiteral(" instead of ") + Shape(m.source));
                }
            }
            QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
            languages.append(QFileInfo(file).completeBaseName().mid(int(sizeof("phrasemill_")) - 1));
        }
        // Every .ts is compiled and embedded.
        QStringList shipped = ShippedTranslations();
        shipped.sort();
        languages.sort();
        QCOMPARE(shipped, languages);
    }

    void CatalogueTextsAreShownTranslatedWithTheirValuesInPlace() {
        QVERIFY(InstallTranslations(QLocale(QLocale::Russian, QLocale::Russia)));
        // Names of the product and of files stay as they are; every other text changes.
        const QList<int> untranslated = {kIdsProductName, kIdsDefaultTextFile, kIdsHelpFile, kIdsColumnNumber};
        for (int id = 0; id < 1024; ++id) {
            const std::u16string_view english = MessageText(id);
            if (english.empty()) continue;
            const QString shown = LoadStringById(id);
            if (untranslated.contains(id)) QCOMPARE(shown, QString::fromStdU16String(std::u16string(english)));
            else QVERIFY2(shown != QString::fromStdU16String(std::u16string(english)), qPrintable(shown));
        }
        QCOMPARE(LoadStringById(kIdsDeleteTitle), QStringLiteral("Удаление"));
        QCOMPARE(LoadStringById(kIdsDeleteButton), QStringLiteral("Удалить"));
        QCOMPARE(FormatStringById(kIdsPositionFormat, {QStringLiteral("986825")}), QStringLiteral("Позиция: 986825"));

        const struct {
            std::u16string english;
            QString shown;
        } formatted[] = {
            {FormatMessage(kIdsExtraBraceAtTop, {12}), QStringLiteral("Лишняя скобка } в позиции 12")},
            {FormatMessage(kIdsProcessedDeleted, {300, 7}), QStringLiteral("Обработано строк: 300. Удалено строк: 7.")},
            {FormatMessage(kIdsBadMacroDefinition, {5}),
             QStringLiteral("Неверное определение переменной в позиции 5.\r\nПеременную задают строкой вида "
                            "\"#set %переменная% = значение\", которая заканчивается переводом строки (Enter).")},
            {FormatMessage(kIdsUnclosedBrace, {3}) + std::u16string(MessageText(kIdsInMacroDefinition)),
             QStringLiteral(" Незакрытая скобка { в позиции 3 в определении переменной.")},
            {FormatMessage(kIdsLintMacroOrder, {u"%a%", u"%b%"}),
             QStringLiteral("Переменная %a% подставляется раньше, чем %b%, поэтому в этом значении она останется "
                            "обычным текстом.")},
            {std::u16string(MessageText(kIdsShuffling)), QStringLiteral("Перемешивание...")},
            {u"Stopped early: the kept versions need 812 MB, which reaches the run's memory budget of 800 MB. "
             u"The versions kept so far are complete.",
             QStringLiteral("Генерация остановлена досрочно: полученные варианты занимают 812 МБ — это предел "
                            "памяти, отведённой на генерацию (800 МБ). Все варианты, полученные до остановки, целы.")},
            {u"Some text the catalogue never held", QStringLiteral("Some text the catalogue never held")},
        };
        for (const auto& [english, shown] : formatted) QCOMPARE(TranslateFormattedText(english), shown);

        QVERIFY(!InstallTranslations(QLocale(QLocale::English, QLocale::UnitedStates)));
        QCOMPARE(TranslateFormattedText(FormatMessage(kIdsExtraBraceAtTop, {12})),
                 QStringLiteral("Extra bracket } at position 12"));
        QCOMPARE(LoadStringById(kIdsDeleteTitle), QStringLiteral("Delete"));
    }

    void RussianWindowShowsRussianAndKeepsItsLayoutWhole() {
        QVERIFY(InstallTranslations(QLocale(QLocale::Russian, QLocale::Russia)));
        std::unique_ptr<CMainFrame> frame = MakeFrame();
        QVERIFY(frame);
        auto* pages = frame->findChild<QTabWidget*>();
        QVERIFY(pages);
        QCOMPARE(pages->tabText(0), QStringLiteral("Данные"));
        QCOMPARE(pages->tabText(1), QStringLiteral("Результаты"));
        QCOMPARE(frame->CommandAction(CMainFrame::kSave)->text(), QStringLiteral("Сохранить"));
        QCOMPARE(frame->CommandAction(CMainFrame::kCheckSyntax)->toolTip(), QStringLiteral("Проверить синтаксис шаблона"));
        QCOMPARE(frame->StatusPane(0)->text(), QStringLiteral("Позиция: 0"));
        QCOMPARE(frame->ResultsPage()->Model()->headerData(CResultsModel::kLengthColumn, Qt::Horizontal).toString(),
                 QStringLiteral("Длина"));

        QStringList faults = LayoutFaults(frame.get());
        for (QToolBar* bar : {frame->DataBar(), frame->ResultsBar()}) {
            pages->setCurrentIndex(bar == frame->DataBar() ? 0 : 1);
            QApplication::processEvents();
            for (QToolButton* button : bar->findChildren<QToolButton*>()) {
                if (!button->isVisible() || button->defaultAction() == nullptr) continue;
                if (button->width() < button->sizeHint().width() || !bar->rect().contains(button->geometry()))
                    faults.append(QStringLiteral("toolbar button \"%1\" is cut").arg(button->text()));
            }
            faults.append(LayoutFaults(frame.get()));
        }
        // The menus' underlined letters tell their entries apart.
        for (QMenu* menu : {frame->ResultsPage()->ContextMenu(), frame->ResultsPage()->SaveMenu()}) {
            const QStringList letters = Mnemonics(menu);
            if (letters.size() != QSet<QString>(letters.begin(), letters.end()).size())
                faults.append(QStringLiteral("menu %1 repeats an underlined letter: %2")
                                  .arg(menu->objectName(), letters.join(u' ')));
        }

        AutoCorrectionOptions correction;
        CStringHandlingOptions correctionDialog(correction, frame.get());
        faults.append(DialogFaults(correctionDialog, QStringLiteral("auto-correction options")));
        DeletingOptions deleting;
        CDeletingOptionsDlg deleteDialog(deleting, CDeletingOptionsDlg::kDeleteMode, frame.get());
        faults.append(DialogFaults(deleteDialog, QStringLiteral("delete")));
        CDeletingOptionsDlg deletingOptions(deleting, CDeletingOptionsDlg::kOptionsMode, frame.get());
        faults.append(DialogFaults(deletingOptions, QStringLiteral("deleting options")));
        SavingOptions saving;
        CSavingOptionsDlg savingDialog(saving, frame.get());
        faults.append(DialogFaults(savingDialog, QStringLiteral("saving options")));
        for (int id : {kIdsSaveBeforeExit, kIdsSavingErrors, kIdsBadMacroDefinition, kIdsSyntaxCorrect}) {
            CXPThemeMessageBox box(LoadStringById(id), id == kIdsSaveBeforeExit ? kMbYesNoQuestion : kMbIconExclamation,
                                   frame.get());
            faults.append(DialogFaults(box, QStringLiteral("message box %1").arg(id)));
        }
        // The analysis panel at the width it asks for: the section titles
        // whole, and no column pushed out of sight.
        CAnalysisPanel panel(frame->DataPage()->Editor(), frame->DataPage()->Lint());
        panel.resize(panel.sizeHint());
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTreeWidget* rows = panel.Rows();
        if (rows->header()->length() > rows->viewport()->width())
            faults.append(QStringLiteral("analysis panel: the columns reach past its edge"));
        for (QTreeWidgetItem* section : {panel.VarietySection(), panel.StretchesSection(), panel.FindingsSection()}) {
            const int wanted = QFontMetrics(section->font(0)).horizontalAdvance(section->text(0));
            if (rows->viewport()->width() - rows->indentation() < wanted)
                faults.append(QStringLiteral("analysis panel: \"%1\" is cut").arg(section->text(0)));
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
    }

    void RussianQuestionAnswersToItsOwnUnderlinedLetters() {
        QVERIFY(InstallTranslations(QLocale(QLocale::Russian, QLocale::Russia)));
        const struct {
            int key;
            int result;
        } keys[] = {
            {0x0414, kMbResultYes},  // Д
            {0x041D, kMbResultNo},   // Н
            {Qt::Key_Y, kMbResultYes},
            {Qt::Key_N, kMbResultNo},
        };
        for (const auto& [key, result] : keys) {
            CXPThemeMessageBox box(LoadStringById(kIdsSaveBeforeExit), kMbYesNoQuestion);
            const QList<QPushButton*> buttons = box.findChildren<QPushButton*>();
            QStringList texts;
            for (const QPushButton* button : buttons)
                if (button->isVisibleTo(&box)) texts.append(button->text());
            texts.sort();
            QCOMPARE(texts, (QStringList{QStringLiteral("&Да"), QStringLiteral("&Нет")}));
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(QChar(key)).toLower());
            QApplication::sendEvent(&box, &press);
            QCOMPARE(box.result(), result);
        }
    }

    void EnglishComesBackAfterRussian() {
        QVERIFY(InstallTranslations(QLocale(QLocale::Russian, QLocale::Russia)));
        QVERIFY(!InstallTranslations(QLocale(QLocale::English, QLocale::UnitedKingdom)));
        std::unique_ptr<CMainFrame> frame = MakeFrame();
        QVERIFY(frame);
        QCOMPARE(frame->findChild<QTabWidget*>()->tabText(0), QStringLiteral("Data"));
        QCOMPARE(frame->CommandAction(CMainFrame::kSave)->text().trimmed(), QStringLiteral("Save"));
        QCOMPARE(frame->StatusPane(0)->text(), QStringLiteral("Position: 0"));
        QVERIFY2(LayoutFaults(frame.get()).isEmpty(), qPrintable(LayoutFaults(frame.get()).join(u'\n')));
    }
};

QTEST_MAIN(TranslationsTest)
#include "translations_qtest.moc"
