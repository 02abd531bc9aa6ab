#pragma once
// The settings store's file format on systems without a registry. QSettings' own INI
// formats give numbers back as strings after a restart, so a flag could not be told
// from a text; this format keeps the type of every value:
//
//     # Fenwa settings: one value a line, name=type:data
//     ckName=dword:0
//     edTime=sz:"200"
//     Dir1=sz:"/home/ann/Pictures"
//
// dword is a 32-bit unsigned number (read back as an int, as the registry gives it),
// qword a 64-bit one, sz a quoted text with \\, \" and \xHH escapes (the bytes are UTF-8),
// binary hexadecimal bytes. Saving goes through QSettings, which writes a temporary file
// and renames it over the old one, so a failed save leaves the old file whole.

#include <QMetaType>
#include <QSettings>
#include <QString>
#include <memory>

class QIODevice;

namespace fenwa::platform {

// A value the file names but whose data cannot be read (an unknown type tag, a malformed
// number, a text cut short). Reading keeps the rest of the file; the raw line is written
// back unchanged until the value is set again.
struct UnreadableSetting {
    QByteArray line;
    bool operator==(const UnreadableSetting& other) const { return line == other.line; }
};

// Always succeeds: lines that name no value are ignored, values that cannot be read are
// kept as UnreadableSetting, so one damaged line never hides the others.
bool readTypedSettings(QIODevice& device, QSettings::SettingsMap& map);
// Fails (and so leaves the old file in place) on a value of a type the format cannot hold.
bool writeTypedSettings(QIODevice& device, const QSettings::SettingsMap& map);

// The format, registered with QSettings on first use.
QSettings::Format typedSettingsFormat();

// The settings of the current user: the registry key Software\<organisation>\<application>
// on Windows, elsewhere a file in the typed format under the configuration directory.
std::unique_ptr<QSettings> openUserSettings(const QString& organisation,
                                            const QString& application);
// A settings file at a chosen place, in the typed format (tests, other stores).
std::unique_ptr<QSettings> openSettingsFile(const QString& path);

} // namespace fenwa::platform

Q_DECLARE_METATYPE(fenwa::platform::UnreadableSetting)
