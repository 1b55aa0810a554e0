#include "chrome/string_table.h"

#include <string>
#include <vector>

namespace {

QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

std::u16string_view View(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

}  // namespace

QString LoadStringById(int id) {
    return ToQString(MessageText(id));
}

QString FormatStringById(int id, const QStringList& values) {
    std::vector<CMessageArgument> arguments;
    arguments.reserve(static_cast<std::size_t>(values.size()));
    for (const QString& value : values) arguments.emplace_back(View(value));
    return ToQString(FormatText(MessageText(id), arguments));
}
