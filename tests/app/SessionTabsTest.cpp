// Session tabs and logging control on the offscreen platform. Most sessions here are
// terminals that never connect, so only the window's own rules run; the tabs kept after
// their session ended talk to a scripted peer on loopback.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "WindowTest.h"
#include "app/EditorLauncher.h"
#include "app/StatusNotice.h"
#include "app/TStringAlignGrid.h"
#include "app/model/SessionRows.h"
#include "support/EventPump.h"
#include "support/LoopbackListener.h"
#include "support/ScreenText.h"
#include "support/ScriptedPeer.h"
#include "terminal/TTnEmulT.h"

using namespace vandrel::app;
using namespace vandrel::terminal;
using vandrel::test::fileBytes;
using vandrel::test::pumpUntil;
using vandrel::test::rowText;

namespace {

// A shown main window on an ephemeral discovery port, with message boxes and file dialogs
// answered by the test.
class SessionTabsTest : public vandrel::test::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        FileDialogSeam::SetHandler([this](QFileDialog& dialog) -> std::optional<QString> {
            dialogs.push_back(&dialog);
            offered.push_back(dialog.selectedFiles().value(0));
            if (fileAnswers.empty()) {
                return std::nullopt;
            }
            std::optional<QString> answer = fileAnswers.front();
            fileAnswers.pop_front();
            return answer;
        });
        CreateQuietWindow();
        ShowWindow();
    }
    void TearDown() override {
        WindowTest::TearDown();
        EditorLauncher::Reset();
    }

    // A session tab as Connect builds it, but with a terminal that never connects.
    TTnEmulT* AddIdleSession(const std::string& ip) {
        auto* page = new QWidget();
        auto* layout = new QVBoxLayout(page);
        auto* terminal = new TTnEmulT(page);
        layout->addWidget(terminal);
        terminal->SetHostName(ip);
        terminal->SetLogName(SessionLogName(ip));
        Notebook()->setCurrentIndex(Notebook()->addTab(page, QString::fromStdString(ip)));
        return terminal;
    }

    void AddRow(const std::string& device, const std::string& ip, const std::string& status) {
        form->AddDeviceRow(vandrel::test::DevicePayload({device, "sn", ip, "mac", status}));
    }

    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    std::vector<QFileDialog*> dialogs;
    std::vector<QString> offered;
    std::deque<std::optional<QString>> fileAnswers;
};

}  // namespace

// Rows that may not connect are ignored outright; addresses the socket layer rejects fail
// inside Connect, before any name lookup or packet. Neither leaves a tab or a message.
TEST_F(SessionTabsTest, RowsAndAddressesThatCannotConnectOpenNothing) {
    // Ignored outright: nothing at all happens.
    AddRow("", "10.0.0.1", "not connected");
    AddRow("VD", "", "not connected");
    AddRow("VD", "10.0.0.3", "connected");
    AddRow("VD", "10.0.0.4", " not connected");
    form->SetPanelText(0, QStringLiteral("keep"));
    const auto connectEach = [&](int rows) {
        for (int row = 0; row <= rows; ++row) {
            Table()->SetRow(row);
            QTest::mouseClick(Control("btnConnect"), Qt::LeftButton);
            QTest::qWait(50);
            EXPECT_EQ(Notebook()->count(), 0) << "row " << row;
        }
    };
    connectEach(4);
    EXPECT_EQ(form->PanelText(0), "keep");

    // Rejected inside Connect, before any name lookup or packet.
    ClearDeviceTable(Table()->Grid());
    AddRow("VD", "10.0.0.999", "not connected");
    AddRow("VD", std::string(300, '1'), "not connected");
    connectEach(2);
    for (int row = 1; row <= 2; ++row) {
        EXPECT_EQ(Table()->Cells(ColStatus, row), "not connected");
    }
    EXPECT_EQ(form->PanelText(0), "Not Logging");
    EXPECT_FALSE(form->OpenSession("10.0.0.999"));
    EXPECT_EQ(Notebook()->count(), 0);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(dialogs.empty());
}

// Without a tab, and with a tab that holds no terminal, the commands leave everything alone;
// Close still removes such a tab.
TEST_F(SessionTabsTest, CommandsWithoutATerminalDoNothing) {
    for (const bool withTab : {false, true}) {
        if (withTab) {
            Notebook()->addTab(new QWidget(), QStringLiteral("10.0.0.9"));
        } else {
            QTest::mouseClick(Control("btnClose"), Qt::LeftButton);
        }
        form->SetPanelText(0, QStringLiteral("keep"));
        QTest::mouseClick(Control("btnConfiguration"), Qt::LeftButton);
        QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
        Control<QAction>("mpLogging")->trigger();
        form->Timer_TabTimer(Control<QTimer>("Timer_Tab"));
        EXPECT_EQ(form->PanelText(0), "keep") << withTab;
        EXPECT_TRUE(messages.empty()) << withTab;
        EXPECT_TRUE(dialogs.empty()) << withTab;
    }
    QTest::mouseClick(Control("btnClose"), Qt::LeftButton);
    EXPECT_EQ(Notebook()->count(), 0);
}

TEST_F(SessionTabsTest, CloseRemovesTheActiveTabAndTheFirstTabBecomesActive) {
    AddRow("A", "10.0.0.1", "connected");
    AddRow("B", "10.0.0.2", "connected");
    AddRow("C", "10.0.0.3", "connected");
    AddIdleSession("10.0.0.1");
    QPointer<TTnEmulT> middle = AddIdleSession("10.0.0.2");
    AddIdleSession("10.0.0.3");
    Notebook()->setCurrentIndex(1);
    form->SetPanelText(0, QStringLiteral("Logging"));

    QTest::mouseClick(Control("btnClose"), Qt::LeftButton);
    EXPECT_TRUE(middle.isNull()) << "Close ends the session at once";
    ASSERT_EQ(Notebook()->count(), 2);
    EXPECT_EQ(Notebook()->currentIndex(), 0);
    EXPECT_EQ(Notebook()->tabText(0), "10.0.0.1");
    EXPECT_EQ(Notebook()->tabText(1), "10.0.0.3");
    EXPECT_EQ(Table()->Cells(ColStatus, 2), "not connected");
    EXPECT_EQ(Table()->Cells(ColStatus, 1), "connected");
    EXPECT_EQ(form->PanelText(0), "");

    // Closing the first tab makes the next one (now the first) active.
    QTest::mouseClick(Control("btnClose"), Qt::LeftButton);
    ASSERT_EQ(Notebook()->count(), 1);
    EXPECT_EQ(Notebook()->tabText(0), "10.0.0.3");
    EXPECT_EQ(Notebook()->currentIndex(), 0);

    // After the last tab the status bar keeps what Close wrote, also after the refresh.
    QTest::mouseClick(Control("btnClose"), Qt::LeftButton);
    EXPECT_EQ(Notebook()->count(), 0);
    EXPECT_EQ(Notebook()->currentIndex(), -1);
    form->SetPanelText(0, QStringLiteral("after close"));
    QTest::qWait(300);
    EXPECT_FALSE(Control<QTimer>("Timer_Tab")->isActive());
    EXPECT_EQ(form->PanelText(0), "after close");
    for (int row = 1; row <= 3; ++row) {
        EXPECT_EQ(Table()->Cells(ColStatus, row), "not connected");
    }
}

TEST_F(SessionTabsTest, ARemoteCloseRemovesTheReportingSessionsTabAndDeletesItLater) {
    AddRow("A", "10.0.0.7", "connected");
    AddRow("B", "10.0.0.7", "connected");
    QPointer<TTnEmulT> first = AddIdleSession("10.0.0.7");
    QPointer<TTnEmulT> second = AddIdleSession("10.0.0.7");
    AddIdleSession("10.0.0.8");  // the active tab
    Control<QTimer>("Timer_Tab")->stop();

    form->RemoveSessionTab(second);
    ASSERT_EQ(Notebook()->count(), 2);
    EXPECT_EQ(form->SessionTerminal(0), first.data()) << "the other session's tab must stay";
    EXPECT_EQ(Notebook()->currentIndex(), 0) << "the first remaining tab becomes active";
    EXPECT_TRUE(Control<QTimer>("Timer_Tab")->isActive()) << "and the status bar follows it";
    EXPECT_FALSE(second.isNull()) << "deleted while its own notification still runs";
    EXPECT_EQ(Table()->Cells(ColStatus, 1), "not connected");  // first row with the IP
    EXPECT_EQ(Table()->Cells(ColStatus, 2), "connected");

    // A second report from the same terminal before it is gone changes nothing.
    Table()->SetCells(ColStatus, 1, "connected");
    form->RemoveSessionTab(second);
    EXPECT_EQ(Notebook()->count(), 2);
    EXPECT_EQ(Table()->Cells(ColStatus, 1), "connected");

    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(second.isNull());
    EXPECT_FALSE(first.isNull());

    form->RemoveSessionTab(first);
    form->RemoveSessionTab(nullptr);  // not a terminal: nothing
    form->RemoveSessionTab(Table());
    EXPECT_EQ(Notebook()->count(), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
}

TEST_F(SessionTabsTest, ConnectedMarksTheSessionsRowWhereverTheSelectionIs) {
    AddRow("A", "10.0.0.1", "not connected");
    AddRow("B", "10.0.0.2", "not connected");
    TTnEmulT* session = AddIdleSession("10.0.0.1");
    Table()->SetRow(2);
    form->MarkSessionConnected(session);
    EXPECT_EQ(Table()->Cells(ColStatus, 1), "connected");
    EXPECT_EQ(Table()->Cells(ColStatus, 2), "not connected");
    // A session whose device is no longer listed marks nothing.
    TTnEmulT* gone = AddIdleSession("10.0.0.99");
    form->MarkSessionConnected(gone);
    EXPECT_EQ(Table()->Cells(ColStatus, 2), "not connected");
}

TEST_F(SessionTabsTest, LogFileDialogsAreSetUpWhenShown) {
    for (QFileDialog* dialog :
         {Control<QFileDialog>("SaveDialog"), Control<QFileDialog>("OpenDialog")}) {
        EXPECT_EQ(dialog->windowTitle(), "Save Log Files");
        EXPECT_EQ(dialog->nameFilters(), (QStringList{"Log Files (*.txt)", "All Files (*.*)"}));
        EXPECT_EQ(dialog->defaultSuffix(), "txt");
    }
    EXPECT_EQ(Control<QFileDialog>("SaveDialog")->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(Control<QFileDialog>("SaveDialog")->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_TRUE(Control<QFileDialog>("SaveDialog")->isSizeGripEnabled());
    EXPECT_EQ(Control<QFileDialog>("OpenDialog")->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(Control<QFileDialog>("OpenDialog")->fileMode(), QFileDialog::ExistingFile);
}

TEST_F(SessionTabsTest, LoggingOnAskAgainWithNoThenOffWithYes) {
    LocalDateTime now{2026, 12, 8, 7, 3};
    form->SetClock([&] { return now; });
    TTnEmulT* session = AddIdleSession("10.0.0.7");
    const QString file = Path("session one.txt");

    // Cancelled: logging stays off with its name; the status bar says so.
    QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0], Control<QFileDialog>("SaveDialog"));
    // The name offered, completed by the dialog's default extension.
    EXPECT_TRUE(offered[0].endsWith("/10_0_0_7-20261208_ 7 3.txt")) << offered[0].toStdString();
    EXPECT_FALSE(session->Log());
    EXPECT_EQ(session->LogName(), "10_0_0_7");
    EXPECT_EQ(form->PanelText(0), "Not Logging");

    now = {2026, 12, 8, 14, 35};  // the clock is read again for each offer
    fileAnswers.push_back(file);
    Control<QAction>("mpLogging")->trigger();
    EXPECT_TRUE(offered[1].endsWith("/10_0_0_7-20261208_1435.txt")) << offered[1].toStdString();
    EXPECT_TRUE(session->Log());
    EXPECT_EQ(session->LogName(), file.toStdString());
    EXPECT_EQ(form->PanelText(0), "Logging");
    EXPECT_EQ(form->PanelText(1), file);
    session->Display("abc\r\n");

    confirmAnswer = MessageAnswer::No;
    QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messageTypes[0], MessageKind::Confirmation);
    EXPECT_EQ(messages[0], "Close Log File ?\r" + file);
    EXPECT_TRUE(session->Log());
    EXPECT_EQ(form->PanelText(0), "Logging");
    EXPECT_EQ(form->PanelText(1), file);

    confirmAnswer = MessageAnswer::Yes;
    QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
    EXPECT_FALSE(session->Log());
    EXPECT_EQ(session->LogName(), file.toStdString());
    EXPECT_EQ(form->PanelText(0), "Not Logging");
    EXPECT_EQ(form->PanelText(1), "");
    EXPECT_EQ(fileBytes(file.toStdString()), "<Open>abc\r\n<Close>");
    EXPECT_EQ(dialogs.size(), 2u);  // no dialog while logging was on
    form->SetClock({});
    EXPECT_EQ(form->DefaultLogFileName("h").rfind("h-20", 0), 0u);  // the system's clock
}

TEST_F(SessionTabsTest, AFileThatCannotBeLoggedIsReportedAndLoggingStaysOff) {
    TTnEmulT* session = AddIdleSession("10.0.0.7");
    form->SetPanelText(0, QStringLiteral("Not Logging"));
    const QString missing = Path("no such dir/x.txt");
    fileAnswers.push_back(missing);
    QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messageTypes[0], MessageKind::Error);
    EXPECT_TRUE(messages[0].contains(missing)) << messages[0].toStdString();
    EXPECT_FALSE(session->Log());
    EXPECT_EQ(session->LogName(), "10_0_0_7");
    EXPECT_EQ(form->PanelText(0), "Not Logging");
    // The session still shows what arrives.
    session->Display("still here");
    EXPECT_EQ(session->CursorColumn(), 11);

    // One file, two sessions: the second cannot log into the first one's file.
    TTnEmulT* other = AddIdleSession("10.0.0.8");
    const QString shared = Path("shared.txt");
    Notebook()->setCurrentIndex(0);
    fileAnswers.push_back(shared);
    QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
    ASSERT_TRUE(session->Log());
    Notebook()->setCurrentIndex(1);
    fileAnswers.push_back(shared);
    QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
    EXPECT_FALSE(other->Log());
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messageTypes[1], MessageKind::Error);
}

// A log that fails later (a full pipe, a full disk) is switched off by its terminal; the
// window reports the system's text with the file name and shows "Not Logging" when the
// session is the active one. The sessions go on showing everything.
TEST_F(SessionTabsTest, ALogThatFailsLaterIsReportedAndShownAsNotLogging) {
    const std::string fifo = Path("fifo").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    TTnEmulT* background = form->AddSessionTab("10.0.0.7");
    TTnEmulT* active = form->AddSessionTab("10.0.0.8");
    background->SetLogName(fifo);
    background->SetLog(true);
    fileAnswers.push_back(QStringLiteral("/dev/full"));
    QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
    ASSERT_TRUE(active->Log());

    background->Display(std::string(100000, 'x') + "\r\nend");  // more than a pipe holds
    EXPECT_TRUE(messages.empty()) << "reported from the event loop";
    ASSERT_TRUE(QTest::qWaitFor([&] { return messages.size() == 1; }, 2000));
    EXPECT_EQ(messages[0],
              "Resource temporarily unavailable (" + QString::fromStdString(fifo) + ")");
    EXPECT_FALSE(background->Log());
    EXPECT_EQ(background->CursorColumn(), 4);
    EXPECT_EQ(form->PanelText(0), "Logging");
    EXPECT_EQ(form->PanelText(1), "/dev/full");

    active->Display("still shown");
    ASSERT_TRUE(QTest::qWaitFor([&] { return messages.size() == 2; }, 2000));
    EXPECT_EQ(messageTypes[1], MessageKind::Error);
    EXPECT_EQ(messages[1], "No space left on device (/dev/full)");
    EXPECT_FALSE(active->Log());
    EXPECT_EQ(active->CursorColumn(), 12);
    EXPECT_EQ(form->PanelText(0), "Not Logging");
    EXPECT_EQ(form->PanelText(1), "");
}

TEST_F(SessionTabsTest, ASessionThatEndsWhileADialogIsOpenIsLeftAlone) {
    QPointer<TTnEmulT> session = AddIdleSession("10.0.0.7");
    const QString file = Path("late.txt");
    FileDialogSeam::SetHandler([&](QFileDialog&) -> std::optional<QString> {
        form->RemoveSessionTab(session);  // the device closed meanwhile
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return file;
    });
    form->SetPanelText(0, QStringLiteral("keep"));
    QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
    EXPECT_TRUE(session.isNull());
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_TRUE(messages.empty());

    // The same with the confirmation box, before the terminal is deleted.
    QPointer<TTnEmulT> logging = AddIdleSession("10.0.0.8");
    logging->SetLogName(file.toStdString());
    logging->SetLog(true);
    MessageDlgSeam::SetHandler([&](MessageKind, const QString&) {
        form->RemoveSessionTab(logging);
        return MessageAnswer::Yes;
    });
    form->SetPanelText(0, QStringLiteral("keep"));
    QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
    EXPECT_EQ(form->PanelText(0), "keep");
    ASSERT_FALSE(logging.isNull());
    EXPECT_TRUE(logging->Log()) << "ends with the terminal, not here";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(logging.isNull());
    EXPECT_EQ(fileBytes(file.toStdString()), "<Open><Close>");
}

// A waiting attempt's text covers the panel's own text and a notice covers both, for the
// notice's time only; a new notice starts the time again.
TEST(StatusNoticeTest, PendingTextLiesBetweenThePanelsTextAndANotice) {
    QLabel panel;
    StatusNotice status(&panel, std::chrono::milliseconds(150), nullptr);
    status.SetText(QStringLiteral("own"));
    status.SetPending(QStringLiteral("Connecting to 10.0.0.7 ..."));
    EXPECT_EQ(panel.text(), "Connecting to 10.0.0.7 ...");
    EXPECT_EQ(status.Text(), "own");

    status.Show(QStringLiteral("10.0.0.8: Connection refused (#10061)"));
    status.SetPending(QString());
    status.SetText(QStringLiteral("log.txt"));  // the panel's own text changes meanwhile
    EXPECT_EQ(panel.text(), "10.0.0.8: Connection refused (#10061)");
    EXPECT_EQ(status.Text(), "log.txt");
    QTest::qWait(100);
    status.Show(QStringLiteral("second"));
    QTest::qWait(100);
    EXPECT_EQ(status.Notice(), "second");
    ASSERT_TRUE(QTest::qWaitFor([&] { return status.Notice().isEmpty(); }, 1000));
    EXPECT_EQ(panel.text(), "log.txt");

    status.Show(QStringLiteral("news"));
    status.SetPending(QStringLiteral("Connecting to 10.0.0.9 ..."));
    EXPECT_EQ(panel.text(), "news");
    status.Dismiss();
    EXPECT_EQ(panel.text(), "Connecting to 10.0.0.9 ...");
    EXPECT_EQ(status.Notice(), "");
    EXPECT_EQ(panel.toolTip(), "");
}

TEST_F(SessionTabsTest, StatusBarFollowsATabChangeAfter200ms) {
    TTnEmulT* logging = AddIdleSession("10.0.0.1");
    AddIdleSession("10.0.0.2");
    logging->SetLogName(Path("one.txt").toStdString());
    logging->SetLog(true);
    Notebook()->setCurrentIndex(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->PanelText(0) == "Logging"; }, 1000));
    EXPECT_EQ(form->PanelText(1), Path("one.txt"));

    QElapsedTimer clock;
    clock.start();
    Notebook()->setCurrentIndex(1);
    EXPECT_TRUE(Control<QTimer>("Timer_Tab")->isActive());
    EXPECT_EQ(form->PanelText(0), "Logging");
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->PanelText(0) == "Not Logging"; }, 1000));
    EXPECT_GE(clock.elapsed(), 190);
    EXPECT_EQ(form->PanelText(1), "");
    EXPECT_FALSE(Control<QTimer>("Timer_Tab")->isActive());
    logging->SetLog(false);
}

// The editor gets the chosen path as one argument; one that cannot start is a shell error.
TEST_F(SessionTabsTest, OpenStartsTheEditorWithThePathAsOneArgumentOrSaysWhyNot) {
    fileAnswers.push_back(std::nullopt);  // cancelled: nothing is started
    EditorLauncher::SetProgram(QStringLiteral("vandrel-no-such-editor"));
    Control<QAction>("mpOpen")->trigger();
    EXPECT_TRUE(messages.empty());
    const QString plain = Path("not-a-program");  // present but not executable
    std::ofstream(plain.toStdString()) << "text\n";
    for (const QString& program : {QStringLiteral("vandrel-no-such-editor"), plain}) {
        EditorLauncher::SetProgram(program);
        fileAnswers.push_back(Path("x.txt"));
        Control<QAction>("mpOpen")->trigger();
    }
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messageTypes[0], MessageKind::Error);
    EXPECT_EQ(messages, (std::vector<QString>{"Shell error (2)", "Shell error (5)"}));

    const QString script = Path("editor.sh");
    const QString output = Path("editor-args.txt");
    std::ofstream(script.toStdString())
        << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > '" << output.toStdString() << "'\n";
    QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner);
    EditorLauncher::SetProgram(script);
    const QString log = Path("it's a log; $(echo x).txt");
    fileAnswers.push_back(log);
    Control<QAction>("mpOpen")->trigger();
    ASSERT_EQ(dialogs.size(), 4u);
    EXPECT_EQ(dialogs[3], Control<QFileDialog>("OpenDialog"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return fileBytes(output.toStdString()).find('\n') != std::string::npos; }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(fileBytes(output.toStdString()), "1\n" + log.toStdString() + "\n");
    EXPECT_EQ(messages.size(), 2u);
}

TEST_F(SessionTabsTest, TheRealDialogsRunAndAddTheDefaultExtension) {
    FileDialogSeam::Reset();
    AddIdleSession("10.0.0.7");
    QString title;
    // Played by the technician once the dialog is up.
    const auto play = [&](std::function<void(QFileDialog*)> act) {
        QTimer::singleShot(100, [&title, act] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            title = dialog->windowTitle();
            act(dialog);
        });
    };
    // Type a name without extension and press Save.
    play([&](QFileDialog* dialog) {
        dialog->setDirectory(dir.path());
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        EXPECT_TRUE(name->text().startsWith("10_0_0_7-")) << name->text().toStdString();
        name->setText(QStringLiteral("typed"));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
    EXPECT_EQ(title, "Save Log Files");
    EXPECT_EQ(form->PanelText(0), "Logging");
    EXPECT_EQ(form->PanelText(1).toStdString(), Path("typed.txt").toStdString());
    EXPECT_TRUE(QFile::exists(Path("typed.txt")));

    // The open dialog carries the same title; cancelling it starts nothing.
    title.clear();
    EditorLauncher::SetProgram(QStringLiteral("vandrel-no-such-editor"));
    play([](QFileDialog* dialog) { dialog->reject(); });
    Control<QAction>("mpOpen")->trigger();
    EXPECT_EQ(title, "Save Log Files");
    EXPECT_TRUE(messages.empty());
}

namespace {

// Sessions opened as Connect opens them, to a scripted peer on loopback.
class KeptTabsTest : public SessionTabsTest {
protected:
    TTnEmulT* OpenPeerSession(std::uint16_t port) {
        TTnEmulT* terminal = form->AddSessionTab("127.0.0.1");
        terminal->SetPort(std::to_string(port));
        terminal->SetHostName("127.0.0.1");
        terminal->Connect();
        return terminal;
    }
    bool Triggered(const char* action) {
        emit Control<QMenu>("mpSession")->aboutToShow();
        QAction* item = Control<QAction>(action);
        const bool enabled = item->isEnabled();
        item->trigger();
        return enabled;
    }

    vandrel::test::ScriptedPeer peer;
};

}  // namespace

TEST_F(KeptTabsTest, ATabKeptAfterTheDeviceEndedItReconnectsInPlace) {
    AddRow("A", "127.0.0.1", "not connected");
    form->SetKeepClosedTabs(true);
    QPointer<TTnEmulT> terminal = OpenPeerSession(std::stoi(peer.portText()));
    ASSERT_TRUE(pumpUntil([&] { return Table()->Cells(ColStatus, 1) == "connected"; }));
    EXPECT_FALSE(Triggered("mpReconnect")) << "an open session does not reconnect";
    peer.send("serial 1234\r\n");
    peer.closeClient();
    ASSERT_TRUE(pumpUntil([&] { return Notebook()->tabText(0) == "127.0.0.1 (closed)"; }));
    EXPECT_EQ(Table()->Cells(ColStatus, 1), "not connected");
    EXPECT_EQ(form->OutcomeText(), "127.0.0.1: closed by the device");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(terminal.isNull());
    EXPECT_EQ(rowText(*terminal, 3), "serial 1234");

    EXPECT_TRUE(Triggered("mpReconnect"));
    EXPECT_EQ(Notebook()->tabText(0), "127.0.0.1");
    EXPECT_EQ(form->PanelText(0), "Not Logging");
    ASSERT_TRUE(pumpUntil([&] { return Table()->Cells(ColStatus, 1) == "connected"; }));
    EXPECT_EQ(peer.acceptedCount(), 2);
    EXPECT_EQ(rowText(*terminal, 3), "serial 1234") << "the screen stays";

    // Ended again, Enter in the tab connects once more; Close then leaves the row alone.
    peer.closeClient();
    ASSERT_TRUE(pumpUntil([&] { return Notebook()->tabText(0) == "127.0.0.1 (closed)"; }));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(terminal->viewport(), &enter);
    ASSERT_TRUE(pumpUntil([&] { return Table()->Cells(ColStatus, 1) == "connected"; }));
    peer.closeClient();
    ASSERT_TRUE(pumpUntil([&] { return Notebook()->tabText(0) == "127.0.0.1 (closed)"; }));
    Table()->SetCells(ColStatus, 1, "connected");  // another session's, say
    form->btnCloseClick(nullptr);
    EXPECT_EQ(Notebook()->count(), 0);
    EXPECT_EQ(Table()->Cells(ColStatus, 1), "connected");
}

TEST_F(KeptTabsTest, AFailedFirstAttemptLeavesNoTabButAKeptTabStaysThroughOne) {
    form->SetKeepClosedTabs(true);
    OpenPeerSession(vandrel::test::unusedPort());
    ASSERT_TRUE(pumpUntil([&] { return Notebook()->count() == 0; }));

    TTnEmulT* terminal = OpenPeerSession(std::stoi(peer.portText()));
    ASSERT_TRUE(pumpUntil([&] { return peer.acceptedCount() == 1; }));
    peer.closeClient();
    ASSERT_TRUE(pumpUntil([&] { return Notebook()->tabText(0) == "127.0.0.1 (closed)"; }));

    terminal->SetPort(std::to_string(vandrel::test::unusedPort()));
    Triggered("mpReconnect");
    ASSERT_TRUE(pumpUntil([&] { return Notebook()->tabText(0) == "127.0.0.1 (closed)"; }));
    EXPECT_EQ(form->OutcomeText(), "127.0.0.1: Connection refused (#10061)");

    // The next session's end is news again.
    terminal->SetPort(peer.portText());
    Triggered("mpReconnect");
    ASSERT_TRUE(pumpUntil([&] { return peer.acceptedCount() == 2; }));
    peer.closeClient();
    ASSERT_TRUE(pumpUntil([&] { return Notebook()->tabText(0) == "127.0.0.1 (closed)"; }));
    EXPECT_EQ(form->OutcomeText(), "127.0.0.1: closed by the device");
}

TEST_F(KeptTabsTest, TheSessionMenuSetsEnterAndBackspacePerTabAndPastes) {
    form->SetDefaultEnterKey(EnterKey::Lf);
    TTnEmulT* first = OpenPeerSession(std::stoi(peer.portText()));
    form->SetDefaultEnterKey(EnterKey::CrLf);
    TTnEmulT* second = form->AddSessionTab("10.0.0.2");
    EXPECT_EQ(first->EnterSends(), EnterKey::Lf);
    EXPECT_EQ(second->EnterSends(), EnterKey::CrLf);
    Triggered("mpEnterCr");
    Triggered("mpBackspaceDel");
    EXPECT_EQ(second->EnterSends(), EnterKey::Cr);
    EXPECT_EQ(second->BackspaceSends(), BackspaceKey::Delete);
    EXPECT_EQ(first->BackspaceSends(), BackspaceKey::ControlH);

    Notebook()->setCurrentIndex(0);
    EXPECT_TRUE(Control<QAction>("mpEnterLf")->isChecked());
    EXPECT_TRUE(Control<QAction>("mpBackspaceCtrlH")->isChecked());
    ASSERT_TRUE(pumpUntil([&] { return first->SessionOpen() && !first->Connecting(); }));
    QGuiApplication::clipboard()->setText(QStringLiteral("a\nb"));
    confirmAnswer = MessageAnswer::No;
    EXPECT_TRUE(Triggered("mpPaste"));
    EXPECT_EQ(messages.back(), "Paste 2 lines into the session?");
    form->SetPasteLineDelay(20);
    confirmAnswer = MessageAnswer::Yes;
    Triggered("mpPaste");
    EXPECT_TRUE(first->Pasting()) << "the delay reaches open sessions";
    ASSERT_TRUE(pumpUntil([&] {
        return peer.received() == vandrel::test::ScriptedPeer::Bytes{'a', '\n', 'b'};
    }));
    form->SetConfirmMultiLinePaste(false);
    Triggered("mpPaste");
    EXPECT_EQ(messages.size(), 2u);
}

// Save Output writes what the active session shows: blanks at the row ends and empty rows
// at the end cut, each byte as the character shown, in UTF-8.
TEST_F(SessionTabsTest, SaveOutputWritesTheScreenAsText) {
    QAction* save = Control<QAction>("mpSaveOutput");
    save->trigger();  // no session: no dialog
    EXPECT_TRUE(dialogs.empty());
    TTnEmulT* terminal = AddIdleSession("10.0.0.7");
    terminal->WriteStr("login:  \r\n\r\n  caf\xE9 \x7F\r\n");
    fileAnswers = {std::nullopt, Path("out.txt"), Path("missing/out.txt")};
    save->trigger();
    EXPECT_FALSE(QFile::exists(Path("out.txt")));
    save->trigger();
    EXPECT_EQ(fileBytes(Path("out.txt").toStdString()), "login:\n\n  caf\xC3\xA9 \x7F\n");
    EXPECT_TRUE(offered[0].endsWith("/10.0.0.7-output.txt")) << offered[0].toStdString();
    save->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith("Cannot write ")) << messages[0].toStdString();
}

// Ctrl+A and Ctrl-click select several rows; Connect then opens a session on each row it
// allows and counts the others. A sort keeps only the current row selected.
TEST_F(SessionTabsTest, ConnectOnSeveralRowsOpensEachAllowedRowAndCountsTheRest) {
    AddRow("A", "127.0.0.1", "not connected");
    AddRow("B", "127.0.0.2", "connected");
    AddRow("C", "127.0.0.3", "NOT CONNECTED");
    AddRow("", "127.0.0.4", "not connected");
    AddRow("E", "10.0.0.999", "not connected");
    QTest::qWait(0);  // the table shows the rows
    QTest::keyClick(Table(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(Table()->SelectedRows(), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(Table()->Row(), 1) << "the current row stays";
    QTest::mouseClick(Control("btnConnect"), Qt::LeftButton);
    ASSERT_EQ(Notebook()->count(), 2);
    EXPECT_EQ(form->SessionTerminal(0)->HostName(), "127.0.0.1");
    EXPECT_EQ(form->SessionTerminal(1)->HostName(), "127.0.0.3");
    EXPECT_EQ(form->OutcomeText(),
              "Opened 2 sessions; 3 rows skipped: status not 'not connected' (1), no Device (1), "
              "address not usable (1)");
    EXPECT_EQ(form->PanelText(0), "Not Logging");
    EXPECT_TRUE(messages.empty());

    const auto click = [&](int row, Qt::KeyboardModifiers mods) {
        const QModelIndex index = Table()->model()->index(row - 1, ColDevice);
        QTest::mouseClick(Table()->viewport(), Qt::LeftButton, mods,
                          Table()->visualRect(index).center());
    };
    click(2, {});
    click(4, Qt::ControlModifier);
    EXPECT_EQ(Table()->SelectedRows(), (std::vector<int>{2, 4}));
    EXPECT_EQ(Table()->Row(), 4);
    click(5, Qt::ShiftModifier);
    EXPECT_EQ(Table()->SelectedRows(), (std::vector<int>{2, 4, 5}));
    form->sgMouseDown(Table(), Qt::LeftButton, {}, 5, 5);  // a header click sorts
    EXPECT_EQ(Table()->SelectedRows(), std::vector<int>{Table()->Row()});
    EXPECT_EQ(Table()->Cells(ColIP, Table()->Row()), "10.0.0.999");
}

namespace {

void Type(TTnEmulT& terminal, Qt::Key key, const QString& text) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(terminal.viewport(), &event);
}

}  // namespace

// Type into All: typed keys, a paste and Configuration in one connected session reach every
// connected one with its own Enter and Backspace; the tabs say so and the status bar counts
// them as sessions come and go.
TEST_F(KeptTabsTest, TypeIntoAllReachesEveryConnectedSessionItsOwnWay) {
    using Bytes = vandrel::test::ScriptedPeer::Bytes;
    vandrel::test::ScriptedPeer second;
    vandrel::test::ScriptedPeer third;
    vandrel::test::ScriptedPeer* peers[] = {&peer, &second, &third};
    const EnterKey enters[] = {EnterKey::CrLf, EnterKey::Cr, EnterKey::Lf};
    std::vector<QPointer<TTnEmulT>> sessions;
    for (int i = 0; i < 3; ++i) {
        form->SetDefaultEnterKey(enters[i]);
        sessions.emplace_back(OpenPeerSession(std::stoi(peers[i]->portText())));
    }
    sessions[2]->SetBackspaceKey(BackspaceKey::Delete);
    AddIdleSession("10.0.0.9");  // never connects: not typed into
    ASSERT_TRUE(pumpUntil([&] {
        return std::all_of(sessions.begin(), sessions.end(),
                           [](const auto& t) { return t->SessionOpen() && !t->Connecting(); });
    }));
    EXPECT_FALSE(form->TypeIntoAll()) << "off at start";
    Control<QAction>("mpTypeIntoAll")->trigger();
    EXPECT_EQ(Control<QAction>("mpTypeIntoAll")->shortcut(), QKeySequence("Ctrl+Shift+A"));
    EXPECT_EQ(Notebook()->tabText(1), QStringLiteral("\u00BB 127.0.0.1"));
    EXPECT_EQ(Notebook()->tabText(3), "10.0.0.9");
    EXPECT_EQ(Control<QLabel>("TypingPanel")->text(), "Typing into 3 sessions");
    EXPECT_EQ(form->SessionCaption(1), "127.0.0.1");

    Type(*sessions[1], Qt::Key_A, QStringLiteral("a"));
    Type(*sessions[1], Qt::Key_Return, QStringLiteral("\r"));
    Type(*sessions[1], Qt::Key_Backspace, QStringLiteral("\b"));
    Notebook()->setCurrentIndex(1);
    QTest::mouseClick(Control("btnConfiguration"), Qt::LeftButton);
    QGuiApplication::clipboard()->setText(QStringLiteral("x\ny"));
    Control<QAction>("mpPaste")->trigger();
    EXPECT_EQ(messages, (std::vector<QString>{"Paste 2 lines into 3 sessions?"}));
    const Bytes expected[] = {{'a', '\r', '\n', 8, '#', 'x', '\r', '\n', 'y'},
                              {'a', '\r', 8, '#', 'x', '\r', 'y'},
                              {'a', '\n', 0x7F, '#', 'x', '\n', 'y'}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(pumpUntil([&] { return peers[i]->received() == expected[i]; }, 3000)) << i;
    }

    // A session that ends leaves the group; Off takes the marks away.
    third.closeClient();
    ASSERT_TRUE(pumpUntil([&] { return Notebook()->count() == 3; }));
    EXPECT_EQ(Control<QLabel>("TypingPanel")->text(), "Typing into 2 sessions");
    Control<QAction>("mpTypeIntoAll")->trigger();
    EXPECT_EQ(Notebook()->tabText(0), "127.0.0.1");
    EXPECT_FALSE(Control<QLabel>("TypingPanel")->isVisible());
    peer.clearReceived();
    Type(*sessions[1], Qt::Key_B, QStringLiteral("b"));
    ASSERT_TRUE(pumpUntil([&] { return second.received().size() == 8; }, 3000));
    QTest::qWait(100);
    EXPECT_TRUE(peer.received().empty());
}

namespace {

vandrel::test::ScriptedPeer::Bytes BytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

// Sessions to scripted peers that scripts run on; the script and variables files are
// written into the test's folder and chosen in the file dialogs in the order given.
class ScriptTabsTest : public KeptTabsTest {
protected:
    void SetUp() override {
        KeptTabsTest::SetUp();
        FileDialogSeam::SetHandler([this](QFileDialog& dialog) -> std::optional<QString> {
            folders.push_back(dialog.directory().absolutePath());
            if (fileAnswers.empty()) {
                return std::nullopt;
            }
            std::optional<QString> answer = fileAnswers.front();
            fileAnswers.pop_front();
            return answer;
        });
    }
    // Runs the script text (and the variables table, when given) through the dialogs.
    void RunScript(const std::string& script, const std::string& csv = {}) {
        writeFile(Path("s.vsc"), QByteArray::fromStdString(script));
        fileAnswers.push_back(Path("s.vsc"));
        if (!csv.empty()) {
            writeFile(Path("v.csv"), QByteArray::fromStdString(csv));
            fileAnswers.push_back(Path("v.csv"));
        }
        Control<QAction>("mpRunScript")->trigger();
    }
    QString Summary(int ms = 5000) {
        pumpUntil([&] { return form->findChild<QDialog*>("ScriptSummary") != nullptr; }, ms);
        QDialog* dialog = form->findChild<QDialog*>("ScriptSummary");
        if (dialog == nullptr) {
            return QString();
        }
        const QString text = dialog->findChild<QPlainTextEdit*>()->toPlainText();
        delete dialog;
        return text;
    }
    TTnEmulT* Connected(vandrel::test::ScriptedPeer& to) {
        TTnEmulT* terminal = OpenPeerSession(std::stoi(to.portText()));
        pumpUntil([&] { return terminal->SessionOpen() && !terminal->Connecting(); });
        return terminal;
    }

    std::vector<QString> folders;
};

}  // namespace

// A script that cannot run is reported and nothing is sent: no session, a syntax error with
// its place, an unknown variable, a file that cannot be read.
TEST_F(ScriptTabsTest, AScriptThatCannotRunSendsNothing) {
    Control<QAction>("mpRunScript")->trigger();  // no session: no dialog either
    EXPECT_TRUE(folders.empty());
    Connected(peer);
    RunScript("sendline \"x\"\nexpect \"unterminated\n");
    RunScript("sendline \"{NewIP}\"\n", "S/N,Other\r\nsn,1\r\n");
    fileAnswers.push_back(Path("missing.vsc"));
    Control<QAction>("mpRunScript")->trigger();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0], "Run Script needs a connected session");
    EXPECT_TRUE(messages[1].startsWith("s.vsc:2:")) << messages[1].toStdString();
    EXPECT_EQ(messages[2], "s.vsc: unknown variable {NewIP}");
    EXPECT_TRUE(messages[3].startsWith("Cannot read " + Path("missing.vsc")));
    EXPECT_EQ(folders.back(), dir.path()) << "the script folder is remembered";
    QTest::qWait(100);
    EXPECT_TRUE(peer.received().empty());
    EXPECT_FALSE(form->ScriptRunning());
}

// A wait takes the whole time it says. The run starts a fifth of a second after a whole second
// of the monotonic clock, where a coarse timer of 5 s would round its end down to the whole
// second and end 0.2 s early.
TEST_F(ScriptTabsTest, AWaitTakesItsWholeTime) {
    Connected(peer);
    const qint64 sinceSecond = QDeadlineTimer::current().deadlineNSecs() % 1000000000;
    QTest::qSleep(static_cast<int>((1000000000 - sinceSecond) / 1000000) + 200);
    QElapsedTimer clock;
    clock.start();
    RunScript("wait 5\n");
    EXPECT_TRUE(Summary(10000).endsWith(": passed\n"));
    EXPECT_GE(clock.elapsed(), 5000);
}

// With Type into All the script runs on every connected session at once, each with its own
// values and Enter; the tabs show the progress, the summary each device's outcome. A tab
// closed during a run and Stop Script fail the device with the reason.
TEST_F(ScriptTabsTest, AScriptRunsOnEverySessionAndEndsInASummary) {
    vandrel::test::ScriptedPeer answering({{8, BytesOf("ok\r\n")}});
    AddRow("VD-1", "127.0.0.1", "not connected");
    Connected(answering);
    form->SetDefaultEnterKey(EnterKey::Lf);
    Connected(peer);
    form->SetTypeIntoAll(true);
    RunScript("# both\nsendline \"{Device}={v}\"\nexpect \"ok\" timeout 1\n",
              "IP,v\n127.0.0.1,7\n");
    EXPECT_TRUE(Notebook()->tabText(1).endsWith("/2]")) << Notebook()->tabText(1).toStdString();
    EXPECT_TRUE(form->ScriptRunning());
    const QString summary = Summary();
    EXPECT_TRUE(summary.startsWith("2 devices: 1 passed, 1 failed\n\nVD-1 127.0.0.1: passed\n"))
        << summary.toStdString();
    EXPECT_TRUE(summary.contains("VD-1 127.0.0.1: failed at line 3 (expect \"ok\" timeout 1): "))
        << summary.toStdString();
    EXPECT_EQ(answering.requests(), std::vector<decltype(BytesOf(""))>{BytesOf("VD-1=7\r\n")});
    EXPECT_EQ(peer.received(), BytesOf("VD-1=7\n"));
    EXPECT_EQ(Notebook()->tabText(1), QStringLiteral("\u00BB 127.0.0.1"));

    form->SetTypeIntoAll(false);
    RunScript("expect \"never\"\n");
    QTest::mouseClick(Control("btnClose"), Qt::LeftButton);
    EXPECT_TRUE(Summary().endsWith(": failed at line 1 (expect \"never\"): the tab was closed\n"));
    RunScript("wait 20\n");
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form->SessionTerminal(0)->viewport(), Qt::Key_Escape);
    EXPECT_TRUE(Summary().endsWith(": failed at line 1 (wait 20): stopped by the user\n"));
    EXPECT_EQ(messages, std::vector<QString>{});
}
