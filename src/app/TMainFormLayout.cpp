#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include "app/StatusNotice.h"
#include "app/TMainForm.h"
#include "app/TStringAlignGrid.h"
#include "app/UiFonts.h"

namespace vandrel::app {

namespace {

constexpr int kSidePanelWidth = 138;
constexpr int kTopPanelHeight = 129;

// A hint "tool tip|status text": the part before "|" is the tool tip, the part after it
// the status-bar text (the whole hint for both when there is no "|").
void SetHint(QWidget* widget, const QString& hint) {
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    widget->setToolTip(bar < 0 ? hint : hint.left(bar));
    widget->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

QPushButton* Button(QWidget* parent, const char* name, const QString& caption, int left, int top,
                    const QString& hint) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(left, top, 75, 25);
    SetHint(button, hint);
    return button;
}

QLabel* CentredLabel(QWidget* parent, const char* name, const QString& caption, int top,
                     bool bold) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    label->setGeometry(0, top, kSidePanelWidth, 16);
    if (bold) {
        label->setFont(FormBoldFont());
    }
    return label;
}

}  // namespace

void TMainForm::CreateLayout() {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Vandrel"));
    setFont(FormFont());
    setGeometry(193, 114, 700, 600);
    if (!QApplication::windowIcon().isNull()) {
        setWindowIcon(QApplication::windowIcon());
    }

    Splitter1 = new QSplitter(Qt::Vertical, this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);
    setCentralWidget(Splitter1);
    CreateTopStrip();
    CreateLowerPart();
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({kTopPanelHeight, 600 - kTopPanelHeight});
    CreateMenu();
    CreateStatusBar();

    Timer_Tab = new QTimer(this);
    Timer_Tab->setObjectName(QStringLiteral("Timer_Tab"));
    Timer_Tab->setSingleShot(true);
    Timer_Tab->setInterval(200);
    OpenDialog = new QFileDialog(this);
    OpenDialog->setObjectName(QStringLiteral("OpenDialog"));
    OpenDialog->setDefaultSuffix(QStringLiteral("txt"));
    SaveDialog = new QFileDialog(this);
    SaveDialog->setObjectName(QStringLiteral("SaveDialog"));
    SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    SaveDialog->setSizeGripEnabled(true);
}

void TMainForm::CreateTopStrip() {
    topPanel = new QWidget(Splitter1);
    topPanel->setObjectName(QStringLiteral("topPanel"));
    auto* layout = new QHBoxLayout(topPanel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    sg = new TStringAlignGrid(DeviceColumns, topPanel);
    sg->setObjectName(QStringLiteral("sg"));
    // Only while the table has the focus: in a session Ctrl+C belongs to the device.
    CopyRow = new QAction(QStringLiteral("Copy Row"), sg);
    CopyRow->setObjectName(QStringLiteral("CopyRow"));
    CopyRow->setShortcut(QKeySequence::Copy);
    CopyRow->setShortcutContext(Qt::WidgetShortcut);
    sg->addAction(CopyRow);
    for (int c = 0; c < DeviceColumns; ++c) {
        sg->SetCells(c, 0, DeviceHeaders[c]);
    }
    layout->addWidget(sg, 1);

    Panel_t_r = new QWidget(topPanel);
    Panel_t_r->setObjectName(QStringLiteral("Panel_t_r"));
    Panel_t_r->setFixedWidth(kSidePanelWidth);
    layout->addWidget(Panel_t_r);
    btnSearch = Button(Panel_t_r, "btnSearch", QStringLiteral("Search"), 32, 24,
                       QStringLiteral("Search|Search Devices in Subnet"));
    btnConnect = Button(Panel_t_r, "btnConnect", QStringLiteral("Connect"), 32, 56,
                        QStringLiteral("Connect|Connect Device with Telnet"));
    Label1 = new QLabel(QStringLiteral("   "), Panel_t_r);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(32, 88, 75, 16);
}

void TMainForm::CreateLowerPart() {
    auto* lower = new QWidget(Splitter1);
    lower->setObjectName(QStringLiteral("lowerPanel"));
    auto* layout = new QHBoxLayout(lower);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    TabNotebook = new QTabWidget(lower);
    TabNotebook->setObjectName(QStringLiteral("TabNotebook"));
    TabNotebook->tabBar()->setFont(FormBoldFont());
    TabNotebook->addTab(new QWidget(), QStringLiteral("Vorgabe"));
    layout->addWidget(TabNotebook, 1);

    Panel_r = new QWidget(lower);
    Panel_r->setObjectName(QStringLiteral("Panel_r"));
    Panel_r->setFixedWidth(kSidePanelWidth);
    layout->addWidget(Panel_r);
    Label2 = CentredLabel(Panel_r, "Label2", QStringLiteral("Local IP"), 8, true);
    lb_localIP = CentredLabel(Panel_r, "lb_localIP", QStringLiteral("?"), 26, false);
    Label3 = CentredLabel(Panel_r, "Label3", QStringLiteral("Local Netmask"), 48, true);
    lb_localMask = CentredLabel(Panel_r, "lb_localMask", QStringLiteral("?"), 66, false);
    btnClose = Button(Panel_r, "btnClose", QStringLiteral("Close"), 32, 96,
                      QStringLiteral("Close|Close this Telnet Connection"));
    btnConfiguration = Button(Panel_r, "btnConfiguration", QStringLiteral("Configuration"), 32, 128,
                              QStringLiteral("Configuration|Start IP Configuration"));
    btnLog = Button(Panel_r, "btnLog", QStringLiteral("Logging"), 32, 160,
                    QStringLiteral("Log|Toggle Data Logging"));
}

void TMainForm::CreateMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    mpFile = bar->addMenu(QStringLiteral("&File"));
    mpFile->setObjectName(QStringLiteral("mpFile"));
    mpOpen = mpFile->addAction(QStringLiteral("&Open"));
    mpOpen->setObjectName(QStringLiteral("mpOpen"));
    mpLogging = mpFile->addAction(QStringLiteral("&Logging"));
    mpLogging->setObjectName(QStringLiteral("mpLogging"));
    mpPrintTable = mpFile->addAction(QStringLiteral("&Print Table"));
    mpPrintTable->setObjectName(QStringLiteral("mpPrintTable"));
    mpConnectAddress = mpFile->addAction(QStringLiteral("Connect to &Address..."));
    mpConnectAddress->setObjectName(QStringLiteral("mpConnectAddress"));
    mpConnectAddress->setStatusTip(QStringLiteral("Open a Telnet session to a typed address"));
    mpExportTable = mpFile->addAction(QStringLiteral("&Export Table..."));
    mpExportTable->setObjectName(QStringLiteral("mpExportTable"));
    mpExportTable->setStatusTip(QStringLiteral("Save the device table as a CSV file"));
    N1 = mpFile->addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    Exit1 = mpFile->addAction(QStringLiteral("E&xit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));
    Exit1->setStatusTip(QStringLiteral("Exit program"));
    mpSearch = bar->addAction(QStringLiteral("&Search"));
    mpSearch->setObjectName(QStringLiteral("mpSearch"));
    mpInfo = bar->addAction(QStringLiteral("&Info"));
    mpInfo->setObjectName(QStringLiteral("mpInfo"));
}

void TMainForm::CreateStatusBar() {
    StatusBar = statusBar();
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(false);
    const int widths[2] = {100, 500};
    for (int i = 0; i < 2; ++i) {
        m_panels[i] = new QLabel(StatusBar);
        m_panels[i]->setObjectName(QStringLiteral("StatusBarPanel%1").arg(i));
        m_panels[i]->setFixedWidth(widths[i]);
        m_panels[i]->setFrameShape(QFrame::Panel);
        m_panels[i]->setFrameShadow(QFrame::Sunken);
        StatusBar->addWidget(m_panels[i]);
    }
    m_outcome = new StatusNotice(m_panels[1], std::chrono::seconds(5), this);
}

}  // namespace vandrel::app
