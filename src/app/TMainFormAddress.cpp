// Sessions to a typed address, and the status-bar notices that tell how a session attempt
// or a session ended.
#include <QStatusBar>
#include <QTabWidget>

#include <string>

#include "app/AddressDialog.h"
#include "app/HostLookup.h"
#include "app/MessageDlg.h"
#include "app/Settings.h"
#include "app/StatusNotice.h"
#include "app/TMainForm.h"
#include "app/VandrelApplication.h"
#include "app/model/ConnectAddress.h"
#include "discovery/TSocketStack.h"
#include "net/WSocketErrorText.h"
#include "terminal/TTnEmulT.h"

namespace vandrel::app {

using terminal::TTnEmulT;

namespace {

// The Tag of a terminal opened by address: its session has no row in the device table.
constexpr int kAddressSessionTag = 1;

QString ErrorOutcome(const std::string& host, int code) {
    return QString::fromLatin1(host + ": " + net::WSocketErrorText(code) + " (#" +
                               std::to_string(code) + ")");
}

}  // namespace

void TMainForm::mpConnectAddressClick(QObject*) {
    std::vector<std::string>& recent = m_settings->State().RecentAddresses;
    QStringList offered;
    for (const std::string& address : recent) {
        offered.append(QString::fromStdString(address));
    }
    const std::optional<QString> typed = AskConnectAddress(this, m_lastAddress, offered);
    if (!typed) {
        return;
    }
    m_lastAddress = typed->trimmed();
    std::string error;
    const std::string host = CheckConnectAddress(typed->toStdString(), error);
    if (host.empty()) {
        MessageDlg(this, QString::fromStdString(error), MessageKind::Error);
        return;
    }
    RememberAddress(recent, m_lastAddress.toStdString());
    SaveSettings();
    OpenAddressSession(host);
}

bool TMainForm::OpenAddressSession(const std::string& host) {
    // The latest Connect to Address is what the user waits for; an older lookup's answer is
    // dropped when it comes.
    const unsigned lookup = ++m_addressLookups;
    m_lookupHost.clear();
    if (discovery::TSocketStack::IsIP(host)) {
        return OpenResolvedSession(host, host);
    }
    // The resolver may take many seconds or never answer: the window goes on meanwhile.
    m_lookupHost = host;
    m_outcome->Dismiss();
    StatusBar->clearMessage();
    ShowPendingAttempt();
    LookUpHostLater(this, host, [this, host, lookup](const HostLookupResult& result) {
        if (lookup != m_addressLookups) {
            return;
        }
        RunGuarded([&] {
            m_lookupHost.clear();
            ShowPendingAttempt();
            if (result.Error != 0) {
                // A name that does not resolve says so, instead of a tab that vanishes at once.
                ShowOutcome(ErrorOutcome(host, result.Error));
                return;
            }
            OpenResolvedSession(host, result.Addresses.front());
        });
    });
    return true;
}

bool TMainForm::OpenResolvedSession(const std::string& host, const std::string& address) {
    if (!OpenSession(host, address)) {
        ShowOutcome(QString::fromLatin1(host + ": the session could not be started"));
        return false;
    }
    if (TTnEmulT* terminal = SessionTerminal(TabNotebook->currentIndex())) {
        terminal->SetTag(kAddressSessionTag);
    }
    SetPanelText(0, QStringLiteral("Not Logging"));
    SetPanelText(1, QString());
    return true;
}

bool TMainForm::IsAddressSession(const TTnEmulT& terminal) {
    return terminal.Tag() == kAddressSessionTag;
}

void TMainForm::ShowOutcome(const QString& text) {
    // The mouse often still rests on Connect, whose hint would hide the news.
    StatusBar->clearMessage();
    m_outcome->Show(text);
}

QString TMainForm::OutcomeText() const {
    return m_outcome->Notice();
}

void TMainForm::NoteAttemptEnded(TTnEmulT& terminal) {
    if (terminal.Error() != 0) {
        // The closed notification follows within the same event; it must not turn this
        // into "closed by the device".
        m_failedAttempt = &terminal;
        ShowOutcome(ErrorOutcome(terminal.HostName(), terminal.Error()));
    }
}

void TMainForm::NoteSessionEnded(TTnEmulT& terminal) {
    if (m_failedAttempt == &terminal) {
        return;
    }
    const std::string& host = terminal.HostName();
    ShowOutcome(terminal.Error() != 0 ? ErrorOutcome(host, terminal.Error())
                                      : QString::fromLatin1(host + ": closed by the device"));
}

}  // namespace vandrel::app
