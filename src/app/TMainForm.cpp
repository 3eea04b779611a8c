#include "app/TMainForm.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QPrinter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabWidget>

#include "app/HostLookup.h"
#include "app/Settings.h"
#include "app/StatusNotice.h"
#include "app/TStringAlignGrid.h"
#include "app/VandrelApplication.h"
#include "discovery/GetLocalInterfaces.h"
#include "discovery/LocalAddress.h"
#include "discovery/TSocketStack.h"
#include "discovery/TUDPServer.h"

namespace vandrel::app {

TMainForm::TMainForm(QWidget* parent)
    : QMainWindow(parent), m_settings(std::make_unique<Settings>()) {
    CreateLayout();
    CreateDiscovery();
    ConnectHandlers();
    FormCreate(this);
    // After the placeholder page is gone: that removal is no tab change of a session.
    ConnectSessionHandlers();
}

TMainForm::~TMainForm() {
    // End the listener before any control it reports to goes away.
    UDPServer.reset();
    // Session pages destroyed with the notebook are no tab change for this window any more.
    disconnect(TabNotebook, nullptr, this, nullptr);
}

void TMainForm::FormCreate(QObject*) {
    UDPServer->SetDefaultPort(DiscoveryPort);
    // The form's placeholder page; sessions add their own pages.
    while (TabNotebook->count() > 0) {
        QWidget* page = TabNotebook->widget(0);
        TabNotebook->removeTab(0);
        delete page;
    }
    m_hintHookInstalled = true;
}

void TMainForm::FormShow(QObject*) {
    ClearDeviceTable();
    std::vector<discovery::InterfaceInfo> interfaces;
    discovery::QueryLocalInterfaces(interfaces);
    const auto showLocalAddress = [this,
                                   interfaces](const std::vector<std::string>& hostAddresses) {
        const std::string localIP = discovery::ChooseLocalAddress(hostAddresses, interfaces);
        lb_localIP->setText(QString::fromLatin1(localIP));
        lb_localMask->setText(QString::fromLatin1(discovery::NetmaskFromInterfaceList(
            discovery::FormatInterfaceList(interfaces), localIP)));
    };
    // The interface list answers at once; the host name may take the resolver long or never
    // resolve, so it is looked up off the GUI thread and corrects Local IP when it answers.
    showLocalAddress({});
    const std::string hostName = discovery::TSocketStack::HostName();
    LookUpHostLater(this, hostName,
                    [this, hostName, interfaces, showLocalAddress](const HostLookupResult& result) {
                        RunGuarded([&] {
                            showLocalAddress(result.Addresses);
                            if (result.Error != 0) {
                                ShowOutcome(QString::fromLatin1(
                                    discovery::UnresolvedHostNotice(hostName, interfaces)));
                            }
                        });
                    });
    SetLogFileDialogs();
    UDPServer->SetActive(true);
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!event->spontaneous()) {
        RunGuarded([this] { FormShow(this); });
    }
}

bool TMainForm::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip && m_hintHookInstalled) {
        ApplicationHint(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

void TMainForm::ApplicationHint(const QString& hint) {
    if (!hint.isEmpty()) {
        StatusBar->showMessage(hint);
    } else {
        StatusBar->clearMessage();
    }
}

QString TMainForm::PanelText(int panel) const {
    if (panel == 1) {
        return m_outcome->Text();
    }
    return panel == 0 ? m_panels[0]->text() : QString();
}

void TMainForm::SetPanelText(int panel, const QString& text) {
    if (panel == 1) {
        m_outcome->SetText(text);
    } else if (panel == 0) {
        m_panels[0]->setText(text);
    }
}

bool TMainForm::SimplePanel() const {
    return !StatusBar->currentMessage().isEmpty();
}

QString TMainForm::SimpleText() const {
    return StatusBar->currentMessage();
}

void TMainForm::Exit1Click(QObject*) {
    close();
}

}  // namespace vandrel::app
