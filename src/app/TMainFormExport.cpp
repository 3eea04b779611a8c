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

void TMainForm::mpExportTableClick(QObject*) {
    QFileDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Export Table"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("CSV Files (*.csv)"), QStringLiteral("All Files (*)")});
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    OfferFolder(dialog, m_settings->State().ExportFolder);
    dialog.selectFile(QStringLiteral("devices.csv"));
    const std::optional<QString> chosen = RunFileDialog(&dialog);
    if (!chosen) {
        return;
    }
    RememberFolder(m_settings->State().ExportFolder, *chosen);
    const std::string csv = DeviceTableCsv(sg->Grid());
    if (const int error = ReplaceFile(QFile::encodeName(*chosen).toStdString(), csv)) {
        MessageDlg(this, QString::fromStdString(CannotWriteText(chosen->toStdString(), error)),
                   MessageKind::Error);
    }
}

void TMainForm::mpSaveOutputClick(QObject*) {
    QPointer<TTnEmulT> terminal = SessionTerminal(TabNotebook->currentIndex());
    if (terminal == nullptr) {
        return;
    }
    QFileDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Save Output"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("Text Files (*.txt)"), QStringLiteral("All Files (*)")});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    OfferFolder(dialog, m_settings->State().LogFolder);
    dialog.selectFile(QString::fromLatin1(terminal->HostName()) + QStringLiteral("-output.txt"));
    const std::optional<QString> chosen = RunFileDialog(&dialog);
    // The session may have ended while the dialog was open.
    if (!chosen || terminal == nullptr) {
        return;
    }
    RememberFolder(m_settings->State().LogFolder, *chosen);
    // History and grid, each line ended by a line feed.
    QString output = terminal->HistoryAndGridText();
    if (!output.isEmpty()) {
        output += QLatin1Char('\n');
    }
    const QByteArray text = output.toUtf8();
    if (const int error = ReplaceFile(QFile::encodeName(*chosen).toStdString(),
                                      std::string_view(text.constData(), text.size()))) {
        MessageDlg(this, QString::fromStdString(CannotWriteText(chosen->toStdString(), error)),
                   MessageKind::Error);
    }
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
