// What the window and the scan do beyond the original, in a lab of 6 devices on two
// subnets: devices 1, 3, 5 on 198.18.0.0/24 (eth0, where the limited broadcast goes),
// devices 2, 4, 6 on 198.18.1.0/24 (eth1). 198.18.0.250 answers nothing.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/AddressDialog.h"
#include "app/DeviceTable.h"
#include "app/MessageDlg.h"
#include "app/TMainForm.h"
#include "app/TStringAlignGrid.h"
#include "support/Lab.h"
#include "support/Subprocess.h"
#include "support/TestSockets.h"
#include "terminal/TTnEmulT.h"

using namespace vandrel::app;
using vandrel::terminal::TTnEmulT;
using vandrel::test::Lab;
using namespace std::chrono_literals;

namespace {

constexpr int kDevices = 6;
constexpr int kWaitMs = 8000;
constexpr const char* kBothSubnets = "Searched eth0 198.18.0.2/24, eth1 198.18.1.2/24";

std::set<std::string> Devices(int subnet) {
    std::set<std::string> ips;
    for (int k = 1; k <= kDevices; ++k) {
        if (subnet < 0 || Lab::deviceSubnet(k) == subnet) {
            ips.insert(Lab::deviceAddress(k));
        }
    }
    return ips;
}

struct ScanResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs "vandrel --scan <args>" without any display, its standard output and error apart.
ScanResult Scan(const std::vector<std::string>& args) {
    QTemporaryDir dir;
    const std::string out = dir.filePath("out").toStdString();
    const std::string err = dir.filePath("err").toStdString();
    std::vector<std::string> argv = {"env",
                                     "-u",
                                     "DISPLAY",
                                     "-u",
                                     "WAYLAND_DISPLAY",
                                     "-u",
                                     "QT_QPA_PLATFORM",
                                     "sh",
                                     "-c",
                                     "exec \"$0\" --scan \"$@\" >'" + out + "' 2>'" + err + "'",
                                     VANDREL_APP_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    const vandrel::test::ProcessResult result = vandrel::test::runProcess(argv, 30s);
    return {result.exitCode, ReadFile(out), ReadFile(err)};
}

std::set<std::string> JsonAddresses(const std::string& json, std::size_t* count = nullptr) {
    std::set<std::string> ips;
    const QJsonArray devices =
        QJsonDocument::fromJson(QByteArray::fromStdString(json)).object()["devices"].toArray();
    for (const QJsonValue& device : devices) {
        const QJsonObject fields = device.toObject();
        EXPECT_EQ(fields.keys(), (QStringList{"Device", "IP", "Mac", "S/N", "Status"}));
        ips.insert(fields["IP"].toString().toStdString());
    }
    if (count != nullptr) {
        *count = static_cast<std::size_t>(devices.size());
    }
    return ips;
}

class SubnetsLab : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Lab::active()) << "start this test through ctest: it needs its lab";
        ASSERT_EQ(Lab::subnetCount(), 2);
        MessageDlgSeam::SetHandler([this](TMsgDlgType, const QString& text) {
            messages.push_back(text);
            return TModalResult::mrOk;
        });
        AddressDialogSeam::SetHandler([this](const QString& offered) {
            offeredAddress = offered;
            return typedAddress;
        });
    }
    void TearDown() override {
        form.reset();
        AddressDialogSeam::Reset();
        MessageDlgSeam::Reset();
    }

    void OpenWindow() {
        form = std::make_unique<TMainForm>();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    // Search, and the addresses listed once replies have stopped coming.
    std::set<std::string> Search(std::size_t expected) {
        QTest::mouseClick(form->btnSearch, Qt::LeftButton);
        [[maybe_unused]] const bool reached =
            QTest::qWaitFor([&] { return Listed().size() >= expected; }, 5000);
        QTest::qWait(300);
        const std::vector<std::string> listed = Listed();
        EXPECT_EQ(listed.size(), std::set<std::string>(listed.begin(), listed.end()).size())
            << "a device was listed twice";
        return {listed.begin(), listed.end()};
    }

    std::vector<std::string> Listed() const {
        std::vector<std::string> ips;
        for (int r = 1; r < form->sg->RowCount(); ++r) {
            if (!form->sg->Cells(ColDevice, r).empty()) {
                ips.push_back(form->sg->Cells(ColIP, r));
            }
        }
        return ips;
    }

    std::string StatusOf(const std::string& ip) const {
        for (int r = 1; r < form->sg->RowCount(); ++r) {
            if (form->sg->Cells(ColIP, r) == ip) {
                return form->sg->Cells(ColStatus, r);
            }
        }
        return "(not listed)";
    }

    void ConnectRow(const std::string& ip) {
        for (int r = 1; r < form->sg->RowCount(); ++r) {
            if (form->sg->Cells(ColIP, r) == ip) {
                form->sg->SetRow(r);
            }
        }
        QTest::mouseClick(form->btnConnect, Qt::LeftButton);
    }

    void ConnectAddress(const QString& typed) {
        typedAddress = typed;
        form->mpConnectAddress->trigger();
    }

    TTnEmulT* Active() const { return form->SessionTerminal(form->TabNotebook->currentIndex()); }

    static bool Shows(const TTnEmulT* t, const std::string& needle) {
        if (t == nullptr) {
            return false;
        }
        std::string text;
        for (int row = 1; row <= t->Rows(); ++row) {
            for (int col = 1; col <= t->Columns(); ++col) {
                const char c = static_cast<char>(t->Buffer().GetCell(col, row).Character);
                text += c == 0 ? ' ' : c;
            }
        }
        return text.find(needle) != std::string::npos;
    }

    // What panel 1 shows on the screen, notice or not.
    QString PanelShown() const {
        return form->StatusBar->findChild<QLabel*>(QStringLiteral("StatusBarPanel1"))->text();
    }

    std::unique_ptr<TMainForm> form;
    std::vector<QString> messages;
    std::optional<QString> typedAddress;
    QString offeredAddress;
};

}  // namespace

TEST_F(SubnetsLab, SearchFindsTheDevicesOfBothSubnetsOnce) {
    OpenWindow();
    EXPECT_EQ(Search(kDevices), Devices(-1));
    EXPECT_TRUE(form->SimplePanel());
    EXPECT_EQ(form->SimpleText(), kBothSubnets);
    EXPECT_TRUE(messages.empty());
    form->grab().save(QStringLiteral(VANDREL_BINARY_DIR "/two-subnets-search.png"));
}

TEST_F(SubnetsLab, TheLimitedBroadcastAloneFindsOneSubnet) {
    OpenWindow();
    form->SetSearchScope(vandrel::discovery::SearchScope::LimitedBroadcastOnly);
    EXPECT_EQ(Search(kDevices / 2), Devices(0));
    EXPECT_EQ(form->SimpleText(), "Searched eth0 198.18.0.2/24");
    form->SetSearchScope(vandrel::discovery::SearchScope::AllInterfaces);
    EXPECT_EQ(Search(kDevices), Devices(-1)) << "what the addition buys";
}

TEST_F(SubnetsLab, ScanListsWhatSearchLists) {
    const ScanResult json = Scan({"--format", "json", "--timeout", "1"});
    EXPECT_EQ(json.exitCode, 0) << json.err;
    std::size_t count = 0;
    EXPECT_EQ(JsonAddresses(json.out, &count), Devices(-1)) << json.out;
    EXPECT_EQ(count, static_cast<std::size_t>(kDevices));
    EXPECT_NE(json.err.find(kBothSubnets), std::string::npos) << json.err;

    const ScanResult csv = Scan({"--format=csv", "--timeout=0.5"});
    EXPECT_EQ(csv.exitCode, 0);
    EXPECT_EQ(csv.out.rfind("Device,S/N,IP,Mac,Status\r\n", 0), 0u) << csv.out;
    const ScanResult table = Scan({"--timeout", "0.5"});
    EXPECT_EQ(table.exitCode, 0);
    EXPECT_EQ(table.out.rfind("Device  S/N        IP           Mac                Status\n", 0), 0u)
        << table.out;
    for (const std::string& ip : Devices(-1)) {
        EXPECT_NE(csv.out.find("," + ip + ","), std::string::npos) << ip;
        EXPECT_NE(table.out.find("  " + ip + "  "), std::string::npos) << ip;
    }

    // And the window, afterwards on the same port, finds the same.
    OpenWindow();
    EXPECT_EQ(Search(kDevices), JsonAddresses(json.out));
}

TEST_F(SubnetsLab, ScanExitCodesSayFoundNoneOrError) {
    const ScanResult bad = Scan({"--format", "xml"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("bad value 'xml' for --format"), std::string::npos) << bad.err;
    EXPECT_TRUE(bad.out.empty());
    {
        vandrel::test::UdpProbe holder("0.0.0.0", 33300);
        ASSERT_TRUE(holder.ok());
        const ScanResult busy = Scan({"--timeout", "0.3"});
        EXPECT_EQ(busy.exitCode, 2);
        EXPECT_NE(busy.err.find("Could not bind socket. Address and port are already in use."),
                  std::string::npos)
            << busy.err;
        EXPECT_TRUE(busy.out.empty()) << busy.out;
    }
    for (int k = 1; k <= kDevices; ++k) {
        ASSERT_TRUE(Lab::stopDevice(k));
    }
    const ScanResult none = Scan({"--format", "json", "--timeout", "0.5"});
    for (int k = 1; k <= kDevices; ++k) {
        Lab::startDevice(k);
    }
    EXPECT_EQ(none.exitCode, 1) << none.err;
    EXPECT_EQ(none.out, "{\"devices\": []}\n");
    EXPECT_EQ(Scan({"--timeout", "0.5"}).exitCode, 0) << "the devices are back";
}

TEST_F(SubnetsLab, ConnectToAnAddressTheTableDoesNotList) {
    OpenWindow();
    form->SetSearchScope(vandrel::discovery::SearchScope::LimitedBroadcastOnly);
    const std::set<std::string> listed = Search(kDevices / 2);
    const std::string other = Lab::deviceAddress(2);  // on eth1's subnet
    ASSERT_EQ(listed.count(other), 0u);

    ConnectAddress(QStringLiteral(" 198.18.001.12 "));
    EXPECT_EQ(offeredAddress, "");
    ASSERT_EQ(form->TabNotebook->count(), 1);
    EXPECT_EQ(form->TabNotebook->tabText(0).toStdString(), other);
    EXPECT_EQ(form->PanelText(0), "Not Logging");
    QPointer<TTnEmulT> t = Active();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->LogName(), "198_18_1_12");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Shows(t, "Type # to change"); }, kWaitMs));
    QTest::mouseClick(form->btnConfiguration, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Shows(t, "IP address ["); }, kWaitMs));
    const std::vector<std::string> after = Listed();
    EXPECT_EQ(std::set<std::string>(after.begin(), after.end()), listed)
        << "the table is left alone";

    // The device itself now answers "connected", as a single-session device would.
    form->SetSearchScope(vandrel::discovery::SearchScope::AllInterfaces);
    Search(kDevices);
    EXPECT_EQ(StatusOf(other), "connected");
    EXPECT_EQ(StatusOf(Lab::deviceAddress(1)), "not connected");
    QTest::mouseClick(form->btnClose, Qt::LeftButton);
    EXPECT_EQ(form->TabNotebook->count(), 0);
    EXPECT_EQ(StatusOf(other), "connected") << "Close of an address session leaves the table";
    Search(kDevices);
    EXPECT_EQ(StatusOf(other), "not connected");

    // A session by address to a listed device does not touch its row either.
    const std::string first = Lab::deviceAddress(1);
    ConnectAddress(QString::fromStdString(first));
    EXPECT_EQ(offeredAddress, "198.18.001.12") << "the last typed text is offered";
    ASSERT_TRUE(QTest::qWaitFor([&] { return Shows(Active(), "Type # to change"); }, kWaitMs));
    EXPECT_EQ(StatusOf(first), "not connected");
    ASSERT_TRUE(Lab::restartDevice(1, {}));  // the device goes away under the session
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->TabNotebook->count() == 0; }, kWaitMs));
    EXPECT_EQ(form->OutcomeText().toStdString(), first + ": closed by the device");
    EXPECT_EQ(StatusOf(first), "not connected");

    // Mistyped: said so, and nothing opens.
    ConnectAddress(QStringLiteral("198.18.0.300"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Not an IPv4 address or host name: 198.18.0.300");
    typedAddress.reset();
    form->mpConnectAddress->trigger();  // cancelled
    EXPECT_EQ(form->TabNotebook->count(), 0);
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(SubnetsLab, RefusedAndClosedSessionsSayHowTheyEnded) {
    ASSERT_TRUE(Lab::restartDevice(3, {"--refuse"}));
    ASSERT_TRUE(Lab::restartDevice(5, {"--close-after", "1"}));
    OpenWindow();
    Search(kDevices);
    const std::string refusing = Lab::deviceAddress(3);
    const std::string closing = Lab::deviceAddress(5);

    ConnectRow(refusing);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->TabNotebook->count() == 0; }, kWaitMs));
    EXPECT_EQ(form->OutcomeText().toStdString(), refusing + ": Connection refused (#10061)");
    EXPECT_EQ(PanelShown(), form->OutcomeText());
    EXPECT_FALSE(form->SimplePanel()) << "the search's hint must not hide the news";
    EXPECT_EQ(form->PanelText(1), "") << "the panel's own text is what the session rules say";
    EXPECT_EQ(StatusOf(refusing), "not connected");
    form->grab().save(QStringLiteral(VANDREL_BINARY_DIR "/session-refused.png"));

    ConnectRow(closing);
    ASSERT_TRUE(QTest::qWaitFor([&] { return StatusOf(closing) == "connected"; }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->TabNotebook->count() == 0; }, kWaitMs));
    EXPECT_EQ(form->OutcomeText().toStdString(), closing + ": closed by the device");
    EXPECT_EQ(StatusOf(closing), "not connected");

    // A few seconds later the panel shows its own text again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->OutcomeText().isEmpty(); }, 7000));
    EXPECT_EQ(PanelShown(), form->PanelText(1));

    // The user's own Close is no news.
    ConnectRow(Lab::deviceAddress(1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Shows(Active(), "Type # to change"); }, kWaitMs));
    QTest::mouseClick(form->btnClose, Qt::LeftButton);
    QTest::qWait(200);
    EXPECT_EQ(form->OutcomeText(), "");
    EXPECT_TRUE(messages.empty());
    Lab::restartDevice(3, {});
    Lab::restartDevice(5, {});
}

TEST_F(SubnetsLab, AConnectNobodyAnswersGivesUpAfter21Seconds) {
    OpenWindow();
    const std::string dead = Lab::deadAddress();
    QElapsedTimer clock;
    clock.start();
    ConnectAddress(QString::fromStdString(dead));
    ASSERT_EQ(form->TabNotebook->count(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->TabNotebook->count() == 0; }, 30000));
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, 21000);
    EXPECT_LE(elapsed, 25000);
    EXPECT_EQ(form->OutcomeText().toStdString(), dead + ": Connection timed out (#10060)");
    EXPECT_TRUE(messages.empty());
}
