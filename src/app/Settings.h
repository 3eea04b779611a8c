#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

#include "app/model/Preferences.h"

namespace vandrel::app {

// Everything the program remembers from one start to the next.
struct RememberedState {
    Preferences Prefs;
    // QWidget::saveGeometry of the main window and QSplitter::saveState of its splitter;
    // empty: the window opens as it does the first time.
    QByteArray WindowGeometry;
    QByteArray SplitterState;
    // The folders last chosen in the log file dialogs, in Export Table and in Run Script;
    // empty: none yet.
    QString LogFolder;
    QString ExportFolder;
    QString ScriptFolder;
    // Typed into Connect to Address, newest first (RememberAddress).
    std::vector<std::string> RecentAddresses;
};

// The settings file, read once when opened. A missing file gives the defaults; a file that
// cannot be read, is malformed or holds damaged values gives the defaults for what it
// could not provide and says so through Damaged(). A malformed file is copied beside itself
// ("<name>.damaged") before anything overwrites it.
class Settings {
public:
    // Settings kept in memory only: nothing is read, Save writes nothing.
    Settings() = default;
    // The INI file fileName.
    explicit Settings(const QString& fileName);

    // Where a desktop program keeps its settings on Linux: ~/.config/Vandrel/Vandrel.conf
    // (XDG_CONFIG_HOME when set, or the path QSettings::setPath gave the native format).
    static QString UserFileName();

    const QString& FileName() const { return m_fileName; }
    bool Damaged() const { return m_damaged; }
    RememberedState& State() { return m_state; }
    const RememberedState& State() const { return m_state; }
    // Writes the state to the file; false when it could not be written.
    bool Save();

private:
    QString m_fileName;
    bool m_damaged = false;
    RememberedState m_state;
};

}  // namespace vandrel::app
