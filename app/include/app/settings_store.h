// The four settings kept between starts of the desktop application, under the
// organisation "Quillbrook", application "Phrasemill", group "GUI Settings":
// three fixed-size binary records (little-endian signed 32-bit integers or
// flag bytes) and the separator text. A binary value is taken only when its
// size is exact; values the program cannot use fall back to the defaults.
//
//   CSettingsStore store;                       // or CSettingsStore(iniPath) in tests
//   AutoCorrectionOptions correction = store.ReadCorrection();
//   store.WriteCorrection(correction);
//
// Thread safety: user interface thread only.
#pragma once

#include "postprocess/autocorrect.h"
#include "postprocess/similarity.h"
#include "views/options_panel.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>

class QSettings;

inline constexpr const char* kSettingsGroup = "GUI Settings";
inline constexpr const char* kCorrectionValue = "Correction settings";
inline constexpr const char* kDeletingValue = "Deleting settings";
inline constexpr const char* kSeparatorValue = "Separating string";
inline constexpr const char* kMainValue = "Main settings";

class CSettingsStore {
public:
    CSettingsStore();                               // the user's settings
    explicit CSettingsStore(const QString& iniFile);  // a file of its own (tests, portable use)
    ~CSettingsStore();

    AutoCorrectionOptions ReadCorrection() const;
    DeletingOptions ReadDeleting() const;
    QString ReadSeparator() const;  // "<br><br>" only when absent
    MainSettings ReadMain() const;

    void WriteCorrection(const AutoCorrectionOptions& options);
    void WriteDeleting(const DeletingOptions& options);
    void WriteSeparator(const QString& separator);
    void WriteMain(const MainSettings& settings);

    // The raw binary access under the group (empty when absent or not binary).
    QByteArray ReadBinary(const char* name) const;
    void WriteBinary(const char* name, const QByteArray& bytes);
    void Sync();

    static QByteArray PackInts(const int32_t* values, int count);
    static void UnpackInts(const QByteArray& bytes, int32_t* values, int count);

private:
    std::unique_ptr<QSettings> settings_;
};
