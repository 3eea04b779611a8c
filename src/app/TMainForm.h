#pragma once

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <string>

#include "app/DeviceTable.h"
#include "app/FormScale.h"
#include "app/LogFileName.h"
#include "discovery/SearchInterfaces.h"

class QAction;
class QFileDialog;
class QLabel;
class QMenu;
class QPrinter;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTimer;

namespace vandrel::terminal {
class EInOutError;
class TTnEmulT;
}  // namespace vandrel::terminal

namespace vandrel::discovery {
class TUDPSocketHandle;
class TUDPServer;
class TMemoryStream;
}  // namespace vandrel::discovery

namespace vandrel::app {

class StatusNotice;
class TAboutBox;
class TStringAlignGrid;

// The main window. It owns the device table, the session notebook and the discovery
// endpoint. Its parts live in separate files: the layout (TMainFormLayout.cpp), the window's
// life cycle and hints (TMainForm.cpp), the device table with discovery
// (TMainFormDevices.cpp), and printing and Info (TMainFormPrinting.cpp). Every handler runs
// on the GUI thread; errors leaving a command handler are shown by the default error report.
//
// The controls are public so that later parts and tests reach them by their names.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Layout, top strip.
    QWidget* topPanel = nullptr;
    TStringAlignGrid* sg = nullptr;
    QWidget* Panel_t_r = nullptr;
    QPushButton* btnSearch = nullptr;
    QPushButton* btnConnect = nullptr;
    QLabel* Label1 = nullptr;
    QSplitter* Splitter1 = nullptr;
    // Layout, lower part.
    QTabWidget* TabNotebook = nullptr;
    QWidget* Panel_r = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* lb_localIP = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* lb_localMask = nullptr;
    QPushButton* btnClose = nullptr;
    QPushButton* btnConfiguration = nullptr;
    QPushButton* btnLog = nullptr;
    QStatusBar* StatusBar = nullptr;
    // Menu.
    QMenu* mpFile = nullptr;
    QAction* mpOpen = nullptr;
    QAction* mpLogging = nullptr;
    QAction* mpPrintTable = nullptr;
    QAction* N1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* mpSearch = nullptr;
    QAction* mpInfo = nullptr;
    // Non-visual parts.
    QTimer* Timer_Tab = nullptr;
    QFileDialog* OpenDialog = nullptr;
    QFileDialog* SaveDialog = nullptr;
    std::unique_ptr<discovery::TUDPServer> UDPServer;
    // The printer of Print Table, made at the first printout; it keeps the choices of the
    // print dialog (and landscape) from one printout to the next.
    std::unique_ptr<QPrinter> Printer;
    // The information dialog that Info shows; Info does nothing without one.
    TAboutBox* AboutBox = nullptr;

    // Published handlers.
    void FormCreate(QObject* Sender);
    void FormShow(QObject* Sender);
    void btnSearchClick(QObject* Sender);
    void btnConnectClick(QObject* Sender);
    void btnCloseClick(QObject* Sender);
    void btnConfigurationClick(QObject* Sender);
    void btnLogClick(QObject* Sender);
    void mpOpenClick(QObject* Sender);
    void mpPrintTableClick(QObject* Sender);
    void mpInfoClick(QObject* Sender);
    void Exit1Click(QObject* Sender);
    void TabNotebookChange(QObject* Sender, int NewTab, bool& AllowChange);
    void Timer_TabTimer(QObject* Sender);
    int sgCompareCol(QObject* Sender, int Col, int Row1, int Row2);
    void sgMouseDown(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                     int Y);
    void UDPServerUDPRead(discovery::TUDPServer& Sender, discovery::TMemoryStream& AData,
                          discovery::TUDPSocketHandle& ABinding);
    // The application's hint hook: a non-empty hint shows in the status bar's simple-text
    // mode, an empty one brings the two panels back.
    void ApplicationHint(const QString& hint);

    // Prints the whole device table after the print dialog (TMainFormPrinting.cpp): heading,
    // header row and up to 30 devices a page, further pages repeating heading and header.
    // Errors abort the printout and go on to the caller.
    void PrintTable();

    // The device table's operations.
    void ClearDeviceTable();
    void AddDeviceRow(std::string payload);
    void MarkSessionConnected(QObject* Sender);
    void ResetDeviceStatus(const std::string& ip);

    // Session tabs (TMainFormSessions.cpp). A session tab is a page captioned with the
    // device's IP whose only child is the session's terminal; the page owns the terminal.
    // address, when given, is what the socket connects to; ip names the tab and the texts.
    bool OpenSession(const std::string& ip, const std::string& address = {});
    // The tab of a session to ip with its terminal set up, before it connects.
    terminal::TTnEmulT* AddSessionTab(const std::string& ip);
    void RemoveSessionTab(QObject* Sender);
    // The terminal of page index, or nullptr (no such page, or a page without one).
    terminal::TTnEmulT* SessionTerminal(int index) const;
    // Panel 1 says text while a session attempt waits, over the panel's own text; empty when
    // nothing waits. A session notice still covers it until its time is up.
    void SetPendingText(const QString& text);

    // Session logging (TMainFormLogging.cpp). The default name is read from the clock at
    // the moment of the call; SetClock replaces the computer's clock (empty: restore it).
    std::string DefaultLogFileName(const std::string& host) const;
    void SetClock(LocalClock clock);

    // Status bar: panel 0 (100 px) and panel 1 (500 px), and whether a hint covers them.
    QString PanelText(int panel) const;
    void SetPanelText(int panel, const QString& text);
    bool SimplePanel() const;
    QString SimpleText() const;

    // Sort state of header clicks.
    const HeaderSortState& SortState() const { return m_sortState; }

    // Additions to the window (TMainFormAddress.cpp, TMainFormExport.cpp): Search also
    // covers every other interface and names what it searched in the hint text; a session
    // to a typed address; notices of how sessions ended, which cover panel 1 for a few
    // seconds (PanelText(1) keeps the panel's own text); export and copy of the table.
    QAction* mpConnectAddress = nullptr;
    QAction* mpExportTable = nullptr;
    QAction* CopyRow = nullptr;
    void mpConnectAddressClick(QObject* Sender);
    void mpExportTableClick(QObject* Sender);
    // Opens a session like Connect on a row, without a row: the table is left alone. A host
    // name is looked up off the GUI thread first ("Connecting to HOST ..." in panel 1 till
    // then) and the session opens when it resolves; a newer call drops an older pending one.
    // False when the session could not be started.
    bool OpenAddressSession(const std::string& host);
    // Ctrl+C in the table: the current row, tab-separated, onto the clipboard.
    void CopyDeviceRow();
    // A device row's context menu (TMainFormRowMenu.cpp): Connect, Open in Browser, Copy IP,
    // Copy MAC, Copy Row. It selects the row it was opened on.
    QMenu* RowMenu = nullptr;
    void sgContextMenu(QPoint position);
    // The session notice panel 1 shows now; empty when none.
    QString OutcomeText() const;
    // A test seam: LimitedBroadcastOnly makes Search send the limited broadcast alone.
    void SetSearchScope(discovery::SearchScope scope) { m_searchScope = scope; }

    // How the window's figures map to the running font (FormScale.h).
    const FormScale& Scale() const { return m_scale; }

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CreateLayout();
    void CreateTopStrip();
    void CreateLowerPart();
    void CreateMenu();
    void CreateStatusBar();
    void FitLayout();
    void ConnectHandlers();
    void CreateRowMenu();
    void CreateDiscovery();
    void ConnectSessionHandlers();
    void SetLogFileDialogs();
    void SetLogStatus(bool logging, const std::string& name);
    // A session's terminal switched its log off after error: the status bar shows it for
    // the active session, and the error goes to the default error report (it is raised).
    void SessionLogFailed(terminal::TTnEmulT& terminal, const terminal::EInOutError& error);
    int SessionPageIndex(const terminal::TTnEmulT* terminal) const;
    // The pending text of the active tab: "Connecting to HOST ..." while its attempt waits.
    void ShowPendingAttempt();
    // Takes page index out of the notebook and deletes it, later when deferDelete is set.
    void RemoveSessionPage(int index, bool deferDelete);

    static bool IsAddressSession(const terminal::TTnEmulT& terminal);
    void NoteAttemptEnded(terminal::TTnEmulT& terminal);
    void NoteSessionEnded(terminal::TTnEmulT& terminal);
    // Shows a session notice in panel 1, bringing the panels back from a hint.
    void ShowOutcome(const QString& text);
    bool OpenResolvedSession(const std::string& host, const std::string& address);

    QLabel* m_panels[2] = {nullptr, nullptr};
    StatusNotice* m_outcome = nullptr;
    QPointer<terminal::TTnEmulT> m_failedAttempt;
    QString m_lastAddress;
    // Counts Connect to Address lookups; only the latest one's answer opens a session.
    unsigned m_addressLookups = 0;
    // The host name of the Connect to Address lookup that waits; empty when none does.
    std::string m_lookupHost;
    discovery::SearchScope m_searchScope = discovery::SearchScope::AllInterfaces;
    HeaderSortState m_sortState;
    // "invalid string" has been shown since the last Search.
    bool m_invalidStringShown = false;
    bool m_hintHookInstalled = false;
    LocalClock m_clock = SystemLocalDateTime;
    FormScale m_scale{1.0, 1.0};
};

}  // namespace vandrel::app
