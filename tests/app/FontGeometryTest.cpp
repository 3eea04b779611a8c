// The windows follow the running font: at each desktop font size (and, in the second run,
// at QT_SCALE_FACTOR=2) the device table shows a MAC and an IPv4 address whole, a session's
// terminal shows a device's whole 80 x 24 screen, and no button clips its caption.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QToolTip>

#include "WindowTest.h"
#include "app/FormScale.h"
#include "app/TAboutBox.h"
#include "app/TSecretPanel.h"
#include "app/TStringAlignGrid.h"
#include "app/model/DeviceTable.h"
#include "terminal/TTnEmulT.h"

using namespace vandrel::app;
using vandrel::test::DevicePayload;

namespace {

const std::string kLongName(60, 'W');

// The window made at the desktop font size of the parameter; no message box may come up.
class FontGeometryTest : public vandrel::test::WindowTest,
                         public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        saved = QApplication::font();
        QFont font = saved;
        font.setPointSize(GetParam());
        QApplication::setFont(font);
        CreateQuietWindow();
    }
    void TearDown() override {
        EXPECT_EQ(messages, std::vector<QString>{});
        WindowTest::TearDown();
        QApplication::setFont(saved);
    }

    // With VANDREL_SCREENSHOT_DIR set, saves widget as <name>-<size>pt[-x<factor>].png.
    void Screenshot(QWidget& widget, const char* name) const {
        const QString shots = qEnvironmentVariable("VANDREL_SCREENSHOT_DIR");
        if (shots.isEmpty()) {
            return;
        }
        const qreal ratio = widget.devicePixelRatioF();
        const QString file = QStringLiteral("%1/%2-%3pt%4.png")
                                 .arg(shots, QLatin1String(name))
                                 .arg(GetParam())
                                 .arg(ratio > 1 ? QStringLiteral("-x%1").arg(ratio) : QString());
        EXPECT_TRUE(widget.grab().save(file));
    }

    QFont saved;
};

// The caption's width against the rectangle the style draws it in.
void ExpectCaptionsWhole(const QWidget& window) {
    for (const QPushButton* button : window.findChildren<QPushButton*>()) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        if (button->autoDefault() || button->isDefault()) {
            option.features |= QStyleOptionButton::AutoDefaultButton;
        }
        const QRect contents =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        SCOPED_TRACE(button->objectName().toStdString());
        EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()), contents.width());
        EXPECT_LE(button->fontMetrics().height(), contents.height());
    }
}

std::string ToolTipOver(TStringAlignGrid& grid, int col, int row) {
    QToolTip::hideText();
    const QRect cell = grid.visualRect(grid.model()->index(row - 1, col));
    QHelpEvent help(QEvent::ToolTip, cell.center(), grid.viewport()->mapToGlobal(cell.center()));
    QApplication::sendEvent(grid.viewport(), &help);
    return QToolTip::isVisible() ? QToolTip::text().toStdString() : std::string();
}

}  // namespace

TEST_P(FontGeometryTest, MainWindowShowsAddressesScreenAndCaptionsWhole) {
    if (const QString factor = qEnvironmentVariable("QT_SCALE_FACTOR"); !factor.isEmpty()) {
        ASSERT_EQ(form->devicePixelRatioF(), factor.toDouble())
            << "the scale factor took no effect";
    }
    vandrel::terminal::TTnEmulT* terminal = form->AddSessionTab("198.18.0.11");
    form->show();
    // Showing the window clears the table.
    form->AddDeviceRow(DevicePayload({"VD-200 Gateway", "A1B2C3-0011", "255.255.255.255",
                                      "00:11:22:33:44:55", "not connected"}));
    form->AddDeviceRow(
        DevicePayload({kLongName, "A1B2C3-0012", "198.18.0.12", "DC:A6:32:0B:ED:FE", "connected"}));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Table()->model()->rowCount() == 2; }, 3000));

    // The width the view's delegate needs to show every cell of the column without eliding.
    const QAbstractItemView& view = *Table();
    for (const int col : {ColIP, ColMac, ColStatus}) {
        EXPECT_LE(view.sizeHintForColumn(col), Table()->columnWidth(col)) << "column " << col;
    }
    EXPECT_EQ(ToolTipOver(*Table(), ColIP, 1), "");
    EXPECT_EQ(ToolTipOver(*Table(), ColDevice, 2), kLongName);

    EXPECT_GE(terminal->viewport()->width(), 80 * terminal->CharWidth());
    EXPECT_GE(terminal->viewport()->height(), 24 * terminal->LineHeight());
    ExpectCaptionsWhole(*form);

    terminal->WriteStr("Connected\r\n\r\nVD-100 device simulator, S/N VS-000001\r\n> #\r\n");
    for (int tens = 1; tens <= 8; ++tens) {
        terminal->WriteStr("........." + std::to_string(tens % 10));
    }
    terminal->WriteStr("\r\nIP address [198.18.0.11]: ");
    Table()->SetRow(1);
    Control<QLabel>("lb_localIP")->setText(QStringLiteral("198.18.0.2"));
    QTest::qWait(50);
    Screenshot(*form, "main-window");
}

// Run on small desktops as well (1366 x 768, 1280 x 1024): the whole first window, frame and
// status bar included, lies on the screen, and the session's screen scrolls instead.
TEST_P(FontGeometryTest, TheFirstWindowLiesOnTheScreen) {
    vandrel::terminal::TTnEmulT* terminal = form->AddSessionTab("198.18.0.11");
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    const QRect available = form->screen()->availableGeometry();
    const auto text = [](const QRect& r) {
        return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    };
    EXPECT_TRUE(available.contains(form->frameGeometry()))
        << text(form->frameGeometry()).toStdString() << " on " << text(available).toStdString();
    const QRect bar(Control<QStatusBar>("StatusBar")->mapToGlobal(QPoint(0, 0)),
                    Control<QStatusBar>("StatusBar")->size());
    EXPECT_TRUE(available.contains(bar)) << text(bar).toStdString();
    EXPECT_EQ(terminal->verticalScrollBar()->maximum(), 64 - terminal->VisibleRows());
    if (const QString shots = qEnvironmentVariable("VANDREL_SCREENSHOT_DIR"); !shots.isEmpty()) {
        // The whole desktop, to see what of the window is on it.
        const QString file = QStringLiteral("%1/first-window-%2-%3pt.png")
                                 .arg(shots, text(available).section(' ', 1))
                                 .arg(GetParam());
        EXPECT_TRUE(form->screen()->grabWindow(0).save(file));
    }
}

// The first frame moves onto the screen and shrinks to it only where it is larger.
TEST(FitFrameToScreenTest, MovesAndShrinksOnlyWhatDoesNotFit) {
    const struct {
        QRect frame;
        QRect available;
        QRect fitted;
    } cases[] = {
        {{193, 114, 700, 600}, {0, 0, 1366, 768}, {193, 114, 700, 600}},    // fits as it is
        {{334, 194, 1360, 1048}, {0, 0, 1280, 1024}, {0, 0, 1280, 1024}},   // too wide and tall
        {{900, 500, 700, 600}, {0, 0, 1366, 768}, {666, 168, 700, 600}},    // off right and bottom
        {{10, 10, 700, 900}, {1366, 32, 1280, 736}, {1366, 32, 700, 736}},  // second screen, panel
        {{193, 114, 700, 600}, {}, {193, 114, 700, 600}},                   // no screen known
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FitFrameToScreen(c.frame, c.available), c.fitted) << c.frame.x();
    }
}

TEST_P(FontGeometryTest, InfoDialogShowsItsTextsWhole) {
    TAboutBox box(form.get());
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    ExpectCaptionsWhole(box);
    const QRect panel = box.SecretPanel1->contentsRect();
    for (const QLabel* label : box.SecretPanel1->findChildren<QLabel*>()) {
        if (label == box.Image1) {
            continue;
        }
        SCOPED_TRACE(label->objectName().toStdString());
        const QRect needed =
            label->fontMetrics().boundingRect(QRect(), Qt::AlignLeft, label->text());
        EXPECT_GE(label->width(), needed.width());
        EXPECT_GE(label->height(), needed.height());
        EXPECT_TRUE(panel.contains(label->geometry()));
    }
    EXPECT_LE(box.Label4->geometry().right(), box.lb_email->x());
    EXPECT_LE(box.Label6->geometry().right(), box.lb_web->x());
    EXPECT_LE(box.Image1->geometry().right(), box.ProductName->x());
    Screenshot(box, "info-dialog");
}

INSTANTIATE_TEST_SUITE_P(DesktopFontSizes, FontGeometryTest, ::testing::Values(9, 11, 14),
                         [](const auto& size) { return std::to_string(size.param) + "pt"; });
