#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpacerItem>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "app/FormScale.h"
#include "app/StatusNotice.h"
#include "app/TMainForm.h"
#include "app/TStringAlignGrid.h"
#include "app/UiFonts.h"
#include "app/model/DeviceTable.h"
#include "terminal/TEmulT.h"

namespace vandrel::app {

namespace {

// The window's figures where it was drawn (FormScale maps them to the running font).
constexpr int kWindowLeft = 193;
constexpr int kWindowTop = 114;
constexpr int kWindowWidth = 700;
constexpr int kWindowHeight = 600;
constexpr int kSidePanelWidth = 138;
constexpr int kTopPanelHeight = 129;
constexpr int kButtonLeft = 32;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kLabelHeight = 16;
// A device's screen, which a session tab shows whole when the window opens.
constexpr int kScreenColumns = 80;
constexpr int kScreenRows = 24;

// A hint "tool tip|status text": the part before "|" is the tool tip, the part after it
// the status-bar text (the whole hint for both when there is no "|").
void SetHint(QWidget* widget, const QString& hint) {
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    widget->setToolTip(bar < 0 ? hint : hint.left(bar));
    widget->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

QPushButton* Button(QWidget* parent, const FormScale& scale, const char* name,
                    const QString& caption, int top, const QString& hint) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(scale.Rect(kButtonLeft, top, kButtonWidth, kButtonHeight));
    SetHint(button, hint);
    return button;
}

QLabel* CentredLabel(QWidget* parent, const FormScale& scale, const char* name,
                     const QString& caption, int top, bool bold) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    label->setGeometry(0, scale.Y(top), scale.X(kSidePanelWidth), scale.Y(kLabelHeight));
    if (bold) {
        label->setFont(FormBoldFont());
    }
    return label;
}

// The notebook size that shows a session's whole screen: the page holds the terminal with
// its frame and the vertical scroll bar of a session's longer grid.
QSize NotebookSizeForScreen(QTabWidget& notebook, QWidget& page) {
    terminal::TEmulT probe;
    probe.SetColumns(kScreenColumns);
    probe.SetRows(kScreenRows);
    const QSize terminalSize =
        probe.sizeHint() + QSize(probe.verticalScrollBar()->sizeHint().width(), 0);
    auto* layout = new QVBoxLayout(&page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addItem(new QSpacerItem(terminalSize.width(), terminalSize.height(), QSizePolicy::Fixed,
                                    QSizePolicy::Fixed));
    const QSize size = notebook.sizeHint();
    delete layout;
    return size;
}

// The frame the window manager puts around the window is known only once the window is
// shown. The style's title bar and frame stand in for it, the title bar growing with the
// desktop font as the window's own figures do.
QMargins EstimatedFrameMargins(const QWidget& window, const FormScale& scale) {
    const QStyle* style = window.style();
    const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, &window);
    const int titleBar = style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window);
    return {border, border + std::max(titleBar, scale.Y(titleBar)), border, border};
}

}  // namespace

void TMainForm::CreateLayout() {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Vandrel"));
    setFont(FormFont());
    m_scale = FormScale(font());
    if (!QApplication::windowIcon().isNull()) {
        setWindowIcon(QApplication::windowIcon());
    }

    Splitter1 = new QSplitter(Qt::Vertical, this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(m_scale.Y(3));
    Splitter1->setChildrenCollapsible(false);
    setCentralWidget(Splitter1);
    CreateTopStrip();
    CreateLowerPart();
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    CreateMenu();
    CreateStatusBar();
    FitLayout();

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
    layout->addWidget(Panel_t_r);
    btnSearch = Button(Panel_t_r, m_scale, "btnSearch", QStringLiteral("Search"), 24,
                       QStringLiteral("Search|Search Devices in Subnet"));
    btnConnect = Button(Panel_t_r, m_scale, "btnConnect", QStringLiteral("Connect"), 56,
                        QStringLiteral("Connect|Connect Device with Telnet"));
    Label1 = new QLabel(QStringLiteral("   "), Panel_t_r);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(m_scale.Rect(kButtonLeft, 88, kButtonWidth, kLabelHeight));
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
    layout->addWidget(Panel_r);
    Label2 = CentredLabel(Panel_r, m_scale, "Label2", QStringLiteral("Local IP"), 8, true);
    lb_localIP = CentredLabel(Panel_r, m_scale, "lb_localIP", QStringLiteral("?"), 26, false);
    Label3 = CentredLabel(Panel_r, m_scale, "Label3", QStringLiteral("Local Netmask"), 48, true);
    lb_localMask = CentredLabel(Panel_r, m_scale, "lb_localMask", QStringLiteral("?"), 66, false);
    btnClose = Button(Panel_r, m_scale, "btnClose", QStringLiteral("Close"), 96,
                      QStringLiteral("Close|Close this Telnet Connection"));
    btnConfiguration = Button(Panel_r, m_scale, "btnConfiguration", QStringLiteral("Configuration"),
                              128, QStringLiteral("Configuration|Start IP Configuration"));
    btnLog = Button(Panel_r, m_scale, "btnLog", QStringLiteral("Logging"), 160,
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
    // The additions come after the menu bar's own items.
    mpEdit = bar->addMenu(QStringLiteral("&Edit"));
    mpEdit->setObjectName(QStringLiteral("mpEdit"));
    mpPreferences = mpEdit->addAction(QStringLiteral("&Preferences..."));
    mpPreferences->setObjectName(QStringLiteral("mpPreferences"));
    mpPreferences->setStatusTip(QStringLiteral("Change the session settings"));
    CreateSessionMenu();
}

void TMainForm::CreateStatusBar() {
    StatusBar = statusBar();
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(false);
    const int widths[2] = {m_scale.X(100), m_scale.X(500)};
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

// Widens what the running font needs wider than the scaled figures (button captions, the
// device columns), then opens the window at the scaled size or, when that is too small, at
// the size that shows the table's columns and a session's whole screen, never larger than
// the screen's available area.
void TMainForm::FitLayout() {
    ensurePolished();
    const QList<QPushButton*> buttons = {btnSearch, btnConnect, btnClose, btnConfiguration, btnLog};
    int buttonWidth = m_scale.X(kButtonWidth);
    for (const QPushButton* button : buttons) {
        buttonWidth = std::max(buttonWidth, CaptionFitWidth(*button));
    }
    for (QPushButton* button : buttons) {
        button->resize(buttonWidth, button->height());
    }
    const int panelWidth = std::max(m_scale.X(kSidePanelWidth),
                                    m_scale.X(kButtonLeft) + buttonWidth +
                                        m_scale.X(kSidePanelWidth - kButtonLeft - kButtonWidth));
    for (QWidget* panel : {Panel_t_r, Panel_r}) {
        panel->setFixedWidth(panelWidth);
        for (QLabel* label : panel->findChildren<QLabel*>()) {
            if (label != Label1) {
                label->resize(panelWidth, label->height());
            }
        }
    }

    int columnWidth = m_scale.X(TStringAlignGrid::DefaultColWidth);
    for (const QString& text : {WidestMacAddress(sg->font()), QStringLiteral("255.255.255.255"),
                                QString::fromLatin1(StatusNotConnected)}) {
        columnWidth = std::max(columnWidth, CellFitWidth(*sg, text));
    }
    sg->SetDefaultColWidth(columnWidth);
    sg->SetDefaultRowHeight(m_scale.Y(TStringAlignGrid::DefaultRowHeight));
    const int tableWidth = DeviceColumns * columnWidth + 2 * sg->frameWidth() +
                           sg->verticalScrollBar()->sizeHint().width();

    const QSize notebook = NotebookSizeForScreen(*TabNotebook, *TabNotebook->widget(0));
    const int topHeight = m_scale.Y(kTopPanelHeight);
    const QSize size(
        std::max(m_scale.X(kWindowWidth), panelWidth + std::max(tableWidth, notebook.width())),
        std::max(m_scale.Y(kWindowHeight), menuBar()->sizeHint().height() + topHeight +
                                               Splitter1->handleWidth() + notebook.height() +
                                               StatusBar->sizeHint().height()));
    QRect client(QPoint(m_scale.X(kWindowLeft), m_scale.Y(kWindowTop)), size);
    // The whole window, its frame included, starts on the screen, however large the font:
    // where it does not fit, the table and the session's screen scroll instead.
    if (const QScreen* screen = this->screen()) {
        const QMargins frame = EstimatedFrameMargins(*this, m_scale);
        client = FitFrameToScreen(client.marginsAdded(frame), screen->availableGeometry())
                     .marginsRemoved(frame);
    }
    Splitter1->setSizes({topHeight, client.height() - topHeight});
    setGeometry(client);
}

}  // namespace vandrel::app
