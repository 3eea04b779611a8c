// Session tabs: Connect, Close, Configuration and the terminals' connected and closed
// notifications.
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/StatusNotice.h"
#include "app/TMainForm.h"
#include "app/TStringAlignGrid.h"
#include "app/VandrelApplication.h"
#include "app/model/DeviceTable.h"
#include "app/model/SessionRows.h"
#include "terminal/TTnEmulT.h"

namespace vandrel::app {

using namespace terminal;

namespace {

constexpr EmulTColor kBlack = 0x000000;
constexpr EmulTColor kWhite = 0xFFFFFF;
constexpr int kSessionRows = 64;

}  // namespace

void TMainForm::ConnectSessionHandlers() {
    // Also set when the window is shown; set here too so that a failed show leaves them usable.
    SetLogFileDialogs();
    // Qt reports the change after it happened; the refresh waits 200 ms either way.
    connect(TabNotebook, &QTabWidget::currentChanged, this, [this](int index) {
        RunGuarded([&] {
            bool allowChange = true;
            TabNotebookChange(TabNotebook, index, allowChange);
            ShowPendingAttempt();
        });
    });
}

void TMainForm::btnConnectClick(QObject*) {
    if (const std::vector<int> selected = sg->SelectedRows(); selected.size() > 1) {
        ConnectRows(selected);
        return;
    }
    const int row = sg->Row();
    if (!CanConnectRow(sg->Grid(), row)) {
        return;
    }
    OpenSession(sg->Cells(ColIP, row));
    SetPanelText(0, QStringLiteral("Not Logging"));
    SetPanelText(1, QString());
}

TTnEmulT* TMainForm::AddSessionTab(const std::string& ip) {
    auto* page = new QWidget();
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    const int index = TabNotebook->addTab(page, QString::fromLatin1(ip));
    TabNotebook->setCurrentIndex(index);

    TTnEmulT* terminal = nullptr;
    try {
        terminal = new TTnEmulT(page);
        layout->addWidget(terminal);  // fills the page
        terminal->SetFontColor(kBlack);
        terminal->SetColor(kWhite);
        terminal->move(0, 0);
        terminal->SetRows(kSessionRows);
        terminal->SetLogName(SessionLogName(ip));
        terminal->SetLog(false);
        ApplySessionSettings(*terminal);
    } catch (...) {
        // Reported by the caller's error report; no tab stays behind without a terminal.
        delete terminal;
        RemoveSessionPage(TabNotebook->indexOf(page), false);
        throw;
    }
    ApplyPreferences(*terminal);
    terminal->OnSessionConnected = [this](TTnEmulT& Sender) {
        RunGuarded([&] { MarkSessionConnected(&Sender); });
    };
    terminal->OnSessionClosed = [this](TTnEmulT& Sender) {
        RunGuarded([&] { RemoveSessionTab(&Sender); });
    };
    terminal->OnLogError = [this](TTnEmulT& Sender, const EInOutError& E) {
        RunGuarded([&] { SessionLogFailed(Sender, E); });
    };
    return terminal;
}

bool TMainForm::OpenSession(const std::string& ip, const std::string& address) {
    TTnEmulT* terminal = AddSessionTab(ip);
    terminal->SetAddress(address);
    try {
        terminal->Disconnect();
        terminal->SetHostName(ip);
        terminal->Connect();
    } catch (...) {
        // A host the socket layer rejects at once: no message, and no empty tab either.
        QWidget* page = terminal->parentWidget();
        delete terminal;
        RemoveSessionPage(TabNotebook->indexOf(page), false);
        return false;
    }
    // A new attempt is the news now: an older notice and the hint of the mouse still
    // resting on Connect would hide that it waits.
    m_outcome->Dismiss();
    StatusBar->clearMessage();
    ShowPendingAttempt();
    return true;
}

void TMainForm::MarkSessionConnected(QObject* Sender) {
    if (auto* terminal = qobject_cast<TTnEmulT*>(Sender)) {
        NoteAttemptEnded(*terminal);
        ShowPendingAttempt();
        // The session's own device row, wherever the selection has moved meanwhile.
        if (!IsAddressSession(*terminal)) {
            MarkDeviceConnected(sg->Grid(), terminal->HostName());
        }
        RefreshSessionCaptions();
        return;
    }
    // Without a session to ask, only the selection is left to go by.
    app::MarkSessionConnected(sg->Grid());
}

void TMainForm::RemoveSessionTab(QObject* Sender) {
    auto* terminal = qobject_cast<TTnEmulT*>(Sender);
    if (terminal == nullptr) {
        return;
    }
    const std::string ip = terminal->HostName();
    // The tab that holds this terminal, not the first one with the same caption: two
    // sessions to one device close independently.
    const int index = SessionPageIndex(terminal);
    if (index < 0 || KeepClosedSession(*terminal, index)) {
        return;
    }
    terminal->OnSessionConnected = nullptr;
    terminal->OnSessionClosed = nullptr;
    NoteSessionEnded(*terminal);
    const bool hasRow = !IsAddressSession(*terminal);
    // The closing tab becomes active first, so the first remaining one follows it.
    TabNotebook->setCurrentIndex(index);
    // This runs inside the terminal's own notification: the terminal, its connection and
    // socket go only after the socket layer has finished delivering it.
    RemoveSessionPage(index, true);
    if (hasRow) {
        ResetDeviceStatus(ip);
    }
}

void TMainForm::btnCloseClick(QObject*) {
    const int index = TabNotebook->currentIndex();
    if (index < 0) {
        return;
    }
    const std::string ip = SessionCaption(index).toLatin1().toStdString();
    bool hasRow = true;
    if (TTnEmulT* terminal = SessionTerminal(index)) {
        terminal->OnSessionConnected = nullptr;
        terminal->OnSessionClosed = nullptr;
        hasRow = !IsAddressSession(*terminal);
    }
    RemoveSessionPage(index, false);
    if (hasRow) {
        ResetDeviceStatus(ip);
    }
}

void TMainForm::btnConfigurationClick(QObject*) {
    TTnEmulT* terminal = SessionTerminal(TabNotebook->currentIndex());
    if (terminal == nullptr) {
        return;
    }
    terminal->setFocus(Qt::OtherFocusReason);
    SendConfiguration(*terminal);
}

TTnEmulT* TMainForm::SessionTerminal(int index) const {
    QWidget* page = index >= 0 ? TabNotebook->widget(index) : nullptr;
    if (page == nullptr) {
        return nullptr;
    }
    return page->findChild<TTnEmulT*>(QString(), Qt::FindDirectChildrenOnly);
}

void TMainForm::SetPendingText(const QString& text) {
    m_outcome->SetPending(text);
}

void TMainForm::ShowPendingAttempt() {
    const TTnEmulT* terminal = SessionTerminal(TabNotebook->currentIndex());
    // A Connect to Address whose name is still being looked up opens a tab of its own.
    const std::string& waiting =
        terminal != nullptr && terminal->Connecting() ? terminal->HostName() : m_lookupHost;
    SetPendingText(waiting.empty()
                       ? QString()
                       : QStringLiteral("Connecting to %1 ...").arg(QString::fromLatin1(waiting)));
}

int TMainForm::SessionPageIndex(const TTnEmulT* terminal) const {
    for (int i = 0; i < TabNotebook->count(); ++i) {
        if (SessionTerminal(i) == terminal) {
            return i;
        }
    }
    return -1;
}

void TMainForm::RemoveSessionPage(int index, bool deferDelete) {
    QWidget* page = TabNotebook->widget(index);
    if (page == nullptr) {
        return;
    }
    // Deleting the active page makes the first remaining page active.
    if (index == TabNotebook->currentIndex() && TabNotebook->count() > 1) {
        TabNotebook->setCurrentIndex(index == 0 ? 1 : 0);
    }
    TabNotebook->removeTab(index);
    page->hide();
    if (deferDelete) {
        page->deleteLater();
    } else {
        delete page;
    }
    RefreshSessionCaptions();
}

}  // namespace vandrel::app
