#include <QAction>
#include <QMetaObject>
#include <QPushButton>
#include <QTimer>

#include <cstdint>

#include "app/MessageDlg.h"
#include "app/TMainForm.h"
#include "app/TStringAlignGrid.h"
#include "app/VandrelApplication.h"
#include "discovery/ByteStream.h"
#include "discovery/TUDPServer.h"
#include "discovery/TUDPSocketHandle.h"
#include "net/HandOver.h"

namespace vandrel::app {

namespace {

// Connects a Qt signal to a handler of the form: the handler's errors go to the default
// error report instead of into Qt's event loop.
template <typename Sender, typename Signal, typename Handler>
void Bind(Sender* sender, Signal signal, TMainForm* form, Handler handler) {
    QObject::connect(sender, signal, form,
                     [form, sender, handler] { RunGuarded([&] { (form->*handler)(sender); }); });
}

}  // namespace

void TMainForm::CreateDiscovery() {
    UDPServer = std::make_unique<discovery::TUDPServer>();
    // Datagrams reach UDPServerUDPRead on the GUI thread, one at a time, in arrival order.
    UDPServer->SetSynchronizer(
        [this](std::function<void()> call) { net::InvokeQueued(this, std::move(call)); });
    UDPServer->OnUDPRead = [this](discovery::TUDPServer& Sender, discovery::ByteStream& AData,
                                  discovery::TUDPSocketHandle& ABinding) {
        UDPServerUDPRead(Sender, AData, ABinding);
    };
}

void TMainForm::ConnectHandlers() {
    Bind(btnSearch, &QPushButton::clicked, this, &TMainForm::btnSearchClick);
    Bind(btnConnect, &QPushButton::clicked, this, &TMainForm::btnConnectClick);
    Bind(btnClose, &QPushButton::clicked, this, &TMainForm::btnCloseClick);
    Bind(btnConfiguration, &QPushButton::clicked, this, &TMainForm::btnConfigurationClick);
    Bind(btnLog, &QPushButton::clicked, this, &TMainForm::btnLogClick);
    Bind(mpOpen, &QAction::triggered, this, &TMainForm::mpOpenClick);
    Bind(mpLogging, &QAction::triggered, this, &TMainForm::btnLogClick);
    Bind(mpPrintTable, &QAction::triggered, this, &TMainForm::mpPrintTableClick);
    Bind(mpConnectAddress, &QAction::triggered, this, &TMainForm::mpConnectAddressClick);
    Bind(mpExportTable, &QAction::triggered, this, &TMainForm::mpExportTableClick);
    Bind(mpPreferences, &QAction::triggered, this, &TMainForm::mpPreferencesClick);
    Bind(mpSaveOutput, &QAction::triggered, this, &TMainForm::mpSaveOutputClick);
    connect(CopyRow, &QAction::triggered, this,
            [this] { RunGuarded([this] { CopyDeviceRow(); }); });
    Bind(Exit1, &QAction::triggered, this, &TMainForm::Exit1Click);
    Bind(mpSearch, &QAction::triggered, this, &TMainForm::btnSearchClick);
    Bind(mpInfo, &QAction::triggered, this, &TMainForm::mpInfoClick);
    Bind(Timer_Tab, &QTimer::timeout, this, &TMainForm::Timer_TabTimer);

    sg->OnDblClick = [this](QObject*) { btnConnectClick(sg); };
    sg->OnMouseDown = [this](QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift,
                             int X, int Y) { sgMouseDown(Sender, Button, Shift, X, Y); };
    sg->SetOnCompareCol(
        [this](int Col, int Row1, int Row2) { return sgCompareCol(sg, Col, Row1, Row2); });
    // sgCompareCol is the cells' byte order, so a sort need not call it per comparison.
    sg->Grid().SetCompareIsByteOrder(true);
    CreateRowMenu();
}

void TMainForm::btnSearchClick(QObject*) {
    ClearDeviceTable();
    m_invalidStringShown = false;
    // The limited broadcast first, as ever, then the other interfaces; only the limited
    // broadcast's failure is reported, once the others have been asked.
    const discovery::SearchReport report = discovery::SendSearch(
        *UDPServer, std::string(1, DiscoveryRequest), DiscoveryPort, m_searchScope);
    ApplicationHint(QString::fromLatin1(discovery::SearchSummary(report.Searched)));
    if (report.LimitedError) {
        std::rethrow_exception(report.LimitedError);
    }
}

void TMainForm::UDPServerUDPRead(discovery::TUDPServer&, discovery::ByteStream& AData,
                                 discovery::TUDPSocketHandle&) {
    const std::size_t size = AData.Size();
    if (size > MaxReplySize) {
        return;
    }
    std::uint8_t buffer[MaxReplySize];
    AData.Read(buffer, size);
    ReplyFrame frame = CheckReplyFrame(buffer, size);
    if (frame.Kind == ReplyKind::Invalid) {
        // One box per Search: a burst of bad replies (while the box is open, or after it)
        // must not bury the window under boxes.
        if (!m_invalidStringShown) {
            m_invalidStringShown = true;
            MessageDlg(this, QString::fromLatin1(InvalidStringText), MessageKind::Error);
        }
    } else if (frame.Kind == ReplyKind::Accept) {
        AddDeviceRow(std::move(frame.Payload));
    }
}

void TMainForm::ClearDeviceTable() {
    app::ClearDeviceTable(sg->Grid());
}

void TMainForm::AddDeviceRow(std::string payload) {
    app::AddDeviceRow(sg->Grid(), std::move(payload));
}

void TMainForm::ResetDeviceStatus(const std::string& ip) {
    if (app::ResetDeviceStatus(sg->Grid(), ip)) {
        SetPanelText(0, QString());
        SetPanelText(1, QString());
    }
}

int TMainForm::sgCompareCol(QObject*, int Col, int Row1, int Row2) {
    try {
        return CompareDeviceCells(sg->Grid(), Col, Row1, Row2);
    } catch (...) {
        return StringGrid::CompareEqual;
    }
}

void TMainForm::sgMouseDown(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int X, int Y) {
    int col = -1;
    int row = -1;
    sg->MouseToCell(QPoint(X, Y), col, row);
    if (row != 0) {
        return;
    }
    sg->SortColumn(col, m_sortState.Click(col));
}

}  // namespace vandrel::app
