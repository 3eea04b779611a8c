#pragma once

// The main window end to end in a lab: it runs in the lab's app namespace (198.18.0.2) on the
// real port 33300 and reaches the lab's simulated devices.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include "WindowTest.h"
#include "app/TStringAlignGrid.h"
#include "app/model/DeviceTable.h"
#include "app/model/TableExport.h"
#include "support/Lab.h"
#include "support/ScreenText.h"
#include "terminal/TTnEmulT.h"

namespace vandrel::test {

constexpr int kLabWaitMs = 8000;

// True once the view shows text, false when kLabWaitMs passed first.
inline bool WaitForScreen(const terminal::TTnEmulT* view, const std::string& text) {
    return QTest::qWaitFor([&] { return screenShows(view, text); }, kLabWaitMs);
}
// Connected, and the device's banner is on screen (option negotiation is over).
inline bool WaitForBanner(const terminal::TTnEmulT* view) {
    return WaitForScreen(view, "Type # to change");
}

// Plays the technician at real modal message boxes (the seam is taken away): every 10 ms it
// looks for one, counts it, lets `look` read it and presses its first button.
class Technician {
public:
    explicit Technician(std::function<void(QMessageBox&)> look = {}) : m_look(std::move(look)) {
        app::MessageDlgSeam::Reset();
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                ++boxes;
                if (m_look) {
                    m_look(*box);
                }
                box->buttons().front()->click();
            }
        });
        m_timer.start();
    }

    int boxes = 0;

private:
    std::function<void(QMessageBox&)> m_look;
    QTimer m_timer;
};

class LabWindowTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(Lab::active()) << "start this test through ctest: it needs its lab";
        WindowTest::SetUp();
    }

    // Search, and the devices listed once replies stop coming (expected ones or 5 s).
    int SearchAndSettle(int expected) {
        QTest::mouseClick(Control("btnSearch"), Qt::LeftButton);
        [[maybe_unused]] const bool reached =
            QTest::qWaitFor([&] { return DeviceRows() >= expected; }, 5000);
        QTest::qWait(300);
        return DeviceRows();
    }
    int DeviceRows() const { return static_cast<int>(Listed().size()); }
    // The addresses of the listed rows, in table order; a row without a Device field counts.
    std::vector<std::string> Listed() const {
        std::vector<std::string> ips;
        for (const int r : app::ListedDeviceRows(Table()->Grid())) {
            ips.push_back(Table()->Cells(app::ColIP, r));
        }
        return ips;
    }
    int RowOf(const std::string& ip) const {
        for (int r = 1; r < Table()->RowCount(); ++r) {
            if (Table()->Cells(app::ColIP, r) == ip) {
                return r;
            }
        }
        return -1;
    }
    int RowOf(int device) const { return RowOf(Lab::deviceAddress(device)); }
    std::string StatusOf(const std::string& ip) const {
        const int row = RowOf(ip);
        return row < 0 ? "(not listed)" : Table()->Cells(app::ColStatus, row);
    }
    std::string StatusOf(int device) const { return StatusOf(Lab::deviceAddress(device)); }
    // Connect on the device's row, as the technician does.
    void Connect(int device) {
        Table()->SetRow(RowOf(device));
        QTest::mouseClick(Control("btnConnect"), Qt::LeftButton);
    }
    terminal::TTnEmulT* Active() const { return form->SessionTerminal(Notebook()->currentIndex()); }
};

}  // namespace vandrel::test
