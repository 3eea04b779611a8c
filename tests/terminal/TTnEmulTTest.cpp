#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTest>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "net/ESocketException.h"
#include "net/SocketErrorCodes.h"
#include "support/DevsimProcess.h"
#include "support/EventPump.h"
#include "support/InetdServer.h"
#include "support/LoopbackListener.h"
#include "support/ScreenText.h"
#include "support/ScriptedPeer.h"
#include "support/Subprocess.h"
#include "telnet/TelnetCodes.h"
#include "terminal/EInOutError.h"
#include "terminal/TTnEmulT.h"

using namespace vandrel::net;
using namespace vandrel::telnet;
using namespace vandrel::test;
using namespace vandrel::terminal;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Counts the beeps instead of making them.
class TestTerminal : public TTnEmulT {
public:
    int beeps = 0;

protected:
    void Beep() override { ++beeps; }
};

class TTnEmulTTest : public ::testing::Test {
protected:
    void SetUp() override {
        term = std::make_unique<TestTerminal>();
        term->resize(640, 400);
        term->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(term.get()));
        term->OnSessionConnected = [this](TTnEmulT& s) {
            EXPECT_EQ(&s, term.get());
            events.push_back("connected:" + std::to_string(s.Error()));
        };
        term->OnSessionClosed = [this](TTnEmulT& s) {
            events.push_back("closed:" + std::to_string(s.Error()));
        };
        term->SetHostName("127.0.0.1");
        term->SetPort(peer.portText());
    }

    void connect() {
        term->Connect();
        ASSERT_TRUE(pumpUntil([this] { return !events.empty(); }));
        ASSERT_EQ(events.front(), "connected:0");
        ASSERT_TRUE(pumpUntil([this] { return peer.acceptedCount() == 1; }));
    }

    // Connects, then logs into a fresh session.log in a folder of its own that TearDown removes.
    std::filesystem::path connectLogging(const std::string& folder) {
        logDir = std::filesystem::temp_directory_path() /
                 ("vandrel-tnemult-" + folder + std::to_string(::getpid()));
        std::filesystem::create_directories(logDir);
        const auto log = logDir / "session.log";
        std::filesystem::remove(log);
        connect();
        term->SetLogName(log.string());
        term->SetLog(true);
        return log;
    }

    void TearDown() override {
        if (!logDir.empty()) {
            std::filesystem::remove_all(logDir);
        }
    }

    // Waits for the closed event that follows the connected one.
    void waitClosed(int ms = 5000) {
        ASSERT_TRUE(pumpUntil([this] { return events.size() == 2; }, ms)) << screenText(*term);
        EXPECT_EQ(events[1], "closed:0");
    }

    bool peerGot(const Bytes& want, int ms = 5000) {
        return pumpUntil([&] { return peer.received() == want; }, ms);
    }

    void type(int key, const QString& txt = QString(),
              Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QKeyEvent press(QEvent::KeyPress, key, mods, txt);
        QApplication::sendEvent(term->viewport(), &press);
        QKeyEvent release(QEvent::KeyRelease, key, mods, txt);
        QApplication::sendEvent(term->viewport(), &release);
    }
    void typeText(const std::string& text) {
        for (const char c : text) {
            type(Qt::Key_A, QString(QLatin1Char(c)));
        }
    }

    ScriptedPeer peer;
    std::unique_ptr<TestTerminal> term;
    std::vector<std::string> events;
    std::filesystem::path logDir;
};

}  // namespace

TEST_F(TTnEmulTTest, Defaults) {
    TTnEmulT fresh;
    EXPECT_EQ(fresh.Port(), "telnet");
    EXPECT_EQ(fresh.HostName(), "");
    EXPECT_EQ(fresh.Location(), "TNCNX");
    EXPECT_EQ(fresh.Error(), 0);
    EXPECT_FALSE(fresh.UpperLock());
    EXPECT_FALSE(fresh.LocalEcho());
    ASSERT_NE(fresh.Connection(), nullptr);
    EXPECT_FALSE(fresh.OnEndOfRecord());
}

TEST_F(TTnEmulTTest, ConnectClearsAndShowsTheStatusLines) {
    term->WriteStr("old\r\ntext");
    term->SetHostName("");
    term->Connect();  // no host: nothing at all
    EXPECT_EQ(rowText(*term, 1), "old");

    term->SetHostName("127.0.0.1");
    term->clearFocus();
    const long paintsBefore = term->PaintEvents();
    term->Connect();
    EXPECT_GT(term->PaintEvents(), paintsBefore);  // the status text is painted at once
    EXPECT_EQ(term->window()->focusWidget(), term.get());
    EXPECT_EQ(rowText(*term, 1), "Connecting to '127.0.0.1'");
    EXPECT_EQ(rowText(*term, 2), "");
    EXPECT_EQ(term->CursorColumn(), 1);
    EXPECT_EQ(term->CursorRow(), 2);
    EXPECT_TRUE(events.empty());  // the result comes from the event loop
    EXPECT_TRUE(term->Connecting());

    ASSERT_TRUE(pumpUntil([this] { return !events.empty(); }));
    EXPECT_EQ(events, std::vector<std::string>{"connected:0"});
    EXPECT_FALSE(term->Connecting());
    EXPECT_EQ(rowText(*term, 2), "Connected");
    EXPECT_EQ(term->CursorColumn(), 1);
    EXPECT_EQ(term->CursorRow(), 3);
    EXPECT_EQ(term->beeps, 0);
}

TEST_F(TTnEmulTTest, ReceivedDataGoesToTheHookFirstThenToTheView) {
    std::vector<std::string> seen;
    term->OnDataAvailable = [&](TTnEmulT& s, const char* buf, int& len) {
        seen.emplace_back(buf, static_cast<std::size_t>(len));
        EXPECT_EQ(rowText(s, 3), "");  // not shown yet
        len = 1;                       // ignored: the whole block is shown
    };
    connect();
    peer.send(Bytes{'a', 'b', 'c', kIac, kDo, kOptTerminalType, '\r', '\n', 'x', 0, 'y'});
    ASSERT_TRUE(pumpUntil([this] { return rowText(*term, 4) == "xy"; }));
    EXPECT_EQ(rowText(*term, 3), "abc");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], std::string("abc\r\nx\0y", 8));
    EXPECT_TRUE(peerGot(Bytes{255, 251, 24}));
}

// Data sent just before the close is shown before the close text.
TEST_F(TTnEmulTTest, ServerCloseIsShownOnItsOwnLineWithABeep) {
    connect();
    peer.send("last words");
    peer.closeClient();
    waitClosed();
    EXPECT_EQ(rowText(*term, 3), "last words");
    EXPECT_EQ(rowText(*term, 4), "*** Server has closed ***");
    EXPECT_EQ(term->CursorColumn(), 1);
    EXPECT_EQ(term->CursorRow(), 5);
    EXPECT_EQ(term->beeps, 1);
}

TEST_F(TTnEmulTTest, ManyBlocksAreShownCompleteAndInOrder) {
    term->SetRows(64);
    connect();
    std::string all;
    for (int line = 1; line <= 5000; ++line) {
        all += "line " + std::to_string(line) + std::string(60, '.') + "\r\n";
    }
    all += "end";
    std::size_t shown = 0;
    term->OnDataAvailable = [&](TTnEmulT&, const char*, int& len) { shown += len; };
    peer.send(all);
    ASSERT_TRUE(pumpUntil([&] { return rowText(*term, term->CursorRow()) == "end"; }));
    EXPECT_EQ(shown, all.size());
    EXPECT_EQ(rowText(*term, term->CursorRow() - 1), "line 5000" + std::string(60, '.'));
    EXPECT_EQ(rowText(*term, term->CursorRow() - 63), "line 4938" + std::string(60, '.'));
}

TEST_F(TTnEmulTTest, RefusedPortShowsTheFailureAndBeeps) {
    term->SetPort(std::to_string(unusedPort()));
    Word errorSeen = 0;
    bool connectingSeen = true;
    term->OnSessionConnected = [&](TTnEmulT& s) {
        errorSeen = s.Error();
        connectingSeen = s.Connecting();
    };
    term->Connect();
    ASSERT_TRUE(pumpUntil([&] { return errorSeen != 0; }));
    EXPECT_EQ(errorSeen, vandrel::net::WSAECONNREFUSED);
    EXPECT_FALSE(connectingSeen) << "the attempt has ended when it is reported";
    EXPECT_EQ(rowText(*term, 1), "Connecting to '127.0.0.1'");
    EXPECT_EQ(rowText(*term, 2), "Connection failed: Connection refused");
    EXPECT_GE(term->beeps, 1);
}

TEST_F(TTnEmulTTest, ConnectFailingInTheSocketLayerPassesTheException) {
    term->WriteStr("old");
    term->SetPort("no-such-service");
    EXPECT_THROW(term->Connect(), ESocketException);
    EXPECT_EQ(screenText(*term), std::string(static_cast<std::size_t>(term->Rows()), '\n'));
    pumpFor(50);
    EXPECT_TRUE(events.empty());

    // The service name of the default port resolves from the system's service database.
    term->SetPort("telnet");
    EXPECT_NO_THROW(term->Connect());
    term->Disconnect();
}

TEST_F(TTnEmulTTest, TypedCharactersAreSent) {
    connect();
    type(Qt::Key_A, "a");
    type(Qt::Key_Return, "\r");
    type(Qt::Key_Backspace, "\b");
    type(Qt::Key_Left);  // no character: not sent
    type(Qt::Key_F1);
    type(Qt::Key_Tab, "\t");  // WantTab is off
    ASSERT_TRUE(peerGot(Bytes{'a', 13, 10, 8}));

    peer.clearReceived();
    term->SetUpperLock(true);
    type(Qt::Key_A, "a");
    type(Qt::Key_Z, "z");
    type(Qt::Key_1, "1");
    type(Qt::Key_A, QString(QChar(0xE4)));  // a-umlaut passes unchanged
    ASSERT_TRUE(peerGot(Bytes{'A', 'Z', '1', 0xE4}));
    EXPECT_EQ(rowText(*term, 3), "");  // no local echo by default
}

// Local echo writes the keys the hook lets through, as sent; Return moves down.
TEST_F(TTnEmulTTest, KeyPressHookAndLocalEcho) {
    term->SetLocalEcho(true);
    term->OnKeyPress = [](TCustomEmulT&, char& key) {
        if (key == 'q') {
            key = 0;
        } else if (key == 'r') {
            key = 's';
        }
    };
    connect();
    typeText("qrhi");
    type(Qt::Key_Return, "\r");
    ASSERT_TRUE(peerGot(Bytes{'s', 'h', 'i', 13, 10}));
    EXPECT_EQ(rowText(*term, 3), "shi");
    EXPECT_EQ(term->CursorColumn(), 1);
    EXPECT_EQ(term->CursorRow(), 4);

    // SendText sends bytes as they stand, without echo.
    peer.clearReceived();
    EXPECT_EQ(term->SendText("#"), 1);
    EXPECT_EQ(term->SendText("a\rb\n"), 4);
    ASSERT_TRUE(peerGot(Bytes{35, 'a', 13, 'b', 10}));
    EXPECT_EQ(rowText(*term, 4), "");
    EXPECT_EQ(term->CursorRow(), 4);
}

TEST_F(TTnEmulTTest, TypingIntoAClosedSessionIsHarmless) {
    connect();
    term->Disconnect();
    waitClosed();
    EXPECT_TRUE(screenShows(term.get(), "*** Server has closed ***"));
    type(Qt::Key_X, "x");  // the socket refuses; the key is dropped
    EXPECT_EQ(term->Connection()->Socket()->State(), wsClosed);
}

TEST_F(TTnEmulTTest, LocationAndEndOfRecordPassThrough) {
    term->SetLocation("Rack 7");
    EXPECT_EQ(term->Connection()->Location(), "Rack 7");
    int sendLocs = 0;
    term->OnSendLoc = [&](TTnEmulT& s) {
        ++sendLocs;
        s.SetLocation("Rack 8");  // read after the hook returns
    };
    int records = 0;
    term->SetOnEndOfRecord([&](TObject* sender) {
        EXPECT_EQ(sender, term->Connection());
        ++records;
    });
    connect();
    peer.send(Bytes{kIac, kDo, kOptSendLocation, kIac, kEor});
    ASSERT_TRUE(peerGot(Bytes{255, 251, 23, 255, 250, 23, 'R', 'a', 'c', 'k', ' ', '8', 255, 240}));
    ASSERT_TRUE(pumpUntil([&] { return records == 1; }));
    EXPECT_EQ(sendLocs, 1);
}

TEST_F(TTnEmulTTest, WithoutAConnectionEverythingIsInert) {
    term->WriteStr("kept?");
    delete term->Connection();
    EXPECT_EQ(term->Connection(), nullptr);
    EXPECT_EQ(term->Location(), "");
    term->SetLocation("x");
    EXPECT_EQ(term->Location(), "");
    term->SetOnEndOfRecord([](TObject*) {});
    EXPECT_FALSE(term->OnEndOfRecord());
    term->Connect();  // only clears
    EXPECT_EQ(rowText(*term, 1), "");
    term->Disconnect();
    EXPECT_EQ(term->SendText("#"), 0);
    type(Qt::Key_A, "a");
    pumpFor(100);
    EXPECT_EQ(peer.acceptedCount(), 0);
    EXPECT_TRUE(events.empty());
}

TEST_F(TTnEmulTTest, LoggingDuringASessionRecordsTheExactBytes) {
    const auto log = connectLogging("");
    const Bytes payload{'l', 'o', 'g', 0, '\r', '\n', kIac, kIac, 0x1b, '[', 'm', kIac, kWill, 3};
    peer.send(payload);
    ASSERT_TRUE(peerGot(Bytes{255, 253, 3}));
    ASSERT_TRUE(pumpUntil([this] { return rowText(*term, 4).size() >= 3; }));
    term->SetLocalEcho(true);
    type(Qt::Key_K, "k");
    peer.closeClient();
    waitClosed();
    term->SetLog(false);
    std::string want = "<Open>log";
    want += '\0';
    want += "\r\n\xff\x1b[mk\r\n*** Server has closed ***\r\n<Close>";
    EXPECT_EQ(fileBytes(log), want);
    EXPECT_EQ(rowText(*term, 3), "log");  // the 0 byte shows nothing
}

// A log that cannot take a byte (a full device) does not stop the view: logging switches
// off, the data and the echoed key are shown and sent, and the failure is reported once,
// from the event loop.
TEST_F(TTnEmulTTest, ALogFailureSwitchesLoggingOffAndEverythingIsShown) {
    connect();
    std::vector<std::string> reported;
    term->OnLogError = [&](TTnEmulT& s, const EInOutError& e) {
        EXPECT_FALSE(s.Log());
        reported.push_back(std::to_string(e.ErrorCode()) + " " + e.FileName());
    };
    term->SetLogName("/dev/full");
    term->SetLog(true);
    peer.send("shown");
    ASSERT_TRUE(pumpUntil([this] { return rowText(*term, 3) == "shown"; }));
    EXPECT_FALSE(term->Log());
    pumpFor(50);
    EXPECT_EQ(reported, (std::vector<std::string>{std::to_string(ENOSPC) + " /dev/full"}));

    term->SetLog(true);
    term->SetLocalEcho(true);
    type(Qt::Key_K, "k");
    EXPECT_EQ(rowText(*term, 3), "shownk");
    EXPECT_FALSE(term->Log());
    EXPECT_TRUE(reported.size() == 1) << "reported later, not from inside the key press";
    ASSERT_TRUE(peerGot(Bytes{'k'}));
    ASSERT_TRUE(pumpUntil([&] { return reported.size() == 2; }));
    EXPECT_NO_THROW(term->SetLog(false));
}

TEST_F(TTnEmulTTest, DestroyingTheTerminalEndsTheSession) {
    connect();
    term.reset();
    ASSERT_TRUE(pumpUntil([this] { return peer.clientClosedByPeer(); }));
}

// Against the project's device simulator: banner, echo and the configuration dialogue.
TEST_F(TTnEmulTTest, DeviceSimulatorSession) {
    vandrel::test::DevsimProcess device;
    ASSERT_TRUE(device.ready()) << device.error();
    term->SetPort(std::to_string(device.telnetPort()));
    term->SetLocation("Bench 3");
    term->Connect();
    ASSERT_TRUE(pumpUntil([this] { return screenShows(term.get(), "\n>"); }, 10000))
        << screenText(*term);
    EXPECT_TRUE(screenShows(term.get(), "Terminal type: VT100"));
    EXPECT_TRUE(screenShows(term.get(), "Location: Bench 3"));

    typeText("show");
    type(Qt::Key_Return, "\r");
    ASSERT_TRUE(pumpUntil([this] { return screenShows(term.get(), "> show"); }))
        << screenText(*term);
    ASSERT_TRUE(pumpUntil([this] { return screenShows(term.get(), "IP address:"); }));

    EXPECT_EQ(term->SendText("#"), 1);
    ASSERT_TRUE(pumpUntil([this] { return screenShows(term.get(), "IP configuration"); }))
        << screenText(*term);
    ASSERT_TRUE(pumpUntil([this] { return screenShows(term.get(), "IP address ["); }));

    if (const char* dir = std::getenv("VANDREL_SCREENSHOT_DIR")) {
        term->grab().save(QString::fromLocal8Bit(dir) + "/tnemult-devsim.png");
    }

    term->SendText("\x03");  // leave the dialogue
    term->SendText("exit\r\n");
    waitClosed();
    EXPECT_TRUE(screenShows(term.get(), "*** Server has closed ***"));
    EXPECT_EQ(term->beeps, 1);
}

// Against Debian's telnetd (with its real login) started inetd-style on loopback.
TEST_F(TTnEmulTTest, DebianTelnetdSession) {
    if (findProgram("telnetd").empty() || ::geteuid() != 0) {
        GTEST_SKIP() << "needs telnetd (package telnetd) and root for its login";
    }
    InetdServer server({"telnetd", "-h"});
    term->SetPort(server.portText());
    term->Connect();
    ASSERT_TRUE(pumpUntil([this] { return screenShows(term.get(), "login:"); }, 15000))
        << screenText(*term);
    EXPECT_EQ(events.front(), "connected:0");
    typeText("nobody");
    ASSERT_TRUE(pumpUntil([this] { return screenShows(term.get(), "login: nobody"); }))
        << screenText(*term);
    type(Qt::Key_Return, "\r");
    ASSERT_TRUE(pumpUntil([this] { return screenShows(term.get(), "Password:"); }, 10000))
        << screenText(*term);
    term->Disconnect();
    waitClosed();
    EXPECT_TRUE(screenShows(term.get(), "*** Server has closed ***"));
}

TEST_F(TTnEmulTTest, SwitchingLoggingOffFirstLogsWhatArrivedBefore) {
    const auto log = connectLogging("off-");
    int blocks = 0;
    term->OnDataAvailable = [&](TTnEmulT& s, const char*, int&) {
        if (++blocks == 2) {
            s.SetLog(false);  // the first block arrived while logging was on
        }
    };
    peer.send(std::string(2048, 'a') + std::string(100, 'b'));
    ASSERT_TRUE(pumpUntil([&] { return blocks == 2; }));
    EXPECT_EQ(fileBytes(log), "<Open>" + std::string(2048, 'a') + "<Close>");
}

TEST_F(TTnEmulTTest, EnterAndBackspaceSendTheChosenBytes) {
    struct Case {
        EnterKey enter;
        BackspaceKey backspace;
        Bytes bytes;  // Return, Backspace, Ctrl+H
    };
    const std::vector<Case> cases = {
        {EnterKey::CrLf, BackspaceKey::ControlH, {13, 10, 8, 8}},
        {EnterKey::Cr, BackspaceKey::Delete, {13, 127, 8}},
        {EnterKey::Lf, BackspaceKey::ControlH, {10, 8, 8}},
    };
    EXPECT_EQ(term->EnterSends(), EnterKey::CrLf);
    EXPECT_EQ(term->BackspaceSends(), BackspaceKey::ControlH);
    term->SetLocalEcho(true);
    connect();
    for (const Case& c : cases) {
        peer.clearReceived();
        term->SetEnterKey(c.enter);
        term->SetBackspaceKey(c.backspace);
        type(Qt::Key_Return, "\r");
        type(Qt::Key_Backspace, "\b");
        type(Qt::Key_H, "\b", Qt::ControlModifier);  // Ctrl+H stays 0x08
        EXPECT_TRUE(peerGot(c.bytes)) << static_cast<int>(c.enter);
    }
    // The echo starts a new line whatever Enter sends.
    EXPECT_EQ(term->CursorRow(), 6);
    EXPECT_EQ(term->CursorColumn(), 1);
}

TEST_F(TTnEmulTTest, PasteGoesLikeTypedKeysWithTheSessionsEnter) {
    term->SetLocalEcho(true);
    term->SetEnterKey(EnterKey::Cr);
    connect();
    term->PasteText(QString::fromUtf8("ab\xc3\xbf\r\ncd\n\xe2\x82\xac"));
    ASSERT_TRUE(peerGot(Bytes{'a', 'b', 0xFF, 0xFF, 13, 'c', 'd', 13, '?'}));
    EXPECT_EQ(rowText(*term, 3), "ab\xff");
    EXPECT_EQ(rowText(*term, 4), "cd");
    EXPECT_EQ(rowText(*term, 5), "?");

    // The keys paste the clipboard; nothing of the keys themselves goes out.
    peer.clearReceived();
    QGuiApplication::clipboard()->setText(QStringLiteral("xy"));
    type(Qt::Key_V, QString(QChar(0x16)), Qt::ControlModifier | Qt::ShiftModifier);
    type(Qt::Key_Insert, QString(), Qt::ShiftModifier);
    term->OnPasteText(QStringLiteral("z"));  // the view's Paste and middle button
    EXPECT_TRUE(peerGot(Bytes{'x', 'y', 'x', 'y', 'z'}));

    // Bytes sent as typed from outside: echoed, 0xFF doubled, line ends as they stand.
    peer.clearReceived();
    term->SendAsTyped("s\xFF\n");
    EXPECT_TRUE(peerGot(Bytes{'s', 0xFF, 0xFF, 10}));
    EXPECT_EQ(rowText(*term, 5), "?xyxyzs\xff");
}

TEST_F(TTnEmulTTest, APasteOfManyLinesAsksFirst) {
    std::vector<int> asked;
    bool answer = false;
    term->OnConfirmPaste = [&](TTnEmulT&, int lines) {
        asked.push_back(lines);
        return answer;
    };
    std::vector<QString> pasted;
    term->OnPasted = [&](TTnEmulT&, const QString& text) { pasted.push_back(text); };
    connect();
    term->PasteText(QStringLiteral("one\r\ntwo\nthree"));  // declined
    term->PasteText(QStringLiteral("single\n"));           // one line: not asked
    answer = true;
    term->PasteText(QStringLiteral("a\nb\n"));
    term->PasteTextUnasked(QStringLiteral("x\ny"));  // neither asked nor reported
    term->SetConfirmMultiLinePaste(false);
    term->PasteText(QStringLiteral("c\nd"));
    EXPECT_TRUE(peerGot(Bytes{'s', 'i', 'n', 'g', 'l', 'e', 13,  10,  'a', 13, 10,
                              'b', 13,  10,  'x', 13,  10,  'y', 'c', 13,  10, 'd'}));
    EXPECT_EQ(asked, (std::vector<int>{3, 2}));
    EXPECT_EQ(pasted, (std::vector<QString>{"single\n", "a\nb\n", "c\nd"}));
}

TEST_F(TTnEmulTTest, APacedPasteSendsALinePerDelayWithoutBlocking) {
    constexpr int kDelayMs = 50;
    term->SetPasteLineDelay(kDelayMs);
    connect();
    const std::string block = "l1\nl2\nl3\nl4\nl5\n";
    QElapsedTimer call;
    call.start();
    term->PasteText(QString::fromLatin1(block));
    EXPECT_LT(call.elapsed(), kDelayMs);
    EXPECT_TRUE(term->Pasting());
    Bytes want;
    for (int line = 1; line <= 5; ++line) {
        want.insert(want.end(), {'l', static_cast<std::uint8_t>('0' + line), 13, 10});
    }
    ASSERT_TRUE(peerGot(want));
    EXPECT_FALSE(term->Pasting());
    for (std::size_t line = 1; line < 5; ++line) {
        const auto gap = peer.receivedAt(4 * line) - peer.receivedAt(4 * (line - 1));
        EXPECT_GE(gap, std::chrono::milliseconds(kDelayMs - 5)) << "line " << line + 1;
    }
}

TEST_F(TTnEmulTTest, EscapeOrTheSessionsEndCancelsAPacedPaste) {
    term->SetPasteLineDelay(100);
    connect();
    type(Qt::Key_Escape, QString(QChar(27)));  // no paste: Escape is sent
    term->PasteText(QStringLiteral("first\nsecond\nthird\n"));
    ASSERT_TRUE(peerGot(Bytes{27, 'f', 'i', 'r', 's', 't', 13, 10}));
    type(Qt::Key_Escape, QString(QChar(27)));
    EXPECT_FALSE(term->Pasting());
    pumpFor(300);
    EXPECT_EQ(peer.received().size(), 8u);

    term->PasteText(QStringLiteral("a\nb\n"));
    peer.closeClient();
    waitClosed();
    EXPECT_FALSE(term->Pasting());
}
