#include "chrome/string_table.h"

#include <QHash>
#include <QStringList>

namespace {

const QHash<int, QString>& Table() {
    static const QHash<int, QString> table = {
        {kIdsOleInitFailed,
         QStringLiteral("OLE initialization failed.  Make sure that the OLE libraries are the correct version.")},
        {kIdsProductName, QStringLiteral("Phrasemill 2.0")},
        {kIdsSyntaxCorrect, QStringLiteral("Syntax is correct.         ")},
        {321, QStringLiteral("Extra bracket } at position %ld")},
        {kIdsDataToolbar,
         QStringLiteral("Save        \nCheck Syntax   \nGenerate!  \nStop        \nAbout       \nHelp     ")},
        {326, QStringLiteral("Extra bracket ] at position %ld")},
        {327, QStringLiteral(" Unclosed bracket { at position %ld")},
        {328, QStringLiteral(" Unclosed bracket [ at position %ld")},
        {333, QStringLiteral("Extra bracket } at position %ld")},
        {334, QStringLiteral("Extra bracket  ] at position %ld")},
        {335, QStringLiteral("Incorrect syntax for <> brackets at position %ld")},
        {336, QStringLiteral("Unknown Error")},
        {kIdsBadMacroDefinition,
         QStringLiteral("Incorrect variable definition at position %ld.\r\nVariable must be defined like "
                        "\"#set %%variable%% = value\" and ended with Enter.")},
        {kIdsResultsSaved, QStringLiteral("Results have been saved successfully.")},
        {kIdsDeniedMacroSymbol,
         QStringLiteral("Denied symbol in macro variable name at position %d. Variable name cant't maintain "
                        "\" { } [ ] \" symbols.")},
        {kIdsPositionFormat, QStringLiteral("Position: %d")},
        {kIdsInputSaved, QStringLiteral("Input text has been saved successfully.")},
        {kIdsInputNotSaved, QStringLiteral("Input text could not be saved.")},
        {kIdsTextFileFilter, QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*||")},
        {kIdsResultsToolbar,
         QStringLiteral("Save        \nDelete Identical\nShuffle       \nStop        \nAbout       \nHelp     ")},
        {kIdsMaxPossibleCaption, QStringLiteral("Max possible versions:   ")},
        {kIdsGeneratedCaption, QStringLiteral("Generated versions:   ")},
        {kIdsSavingErrors, QStringLiteral("There were errors during saving. Some data might be lost.")},
        {kIdsSaveBeforeExit, QStringLiteral("Save generated results before exit?")},
        {kIdsDefaultTextFile, QStringLiteral("DefaultText.txt")},
        {kIdsHelpFile, QStringLiteral("phrasemill-help.chm")},
        {kIdsDeleteButton, QStringLiteral("Delete")},
        {kIdsOkButton, QStringLiteral("Ok")},
        {kIdsDeleteTitle, QStringLiteral("Delete")},
        {kIdsDeletingOptionsTitle, QStringLiteral("Deleting options")},
        {kIdsAllProcessedDeleted, QStringLiteral("All strings has been processed. %ld strings has been deleted.")},
        {kIdsProcessedDeleted, QStringLiteral("%ld strings has been processed. %ld strings has been deleted.")},
        {kIdsRandom, QStringLiteral("Random")},
        {kIdsInSeries, QStringLiteral("In Series")},
        {kIdsVersionTitle, QStringLiteral("Version #%s (length %s) ")},
        {kIdsMax, QStringLiteral("Max")},
        {kIdsUnlimited, QStringLiteral("Unlimited")},
        {kIdsColumnNumber, QStringLiteral("#")},
        {kIdsColumnLength, QStringLiteral("Length")},
        {kIdsColumnText, QStringLiteral("Text")},
        {kIdsApplicationTitle, QStringLiteral("Phrasemill")},
    };
    return table;
}

}  // namespace

QString LoadStringById(int id) {
    return Table().value(id);
}

QString FormatPrintf(const QString& format, const QStringList& values) {
    QString out;
    out.reserve(format.size() + 16);
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c != u'%' || i + 1 >= format.size()) {
            out += c;
            continue;
        }
        if (format[i + 1] == u'%') {
            out += u'%';
            ++i;
            continue;
        }
        qsizetype j = i + 1;
        while (j < format.size() && format[j] == u'l') ++j;
        if (j < format.size() && (format[j] == u'd' || format[j] == u's')) {
            out += next < values.size() ? values[next] : QString();
            ++next;
            i = j;
            continue;
        }
        out += c;
    }
    return out;
}

QString FormatStringById(int id, const QStringList& values) {
    return FormatPrintf(LoadStringById(id), values);
}
