// vandrel-screenshots DIR: draws the pictures of the README into DIR on the offscreen
// platform: main-window.png (the window with six devices found), printed-table.png (the
// first printed page of a table of eight devices, through pdftoppm) and info-dialog.png (the
// Info dialog, still and with its credits scrolling).
// Nothing touches the network: the window is never shown, so its discovery endpoint stays off.
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <string>

#include "app/MessageDlg.h"
#include "app/PrintDialog.h"
#include "app/TAboutBox.h"
#include "app/TMainForm.h"
#include "app/TSecretPanel.h"
#include "app/TStringAlignGrid.h"
#include "app/VandrelApplication.h"

namespace {

using namespace vandrel;

// Runs the event loop until done() holds or ms have passed; returns done().
bool pumpUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return done();
}

bool fail(const char* what) {
    std::fprintf(stderr, "vandrel-screenshots: %s\n", what);
    return false;
}

// The payload of a device's reply: its fields joined by the unit separator.
std::string devicePayload(const std::string& device, const std::string& k, bool connected) {
    const std::string fields[] = {device, "A1B2C3-00" + k, "198.18.0." + k, "02:00:C6:12:00:" + k,
                                  connected ? "connected" : "not connected"};
    std::string payload;
    for (const std::string& field : fields) {
        payload += (payload.empty() ? "" : "\x1F") + field;
    }
    return payload;
}

bool mainWindow(const QString& dir) {
    app::TMainForm form;
    for (int n = 1; n <= 6; ++n) {
        form.AddDeviceRow(devicePayload("VD-200 Gateway", std::to_string(10 + n), false));
    }
    auto* grid = form.findChild<app::TStringAlignGrid*>(QStringLiteral("sg"));
    auto* ip = form.findChild<QLabel*>(QStringLiteral("lb_localIP"));
    auto* mask = form.findChild<QLabel*>(QStringLiteral("lb_localMask"));
    if (grid == nullptr || ip == nullptr || mask == nullptr) {
        return fail("the window has no sg, lb_localIP or lb_localMask");
    }
    grid->SetRow(3);
    ip->setText(QStringLiteral("198.18.0.2"));
    mask->setText(QStringLiteral("255.255.255.0"));
    return form.grab().save(dir + QStringLiteral("/main-window.png")) ||
           fail("cannot write main-window.png");
}

bool printedTable(const QString& dir, const QString& scratch) {
    const QString pdf = scratch + QStringLiteral("/table.pdf");
    app::PrintDialogSeam::SetHandler([&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    });
    app::TMainForm form;
    const char* names[] = {"VD-200 Gateway", "VD-110 Sensor", "VD-200 Gateway", "VD-310 Relay"};
    for (int n = 0; n < 8; ++n) {
        form.AddDeviceRow(devicePayload(names[n % 4], std::to_string(11 + n), n == 2));
    }
    auto* grid = form.findChild<app::TStringAlignGrid*>(QStringLiteral("sg"));
    auto* printTable = form.findChild<QAction*>(QStringLiteral("mpPrintTable"));
    if (grid == nullptr || printTable == nullptr) {
        return fail("the window has no sg or no mpPrintTable");
    }
    // Print Table prints only while the selected row names a device.
    grid->SetRow(1);
    printTable->trigger();
    app::PrintDialogSeam::Reset();
    if (!QFile::exists(pdf)) {
        return fail("Print Table wrote no PDF");
    }
    QProcess render;
    render.start(QStringLiteral("pdftoppm"),
                 {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("60"),
                  QStringLiteral("-singlefile"), pdf, dir + QStringLiteral("/printed-table")});
    if (!render.waitForFinished(30000) || render.exitStatus() != QProcess::NormalExit ||
        render.exitCode() != 0) {
        return fail("pdftoppm (poppler-utils) could not render the printout");
    }
    return true;
}

bool infoDialog(const QString& dir) {
    app::TAboutBox box;
    auto* panel = box.findChild<app::TSecretPanel*>(QStringLiteral("SecretPanel1"));
    if (panel == nullptr || !panel->OnDblClick) {
        return fail("the Info dialog has no SecretPanel1 that reacts to a double click");
    }
    panel->SetInterval(10);
    box.show();
    pumpUntil([] { return false; }, 200);
    const QImage still = box.grab().toImage();
    // What a double click on the dialog's free space does.
    panel->OnDblClick(panel);
    if (!pumpUntil([&] { return panel->Position() >= 200; }, 10000)) {
        return fail("the credits did not scroll");
    }
    QImage both(still.width() * 2 + 16, still.height(), QImage::Format_ARGB32);
    both.fill(Qt::transparent);
    {
        QPainter painter(&both);
        painter.drawImage(0, 0, still);
        painter.drawImage(still.width() + 16, 0, box.grab().toImage());
    }
    panel->SetActive(false);
    return both.save(dir + QStringLiteral("/info-dialog.png")) ||
           fail("cannot write info-dialog.png");
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vandrel-screenshots DIR\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    app::VandrelApplication application(argc, argv);
    // A message box would wait for a click nobody makes: its text goes to stderr instead.
    bool reported = false;
    app::MessageDlgSeam::SetHandler([&](app::MessageKind, const QString& text) {
        std::fprintf(stderr, "vandrel-screenshots: %s\n", qPrintable(text));
        reported = true;
        return app::MessageAnswer::NoAnswer;
    });
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir scratch;
    if (!QDir().mkpath(dir) || !scratch.isValid()) {
        fail("cannot make the folders");
        return 1;
    }
    const bool drawn = mainWindow(dir) && printedTable(dir, scratch.path()) && infoDialog(dir);
    return drawn && !reported ? 0 : 1;
}
