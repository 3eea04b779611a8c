// Session logging control, the status-bar refresh after a tab change, and opening log
// files in the text editor.
#include <QFile>
#include <QFileDialog>
#include <QPointer>
#include <QTabWidget>
#include <QTimer>

#include "app/EditorLauncher.h"
#include "app/FileDialogs.h"
#include "app/MessageDlg.h"
#include "app/Settings.h"
#include "app/TMainForm.h"
#include "app/model/LogFileProbe.h"
#include "terminal/EInOutError.h"
#include "terminal/TTnEmulT.h"

namespace vandrel::app {

using namespace terminal;

namespace {

// Log names are file names: 8-bit in the file system's encoding.
QString FromFileName(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

std::string ToFileName(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

}  // namespace

void TMainForm::SetLogFileDialogs() {
    SetLogFileDialog(SaveDialog);
    SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog->setFileMode(QFileDialog::AnyFile);
    SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    SaveDialog->setOption(QFileDialog::ReadOnly, false);
    SaveDialog->setSizeGripEnabled(true);
    SetLogFileDialog(OpenDialog);
    OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog->setFileMode(QFileDialog::ExistingFile);
}

void TMainForm::SetClock(LocalClock clock) {
    m_clock = clock ? std::move(clock) : LocalClock(SystemLocalDateTime);
}

std::string TMainForm::DefaultLogFileName(const std::string& host) const {
    return FormatLogFileName(host, m_clock ? m_clock() : SystemLocalDateTime());
}

void TMainForm::btnLogClick(QObject*) {
    // The session may end while a dialog is open, and its terminal go with it.
    QPointer<TTnEmulT> terminal = SessionTerminal(TabNotebook->currentIndex());
    if (terminal == nullptr) {
        return;
    }
    const auto sessionEnded = [&] { return terminal == nullptr || SessionPageIndex(terminal) < 0; };
    const std::string host = terminal->HostName();
    std::string name = terminal->LogName();
    bool logging = terminal->Log();
    if (logging) {
        const QString question = QStringLiteral("Close Log File ?\r") + FromFileName(name);
        if (MessageDlg(this, question, MessageKind::Confirmation) == MessageAnswer::Yes) {
            logging = false;
        }
    } else {
        OfferFolder(*SaveDialog, m_settings->State().LogFolder);
        SaveDialog->selectFile(QString::fromLatin1(DefaultLogFileName(host)));
        const std::optional<QString> chosen = RunFileDialog(SaveDialog);
        if (sessionEnded()) {
            return;
        }
        if (chosen) {
            RememberFolder(m_settings->State().LogFolder, *chosen);
            name = ToFileName(*chosen);
            if (const int error = ProbeLogFile(name)) {
                throw EInOutError(error, name);
            }
            logging = true;
        }
    }
    if (sessionEnded()) {
        return;
    }
    terminal->SetLogName(name);
    try {
        terminal->SetLog(logging);
    } catch (...) {
        // Closing failed, but the period has ended: show what the terminal now does.
        SetLogStatus(terminal->Log(), terminal->LogName());
        throw;
    }
    SetLogStatus(logging, name);
}

void TMainForm::SetLogStatus(bool logging, const std::string& name) {
    SetPanelText(0, logging ? QStringLiteral("Logging") : QStringLiteral("Not Logging"));
    SetPanelText(1, logging ? FromFileName(name) : QString());
}

void TMainForm::SessionLogFailed(TTnEmulT& terminal, const EInOutError& error) {
    if (SessionPageIndex(&terminal) == TabNotebook->currentIndex()) {
        SetLogStatus(terminal.Log(), terminal.LogName());
    }
    throw error;  // to the default error report
}

void TMainForm::TabNotebookChange(QObject*, int, bool&) {
    Timer_Tab->start();
}

void TMainForm::Timer_TabTimer(QObject*) {
    Timer_Tab->stop();
    if (TTnEmulT* terminal = SessionTerminal(TabNotebook->currentIndex())) {
        SetLogStatus(terminal->Log(), terminal->LogName());
    }
}

void TMainForm::mpOpenClick(QObject*) {
    OfferFolder(*OpenDialog, m_settings->State().LogFolder);
    const std::optional<QString> chosen = RunFileDialog(OpenDialog);
    if (!chosen) {
        return;
    }
    RememberFolder(m_settings->State().LogFolder, *chosen);
    const int code = EditorLauncher::Open(*chosen);
    if (code != 0) {
        MessageDlg(this, QStringLiteral("Shell error (%1)").arg(code), MessageKind::Error);
    }
}

}  // namespace vandrel::app
