#include "app/Settings.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

namespace vandrel::app {

namespace {

const QString kWindowGeometry = QStringLiteral("Window/Geometry");
const QString kSplitterState = QStringLiteral("Window/Splitter");
const QString kLogFolder = QStringLiteral("Folders/Log");
const QString kExportFolder = QStringLiteral("Folders/Export");
const QString kScriptFolder = QStringLiteral("Folders/Script");
const QString kAddressGroup = QStringLiteral("Connect");

// A value as text. An unquoted value with commas reads as a list: it is joined again.
std::string Text(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(',')).toStdString();
    }
    return value.toString().toStdString();
}

}  // namespace

QString Settings::UserFileName() {
    // On Linux the native format is this INI format in a ".conf" file.
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vandrel"),
                     QStringLiteral("Vandrel"))
        .fileName();
}

Settings::Settings(const QString& fileName) : m_fileName(fileName) {
    QSettings file(fileName, QSettings::IniFormat);
    if (file.status() == QSettings::FormatError) {
        const QString copy = fileName + QStringLiteral(".damaged");
        QFile::remove(copy);
        QFile::copy(fileName, copy);
    }
    // A file that exists but yields nothing readable (a folder, no permission) is damaged too.
    // What a malformed file seems to hold is not trusted: all of it is defaults then.
    const QFileInfo info(fileName);
    m_damaged = file.status() != QSettings::NoError || (info.exists() && !info.isReadable()) ||
                (info.exists() && !info.isFile());
    if (m_damaged) {
        return;
    }
    SettingValues values;
    for (const QString& key : file.allKeys()) {
        values[key.toStdString()] = Text(file.value(key));
    }
    std::vector<std::string> damaged;
    m_state.Prefs = ReadPreferences(values, damaged);
    m_state.RecentAddresses = ReadRecentAddresses(values, damaged);
    m_damaged = m_damaged || !damaged.empty();
    m_state.WindowGeometry = file.value(kWindowGeometry).toByteArray();
    m_state.SplitterState = file.value(kSplitterState).toByteArray();
    m_state.LogFolder = file.value(kLogFolder).toString();
    m_state.ExportFolder = file.value(kExportFolder).toString();
    m_state.ScriptFolder = file.value(kScriptFolder).toString();
}

bool Settings::Save() {
    if (m_fileName.isEmpty()) {
        return true;
    }
    QSettings file(m_fileName, QSettings::IniFormat);
    SettingValues values;
    WritePreferences(m_state.Prefs, values);
    WriteRecentAddresses(m_state.RecentAddresses, values);
    file.remove(kAddressGroup);
    for (const auto& [key, value] : values) {
        file.setValue(QString::fromStdString(key), QString::fromStdString(value));
    }
    file.setValue(kWindowGeometry, m_state.WindowGeometry);
    file.setValue(kSplitterState, m_state.SplitterState);
    file.setValue(kLogFolder, m_state.LogFolder);
    file.setValue(kExportFolder, m_state.ExportFolder);
    file.setValue(kScriptFolder, m_state.ScriptFolder);
    file.sync();
    // A format error of the file read before is no failure of this write.
    return file.status() != QSettings::AccessError;
}

}  // namespace vandrel::app
