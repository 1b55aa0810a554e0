#include "chrome/string_table.h"

#include <QCoreApplication>
#include <QHash>
#include <QRegularExpression>

#include <string>
#include <vector>

namespace {

QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

std::u16string_view View(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

// Two catalogue entries share the English "Delete": the button and the window
// title; the title's translation is told apart by this disambiguation (the
// same as its marker in text/messages.cpp).
const char* Disambiguation(int id) {
    return id == kIdsDeleteTitle ? "window title" : nullptr;
}

QString Translate(std::u16string_view english, const char* disambiguation = nullptr) {
    if (english.empty()) return {};
    const QByteArray source = ToQString(english).toUtf8();
    return QCoreApplication::translate(kMessagesContext, source.constData(), disambiguation);
}

// The run's own reports, which have no catalogue id: written here as the run
// writes them, with the numbers as placeholders.
const char* const kRunTexts[] = {
    QT_TRANSLATE_NOOP("Messages", "The template could not be loaded."),
    QT_TRANSLATE_NOOP("Messages", "Every version number that random order can draw has been drawn; "
                                  "use series order to reach the others."),
    QT_TRANSLATE_NOOP("Messages", "Stopped early: the kept versions need %s MB, which reaches the run's memory "
                                  "budget of %s MB. The versions kept so far are complete."),
    QT_TRANSLATE_NOOP("Messages", "Stopped early: the kept versions and their similarity index need %s MB, which "
                                  "reaches the run's memory budget of %s MB. The versions kept so far are complete."),
};

// An English format as a pattern that matches the texts made from it and
// captures the values in order.
struct FormatPattern {
    std::u16string format;
    const char* disambiguation = nullptr;
    QRegularExpression pattern;
};

QRegularExpression PatternOf(std::u16string_view format) {
    QString pattern;
    QString literal;
    const auto flushLiteral = [&] {
        pattern += QRegularExpression::escape(literal);
        literal.clear();
    };
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char16_t c = format[i];
        if (c != u'%' || i + 1 == format.size()) {
            literal += QChar(c);
            continue;
        }
        if (format[i + 1] == u'%') {
            literal += u'%';
            ++i;
            continue;
        }
        std::size_t conversion = i + 1;
        if (format[conversion] == u'l') ++conversion;
        if (conversion < format.size() && (format[conversion] == u'd' || format[conversion] == u's')) {
            flushLiteral();
            pattern += format[conversion] == u'd' ? QStringLiteral("(-?\\d+)") : QStringLiteral("(.*?)");
            i = conversion;
            continue;
        }
        literal += QChar(c);
    }
    flushLiteral();
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern),
                              QRegularExpression::DotMatchesEverythingOption);
}

struct FormatTables {
    QHash<QString, std::pair<std::u16string, const char*>> plain;  // texts without placeholders
    std::vector<FormatPattern> patterns;
};

const FormatTables& Tables() {
    static const FormatTables tables = [] {
        FormatTables t;
        const auto add = [&t](std::u16string format, const char* disambiguation) {
            if (format.find(u'%') == std::u16string::npos) {
                t.plain.insert(ToQString(format), {format, disambiguation});
                return;
            }
            QRegularExpression pattern = PatternOf(format);
            t.patterns.push_back({std::move(format), disambiguation, std::move(pattern)});
        };
        constexpr int kLastId = 1023;
        for (int id = 0; id <= kLastId; ++id) {
            if (!MessageText(id).empty()) add(std::u16string(MessageText(id)), Disambiguation(id));
        }
        for (const char* text : kRunTexts) add(QString::fromUtf8(text).toStdU16String(), nullptr);
        return t;
    }();
    return tables;
}

QString TranslateWhole(const QString& text, bool& found) {
    const FormatTables& tables = Tables();
    found = true;
    if (const auto it = tables.plain.constFind(text); it != tables.plain.constEnd())
        return Translate(it->first, it->second);
    for (const FormatPattern& entry : tables.patterns) {
        const QRegularExpressionMatch match = entry.pattern.match(text);
        if (!match.hasMatch()) continue;
        const QStringList captured = match.capturedTexts().mid(1);
        std::vector<CMessageArgument> arguments;
        arguments.reserve(static_cast<std::size_t>(captured.size()));
        for (const QString& value : captured) arguments.emplace_back(View(value));
        return ToQString(FormatText(View(Translate(entry.format, entry.disambiguation)), arguments));
    }
    found = false;
    return text;
}

}  // namespace

QString LoadStringById(int id) {
    return Translate(MessageText(id), Disambiguation(id));
}

QString FormatStringById(int id, const QStringList& values) {
    std::vector<CMessageArgument> arguments;
    arguments.reserve(static_cast<std::size_t>(values.size()));
    for (const QString& value : values) arguments.emplace_back(View(value));
    return ToQString(FormatText(View(LoadStringById(id)), arguments));
}

QString TranslateFormattedText(std::u16string_view english) {
    const QString text = ToQString(english);
    bool found = false;
    QString translated = TranslateWhole(text, found);
    if (found) return translated;
    // The template check names a defect inside a #set line by appending the
    // macro-definition note to the syntax message.
    const QString note = ToQString(MessageText(kIdsInMacroDefinition));
    if (text.endsWith(note)) {
        translated = TranslateWhole(text.chopped(note.size()), found);
        if (found) return translated + LoadStringById(kIdsInMacroDefinition);
    }
    return text;
}
