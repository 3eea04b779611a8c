#include "app/TMainForm.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "WindowTest.h"
#include "app/AddressDialog.h"
#include "app/HostLookup.h"
#include "app/TStringAlignGrid.h"
#include "app/UiFonts.h"
#include "app/VandrelApplication.h"
#include "discovery/LocalAddress.h"
#include "discovery/TSocketStack.h"
#include "discovery/TUDPSocketHandle.h"
#include "net/WSocketErrorText.h"
#include "support/TestSockets.h"
#include "terminal/TTnEmulT.h"

using namespace vandrel::app;
using vandrel::terminal::TTnEmulT;
using vandrel::test::DevicePayload;
using vandrel::test::UdpProbe;

namespace {

// Answers the window's name lookups: a name in answers resolves to its addresses, any other
// fails with 11001. While held, every lookup waits until Release (5 s at most, so that a
// lookup made on the GUI thread shows as a stall instead of a hang).
struct FakeResolver {
    void Hold() {
        std::lock_guard guard(lock);
        held = true;
    }
    void Release() {
        std::lock_guard guard(lock);
        held = false;
        released.notify_all();
    }
    HostLookupResult Resolve(const std::string& name) {
        std::unique_lock guard(lock);
        released.wait_for(guard, std::chrono::seconds(5), [&] { return !held; });
        const auto found = answers.find(name);
        return found != answers.end() ? HostLookupResult{found->second, 0}
                                      : HostLookupResult{{}, 11001};
    }

    std::mutex lock;
    std::condition_variable released;
    bool held = false;
    std::map<std::string, std::vector<std::string>> answers;
};

// The time until the event loop runs a call queued now, while run() is called first.
template <typename Run>
qint64 LoopDelayAround(Run run) {
    QElapsedTimer timer;
    timer.start();
    qint64 delay = -1;
    QTimer::singleShot(0, [&] { delay = timer.elapsed(); });
    run();
    (void)QTest::qWaitFor([&] { return delay >= 0; }, 10000);
    return delay;
}

// A main window on an ephemeral port of this machine (no broadcast is ever sent here), with
// message boxes answered by the test.
class MainFormTest : public vandrel::test::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        CreateQuietWindow();
    }
    void TearDown() override {
        WindowTest::TearDown();
        resolver->Release();
        HostResolverSeam::Reset();
        AddressDialogSeam::Reset();
    }

    // Lookups go to the fake resolver, Connect to Address is answered with typed.
    void UseFakeResolver() {
        HostResolverSeam::SetHandler(
            [r = resolver](const std::string& name) { return r->Resolve(name); });
        AddressDialogSeam::SetHandler([this](const QString&) { return typed; });
    }
    void ConnectTo(const char* host) {
        typed = QString::fromLatin1(host);
        Control<QAction>("mpConnectAddress")->trigger();
    }

    void Show() {
        ShowWindow();
        ASSERT_TRUE(form->DiscoveryEndpoint().Active());
        port = static_cast<std::uint16_t>(form->DiscoveryEndpoint().Binding().Port());
    }

    void SendReply(const std::string& bytes) const { UdpProbe().sendTo("127.0.0.1", port, bytes); }

    static std::string Reply(const std::string& device, const std::string& ip) {
        return "\x02" + DevicePayload({device, "SN-" + device, ip, "00:11", "not connected"}) +
               "\x04";
    }

    bool WaitForRows(int rowCount) {
        // The view learns of new rows once per event-loop pass; wait for both.
        return QTest::qWaitFor(
            [&] {
                return Table()->RowCount() == rowCount &&
                       Table()->model()->rowCount() == rowCount - 1;
            },
            3000);
    }

    std::vector<std::string> Column(int col) const {
        std::vector<std::string> cells;
        for (int r = 1; r < Table()->RowCount(); ++r) {
            cells.push_back(Table()->Cells(col, r));
        }
        return cells;
    }

    QPoint HeaderCentre(int col) const {
        QHeaderView* header = Table()->horizontalHeader();
        return QPoint(header->sectionViewportPosition(col) + header->sectionSize(col) / 2,
                      header->height() / 2);
    }

    void ClickHeader(int col, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(Table()->horizontalHeader()->viewport(), button, {}, HeaderCentre(col));
    }

    std::uint16_t port = 0;
    std::shared_ptr<FakeResolver> resolver = std::make_shared<FakeResolver>();
    std::optional<QString> typed;
};

using Texts = std::vector<std::string>;

}  // namespace

TEST_F(MainFormTest, LayoutCaptionsAndStartState) {
    EXPECT_EQ(form->windowTitle(), "Vandrel");
    // The figures as drawn, mapped to the running font; the window may need more (on a
    // screen with room for it: the test runs on a large one).
    const FormScale& scale = form->Scale();
    EXPECT_GE(form->width(), scale.X(700));
    EXPECT_GE(form->height(), scale.Y(600));
    EXPECT_EQ(Control<QPushButton>("btnSearch")->text(), "Search");
    EXPECT_EQ(Control<QPushButton>("btnConnect")->text(), "Connect");
    EXPECT_EQ(Control<QPushButton>("btnClose")->text(), "Close");
    EXPECT_EQ(Control<QPushButton>("btnConfiguration")->text(), "Configuration");
    EXPECT_EQ(Control<QPushButton>("btnLog")->text(), "Logging");
    EXPECT_GE(Control<QPushButton>("btnSearch")->width(), scale.X(75));
    EXPECT_EQ(Control<QPushButton>("btnSearch")->height(), scale.Y(25));
    EXPECT_EQ(Control<QPushButton>("btnLog")->pos(), QPoint(scale.X(32), scale.Y(160)));
    EXPECT_EQ(Control<QLabel>("Label1")->text(), "   ");
    EXPECT_EQ(Control<QLabel>("Label2")->text(), "Local IP");
    EXPECT_EQ(Control<QLabel>("Label3")->text(), "Local Netmask");
    EXPECT_TRUE(Control<QLabel>("Label2")->font().bold());
    EXPECT_EQ(Control<QLabel>("lb_localIP")->text(), "?");
    EXPECT_EQ(Control<QLabel>("lb_localMask")->text(), "?");
    EXPECT_GE(Control<QWidget>("Panel_t_r")->width(), scale.X(138));
    EXPECT_EQ(Control<QWidget>("Panel_r")->width(), Control<QWidget>("Panel_t_r")->width());
    EXPECT_EQ(Control<QSplitter>("Splitter1")->handleWidth(), scale.Y(3));
    EXPECT_EQ(Notebook()->count(), 0);  // placeholder page removed
    EXPECT_EQ(Notebook()->currentIndex(), -1);
    EXPECT_EQ(form->DiscoveryEndpoint().DefaultPort(), 0);  // set by the test after creation
    EXPECT_FALSE(form->DiscoveryEndpoint().Active());

    EXPECT_EQ(Control<QMenu>("mpFile")->title(), "&File");
    std::vector<QString> items;
    for (QAction* action : Control<QMenu>("mpFile")->actions()) {
        items.push_back(action->isSeparator() ? "-" : action->text());
    }
    // The designed items in their order, and after Print Table the two added ones.
    EXPECT_EQ(items,
              (std::vector<QString>{"&Open", "&Logging", "&Print Table", "Connect to &Address...",
                                    "&Export Table...", "-", "E&xit"}));
    EXPECT_EQ(Control<QAction>("Exit1")->statusTip(), "Exit program");
    EXPECT_EQ(Control<QAction>("mpSearch")->text(), "&Search");
    EXPECT_EQ(Control<QAction>("mpInfo")->text(), "&Info");
    EXPECT_TRUE(form->menuBar()->actions().contains(Control<QAction>("mpSearch")));

    EXPECT_EQ(Table()->RowCount(), 2);
    EXPECT_EQ(Table()->Cells(0, 0), "Device");
    EXPECT_EQ(Table()->Cells(4, 0), "Status");
    EXPECT_EQ(Table()->model()->headerData(2, Qt::Horizontal).toString(), "IP");
    EXPECT_GE(Table()->horizontalHeader()->sectionSize(0), scale.X(104));
    EXPECT_FALSE(Control<QTimer>("Timer_Tab")->isActive());
    EXPECT_EQ(Control<QTimer>("Timer_Tab")->interval(), 200);
}

// Tests and tools reach the controls by these names only: each names one object of the window.
TEST_F(MainFormTest, EveryControlIsFoundByItsName) {
    const char* const names[] = {
        "topPanel",     "sg",        "Panel_t_r",    "btnSearch",        "btnConnect",
        "Label1",       "Splitter1", "TabNotebook",  "Panel_r",          "Label2",
        "lb_localIP",   "Label3",    "lb_localMask", "btnClose",         "btnConfiguration",
        "btnLog",       "StatusBar", "mpFile",       "mpOpen",           "mpLogging",
        "mpPrintTable", "N1",        "Exit1",        "mpConnectAddress", "mpExportTable",
        "mpSearch",     "mpInfo",    "CopyRow",      "Timer_Tab",        "OpenDialog",
        "SaveDialog"};
    for (const char* name : names) {
        EXPECT_NO_THROW(Control<QObject>(name)) << name;
    }
}

TEST_F(MainFormTest, FormCreateSetsTheDiscoveryPort) {
    TMainForm fresh;
    EXPECT_EQ(fresh.DiscoveryEndpoint().DefaultPort(), 33300);
}

TEST_F(MainFormTest, ShowClearsTheTableAndShowsAddressAndMask) {
    form->AddDeviceRow("left over");
    Show();
    EXPECT_EQ(Table()->RowCount(), 2);
    EXPECT_EQ(Table()->Cells(0, 1), "");
    EXPECT_NE(Control<QLabel>("lb_localIP")->text(), "?");
    EXPECT_FALSE(Control<QLabel>("lb_localIP")->text().isEmpty());
    EXPECT_NE(Control<QLabel>("lb_localMask")->text(), "?");
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainFormTest, ShowWaitsForNoHostNameAndFallsBackToTheInterfacesWhenItFails) {
    UseFakeResolver();
    resolver->Hold();
    EXPECT_LT(LoopDelayAround([&] { Show(); }), 1000);
    EXPECT_TRUE(messages.empty());
    std::vector<vandrel::discovery::InterfaceInfo> interfaces;
    vandrel::discovery::QueryLocalInterfaces(interfaces);
    const QString fallback =
        QString::fromLatin1(vandrel::discovery::ChooseLocalAddress({}, interfaces));
    EXPECT_EQ(Control<QLabel>("lb_localIP")->text(), fallback);

    resolver->Release();
    const QString notice = QString::fromLatin1(vandrel::discovery::UnresolvedHostNotice(
        vandrel::discovery::TSocketStack::HostName(), interfaces));
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->OutcomeText() == notice; }, 3000))
        << form->OutcomeText().toStdString();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(Control<QLabel>("lb_localIP")->text(), fallback);
    EXPECT_TRUE(form->DiscoveryEndpoint().Active());
    SendReply(Reply("found", "10.0.0.9"));
    EXPECT_TRUE(WaitForRows(2));
}

TEST_F(MainFormTest, ConnectToAHostNameWaitsOffTheGuiThreadAndTheLatestOneConnects) {
    // A listener for the resolved address, so that the session stays while the test looks.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(23);
    at.sin_addr.s_addr = htonl(0x7F4D0001);  // 127.77.0.1
    if (::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(listener, 4) != 0) {
        ::close(listener);
        GTEST_SKIP() << "no listener on 127.77.0.1:23";
    }
    UseFakeResolver();
    resolver->Hold();
    resolver->answers = {{"plc.lab.example", {"127.77.0.2"}}, {"localhost", {"127.77.0.1"}}};

    EXPECT_LT(LoopDelayAround([&] { ConnectTo("plc.lab.example"); }), 200);
    EXPECT_EQ(PanelShown(), "Connecting to plc.lab.example ...");
    EXPECT_EQ(Notebook()->count(), 0);
    // A second one while the first waits: the newer is what the user wants.
    EXPECT_LT(LoopDelayAround([&] { ConnectTo("localhost"); }), 200);
    EXPECT_EQ(PanelShown(), "Connecting to localhost ...");

    resolver->Release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Notebook()->count() == 1; }, 3000));
    QTest::qWait(50);
    EXPECT_EQ(Notebook()->count(), 1) << "the dropped lookup opened nothing";
    EXPECT_EQ(Notebook()->tabText(0), "localhost");
    TTnEmulT* terminal = form->SessionTerminal(0);
    ASSERT_NE(terminal, nullptr);
    EXPECT_EQ(terminal->HostName(), "localhost");
    EXPECT_EQ(terminal->Connection()->Host(), "127.77.0.1") << "no second lookup";
    pollfd ready{listener, POLLIN, 0};
    EXPECT_EQ(::poll(&ready, 1, 3000), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return PanelShown().isEmpty(); }, 3000))
        << PanelShown().toStdString();
    form.reset();
    ::close(listener);
}

TEST_F(MainFormTest, AFailedLookupSaysSoAndClosingDuringOneIsQuick) {
    UseFakeResolver();
    ConnectTo("nosuch.lab.example");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->OutcomeText().isEmpty(); }, 3000));
    EXPECT_EQ(form->OutcomeText().toStdString(),
              "nosuch.lab.example: " + vandrel::net::WSocketErrorText(11001) + " (#11001)");
    EXPECT_EQ(form->PanelText(1), "");
    EXPECT_EQ(Notebook()->count(), 0);

    Show();
    resolver->Hold();
    QElapsedTimer timer;
    timer.start();
    ConnectTo("plc.lab.example");
    Control<QAction>("Exit1")->trigger();
    form.reset();
    EXPECT_LT(timer.elapsed(), 1500);
    resolver->Release();
    QTest::qWait(50);  // the answer for the destroyed window goes nowhere
}

TEST_F(MainFormTest, HintsShowInTheStatusBarAndLeaveThePanelsIntact) {
    Show();
    form->SetPanelText(0, "Not Logging");
    EXPECT_EQ(Control<QPushButton>("btnSearch")->toolTip(), "Search");
    EXPECT_EQ(Control<QPushButton>("btnLog")->toolTip(), "Log");

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(Control<QPushButton>("btnConnect"), &enter);
    EXPECT_TRUE(form->SimplePanel());
    EXPECT_EQ(form->SimpleText(), "Connect Device with Telnet");

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(Control<QPushButton>("btnConnect"), &leave);
    EXPECT_FALSE(form->SimplePanel());
    EXPECT_EQ(form->PanelText(0), "Not Logging");

    Control<QAction>("Exit1")->showStatusText(form.get());
    EXPECT_EQ(form->SimpleText(), "Exit program");
    form->ApplicationHint(QString());
    EXPECT_FALSE(form->SimplePanel());
}

// The first bad reply shows "invalid string". While that box is open, more replies wait and
// bad ones are then dropped without a box of their own, as are bad ones after it closed.
TEST_F(MainFormTest, RepliesBecomeRowsAndABurstOfBadFramesGivesOneError) {
    Show();
    int rowsWhileOpen = -1;
    MessageDlgSeam::SetHandler([&](MessageKind type, const QString& text) {
        messages.push_back(text);
        messageTypes.push_back(type);
        for (int i = 0; i < 50; ++i) {
            SendReply("\x02no end");
        }
        SendReply(Reply("late", "10.0.0.3"));
        QTest::qWait(200);  // the box's own event loop runs meanwhile
        rowsWhileOpen = Table()->RowCount();
        return MessageAnswer::Ok;
    });
    SendReply(Reply("alpha", "10.0.0.1"));
    SendReply("\x05");                                    // own request: ignored
    SendReply("\x02" + std::string(2100, 'x') + "\x04");  // too long: ignored
    SendReply(
        "\x02"
        "broken");  // no end marker
    SendReply(Reply("beta", "10.0.0.2"));
    ASSERT_TRUE(WaitForRows(4));
    SendReply("\x02");
    QTest::qWait(100);
    EXPECT_EQ(Column(0), (Texts{"alpha", "beta", "late"}));
    EXPECT_EQ(Table()->Cells(1, 1), "SN-alpha");
    EXPECT_EQ(Table()->Cells(4, 2), "not connected");
    EXPECT_EQ(rowsWhileOpen, 2);
    EXPECT_EQ(messages, std::vector<QString>{"invalid string"});
    EXPECT_EQ(messageTypes, std::vector<MessageKind>{MessageKind::Error});
}

TEST_F(MainFormTest, EightBitTextShowsOneCharacterPerByte) {
    form->AddDeviceRow(std::string("Ger\xE4t\x01\x0A\x7F", 8) + "\x1F\xFF");
    const QString shown = Table()->model()->index(0, 0).data().toString();
    EXPECT_EQ(shown, QString::fromUtf8("Gerät\u2401\u240A\u2421"));
    EXPECT_EQ(Table()->model()->index(0, 1).data().toString(), QString(QChar(0xFF)));
    EXPECT_EQ(DisplayText(std::string("\0", 1)), QString(QChar(0x2400)));
}

TEST_F(MainFormTest, HeaderClicksSortAscendingThenDescendingAndRestartOnAnotherColumn) {
    Show();
    SendReply(Reply("b", "192.168.1.20"));
    SendReply(Reply("c", "192.168.1.100"));
    SendReply(Reply("a", "10.0.0.9"));
    ASSERT_TRUE(WaitForRows(4));

    ClickHeader(2);
    EXPECT_EQ(Column(2), (Texts{"10.0.0.9", "192.168.1.100", "192.168.1.20"}));
    ClickHeader(2);
    EXPECT_EQ(Column(2), (Texts{"192.168.1.20", "192.168.1.100", "10.0.0.9"}));
    ClickHeader(0, Qt::RightButton);  // any button sorts
    EXPECT_EQ(Column(0), (Texts{"a", "b", "c"}));
    ClickHeader(0);
    EXPECT_EQ(Column(0), (Texts{"c", "b", "a"}));

    // Clicks in the data rows or below the last row never sort.
    QWidget* cells = Table()->viewport();
    QTest::mouseClick(cells, Qt::LeftButton, {}, QPoint(10, 5));
    EXPECT_EQ(Table()->Row(), 1);
    QTest::mouseClick(cells, Qt::LeftButton, {}, QPoint(10, cells->height() - 3));
    EXPECT_EQ(Column(0), (Texts{"c", "b", "a"}));
    // Below the last row: the selection stays on the row it was on.
    EXPECT_EQ(Table()->Row(), 1);
    EXPECT_TRUE(Table()->selectionModel()->isRowSelected(0, QModelIndex()));
    EXPECT_EQ(form->SortState().LastColumn(), 0);
    EXPECT_FALSE(form->SortState().LastAscending());
}

TEST_F(MainFormTest, SortKeepsTheSelectionOnItsDeviceAndTheStateSurvivesClearing) {
    Show();
    for (const char* device : {"d", "b", "e", "a", "c"}) {
        SendReply(Reply(device, "1.1.1.1"));
    }
    ASSERT_TRUE(WaitForRows(6));
    QTest::mouseClick(Table()->viewport(), Qt::LeftButton, {},
                      Table()->visualRect(Table()->model()->index(2, 0)).center());
    ASSERT_EQ(Table()->Row(), 3);
    ASSERT_EQ(Table()->Cells(0, 3), "e");
    ClickHeader(0);
    EXPECT_EQ(Column(0), (Texts{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(Table()->Row(), 5);
    EXPECT_EQ(Table()->currentIndex().row(), 4);
    EXPECT_TRUE(Table()->selectionModel()->isRowSelected(4, QModelIndex()));

    form->ClearDeviceTable();
    EXPECT_EQ(Table()->RowCount(), 2);
    SendReply(Reply("x", "1.1.1.1"));
    SendReply(Reply("y", "1.1.1.1"));
    ASSERT_TRUE(WaitForRows(3));
    ClickHeader(0);  // the same column again: descending
    EXPECT_EQ(Column(0), (Texts{"y", "x"}));
}

TEST_F(MainFormTest, HeaderClickOnAnEmptyTableTogglesTheDirectionOnly) {
    Show();
    ClickHeader(3);
    EXPECT_EQ(form->SortState().LastColumn(), 3);
    EXPECT_TRUE(form->SortState().LastAscending());
    EXPECT_EQ(Table()->RowCount(), 2);
    ClickHeader(3);
    EXPECT_FALSE(form->SortState().LastAscending());
}

TEST_F(MainFormTest, DoubleClickOnTheHeaderSortsOncePerPress) {
    Show();
    for (const char* device : {"b", "a", "c"}) {
        SendReply(Reply(device, "1.1.1.1"));
    }
    ASSERT_TRUE(WaitForRows(4));
    // What the system delivers for a double click: press, release, double-click, release.
    QWidget* header = Table()->horizontalHeader()->viewport();
    QTest::mouseClick(header, Qt::LeftButton, {}, HeaderCentre(0));
    QTest::mouseDClick(header, Qt::LeftButton, {}, HeaderCentre(0));
    QTest::mouseRelease(header, Qt::LeftButton, {}, HeaderCentre(0));
    // Two presses: ascending, then descending.
    EXPECT_FALSE(form->SortState().LastAscending());
    EXPECT_EQ(Column(0), (Texts{"c", "b", "a"}));
}

TEST_F(MainFormTest, StatusCellWritersAndTheStatusBar) {
    for (const char* device : {"A", "B"}) {
        form->AddDeviceRow(DevicePayload({device, "", "10.0.0.7", "", "not connected"}));
    }
    Table()->SetRow(2);
    form->MarkSessionConnected(nullptr);
    EXPECT_EQ(Table()->Cells(4, 2), "connected");
    form->SetPanelText(0, "Logging");
    form->SetPanelText(1, "file.txt");
    form->ResetDeviceStatus("10.0.0.99");  // no match: nothing, not even the status bar
    EXPECT_EQ(form->PanelText(0), "Logging");
    form->ResetDeviceStatus("10.0.0.7");
    EXPECT_EQ(Table()->Cells(4, 1), "not connected");
    EXPECT_EQ(Table()->Cells(4, 2), "connected");
    EXPECT_EQ(form->PanelText(0), "");
    EXPECT_EQ(form->PanelText(1), "");
}

TEST_F(MainFormTest, TakenPortIsReportedWhenShownAndTheWindowGoesOn) {
    const UdpProbe blocker("0.0.0.0");
    ASSERT_TRUE(blocker.ok());
    form->DiscoveryEndpoint().SetDefaultPort(blocker.port());
    ShowWindow();
    EXPECT_EQ(messages,
              std::vector<QString>{"Could not bind socket. Address and port are already in use."});
    EXPECT_FALSE(form->DiscoveryEndpoint().Active());
    EXPECT_NE(Control<QLabel>("lb_localMask")->text(),
              "?");  // the failure is the last step of showing
    ClickHeader(1);
    EXPECT_TRUE(form->SortState().LastAscending());
}

TEST_F(MainFormTest, ClosingWhileRepliesPourInEndsQuickly) {
    Show();
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (flooding && std::chrono::steady_clock::now() < end) {
            SendReply(Reply("flood", "10.0.0.1"));
        }
    });
    QTest::qWait(200);
    EXPECT_GT(Table()->RowCount(), 2);
    QElapsedTimer timer;
    timer.start();
    Control<QAction>("Exit1")->trigger();
    form.reset();
    EXPECT_LT(timer.elapsed(), 1500);
    flooding = false;
    flood.join();
    QTest::qWait(20);  // posted deliveries for the destroyed window are void
}

TEST_F(MainFormTest, ErrorsOfHandlersReachTheDefaultErrorReport) {
    RunGuarded([] { throw std::runtime_error("Socket Error # 10051\r\nNetwork is unreachable."); });
    EXPECT_EQ(messages, std::vector<QString>{"Socket Error # 10051\r\nNetwork is unreachable."});
    EXPECT_EQ(messageTypes, std::vector<MessageKind>{MessageKind::Error});
}
