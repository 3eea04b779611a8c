// Taking the device table elsewhere: File > Export Table writes it as CSV, Ctrl+C in the
// table copies the selected row. Session > Save Output writes what a session shows.
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QPointer>
#include <QTabWidget>

#include <algorithm>

#include "app/FileDialogs.h"
#include "app/MessageDlg.h"
#include "app/Settings.h"
#include "app/TMainForm.h"
#include "app/TStringAlignGrid.h"
#include "app/model/ReplaceFile.h"
#include "app/model/TableExport.h"
#include "terminal/TTnEmulT.h"

namespace vandrel::app {

using terminal::TTnEmulT;

std::optional<QString> TMainForm::AskSaveFile(const QString& title, const QString& filter,
                                              const QString& suffix, QString& folder,
                                              const QString& suggested) {
    QFileDialog dialog(this);
    dialog.setWindowTitle(title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({filter, QStringLiteral("All Files (*)")});
    dialog.setDefaultSuffix(suffix);
    OfferFolder(dialog, folder);
    dialog.selectFile(suggested);
    const std::optional<QString> chosen = RunFileDialog(&dialog);
    if (chosen) {
        RememberFolder(folder, *chosen);
    }
    return chosen;
}

void TMainForm::WriteFileOrSay(const QString& file, std::string_view bytes) {
    if (const int error = ReplaceFile(QFile::encodeName(file).toStdString(), bytes)) {
        MessageDlg(this, QString::fromStdString(CannotWriteText(file.toStdString(), error)),
                   MessageKind::Error);
    }
}

void TMainForm::mpExportTableClick(QObject*) {
    const std::optional<QString> chosen = AskSaveFile(
        QStringLiteral("Export Table"), QStringLiteral("CSV Files (*.csv)"), QStringLiteral("csv"),
        m_settings->State().ExportFolder, QStringLiteral("devices.csv"));
    if (chosen) {
        WriteFileOrSay(*chosen, DeviceTableCsv(sg->Grid()));
    }
}

void TMainForm::mpSaveOutputClick(QObject*) {
    QPointer<TTnEmulT> terminal = SessionTerminal(TabNotebook->currentIndex());
    if (terminal == nullptr) {
        return;
    }
    const std::optional<QString> chosen =
        AskSaveFile(QStringLiteral("Save Output"), QStringLiteral("Text Files (*.txt)"),
                    QStringLiteral("txt"), m_settings->State().LogFolder,
                    QString::fromLatin1(terminal->HostName()) + QStringLiteral("-output.txt"));
    // The session may have ended while the dialog was open.
    if (!chosen || terminal == nullptr) {
        return;
    }
    // History and grid, each line ended by a line feed.
    QString output = terminal->HistoryAndGridText();
    if (!output.isEmpty()) {
        output += QLatin1Char('\n');
    }
    const QByteArray text = output.toUtf8();
    WriteFileOrSay(*chosen, std::string_view(text.constData(), text.size()));
}

void TMainForm::CopyDeviceRow() {
    const std::vector<int> listed = ListedDeviceRows(sg->Grid());
    if (std::find(listed.begin(), listed.end(), sg->Row()) == listed.end()) {
        return;
    }
    QApplication::clipboard()->setText(
        QString::fromStdString(DeviceRowTabText(sg->Grid(), sg->Row())));
}

}  // namespace vandrel::app
