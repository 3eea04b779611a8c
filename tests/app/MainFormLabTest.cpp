// The main window end to end, inside a lab of 20 simulated devices (198.18.0.11 .. .30);
// the window runs in the lab's app namespace (198.18.0.2) on the real port 33300.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>
#include <set>
#include <string>

#include "app/DeviceTable.h"
#include "app/TMainForm.h"
#include "app/TStringAlignGrid.h"
#include "discovery/TUDPServer.h"
#include "support/Lab.h"

using namespace vandrel::app;
using namespace vandrel::discovery;
using vandrel::test::Lab;

namespace {

constexpr int kDevices = 20;

class MainFormLab : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Lab::active()) << "start this test through ctest: it needs its lab";
        form = std::make_unique<TMainForm>();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        ASSERT_TRUE(form->UDPServer->Active());
    }
    void TearDown() override { form.reset(); }

    // Search and wait until rows stop arriving.
    int SearchAndSettle(int expectedRows) {
        QTest::mouseClick(form->btnSearch, Qt::LeftButton);
        [[maybe_unused]] const bool reached =
            QTest::qWaitFor([&] { return DeviceRows() >= expectedRows; }, 5000);
        QTest::qWait(300);
        return DeviceRows();
    }

    int DeviceRows() const {
        const int rows = form->sg->RowCount() - 1;
        return rows == 1 && form->sg->Cells(ColDevice, 1).empty() ? 0 : rows;
    }

    void ClickHeader(int col) {
        QHeaderView* header = form->sg->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(col) + 20, header->height() / 2));
    }

    std::unique_ptr<TMainForm> form;
};

}  // namespace

TEST_F(MainFormLab, ShowsTheLabAddressAndMask) {
    EXPECT_EQ(form->lb_localIP->text(), "198.18.0.2");
    EXPECT_EQ(form->lb_localMask->text(), "255.255.255.0");
}

TEST_F(MainFormLab, SearchListsEveryDeviceWithItsFields) {
    ASSERT_EQ(SearchAndSettle(kDevices), kDevices);
    std::set<std::string> ips;
    for (int r = 1; r <= kDevices; ++r) {
        const std::string ip = form->sg->Cells(ColIP, r);
        ips.insert(ip);
        EXPECT_EQ(form->sg->Cells(ColDevice, r), "VD-100");
        EXPECT_EQ(form->sg->Cells(ColStatus, r), "not connected");
        EXPECT_FALSE(form->sg->Cells(ColSerial, r).empty());
        EXPECT_EQ(form->sg->Cells(ColMac, r).rfind("02:00", 0), 0u) << form->sg->Cells(ColMac, r);
    }
    EXPECT_EQ(ips.size(), static_cast<std::size_t>(kDevices));
    EXPECT_EQ(*ips.begin(), "198.18.0.11");

    const QString file = QStringLiteral(VANDREL_BINARY_DIR "/main-window-lab.png");
    form->sg->SetRow(3);
    QTest::qWait(50);
    form->grab().save(file);
}

TEST_F(MainFormLab, SecondSearchClearsFirstAndTheSortStateSurvives) {
    ASSERT_EQ(SearchAndSettle(kDevices), kDevices);
    ClickHeader(ColIP);
    EXPECT_EQ(form->sg->Cells(ColIP, 1), "198.18.0.11");
    EXPECT_EQ(form->sg->Cells(ColIP, kDevices), "198.18.0.30");

    // Runs right after the Search handler, before any reply can have been delivered.
    bool emptyAtOnce = false;
    QObject::connect(form->btnSearch, &QPushButton::clicked, form.get(),
                     [&] { emptyAtOnce = DeviceRows() == 0; });
    ASSERT_EQ(SearchAndSettle(kDevices), kDevices);
    EXPECT_TRUE(emptyAtOnce) << "Search must clear the listed devices first";
    EXPECT_EQ(form->sg->RowCount(), kDevices + 1);  // not 40: the first list was cleared

    ClickHeader(ColIP);  // same column again: descending
    EXPECT_EQ(form->sg->Cells(ColIP, 1), "198.18.0.30");
    EXPECT_EQ(form->sg->Cells(ColIP, kDevices), "198.18.0.11");
}

TEST_F(MainFormLab, BadFrameShowsInvalidStringAndTheOthersStillArrive) {
    ASSERT_TRUE(Lab::restartDevice(7, {"--bad-end"}));
    // Device 8 answers late, so its reply comes while the box is open.
    ASSERT_TRUE(Lab::restartDevice(8, {"--delay", "100"}));
    int boxes = 0;
    int rowsAtOpen = -1;
    int rowsBeforeClose = -1;
    QString text;
    QString caption;
    // The test plays the technician: it reads the modal box and presses OK.
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        ++boxes;
        text = box->text();
        caption = box->windowTitle();
        rowsAtOpen = DeviceRows();
        QTest::qWait(300);  // replies keep coming while the box is open
        rowsBeforeClose = DeviceRows();
        box->buttons().front()->click();
    });
    closer.start();
    const int rows = SearchAndSettle(kDevices - 1);
    closer.stop();
    Lab::restartDevice(7, {});
    Lab::restartDevice(8, {});
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(text, "invalid string");
    EXPECT_EQ(caption, "Fehler");
    EXPECT_EQ(rows, kDevices - 1);
    EXPECT_LT(rowsAtOpen, kDevices - 1);
    EXPECT_EQ(rowsBeforeClose, rowsAtOpen) << "rows were added while the box was open";
    bool lateDeviceListed = false;
    for (int r = 1; r <= rows; ++r) {
        EXPECT_NE(form->sg->Cells(ColIP, r), Lab::deviceAddress(7));
        lateDeviceListed = lateDeviceListed || form->sg->Cells(ColIP, r) == Lab::deviceAddress(8);
    }
    EXPECT_TRUE(lateDeviceListed);
}
