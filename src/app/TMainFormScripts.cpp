// Session > Run Script... and Stop Script: a script on the active session, or on every
// connected one with Type into All, its progress in the tabs and a summary at the end.
#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>
#include <variant>

#include "app/FileDialogs.h"
#include "app/MessageDlg.h"
#include "app/ScriptBatch.h"
#include "app/ScriptSession.h"
#include "app/Settings.h"
#include "app/TMainForm.h"
#include "app/TStringAlignGrid.h"
#include "app/VandrelApplication.h"
#include "app/model/DeviceTable.h"
#include "app/model/LogFileProbe.h"
#include "app/model/ReadSmallFile.h"
#include "app/model/ScriptSummary.h"
#include "script/ScriptVariables.h"
#include "terminal/TTnEmulT.h"

namespace vandrel::app {

using terminal::TTnEmulT;

namespace {

QString FileLabel(const QString& file) {
    return QFileInfo(file).fileName();
}

// The file's bytes, or nothing after saying why they cannot be had.
std::optional<std::string> ReadScriptFile(QWidget* parent, const QString& file, std::size_t limit) {
    std::string bytes;
    const int error = ReadSmallFile(QFile::encodeName(file).toStdString(), limit, bytes);
    if (error == EFBIG) {
        MessageDlg(parent, QStringLiteral("%1 is too large").arg(file), MessageKind::Error);
    } else if (error != 0) {
        MessageDlg(parent,
                   QStringLiteral("Cannot read %1: %2")
                       .arg(file, QString::fromLocal8Bit(std::strerror(error))),
                   MessageKind::Error);
    }
    return error == 0 ? std::optional<std::string>(std::move(bytes)) : std::nullopt;
}

void ShowSummary(QWidget* parent, const QString& text) {
    auto* dialog = new QDialog(parent);
    dialog->setObjectName(QStringLiteral("ScriptSummary"));
    dialog->setWindowTitle(QStringLiteral("Script Results"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(dialog);
    auto* view = new QPlainTextEdit(text, dialog);
    view->setObjectName(QStringLiteral("ScriptSummaryText"));
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(view);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    layout->addWidget(buttons);
    dialog->resize(640, 360);
    dialog->show();
}

}  // namespace

void TMainForm::CreateScriptMenu() {
    mpRunScript = mpSession->addAction(QStringLiteral("Run &Script..."));
    mpRunScript->setObjectName(QStringLiteral("mpRunScript"));
    mpRunScript->setStatusTip(QStringLiteral(
        "Run a session script on this session, or on every connected one with Type into All"));
    mpStopScript = mpSession->addAction(QStringLiteral("S&top Script"));
    mpStopScript->setObjectName(QStringLiteral("mpStopScript"));
    mpStopScript->setStatusTip(QStringLiteral("Stop the script that runs"));
    // Only while a script runs: otherwise Escape belongs to the session.
    mpStopScript->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(mpRunScript, &QAction::triggered, this,
            [this] { RunGuarded([this] { mpRunScriptClick(mpRunScript); }); });
    connect(mpStopScript, &QAction::triggered, this,
            [this] { RunGuarded([this] { mpStopScriptClick(mpStopScript); }); });
    UpdateScriptActions();
}

void TMainForm::UpdateScriptActions() {
    mpRunScript->setEnabled(m_scriptBatch == nullptr);
    mpStopScript->setEnabled(m_scriptBatch != nullptr);
}

std::vector<TTnEmulT*> TMainForm::ScriptTargets() const {
    if (m_typeIntoAll) {
        return TypingTargets();
    }
    TTnEmulT* terminal = SessionTerminal(TabNotebook->currentIndex());
    if (terminal == nullptr || !IsTypingTarget(*terminal)) {
        return {};
    }
    return {terminal};
}

script::DeviceIdentity TMainForm::SessionDevice(const TTnEmulT& terminal) const {
    script::DeviceIdentity device;
    device.Ip = terminal.HostName();
    if (IsAddressSession(terminal)) {
        return device;
    }
    for (int r = 1; r < sg->RowCount(); ++r) {
        if (sg->Cells(ColIP, r) == device.Ip) {
            device.Device = sg->Cells(ColDevice, r);
            device.SerialNumber = sg->Cells(ColSerial, r);
            device.Mac = sg->Cells(ColMac, r);
            break;
        }
    }
    return device;
}

std::optional<QString> TMainForm::AskScriptFile(const QString& title, const QString& filter) {
    QFileDialog dialog(this);
    dialog.setWindowTitle(title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({filter, QStringLiteral("All Files (*)")});
    OfferFolder(dialog, m_settings->State().ScriptFolder);
    const std::optional<QString> chosen = RunFileDialog(&dialog);
    if (chosen) {
        RememberFolder(m_settings->State().ScriptFolder, *chosen);
    }
    return chosen;
}

void TMainForm::mpRunScriptClick(QObject*) {
    if (m_scriptBatch != nullptr) {
        return;
    }
    const QString noSession = QStringLiteral("Run Script needs a connected session");
    if (ScriptTargets().empty()) {
        MessageDlg(this, noSession, MessageKind::Error);
        return;
    }
    const std::optional<QString> scriptFile =
        AskScriptFile(QStringLiteral("Run Script"), QStringLiteral("Session Scripts (*.vsc)"));
    if (!scriptFile) {
        return;
    }
    const std::optional<std::string> text =
        ReadScriptFile(this, *scriptFile, script::kMaxScriptBytes);
    if (!text) {
        return;
    }
    auto parsed = script::ParseScript(*text);
    if (const auto* error = std::get_if<script::ScriptError>(&parsed)) {
        MessageDlg(
            this, FileLabel(*scriptFile) + QLatin1Char(':') + QString::fromStdString(error->Text()),
            MessageKind::Error);
        return;
    }
    script::Script script = std::get<script::Script>(std::move(parsed));

    // A variables table only when the script needs more than the device's own values.
    std::optional<script::VariablesTable> table;
    std::vector<std::string> unknown = script::UnknownVariables(script.VariableNames, {});
    if (!unknown.empty()) {
        const std::optional<QString> csv = AskScriptFile(QStringLiteral("Variables for the Script"),
                                                         QStringLiteral("CSV Files (*.csv)"));
        if (!csv) {
            return;
        }
        const std::optional<std::string> bytes =
            ReadScriptFile(this, *csv, script::kMaxVariablesBytes);
        if (!bytes) {
            return;
        }
        std::string error;
        table = script::VariablesTable::Parse(*bytes, error);
        if (!table) {
            MessageDlg(this, FileLabel(*csv) + QStringLiteral(": ") + QString::fromStdString(error),
                       MessageKind::Error);
            return;
        }
        unknown = script::UnknownVariables(script.VariableNames, table->Columns());
    }
    if (!unknown.empty()) {
        QStringList names;
        for (const std::string& name : unknown) {
            names << QStringLiteral("{%1}").arg(QString::fromStdString(name));
        }
        MessageDlg(
            this,
            QStringLiteral("%1: unknown %2 %3")
                .arg(FileLabel(*scriptFile),
                     names.size() == 1 ? QStringLiteral("variable") : QStringLiteral("variables"),
                     names.join(QStringLiteral(", "))),
            MessageKind::Error);
        return;
    }

    // Sessions may have ended while the dialogs were open.
    const std::vector<TTnEmulT*> targets = ScriptTargets();
    if (targets.empty()) {
        MessageDlg(this, noSession, MessageKind::Error);
        return;
    }
    m_scriptBatch = new ScriptBatch(std::move(script), this);
    for (TTnEmulT* terminal : targets) {
        const script::DeviceIdentity device = SessionDevice(*terminal);
        std::string error;
        std::optional<std::map<std::string, std::string>> values =
            script::VariablesFor(device, table ? &*table : nullptr, error);
        if (!values) {
            m_scriptBatch->AddFailed(device.Device, device.Ip, error);
            continue;
        }
        ScriptSession& session = m_scriptBatch->Add(*terminal, device.Device, std::move(*values));
        session.OnLogging = [this](TTnEmulT& t, bool on) { SetScriptLogging(t, on); };
    }
    connect(m_scriptBatch, &ScriptBatch::ProgressChanged, this,
            [this] { RefreshSessionCaptions(); });
    connect(m_scriptBatch, &ScriptBatch::Ended, this,
            [this] { RunGuarded([this] { ScriptEnded(); }); });
    UpdateScriptActions();
    m_scriptBatch->Start();
    RefreshSessionCaptions();
}

void TMainForm::mpStopScriptClick(QObject*) {
    if (m_scriptBatch != nullptr) {
        m_scriptBatch->Cancel("stopped by the user");
    }
}

void TMainForm::ScriptEnded() {
    ScriptBatch* batch = m_scriptBatch;
    if (batch == nullptr) {
        return;
    }
    const std::vector<ScriptDeviceResult> results = batch->Results();
    m_scriptBatch = nullptr;
    batch->deleteLater();
    UpdateScriptActions();
    RefreshSessionCaptions();
    const QString summary = QString::fromLatin1(ScriptSummaryText(results));
    ShowOutcome(QStringLiteral("Script: ") + summary.section(QLatin1Char('\n'), 0, 0));
    ShowSummary(this, summary);
}

QString TMainForm::ScriptProgress(const TTnEmulT* terminal) const {
    return m_scriptBatch != nullptr ? m_scriptBatch->ProgressOf(terminal) : QString();
}

void TMainForm::SetScriptLogging(TTnEmulT& terminal, bool on) {
    if (terminal.Log() == on) {
        return;
    }
    try {
        if (on) {
            const QString folder = m_settings->State().LogFolder.isEmpty()
                                       ? QDir::currentPath()
                                       : m_settings->State().LogFolder;
            const std::string name =
                QFile::encodeName(QDir(folder).filePath(
                                      QString::fromLatin1(DefaultLogFileName(terminal.HostName())) +
                                      QStringLiteral(".txt")))
                    .toStdString();
            if (const int error = ProbeLogFile(name)) {
                throw terminal::EInOutError(error, name);
            }
            terminal.SetLogName(name);
        }
        terminal.SetLog(on);
    } catch (const std::exception& error) {
        // Inside a run: no box that would hold up the others, a notice instead.
        ShowOutcome(QString::fromLatin1(terminal.HostName()) + QStringLiteral(": ") +
                    QString::fromLocal8Bit(error.what()));
    }
    if (SessionPageIndex(&terminal) == TabNotebook->currentIndex()) {
        SetLogStatus(terminal.Log(), terminal.LogName());
    }
}

}  // namespace vandrel::app
