// What the window remembers from one start to the next, and the preferences of the sessions.
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSplitter>
#include <QTabWidget>

#include "app/PreferencesDialog.h"
#include "app/Settings.h"
#include "app/TMainForm.h"
#include "terminal/TTnEmulT.h"

namespace vandrel::app {

using terminal::TTnEmulT;

void TMainForm::UseSettings(std::unique_ptr<Settings> settings) {
    m_settings = std::move(settings);
    const RememberedState& state = m_settings->State();
    if (!state.WindowGeometry.isEmpty()) {
        restoreGeometry(state.WindowGeometry);
    }
    if (!state.SplitterState.isEmpty()) {
        Splitter1->restoreState(state.SplitterState);
    }
    if (m_lastAddress.isEmpty() && !state.RecentAddresses.empty()) {
        m_lastAddress = QString::fromStdString(state.RecentAddresses.front());
    }
    ApplyPreferencesToSessions();
    if (m_settings->Damaged()) {
        ShowSettingsNotice(QStringLiteral("Settings file %1 could not be read: defaults are used")
                               .arg(QDir::toNativeSeparators(m_settings->FileName())));
    }
}

const Preferences& TMainForm::CurrentPreferences() const {
    return m_settings->State().Prefs;
}

void TMainForm::mpPreferencesClick(QObject*) {
    if (const std::optional<Preferences> chosen = AskPreferences(this, CurrentPreferences())) {
        SetPreferences(*chosen);
    }
}

void TMainForm::SetPreferences(const Preferences& prefs) {
    m_settings->State().Prefs = prefs;
    ApplyPreferencesToSessions();
    SaveSettings();
}

void TMainForm::ApplyPreferencesToSessions() {
    // What the window decides for its sessions: Enter and Backspace for tabs opened from now
    // on (an open tab keeps its own choice), paste pacing for all, and closed tabs kept.
    const Preferences& prefs = CurrentPreferences();
    SetKeepClosedTabs(prefs.KeepClosedTabs);
    SetDefaultEnterKey(prefs.Enter);
    SetDefaultBackspaceKey(prefs.Backspace);
    SetPasteLineDelay(prefs.PasteLineDelayMs);
    SetConfirmMultiLinePaste(prefs.ConfirmMultiLinePaste);
    for (int i = 0; i < TabNotebook->count(); ++i) {
        if (TTnEmulT* terminal = SessionTerminal(i)) {
            ApplyPreferences(*terminal);
        }
    }
}

void TMainForm::ApplyPreferences(TTnEmulT& terminal) {
    const Preferences& prefs = CurrentPreferences();
    terminal.SetSessionFont(SessionFontOf(prefs));
    terminal.SetZoom(prefs.Zoom);
    terminal.SetHistoryLines(prefs.HistoryLines);
    // A zoom key in one session zooms them all, and is remembered.
    if (!terminal.OnZoom) {
        terminal.OnZoom = [this](terminal::TCustomEmulT& Sender) {
            Preferences zoomed = CurrentPreferences();
            zoomed.Zoom = Sender.Zoom();
            SetPreferences(zoomed);
        };
    }
}

void TMainForm::closeEvent(QCloseEvent* event) {
    m_settings->State().WindowGeometry = saveGeometry();
    m_settings->State().SplitterState = Splitter1->saveState();
    SaveSettings();
    QMainWindow::closeEvent(event);
}

void TMainForm::SaveSettings() {
    if (!m_settings->Save()) {
        ShowSettingsNotice(QStringLiteral("Settings file %1 could not be written")
                               .arg(QDir::toNativeSeparators(m_settings->FileName())));
    }
}

void TMainForm::ShowSettingsNotice(const QString& text) {
    if (!m_settingsNoticeShown) {
        m_settingsNoticeShown = true;
        ShowOutcome(text);
    }
}

void TMainForm::RememberFolder(QString& folder, const QString& file) {
    const QString chosen = QFileInfo(file).absolutePath();
    if (chosen != folder) {
        folder = chosen;
        SaveSettings();
    }
}

void TMainForm::OfferFolder(QFileDialog& dialog, const QString& folder) {
    if (!folder.isEmpty()) {
        dialog.setDirectory(folder);
    }
}

}  // namespace vandrel::app
