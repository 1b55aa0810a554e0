#include "app/translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>
#include <vector>

namespace {

const QString kTranslationsFolder = QStringLiteral(":/i18n");

std::vector<std::unique_ptr<QTranslator>>& Installed() {
    static std::vector<std::unique_ptr<QTranslator>> installed;
    return installed;
}

QLocale& Interface() {
    static QLocale locale(QLocale::English, QLocale::UnitedStates);
    return locale;
}

QString& InterfaceLanguageCode() {
    static QString language;
    return language;
}

// "phrasemill_ru.qm" -> "ru"
QString LanguageOfFile(const QString& fileName) {
    return fileName.mid(int(sizeof("phrasemill_")) - 1).chopped(int(sizeof(".qm")) - 1);
}

}  // namespace

bool InstallTranslations(const QLocale& locale) {
    for (const auto& translator : Installed()) QCoreApplication::removeTranslator(translator.get());
    Installed().clear();
    Interface() = QLocale(QLocale::English, QLocale::UnitedStates);
    InterfaceLanguageCode().clear();

    auto program = std::make_unique<QTranslator>();
    if (!program->load(locale, QStringLiteral("phrasemill"), QStringLiteral("_"), kTranslationsFolder)) return false;
    QCoreApplication::installTranslator(program.get());
    InterfaceLanguageCode() = LanguageOfFile(QFileInfo(program->filePath()).fileName());
    Installed().push_back(std::move(program));
    Interface() = locale;

    auto qt = std::make_unique<QTranslator>();
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt.get());
        Installed().push_back(std::move(qt));
    }
    return true;
}

QLocale InterfaceLocale() {
    return Interface();
}

QString InterfaceLanguage() {
    return InterfaceLanguageCode();
}

QStringList ShippedTranslations() {
    QStringList languages;
    const QStringList files = QDir(kTranslationsFolder).entryList({QStringLiteral("phrasemill_*.qm")}, QDir::Files);
    for (const QString& file : files) languages.append(LanguageOfFile(file));
    return languages;
}
