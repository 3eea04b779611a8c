// The main window end to end, inside a lab of 20 simulated devices (198.18.0.11 .. .30);
// the window runs in the lab's app namespace (198.18.0.2) on the real port 33300.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLabel>

#include <set>

#include "LabWindowTest.h"

using namespace vandrel::app;
using namespace vandrel::test;

namespace {

constexpr int kDevices = 20;

class MainFormLab : public LabWindowTest {
protected:
    void SetUp() override {
        LabWindowTest::SetUp();
        ShowWindow();
        ASSERT_TRUE(form->DiscoveryEndpoint().Active());
    }

    void ClickHeader(int col) {
        QHeaderView* header = Table()->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(col) + 20, header->height() / 2));
    }
};

}  // namespace

TEST_F(MainFormLab, ShowsTheLabAddressAndMask) {
    EXPECT_EQ(Control<QLabel>("lb_localIP")->text(), "198.18.0.2");
    EXPECT_EQ(Control<QLabel>("lb_localMask")->text(), "255.255.255.0");
}

TEST_F(MainFormLab, SearchListsEveryDeviceWithItsFields) {
    ASSERT_EQ(SearchAndSettle(kDevices), kDevices);
    std::set<std::string> ips;
    for (int r = 1; r <= kDevices; ++r) {
        const std::string ip = Table()->Cells(ColIP, r);
        ips.insert(ip);
        EXPECT_EQ(Table()->Cells(ColDevice, r), "VD-100");
        EXPECT_EQ(Table()->Cells(ColStatus, r), "not connected");
        EXPECT_FALSE(Table()->Cells(ColSerial, r).empty());
        EXPECT_EQ(Table()->Cells(ColMac, r).rfind("02:00", 0), 0u) << Table()->Cells(ColMac, r);
    }
    EXPECT_EQ(ips.size(), static_cast<std::size_t>(kDevices));
    EXPECT_EQ(*ips.begin(), "198.18.0.11");

    Table()->SetRow(3);
    QTest::qWait(50);
    SaveShot(*form, "main-window-lab.png");
}

TEST_F(MainFormLab, SecondSearchClearsFirstAndTheSortStateSurvives) {
    ASSERT_EQ(SearchAndSettle(kDevices), kDevices);
    ClickHeader(ColIP);
    EXPECT_EQ(Table()->Cells(ColIP, 1), "198.18.0.11");
    EXPECT_EQ(Table()->Cells(ColIP, kDevices), "198.18.0.30");

    // Runs right after the Search handler, before any reply can have been delivered.
    bool emptyAtOnce = false;
    QObject::connect(Control<QPushButton>("btnSearch"), &QPushButton::clicked, form.get(),
                     [&] { emptyAtOnce = DeviceRows() == 0; });
    ASSERT_EQ(SearchAndSettle(kDevices), kDevices);
    EXPECT_TRUE(emptyAtOnce) << "Search must clear the listed devices first";
    EXPECT_EQ(Table()->RowCount(), kDevices + 1);  // not 40: the first list was cleared

    ClickHeader(ColIP);  // same column again: descending
    EXPECT_EQ(Table()->Cells(ColIP, 1), "198.18.0.30");
    EXPECT_EQ(Table()->Cells(ColIP, kDevices), "198.18.0.11");
}

TEST_F(MainFormLab, BadFrameShowsInvalidStringAndTheOthersStillArrive) {
    ASSERT_TRUE(Lab::restartDevice(7, {"--bad-end"}));
    // Device 8 answers late, so its reply comes while the box is open.
    ASSERT_TRUE(Lab::restartDevice(8, {"--delay", "100"}));
    int rowsAtOpen = -1;
    int rowsBeforeClose = -1;
    QString text;
    QString caption;
    Technician technician([&](QMessageBox& box) {
        text = box.text();
        caption = box.windowTitle();
        rowsAtOpen = DeviceRows();
        QTest::qWait(300);  // replies keep coming while the box is open
        rowsBeforeClose = DeviceRows();
    });
    const int rows = SearchAndSettle(kDevices - 1);
    Lab::restartDevice(7, {});
    Lab::restartDevice(8, {});
    EXPECT_EQ(technician.boxes, 1);
    EXPECT_EQ(text, "invalid string");
    EXPECT_EQ(caption, "Fehler");
    EXPECT_EQ(rows, kDevices - 1);
    EXPECT_LT(rowsAtOpen, kDevices - 1);
    EXPECT_EQ(rowsBeforeClose, rowsAtOpen) << "rows were added while the box was open";
    EXPECT_EQ(RowOf(7), -1);
    EXPECT_GT(RowOf(8), 0) << "the late reply is listed";
}
