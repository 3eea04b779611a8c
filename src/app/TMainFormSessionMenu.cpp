// The Session menu (Paste, Enter sends, Backspace sends, Reconnect), the session settings,
// and the tabs that stay after their device ended the session.
#include <QAction>
#include <QActionGroup>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabWidget>

#include <algorithm>

#include "app/MessageDlg.h"
#include "app/StatusNotice.h"
#include "app/TMainForm.h"
#include "app/VandrelApplication.h"
#include "terminal/TTnEmulT.h"

namespace vandrel::app {

using terminal::BackspaceKey;
using terminal::EnterKey;
using terminal::TTnEmulT;

namespace {

const QString kClosedMark = QStringLiteral(" (closed)");

QAction* Choice(QMenu* menu, QActionGroup* group, const char* name, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    action->setCheckable(true);
    group->addAction(action);
    return action;
}

bool Contains(const std::vector<QPointer<TTnEmulT>>& sessions, const TTnEmulT& terminal) {
    return std::any_of(sessions.begin(), sessions.end(),
                       [&](const QPointer<TTnEmulT>& t) { return t.data() == &terminal; });
}

}  // namespace

void TMainForm::CreateSessionMenu() {
    mpSession = menuBar()->addMenu(QStringLiteral("S&ession"));
    mpSession->setObjectName(QStringLiteral("mpSession"));
    // The terminal takes these keys itself; the menu only names them.
    mpPaste = mpSession->addAction(QStringLiteral("&Paste\tCtrl+Shift+V"));
    mpPaste->setObjectName(QStringLiteral("mpPaste"));
    mpPaste->setStatusTip(QStringLiteral("Send the clipboard's text into the session"));

    mpEnterSends = mpSession->addMenu(QStringLiteral("&Enter sends"));
    mpEnterSends->setObjectName(QStringLiteral("mpEnterSends"));
    auto* enterGroup = new QActionGroup(mpEnterSends);
    mpEnterCrLf = Choice(mpEnterSends, enterGroup, "mpEnterCrLf", QStringLiteral("CR LF"));
    mpEnterCr = Choice(mpEnterSends, enterGroup, "mpEnterCr", QStringLiteral("CR"));
    mpEnterLf = Choice(mpEnterSends, enterGroup, "mpEnterLf", QStringLiteral("LF"));

    mpBackspaceSends = mpSession->addMenu(QStringLiteral("&Backspace sends"));
    mpBackspaceSends->setObjectName(QStringLiteral("mpBackspaceSends"));
    auto* backspaceGroup = new QActionGroup(mpBackspaceSends);
    mpBackspaceCtrlH =
        Choice(mpBackspaceSends, backspaceGroup, "mpBackspaceCtrlH", QStringLiteral("^H"));
    mpBackspaceDel =
        Choice(mpBackspaceSends, backspaceGroup, "mpBackspaceDel", QStringLiteral("DEL"));

    mpSession->addSeparator();
    mpReconnect = mpSession->addAction(QStringLiteral("&Reconnect"));
    mpReconnect->setObjectName(QStringLiteral("mpReconnect"));
    mpReconnect->setStatusTip(QStringLiteral("Connect this closed session again in its tab"));
    mpSession->addSeparator();
    mpSaveOutput = mpSession->addAction(QStringLiteral("Save &Output..."));
    mpSaveOutput->setObjectName(QStringLiteral("mpSaveOutput"));
    mpSaveOutput->setStatusTip(QStringLiteral("Save what the session shows as a text file"));
    CreateMultiSessionMenu();

    connect(mpPaste, &QAction::triggered, this,
            [this] { RunGuarded([this] { mpPasteClick(mpPaste); }); });
    connect(mpReconnect, &QAction::triggered, this,
            [this] { RunGuarded([this] { mpReconnectClick(mpReconnect); }); });
    const auto setEnter = [this](EnterKey key) {
        if (TTnEmulT* terminal = SessionTerminal(TabNotebook->currentIndex())) {
            terminal->SetEnterKey(key);
        }
    };
    connect(mpEnterCrLf, &QAction::triggered, this, [setEnter] { setEnter(EnterKey::CrLf); });
    connect(mpEnterCr, &QAction::triggered, this, [setEnter] { setEnter(EnterKey::Cr); });
    connect(mpEnterLf, &QAction::triggered, this, [setEnter] { setEnter(EnterKey::Lf); });
    const auto setBackspace = [this](BackspaceKey key) {
        if (TTnEmulT* terminal = SessionTerminal(TabNotebook->currentIndex())) {
            terminal->SetBackspaceKey(key);
        }
    };
    connect(mpBackspaceCtrlH, &QAction::triggered, this,
            [setBackspace] { setBackspace(BackspaceKey::ControlH); });
    connect(mpBackspaceDel, &QAction::triggered, this,
            [setBackspace] { setBackspace(BackspaceKey::Delete); });

    connect(mpSession, &QMenu::aboutToShow, this, [this] { UpdateSessionMenu(); });
    connect(TabNotebook, &QTabWidget::currentChanged, this, [this] { UpdateSessionMenu(); });
    UpdateSessionMenu();
}

void TMainForm::UpdateSessionMenu() {
    const TTnEmulT* terminal = SessionTerminal(TabNotebook->currentIndex());
    for (QAction* action :
         {mpPaste, mpSaveOutput, mpEnterSends->menuAction(), mpBackspaceSends->menuAction()}) {
        action->setEnabled(terminal != nullptr);
    }
    mpReconnect->setEnabled(terminal != nullptr && IsClosedSession(*terminal));
    const EnterKey enter = terminal ? terminal->EnterSends() : m_defaultEnterKey;
    mpEnterCrLf->setChecked(enter == EnterKey::CrLf);
    mpEnterCr->setChecked(enter == EnterKey::Cr);
    mpEnterLf->setChecked(enter == EnterKey::Lf);
    const BackspaceKey backspace = terminal ? terminal->BackspaceSends() : m_defaultBackspaceKey;
    mpBackspaceCtrlH->setChecked(backspace == BackspaceKey::ControlH);
    mpBackspaceDel->setChecked(backspace == BackspaceKey::Delete);
}

void TMainForm::SetPasteLineDelay(int ms) {
    m_pasteLineDelay = ms;
    for (TTnEmulT* terminal : TabNotebook->findChildren<TTnEmulT*>()) {
        terminal->SetPasteLineDelay(ms);
    }
}

void TMainForm::SetConfirmMultiLinePaste(bool confirm) {
    m_confirmMultiLinePaste = confirm;
    for (TTnEmulT* terminal : TabNotebook->findChildren<TTnEmulT*>()) {
        terminal->SetConfirmMultiLinePaste(confirm);
    }
}

void TMainForm::ApplySessionSettings(TTnEmulT& terminal) {
    terminal.SetEnterKey(m_defaultEnterKey);
    terminal.SetBackspaceKey(m_defaultBackspaceKey);
    terminal.SetPasteLineDelay(m_pasteLineDelay);
    terminal.SetConfirmMultiLinePaste(m_confirmMultiLinePaste);
    terminal.OnConfirmPaste = [this](TTnEmulT& Sender, int lines) {
        const int sessions = PasteReach(Sender);
        const QString question =
            sessions > 1
                ? QStringLiteral("Paste %1 lines into %2 sessions?").arg(lines).arg(sessions)
                : QStringLiteral("Paste %1 lines into the session?").arg(lines);
        return MessageDlg(this, question, MessageKind::Confirmation) == MessageAnswer::Yes;
    };
    ConnectTypingHooks(terminal);
}

void TMainForm::mpPasteClick(QObject*) {
    TTnEmulT* terminal = SessionTerminal(TabNotebook->currentIndex());
    if (terminal == nullptr) {
        return;
    }
    terminal->setFocus(Qt::OtherFocusReason);
    terminal->PasteText(QGuiApplication::clipboard()->text(QClipboard::Clipboard));
}

void TMainForm::mpReconnectClick(QObject*) {
    TTnEmulT* terminal = SessionTerminal(TabNotebook->currentIndex());
    if (terminal != nullptr && IsClosedSession(*terminal)) {
        ReconnectSession(*terminal);
    }
}

bool TMainForm::IsClosedSession(const TTnEmulT& terminal) const {
    return Contains(m_keptSessions, terminal) && !terminal.SessionOpen();
}

bool TMainForm::KeepClosedSession(TTnEmulT& terminal, int index) {
    std::erase_if(m_keptSessions, [](const QPointer<TTnEmulT>& t) { return t.isNull(); });
    const bool kept = Contains(m_keptSessions, terminal);
    // A first attempt that fails leaves no tab, as without the setting; a tab kept once
    // stays through failed reconnections.
    if (!kept && (!m_keepClosedTabs || m_failedAttempt == &terminal)) {
        return false;
    }
    if (!kept) {
        m_keptSessions.emplace_back(&terminal);
    }
    NoteSessionEnded(terminal);
    // The caption names no row now, so Close, which goes by the caption, leaves the row as
    // it is after this reset.
    MarkSessionClosed(terminal, index);
    if (!IsAddressSession(terminal)) {
        ResetDeviceStatus(terminal.HostName());
    }
    ShowPendingAttempt();
    UpdateSessionMenu();
    return true;
}

void TMainForm::MarkSessionClosed(TTnEmulT& terminal, int index) {
    SetSessionCaption(index, QString::fromLatin1(terminal.HostName()) + kClosedMark);
    terminal.OnEnterWhileClosed = [this](TTnEmulT& Sender) {
        RunGuarded([&] { ReconnectSession(Sender); });
    };
}

void TMainForm::ReconnectSession(TTnEmulT& terminal) {
    const int index = SessionPageIndex(&terminal);
    if (index < 0) {
        return;
    }
    if (m_failedAttempt == &terminal) {
        m_failedAttempt = nullptr;  // this attempt's own end is news again
    }
    terminal.OnEnterWhileClosed = nullptr;
    SetSessionCaption(index, QString::fromLatin1(terminal.HostName()));
    try {
        terminal.Reconnect();
    } catch (...) {
        // A host the socket layer rejects at once: the tab stays closed and says why.
        MarkSessionClosed(terminal, index);
        ShowOutcome(
            QString::fromLatin1(terminal.HostName() + ": the session could not be started"));
        return;
    }
    m_outcome->Dismiss();
    StatusBar->clearMessage();
    if (index == TabNotebook->currentIndex()) {
        SetLogStatus(terminal.Log(), terminal.LogName());  // as a Connect shows it
    }
    ShowPendingAttempt();
    UpdateSessionMenu();
}

}  // namespace vandrel::app
