// The device table's row context menu.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QUrl>

#include <algorithm>

#include "app/DesktopLinks.h"
#include "app/TMainForm.h"
#include "app/TStringAlignGrid.h"
#include "app/VandrelApplication.h"
#include "app/model/TableExport.h"
#include "discovery/TSocketStack.h"

namespace vandrel::app {

namespace {

QAction* AddRowAction(QMenu* menu, const char* name, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

}  // namespace

void TMainForm::CreateRowMenu() {
    RowMenu = new QMenu(sg);
    RowMenu->setObjectName(QStringLiteral("RowMenu"));
    // Each action works on the current row, which the menu's opening selected; a row that
    // went away meanwhile (a new Search) leaves nothing to act on.
    const auto onRow = [this](auto act) {
        return [this, act] {
            RunGuarded([&] {
                const std::vector<int> listed = ListedDeviceRows(sg->Grid());
                if (std::find(listed.begin(), listed.end(), sg->Row()) != listed.end()) {
                    act(sg->Row());
                }
            });
        };
    };
    const auto copyCell = [this](int col) {
        return [this, col](int row) {
            QApplication::clipboard()->setText(
                QString::fromStdString(EscapedUtf8(sg->Cells(col, row), nullptr)));
        };
    };
    connect(AddRowAction(RowMenu, "RowConnect", QStringLiteral("Connect")), &QAction::triggered,
            this, onRow([this](int) { btnConnectClick(sg); }));
    connect(AddRowAction(RowMenu, "RowOpenInBrowser", QStringLiteral("Open in Browser")),
            &QAction::triggered, this, onRow([this](int row) {
                // The cell comes from the network: only an address makes a link, never a
                // device's text that would point the browser elsewhere.
                const std::string ip = sg->Cells(ColIP, row);
                if (discovery::TSocketStack::IsIP(ip)) {
                    OpenDesktopLink(QUrl(QString::fromStdString("http://" + ip + "/")));
                }
            }));
    connect(AddRowAction(RowMenu, "RowCopyIP", QStringLiteral("Copy IP")), &QAction::triggered,
            this, onRow(copyCell(ColIP)));
    connect(AddRowAction(RowMenu, "RowCopyMac", QStringLiteral("Copy MAC")), &QAction::triggered,
            this, onRow(copyCell(ColMac)));
    connect(AddRowAction(RowMenu, "RowCopyRow", QStringLiteral("Copy Row")), &QAction::triggered,
            this, [this] { RunGuarded([this] { CopyDeviceRow(); }); });
    sg->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(sg, &QWidget::customContextMenuRequested, this,
            [this](QPoint position) { sgContextMenu(position); });
}

void TMainForm::sgContextMenu(QPoint position) {
    // The scroll area reports the position on its viewport.
    const QPoint inGrid = sg->viewport()->mapTo(sg, position);
    int col = -1;
    int row = -1;
    sg->MouseToCell(inGrid, col, row);
    const std::vector<int> listed = ListedDeviceRows(sg->Grid());
    if (std::find(listed.begin(), listed.end(), row) == listed.end()) {
        return;
    }
    sg->SetRow(row);
    RowMenu->popup(sg->viewport()->mapToGlobal(position));
}

}  // namespace vandrel::app
