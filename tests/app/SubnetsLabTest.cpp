// Search over several interfaces and the scan command, in a lab of 6 devices on two
// subnets: devices 1, 3, 5 on 198.18.0.0/24 (eth0, where the limited broadcast goes),
// devices 2, 4, 6 on 198.18.1.0/24 (eth1). 198.18.0.250 answers nothing.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPointer>
#include <QStatusBar>

#include <set>

#include "LabWindowTest.h"
#include "app/AddressDialog.h"
#include "support/Subprocess.h"
#include "support/TestSockets.h"

using namespace vandrel::app;
using namespace vandrel::test;
using vandrel::discovery::SearchScope;
using vandrel::terminal::TTnEmulT;
using namespace std::chrono_literals;

namespace {

constexpr int kDevices = 6;
constexpr const char* kBothSubnets = "Searched eth0 198.18.0.2/24, eth1 198.18.1.2/24";
constexpr auto npos = std::string::npos;
using Addresses = std::set<std::string>;

Addresses Set(const std::vector<std::string>& ips) {
    return {ips.begin(), ips.end()};
}

// The devices of one subnet, or of both.
Addresses Devices(int subnet = -1) {
    Addresses ips;
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

// Runs "vandrel --scan <args>" without any display, its standard output and error apart.
ScanResult Scan(const std::vector<std::string>& args) {
    QTemporaryDir dir;
    const std::string out = dir.filePath("out").toStdString();
    const std::string err = dir.filePath("err").toStdString();
    std::vector<std::string> argv = {
        "sh", "-c",
        "exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \"$0\" --scan \"$@\" >'" + out +
            "' 2>'" + err + "'",
        VANDREL_APP_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    const int exitCode = runProcess(argv, 30s).exitCode;
    return {exitCode, fileBytes(out), fileBytes(err)};
}

// The address of each device a JSON scan lists; every device has exactly the five fields.
std::vector<std::string> JsonAddresses(const std::string& json) {
    std::vector<std::string> ips;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json));
    for (const QJsonValue& device : document.object()["devices"].toArray()) {
        const QJsonObject fields = device.toObject();
        EXPECT_EQ(fields.keys(), (QStringList{"Device", "IP", "Mac", "S/N", "Status"}));
        ips.push_back(fields["IP"].toString().toStdString());
    }
    return ips;
}

class SubnetsLab : public LabWindowTest {
protected:
    void SetUp() override {
        LabWindowTest::SetUp();
        ASSERT_EQ(Lab::subnetCount(), 2);
        AddressDialogSeam::SetHandler([this](const QString& offered) {
            offeredAddress = offered;
            return typedAddress;
        });
    }
    void TearDown() override {
        LabWindowTest::TearDown();
        AddressDialogSeam::Reset();
    }

    // Search, and the addresses listed; none may be listed twice.
    Addresses Search(int expected) {
        SearchAndSettle(expected);
        const std::vector<std::string> listed = Listed();
        EXPECT_EQ(listed.size(), Set(listed).size()) << "a device was listed twice";
        return Set(listed);
    }
    void ConnectAddress(const QString& typed) {
        typedAddress = typed;
        Control<QAction>("mpConnectAddress")->trigger();
    }
    bool WaitForNoSession(int ms = kLabWaitMs) {
        return QTest::qWaitFor([&] { return Notebook()->count() == 0; }, ms);
    }

    std::optional<QString> typedAddress;
    QString offeredAddress;
};

}  // namespace

TEST_F(SubnetsLab, SearchFindsBothSubnetsOnceWhereTheLimitedBroadcastFindsOne) {
    ShowWindow();
    EXPECT_EQ(Search(kDevices), Devices());
    EXPECT_TRUE(form->SimplePanel());
    EXPECT_EQ(form->SimpleText(), kBothSubnets);
    SaveShot(*form, "two-subnets-search.png");

    form->SetSearchScope(SearchScope::LimitedBroadcastOnly);
    EXPECT_EQ(Search(kDevices / 2), Devices(0)) << "what the directed broadcasts buy";
    EXPECT_EQ(form->SimpleText(), "Searched eth0 198.18.0.2/24");
    EXPECT_TRUE(messages.empty());
}

TEST_F(SubnetsLab, ScanListsWhatSearchListsInEachFormat) {
    const ScanResult json = Scan({"--format", "json", "--timeout", "1"});
    EXPECT_EQ(json.exitCode, 0) << json.err;
    const std::vector<std::string> scanned = JsonAddresses(json.out);
    EXPECT_EQ(scanned.size(), std::size_t{kDevices}) << json.out;
    EXPECT_EQ(Set(scanned), Devices()) << json.out;
    EXPECT_NE(json.err.find(kBothSubnets), npos) << json.err;

    const ScanResult csv = Scan({"--format=csv", "--timeout=0.5"});
    const ScanResult table = Scan({"--timeout", "0.5"});
    EXPECT_EQ(csv.exitCode, 0);
    EXPECT_EQ(table.exitCode, 0);
    EXPECT_EQ(csv.out.rfind("Device,S/N,IP,Mac,Status\r\n", 0), 0u) << csv.out;
    EXPECT_EQ(table.out.rfind("Device  S/N        IP           Mac                Status\n", 0), 0u)
        << table.out;
    for (const std::string& ip : Devices()) {
        EXPECT_NE(csv.out.find("," + ip + ","), npos) << ip;
        EXPECT_NE(table.out.find("  " + ip + "  "), npos) << ip;
    }

    // And the window, afterwards on the same port, finds the same.
    ShowWindow();
    EXPECT_EQ(Search(kDevices), Set(scanned));
}

TEST_F(SubnetsLab, ScanExitCodesSayFoundNoneOrError) {
    {
        UdpProbe holder("0.0.0.0", 33300);  // another program on the discovery port
        ASSERT_TRUE(holder.ok());
        const std::pair<std::vector<std::string>, std::string> errors[] = {
            {{"--format", "xml"}, "bad value 'xml' for --format"},
            {{"--timeout", "0.3"}, "Could not bind socket. Address and port are already in use."},
        };
        for (const auto& [args, error] : errors) {
            const ScanResult scan = Scan(args);
            EXPECT_EQ(scan.exitCode, 2) << error;
            EXPECT_NE(scan.err.find(error), npos) << scan.err;
            EXPECT_EQ(scan.out, "");
        }
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
    ShowWindow();
    form->SetSearchScope(SearchScope::LimitedBroadcastOnly);
    const Addresses listed = Search(kDevices / 2);
    const std::string other = Lab::deviceAddress(2);  // on eth1's subnet
    ASSERT_EQ(listed.count(other), 0u);

    ConnectAddress(QStringLiteral(" 198.18.001.12 "));
    EXPECT_EQ(offeredAddress, "");
    ASSERT_EQ(Notebook()->count(), 1);
    EXPECT_EQ(Notebook()->tabText(0).toStdString(), other);
    EXPECT_EQ(form->PanelText(0), "Not Logging");
    QPointer<TTnEmulT> t = Active();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->LogName(), "198_18_1_12");
    ASSERT_TRUE(WaitForBanner(t));
    QTest::mouseClick(Control("btnConfiguration"), Qt::LeftButton);
    EXPECT_TRUE(WaitForScreen(t, "IP address ["));
    EXPECT_EQ(Set(Listed()), listed) << "the table is left alone";

    // The device itself now answers "connected", as a single-session device would.
    form->SetSearchScope(SearchScope::AllInterfaces);
    Search(kDevices);
    EXPECT_EQ(StatusOf(other), "connected");
    EXPECT_EQ(StatusOf(1), "not connected");
    QTest::mouseClick(Control("btnClose"), Qt::LeftButton);
    EXPECT_EQ(Notebook()->count(), 0);
    EXPECT_EQ(StatusOf(other), "connected") << "Close of an address session leaves the table";
    Search(kDevices);
    EXPECT_EQ(StatusOf(other), "not connected");

    // A session by address to a listed device does not touch its row either.
    const std::string first = Lab::deviceAddress(1);
    ConnectAddress(QString::fromStdString(first));
    EXPECT_EQ(offeredAddress, "198.18.001.12") << "the last typed text is offered";
    ASSERT_TRUE(WaitForBanner(Active()));
    EXPECT_EQ(StatusOf(first), "not connected");
    ASSERT_TRUE(Lab::restartDevice(1, {}));  // the device goes away under the session
    ASSERT_TRUE(WaitForNoSession());
    EXPECT_EQ(form->OutcomeText().toStdString(), first + ": closed by the device");
    EXPECT_EQ(StatusOf(first), "not connected");

    // Mistyped: said so, and nothing opens.
    ConnectAddress(QStringLiteral("198.18.0.300"));
    EXPECT_EQ(messages, std::vector<QString>{"Not an IPv4 address or host name: 198.18.0.300"});
    typedAddress.reset();
    Control<QAction>("mpConnectAddress")->trigger();  // cancelled
    EXPECT_EQ(Notebook()->count(), 0);
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(SubnetsLab, RefusedAndClosedSessionsSayHowTheyEnded) {
    ASSERT_TRUE(Lab::restartDevice(3, {"--refuse"}));
    ASSERT_TRUE(Lab::restartDevice(5, {"--close-after", "1"}));
    ShowWindow();
    Search(kDevices);
    const std::string refusing = Lab::deviceAddress(3);
    const std::string closing = Lab::deviceAddress(5);

    Connect(3);
    ASSERT_TRUE(WaitForNoSession());
    EXPECT_EQ(form->OutcomeText().toStdString(), refusing + ": Connection refused (#10061)");
    EXPECT_EQ(PanelShown(), form->OutcomeText());
    EXPECT_FALSE(form->SimplePanel()) << "the search's hint must not hide the news";
    EXPECT_EQ(form->PanelText(1), "") << "the panel's own text is what the session rules say";
    EXPECT_EQ(StatusOf(refusing), "not connected");
    SaveShot(*form, "session-refused.png");

    Connect(5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return StatusOf(closing) == "connected"; }, kLabWaitMs));
    ASSERT_TRUE(WaitForNoSession());
    EXPECT_EQ(form->OutcomeText().toStdString(), closing + ": closed by the device");
    EXPECT_EQ(StatusOf(closing), "not connected");

    // A few seconds later the panel shows its own text again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->OutcomeText().isEmpty(); }, 7000));
    EXPECT_EQ(PanelShown(), form->PanelText(1));

    // The user's own Close is no news.
    Connect(1);
    ASSERT_TRUE(WaitForBanner(Active()));
    QTest::mouseClick(Control("btnClose"), Qt::LeftButton);
    QTest::qWait(200);
    EXPECT_EQ(form->OutcomeText(), "");
    EXPECT_TRUE(messages.empty());
    Lab::restartDevice(3, {});
    Lab::restartDevice(5, {});
}

TEST_F(SubnetsLab, AConnectNobodyAnswersGivesUpAfter21Seconds) {
    ShowWindow();
    const std::string dead = Lab::deadAddress();
    QElapsedTimer clock;
    clock.start();
    ConnectAddress(QString::fromStdString(dead));
    ASSERT_EQ(Notebook()->count(), 1);
    ASSERT_TRUE(WaitForNoSession(30000));
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, 21000);
    EXPECT_LE(elapsed, 25000);
    EXPECT_EQ(form->OutcomeText().toStdString(), dead + ": Connection timed out (#10060)");
    EXPECT_TRUE(messages.empty());
}
