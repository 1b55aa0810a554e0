#include "app/settings_store.h"

#include <QSettings>
#include <QtEndian>

CSettingsStore::CSettingsStore() : settings_(std::make_unique<QSettings>("Quillbrook", "Phrasemill")) {}

CSettingsStore::CSettingsStore(const QString& iniFile)
    : settings_(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

CSettingsStore::~CSettingsStore() = default;

QByteArray CSettingsStore::ReadBinary(const char* name) const {
    settings_->beginGroup(kSettingsGroup);
    const QVariant value = settings_->value(name);
    settings_->endGroup();
    if (value.typeId() != QMetaType::QByteArray) return {};
    return value.toByteArray();
}

void CSettingsStore::WriteBinary(const char* name, const QByteArray& bytes) {
    settings_->beginGroup(kSettingsGroup);
    settings_->setValue(name, bytes);
    settings_->endGroup();
}

void CSettingsStore::Sync() {
    settings_->sync();
}

QByteArray CSettingsStore::PackInts(const int32_t* values, int count) {
    QByteArray bytes(count * 4, '\0');
    for (int i = 0; i < count; ++i) qToLittleEndian<int32_t>(values[i], bytes.data() + 4 * i);
    return bytes;
}

void CSettingsStore::UnpackInts(const QByteArray& bytes, int32_t* values, int count) {
    for (int i = 0; i < count; ++i) values[i] = qFromLittleEndian<int32_t>(bytes.constData() + 4 * i);
}

AutoCorrectionOptions CSettingsStore::ReadCorrection() const {
    const QByteArray bytes = ReadBinary(kCorrectionValue);
    if (bytes.size() != 8) return AutoCorrectionOptions{};
    std::array<uint8_t, 8> flags{};
    for (int i = 0; i < 8; ++i) flags[i] = static_cast<uint8_t>(bytes[i]) != 0 ? 1 : 0;
    return AutoCorrectionOptions::FromBytes(flags);
}

DeletingOptions CSettingsStore::ReadDeleting() const {
    DeletingOptions options;
    const QByteArray bytes = ReadBinary(kDeletingValue);
    if (bytes.size() != 12) return options;
    int32_t v[3];
    UnpackInts(bytes, v, 3);
    // A method other than the two known ones, or a length or percent outside
    // what the dialog can enter, would make every version "similar" or none;
    // such values fall back one by one.
    if (v[0] == 0 || v[0] == 1) options.method = v[0];
    if (v[1] >= 1 && v[1] <= 99) options.shingleLength = v[1];
    if (v[2] >= 1 && v[2] <= 99) options.allowedPercent = v[2];
    return options;
}

QString CSettingsStore::ReadSeparator() const {
    settings_->beginGroup(kSettingsGroup);
    const QVariant value = settings_->value(kSeparatorValue);
    settings_->endGroup();
    if (!value.isValid()) return QStringLiteral("<br><br>");
    return value.toString();
}

MainSettings CSettingsStore::ReadMain() const {
    MainSettings settings;
    const QByteArray bytes = ReadBinary(kMainValue);
    if (bytes.size() != 16) return settings;
    int32_t v[4];
    UnpackInts(bytes, v, 4);
    settings.lengthLimit = v[0];
    settings.autoCorrection = v[1];
    settings.generationType = v[2];
    settings.skipSimilar = v[3];
    return settings;
}

void CSettingsStore::WriteCorrection(const AutoCorrectionOptions& options) {
    const auto flags = options.ToBytes();
    WriteBinary(kCorrectionValue, QByteArray(reinterpret_cast<const char*>(flags.data()), 8));
}

void CSettingsStore::WriteDeleting(const DeletingOptions& options) {
    const int32_t v[3] = {options.method, options.shingleLength, options.allowedPercent};
    WriteBinary(kDeletingValue, PackInts(v, 3));
}

void CSettingsStore::WriteSeparator(const QString& separator) {
    settings_->beginGroup(kSettingsGroup);
    settings_->setValue(kSeparatorValue, separator);
    settings_->endGroup();
}

void CSettingsStore::WriteMain(const MainSettings& settings) {
    const int32_t v[4] = {settings.lengthLimit, settings.autoCorrection, settings.generationType,
                          settings.skipSimilar};
    WriteBinary(kMainValue, PackInts(v, 4));
}
