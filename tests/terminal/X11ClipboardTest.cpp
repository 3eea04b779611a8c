// Copy and paste through a real X server: the view runs on the xcb platform of a private
// Xvfb display, and xclip, a separate X client, reads what the view offers and offers what
// the middle button pastes. Skipped with the reason when Xvfb or xclip is missing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <string>
#include <vector>

#include "support/Subprocess.h"
#include "terminal/TEmulT.h"

using namespace std::chrono_literals;
using namespace vandrel::terminal;
namespace vt = vandrel::test;

namespace {

std::string g_skipReason;  // why there is no X display, when there is none

// Runs an X client on the test's display while the event loop keeps running, so that the
// view can answer the selection requests the client makes; returns the client's output.
std::string runClient(const std::vector<std::string>& argv) {
    int out = -1;
    const int pid = vt::spawnWithStdout(argv, out, false);
    if (pid < 0) {
        return {};
    }
    ::fcntl(out, F_SETFL, ::fcntl(out, F_GETFL) | O_NONBLOCK);
    std::string text;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        char buf[512];
        const ssize_t n = ::read(out, buf, sizeof buf);
        if (n > 0) {
            text.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0 || clock.elapsed() > 5000) {
            break;  // end of output, or a client that hangs
        }
    }
    ::close(out);
    vt::terminateProcess(pid, 1s);
    return text;
}

// Pumps events until done() or the time is up.
template <typename Done>
bool pumpUntil(Done done, int ms = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

QPoint cellCentre(const TEmulT& view, int col, int row) {
    return {(col - 1) * view.CharWidth() + view.CharWidth() / 2,
            (row - 1) * view.LineHeight() + view.LineHeight() / 2};
}

TEST(X11Clipboard, SelectionAndClipboardReachOtherClientsAndMiddleButtonPastes) {
    if (!g_skipReason.empty()) {
        GTEST_SKIP() << g_skipReason;
    }
    TEmulT view;
    view.resize(view.sizeHint() + QSize(40, 40));
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.WriteStr("alpha beta   \r\ngamma 198.18.0.7");
    QWidget* vp = view.viewport();
    QClipboard* clipboard = QGuiApplication::clipboard();
    ASSERT_TRUE(clipboard->supportsSelection());

    // Released, a drag selection is the PRIMARY selection (trailing blanks trimmed).
    QTest::mousePress(vp, Qt::LeftButton, {}, cellCentre(view, 3, 1));
    QTest::mouseMove(vp, cellCentre(view, 4, 2));
    EXPECT_FALSE(clipboard->ownsSelection()) << "not before the release";
    QTest::mouseRelease(vp, Qt::LeftButton, {}, cellCentre(view, 4, 2));
    EXPECT_EQ(runClient({"xclip", "-o", "-selection", "primary"}), "pha beta\ngamm");

    // Ctrl+Shift+C puts it on the clipboard; a plain Ctrl+C does not.
    clipboard->clear(QClipboard::Clipboard);
    QKeyEvent ctrlC(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, QString(QChar(3)));
    QCoreApplication::sendEvent(&view, &ctrlC);
    EXPECT_EQ(runClient({"xclip", "-o", "-selection", "clipboard"}), "");
    QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier,
                   QString(QChar(3)));
    QCoreApplication::sendEvent(&view, &copy);
    EXPECT_EQ(runClient({"xclip", "-o", "-selection", "clipboard"}), "pha beta\ngamm");

    // Another client's PRIMARY selection is what the middle button pastes.
    QTemporaryDir dir;
    const QString offered = dir.filePath("offered.txt");
    {
        QFile file(offered);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("SN-4711\nline two");
    }
    bool taken = false;
    QObject::connect(clipboard, &QClipboard::selectionChanged, [&] { taken = true; });
    int out = -1;
    const int owner = vt::spawnWithStdout(
        {"xclip", "-quiet", "-i", "-selection", "primary", offered.toStdString()}, out, true);
    ASSERT_GT(owner, 0);
    EXPECT_TRUE(pumpUntil([&] { return taken && !clipboard->ownsSelection(); }))
        << "xclip took the PRIMARY selection";
    QStringList pasted;
    view.OnPasteText = [&](const QString& text) { pasted << text; };
    QTest::mouseClick(vp, Qt::MiddleButton, {}, cellCentre(view, 2, 2));
    EXPECT_EQ(pasted, QStringList{"SN-4711\nline two"});
    EXPECT_EQ(view.SelectedText(), "pha beta\ngamm") << "a middle click keeps the selection";
    vt::terminateProcess(owner, 1s);
    ::close(out);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // A display of its own: -displayfd picks a free number and writes it on stdout; with
    // -nolisten tcp the server is reachable only through its local socket.
    int xvfbPid = -1;
    std::string display;
    if (vt::findProgram("Xvfb").empty()) {
        g_skipReason = "Xvfb is not installed (package xvfb)";
    } else if (vt::findProgram("xclip").empty()) {
        g_skipReason = "xclip is not installed (package xclip)";
    } else {
        int out = -1;
        xvfbPid = vt::spawnWithStdout(
            {"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"}, out,
            false);
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        char c = 0;
        pollfd ready{out, POLLIN, 0};
        while (std::chrono::steady_clock::now() < deadline && ::poll(&ready, 1, 100) >= 0) {
            if ((ready.revents & (POLLIN | POLLHUP)) == 0) {
                continue;
            }
            if (::read(out, &c, 1) != 1 || c == '\n') {
                break;
            }
            display += c;
        }
        if (out >= 0) {
            ::close(out);
        }
        if (display.empty()) {
            g_skipReason = "Xvfb did not start";
        }
    }
    if (g_skipReason.empty()) {
        qputenv("DISPLAY", (":" + display).c_str());
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int result = 0;
    {
        QApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    vt::terminateProcess(xvfbPid, 2s);
    return result;
}
