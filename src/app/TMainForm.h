// The main window, TMainForm, in eight files:
//   TMainForm.cpp          life cycle (create, show, destroy), the hint hook and the status
//                          bar's panels, Exit
//   TMainFormLayout.cpp    the controls and their layout, menu, status bar, the window's size
//   TMainFormDevices.cpp   discovery: Search, replies into the device table, header sort
//   TMainFormSessions.cpp  session tabs: Connect, Close, Configuration, connected and closed
//   TMainFormLogging.cpp   session logging, the status bar after a tab change, Open
//   TMainFormPrinting.cpp  Print Table and Info
//   TMainFormAddress.cpp   Connect to Address, and the notices of how sessions ended
//   TMainFormExport.cpp    Export Table, Copy Row and Save Output
//   TMainFormSessionMenu.cpp  the Session menu, the session settings, tabs kept after their
//                          session ended and their reconnection
//   TMainFormSettings.cpp  remembered state and preferences: the settings file, Edit >
//                          Preferences, the session font and zoom of every session
//   TMainFormMultiSession.cpp  Connect on several rows, Session > Type into All Sessions and
//                          the captions of session tabs
//   TMainFormScripts.cpp   Session > Run Script... and Stop Script
#pragma once

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/FormScale.h"
#include "app/model/DeviceTable.h"
#include "app/model/LogFileName.h"
#include "app/model/Preferences.h"
#include "discovery/SearchInterfaces.h"
#include "terminal/KeyBytes.h"

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

namespace vandrel::script {
struct DeviceIdentity;
}  // namespace vandrel::script

namespace vandrel::discovery {
class TUDPSocketHandle;
class TUDPServer;
class ByteStream;
}  // namespace vandrel::discovery

namespace vandrel::app {

class ScriptBatch;
class Settings;
class StatusNotice;
class TAboutBox;
class TStringAlignGrid;

// The main window. It owns the device table, the session notebook and the discovery
// endpoint; its parts live in the files listed at the top of this header. Every handler runs on the
// GUI thread; errors leaving a command handler are shown by the default error report.
//
// The controls are private. Each one's objectName is its member name here (sg, btnSearch,
// TabNotebook, mpOpen, Timer_Tab, ...), which is how tests find them.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // The discovery endpoint; tests and benchmarks point it at another port.
    discovery::TUDPServer& DiscoveryEndpoint() { return *UDPServer; }
    // The information dialog that Info shows; Info does nothing without one. The caller keeps
    // it alive as long as the window.
    void SetAboutBox(TAboutBox* box) { AboutBox = box; }
    // The printer of Print Table, or nullptr before the first printout.
    const QPrinter* TablePrinter() const { return m_printer.get(); }

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
    void UDPServerUDPRead(discovery::TUDPServer& Sender, discovery::ByteStream& AData,
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
    void mpConnectAddressClick(QObject* Sender);
    void mpExportTableClick(QObject* Sender);
    // Session > Save Output...: what the active session shows, as UTF-8 text, into a file
    // chosen in a dialog (TMainFormExport.cpp).
    void mpSaveOutputClick(QObject* Sender);
    // Opens a session like Connect on a row, without a row: the table is left alone. A host
    // name is looked up off the GUI thread first ("Connecting to HOST ..." in panel 1 till
    // then) and the session opens when it resolves; a newer call drops an older pending one.
    // False when the session could not be started.
    bool OpenAddressSession(const std::string& host);
    // Ctrl+C in the table: the current row, tab-separated, onto the clipboard.
    void CopyDeviceRow();
    // Opens the row menu on the row at position (table viewport coordinates).
    void sgContextMenu(QPoint position);
    // The session notice panel 1 shows now; empty when none.
    QString OutcomeText() const;
    // A test seam: LimitedBroadcastOnly makes Search send the limited broadcast alone.
    void SetSearchScope(discovery::SearchScope scope) { m_searchScope = scope; }

    // Session settings (TMainFormSessionMenu.cpp). Enter and Backspace are what new session
    // tabs start with (the Session menu changes them per tab); the paste settings apply to
    // every session, open ones included. With KeepClosedTabs on, a tab whose session the
    // device ended stays with its screen, captioned "IP (closed)", until Reconnect (or Enter
    // in it) connects it again or Close removes it; a first attempt that fails still takes
    // its tab. All off or at today's bytes by default.
    void SetKeepClosedTabs(bool keep) { m_keepClosedTabs = keep; }
    bool KeepClosedTabs() const { return m_keepClosedTabs; }
    void SetDefaultEnterKey(terminal::EnterKey key) { m_defaultEnterKey = key; }
    void SetDefaultBackspaceKey(terminal::BackspaceKey key) { m_defaultBackspaceKey = key; }
    void SetPasteLineDelay(int ms);
    void SetConfirmMultiLinePaste(bool confirm);
    // Session > Paste and Session > Reconnect, on the active tab.
    void mpPasteClick(QObject* Sender);
    void mpReconnectClick(QObject* Sender);
    // The tab of terminal stays after its session ended and no new one is open.
    bool IsClosedSession(const terminal::TTnEmulT& terminal) const;
    // Remembered state (TMainFormSettings.cpp). Without UseSettings the window keeps what it
    // remembers in memory and reads and writes no file. UseSettings takes the window's size
    // and splitter, the dialogs' folders, the recent addresses and the preferences from
    // settings, applies them, and from then on writes them back when they change and when the
    // window closes. A damaged or unwritable file shows a notice in panel 1, once.
    void UseSettings(std::unique_ptr<Settings> settings);
    const Preferences& CurrentPreferences() const;
    // Edit > Preferences...: the dialog, then SetPreferences with what it returns.
    void mpPreferencesClick(QObject* Sender);
    // Keeps prefs, applies them to every session and writes the settings.
    void SetPreferences(const Preferences& prefs);
    // Gives one session's terminal what the preferences decide: its font and zoom. New
    // sessions get it when their tab is added, open ones when the preferences change.
    void ApplyPreferences(terminal::TTnEmulT& terminal);

    // Several sessions at once (TMainFormMultiSession.cpp). Connect with several rows
    // selected opens a session on each row that Connect allows and counts the others in a
    // notice. With Type into All on, what is typed or pasted into a connected session, and
    // Configuration on one, goes to every connected session, each through its own typed-key
    // path; their tabs are captioned "» IP" and the status bar says how many they are. Off
    // at every start.
    void SetTypeIntoAll(bool on);
    bool TypeIntoAll() const { return m_typeIntoAll; }
    // The sessions typing goes to with Type into All on: the connected ones, in tab order.
    std::vector<terminal::TTnEmulT*> TypingTargets() const;
    // The caption of page index without the marks of Type into All and of scripts.
    QString SessionCaption(int index) const;
    // Session > Run Script... (TMainFormScripts.cpp): asks for a script file, and for a
    // variables table when the script uses more than {Device}, {S/N}, {IP} and {Mac}; a file
    // that cannot be read or used is reported and nothing is sent. The script then runs on the
    // active session, or with Type into All on every connected one, in parallel; each tab
    // shows its progress ("IP [script 3/9]") and a summary lists every device's outcome when
    // all have finished. Stop Script (Escape while a script runs) fails the runs still going.
    void mpRunScriptClick(QObject* Sender);
    void mpStopScriptClick(QObject* Sender);
    bool ScriptRunning() const { return m_scriptBatch != nullptr; }

    // How the window's figures map to the running font (FormScale.h).
    const FormScale& Scale() const { return m_scale; }

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
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
    // Menu, with the additions Connect to Address and Export Table, and Copy Row of the table.
    QMenu* mpFile = nullptr;
    QAction* mpOpen = nullptr;
    QAction* mpLogging = nullptr;
    QAction* mpPrintTable = nullptr;
    QAction* mpConnectAddress = nullptr;
    QAction* mpExportTable = nullptr;
    QAction* N1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* mpSearch = nullptr;
    QAction* mpInfo = nullptr;
    QMenu* mpEdit = nullptr;
    QAction* mpPreferences = nullptr;
    QAction* mpSaveOutput = nullptr;
    QAction* CopyRow = nullptr;
    // A device row's context menu (TMainFormRowMenu.cpp): Connect, Open in Browser, Copy IP,
    // Copy MAC, Copy Row. It selects the row it was opened on.
    QMenu* RowMenu = nullptr;
    // The Session menu: Paste, Enter sends, Backspace sends, Reconnect.
    QMenu* mpSession = nullptr;
    QAction* mpPaste = nullptr;
    QMenu* mpEnterSends = nullptr;
    QAction* mpEnterCrLf = nullptr;
    QAction* mpEnterCr = nullptr;
    QAction* mpEnterLf = nullptr;
    QMenu* mpBackspaceSends = nullptr;
    QAction* mpBackspaceCtrlH = nullptr;
    QAction* mpBackspaceDel = nullptr;
    QAction* mpReconnect = nullptr;
    QAction* mpTypeIntoAll = nullptr;
    QAction* mpRunScript = nullptr;
    QAction* mpStopScript = nullptr;
    // Non-visual parts.
    QTimer* Timer_Tab = nullptr;
    QFileDialog* OpenDialog = nullptr;
    QFileDialog* SaveDialog = nullptr;
    std::unique_ptr<discovery::TUDPServer> UDPServer;
    TAboutBox* AboutBox = nullptr;

    void CreateLayout();
    void CreateTopStrip();
    void CreateLowerPart();
    void CreateMenu();
    void CreateSessionMenu();
    // Checks and enables the Session menu's items for the active tab.
    void UpdateSessionMenu();
    // Gives a new session's terminal the session settings.
    void ApplySessionSettings(terminal::TTnEmulT& terminal);
    // With KeepClosedTabs, keeps the tab of a session that ended instead of removing it;
    // false when the tab is to go as usual.
    bool KeepClosedSession(terminal::TTnEmulT& terminal, int index);
    void ReconnectSession(terminal::TTnEmulT& terminal);
    // Captions the tab "IP (closed)"; Enter in it reconnects.
    void MarkSessionClosed(terminal::TTnEmulT& terminal, int index);
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

    void CreateMultiSessionMenu();
    void ConnectRows(const std::vector<int>& rows);
    // Repeats typed keys and pastes of a connected session into the others.
    void ConnectTypingHooks(terminal::TTnEmulT& terminal);
    bool IsTypingTarget(const terminal::TTnEmulT& terminal) const;
    // With Type into All on and sender among them: act on every other connected session.
    template <typename Act>
    void ForOtherTypingTargets(const terminal::TTnEmulT& sender, Act act) const {
        if (!m_typeIntoAll || !IsTypingTarget(sender)) {
            return;
        }
        for (terminal::TTnEmulT* other : TypingTargets()) {
            if (other != &sender) {
                act(*other);
            }
        }
    }
    // How many sessions a paste into terminal reaches.
    int PasteReach(const terminal::TTnEmulT& terminal) const;
    // Configuration: "#" into terminal, and into every other connected one with Type into All.
    void SendConfiguration(terminal::TTnEmulT& terminal);
    // The caption of page index becomes caption, with the marks it has.
    void SetSessionCaption(int index, const QString& caption);
    // Every tab's marks and the status bar's count of the sessions typed into, as they are now.
    void RefreshSessionCaptions();

    void CreateScriptMenu();
    void UpdateScriptActions();
    // What Run Script runs on: the active session, or every connected one with Type into All.
    std::vector<terminal::TTnEmulT*> ScriptTargets() const;
    // The device of a session from its row; a session without one has its IP alone.
    script::DeviceIdentity SessionDevice(const terminal::TTnEmulT& terminal) const;
    // An open dialog in the script folder (which then remembers the chosen file's folder).
    std::optional<QString> AskScriptFile(const QString& title, const QString& filter);
    void ScriptEnded();
    // "script 3/9" while a script runs on terminal; empty otherwise.
    QString ScriptProgress(const terminal::TTnEmulT* terminal) const;
    // A script's `log on|off`: on logs into a new file of the default name in the log folder.
    void SetScriptLogging(terminal::TTnEmulT& terminal, bool on);

    static bool IsAddressSession(const terminal::TTnEmulT& terminal);
    void NoteAttemptEnded(terminal::TTnEmulT& terminal);
    void NoteSessionEnded(terminal::TTnEmulT& terminal);
    // Shows a session notice in panel 1, bringing the panels back from a hint.
    void ShowOutcome(const QString& text);
    bool OpenResolvedSession(const std::string& host, const std::string& address);
    // A save dialog in folder (which then remembers the chosen file's folder); the file, or
    // nothing when cancelled.
    std::optional<QString> AskSaveFile(const QString& title, const QString& filter,
                                       const QString& suffix, QString& folder,
                                       const QString& suggested);
    // Replaces file with bytes once they are complete; a failure names its cause.
    void WriteFileOrSay(const QString& file, std::string_view bytes);

    void ApplyPreferencesToSessions();
    // Writes the remembered state; a failure is told once.
    void SaveSettings();
    // The folder of file becomes folder, and is written.
    void RememberFolder(QString& folder, const QString& file);
    // Sets dialog's folder to folder when one is remembered.
    static void OfferFolder(QFileDialog& dialog, const QString& folder);
    void ShowSettingsNotice(const QString& text);

    // Made at the first printout; it keeps the choices of the print dialog (and landscape)
    // from one printout to the next.
    std::unique_ptr<QPrinter> m_printer;
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
    bool m_keepClosedTabs = false;
    terminal::EnterKey m_defaultEnterKey = terminal::EnterKey::CrLf;
    terminal::BackspaceKey m_defaultBackspaceKey = terminal::BackspaceKey::ControlH;
    int m_pasteLineDelay = 0;
    bool m_confirmMultiLinePaste = true;
    // Sessions whose tab has been kept once: it stays after every later end too.
    std::vector<QPointer<terminal::TTnEmulT>> m_keptSessions;
    FormScale m_scale{1.0, 1.0};
    std::unique_ptr<Settings> m_settings;
    bool m_settingsNoticeShown = false;
    bool m_typeIntoAll = false;
    // Says "Typing into N sessions" while Type into All is on; made when first needed.
    QLabel* m_typingPanel = nullptr;
    // The script that runs; nullptr when none does.
    ScriptBatch* m_scriptBatch = nullptr;
};

}  // namespace vandrel::app
