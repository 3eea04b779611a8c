// The version reader and the information dialog, on the offscreen platform. This executable
// carries the version block 1.3.0.34 (tests/app/CMakeLists.txt).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

#include "WindowTest.h"
#include "app/DesktopLinks.h"
#include "app/TAboutBox.h"
#include "app/TSecretPanel.h"
#include "app/TVersionInfo.h"
#include "app/UiFonts.h"

using namespace vandrel::app;

namespace {

constexpr const char* NoBlockVariable = "VANDREL_TEST_WITHOUT_VERSION_BLOCK";

// Message boxes and opened links are recorded instead of shown.
class InfoTest : public vandrel::test::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        DesktopLinkSeam::SetHandler([this](const QUrl& url) { links.push_back(url.toString()); });
    }
    void TearDown() override {
        box.reset();
        WindowTest::TearDown();
        DesktopLinkSeam::Reset();
    }

    // A dialog shown without its modal loop, its credits fast.
    void ShowBox() {
        box = std::make_unique<TAboutBox>();
        EXPECT_EQ(box->SecretPanel1->Interval(), 40);
        box->SecretPanel1->SetInterval(1);
        ASSERT_TRUE(Expose());
    }
    bool Expose() {
        box->show();
        return QTest::qWaitForWindowExposed(box.get());
    }

    // A double click on the panel's background, right of the links; true if credits now run.
    bool DoubleClickPanel() {
        QTest::mouseDClick(box->SecretPanel1, Qt::LeftButton, {}, {330, 190});
        return box->SecretPanel1->Active();
    }

    bool ChildrenVisible() const {
        return box->Image1->isVisible() && box->ProductName->isVisible() &&
               box->lb_web->isVisible() && box->Label4->isVisible();
    }

    // A copy of this executable without the version block.
    QString StrippedCopy() const {
        const QString copy = dir.filePath(QStringLiteral("no-block"));
        const int rc = QProcess::execute(QStringLiteral("objcopy"),
                                         {QStringLiteral("--remove-section=.vandrel.version"),
                                          QCoreApplication::applicationFilePath(), copy});
        return rc == 0 ? copy : QString();
    }

    std::unique_ptr<TAboutBox> box;
    std::vector<QString> links;
};

}  // namespace

TEST_F(InfoTest, VersionInfoOfThisExecutable) {
    const TVersionInfo info;
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(info.TranslationKey(), "0409FDE9");
    const std::vector<std::uint16_t> parts = {
        info.GetFileVersionPart(-1), info.GetFileVersionPart(0), info.GetFileVersionPart(1),
        info.GetFileVersionPart(2),  info.GetFileVersionPart(3), info.GetFileVersionPart(4)};
    EXPECT_EQ(parts, (std::vector<std::uint16_t>{0, 1, 3, 0, 34, 0}));
    const struct {
        int index;
        std::string value;
    } strings[] = {
        {-1, ""},
        {0, "English (United States)"},
        {5, "\xC2\xA9 2025 The Vandrel Project"},
        {6, ""},  // present but empty
        {8, "Vandrel"},
        {9, "1.3.0"},
        {10, std::string(254, 'c')},  // 300 characters in the block
        {11, ""},
    };
    for (const auto& s : strings) {
        EXPECT_EQ(info.GetInfoString(s.index), s.value) << s.index;
    }
}

// A stripped copy of this executable and a missing file: the error box, and zeros and empty
// texts read. The dialog of the stripped copy (run in a child) reads "Version 0.0 (0)".
TEST_F(InfoTest, VersionInfoWithoutBlockReportsAndReadsZero) {
    const QString copy = StrippedCopy();
    ASSERT_FALSE(copy.isEmpty());
    const struct {
        QString file;
        QString message;
    } cases[] = {
        {copy, QStringLiteral("GetFileVersionInfoSize error #:61")},
        {dir.filePath(QStringLiteral("missing")),
         QStringLiteral("GetFileVersionInfoSize error #:2")},
    };
    for (const auto& c : cases) {
        messages.clear();
        const TVersionInfo info(c.file.toStdString());
        EXPECT_EQ(messages, std::vector<QString>{c.message});
        for (int i = 0; i <= 10; ++i) {
            EXPECT_EQ(info.GetInfoString(i), "") << i;
        }
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(info.GetFileVersionPart(i), 0) << i;
        }
    }

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(NoBlockVariable), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.start(copy, {QStringLiteral("--gtest_filter=InfoTest.DialogOfAnExecutableWithoutBlock")});
    ASSERT_TRUE(child.waitForFinished(30000));
    const QString output = QString::fromLocal8Bit(child.readAllStandardOutput());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
}

// Runs in the stripped copy started by the test before only.
TEST_F(InfoTest, DialogOfAnExecutableWithoutBlock) {
    if (!qEnvironmentVariableIsSet(NoBlockVariable)) {
        GTEST_SKIP() << "runs inside a copy without version block";
    }
    TAboutBox dialog;
    EXPECT_EQ(dialog.lb_Version->text(), QStringLiteral("Version 0.0 (0)"));
    EXPECT_EQ(messages, std::vector<QString>{QStringLiteral("GetFileVersionInfoSize error #:61")});
}

TEST_F(InfoTest, DialogShowsVersionAndContacts) {
    ShowBox();
    EXPECT_EQ(box->lb_Version->text(), QStringLiteral("Version 1.3 (34)"));
    EXPECT_EQ(box->ProductName->text(), QStringLiteral("Vandrel"));
    EXPECT_EQ(box->lb_Copyright->text(), QStringLiteral("© 2025 The Vandrel Project"));
    EXPECT_EQ(box->lb_web->text(), TAboutBox::WebText);  // set by showing
    EXPECT_FALSE(box->Image1->pixmap().isNull());
    EXPECT_FALSE(QApplication::windowIcon().isNull());
    EXPECT_TRUE(messages.empty());
}

TEST_F(InfoTest, LinksOpenWithTheDesktopAndShowAHand) {
    ShowBox();
    const struct {
        QLabel* label;
        QString url;
    } cases[] = {
        {box->lb_web, QStringLiteral("https://www.vandrel.example")},
        {box->lb_email, QStringLiteral("mailto:info@vandrel.example")},
    };
    for (const auto& c : cases) {
        links.clear();
        QMouseEvent move(QEvent::MouseMove, QPointF(4, 4), c.label->mapToGlobal(QPointF(4, 4)),
                         Qt::NoButton, Qt::NoButton, {});
        QApplication::sendEvent(c.label, &move);
        EXPECT_EQ(c.label->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(c.label, Qt::LeftButton, {}, {4, 4});
        EXPECT_EQ(links, std::vector<QString>{c.url});
    }
    links.clear();
    QTest::mouseClick(box->lb_web, Qt::RightButton, {}, {4, 4});
    EXPECT_TRUE(links.empty());
}

TEST_F(InfoTest, CreditsScrollOnceAndTheChildrenReturn) {
    ShowBox();
    ASSERT_TRUE(ChildrenVisible());
    QTest::mouseDClick(box->SecretPanel1, Qt::LeftButton, {}, {40, 60});  // on the picture
    EXPECT_FALSE(box->SecretPanel1->Active());

    ASSERT_TRUE(DoubleClickPanel());
    EXPECT_FALSE(box->Image1->isVisible() || box->lb_web->isVisible());
    // 10 points in the window as drawn, in proportion to the running form font.
    EXPECT_DOUBLE_EQ(box->SecretPanel1->TextFont().pointSizeF(), FormFont().pointSizeF() * 10 / 8);
    ASSERT_TRUE(QTest::qWaitFor([&] { return box->SecretPanel1->Position() > 150; }, 10000));
    const QImage shot = box->SecretPanel1->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto* pixels = reinterpret_cast<const QRgb*>(shot.constBits());
    EXPECT_TRUE(std::any_of(pixels, pixels + shot.width() * shot.height(), [](QRgb p) {
        return qBlue(p) > 200 && qRed(p) < 60 && qGreen(p) < 60;
    })) << "no blue text mid-scroll";

    ASSERT_TRUE(QTest::qWaitFor([&] { return !box->SecretPanel1->Active(); }, 20000));
    EXPECT_EQ(box->SecretPanel1->Position(), box->SecretPanel1->Total());
    EXPECT_TRUE(ChildrenVisible());
}

TEST_F(InfoTest, CreditsStopAtOnceOnASecondDoubleClickAndOnClose) {
    ShowBox();
    box->SecretPanel1->SetInterval(40);
    ASSERT_TRUE(DoubleClickPanel());
    EXPECT_FALSE(DoubleClickPanel());
    EXPECT_TRUE(ChildrenVisible());

    ASSERT_TRUE(DoubleClickPanel());
    QTest::qWait(100);
    box->Button1->click();  // OK closes
    EXPECT_FALSE(box->isVisible());
    EXPECT_FALSE(box->SecretPanel1->Active());
    ASSERT_TRUE(Expose());
    EXPECT_FALSE(box->SecretPanel1->Active());
    EXPECT_TRUE(ChildrenVisible());

    ASSERT_TRUE(DoubleClickPanel());
    box.reset();  // the worker ends with the panel
}

TEST_F(InfoTest, InfoShowsTheDialogModally) {
    CreateQuietWindow();
    Control<QAction>("mpInfo")->trigger();  // without a dialog nothing happens
    auto* about = new TAboutBox(form.get());
    form->SetAboutBox(about);
    bool wasModal = false;
    QTimer::singleShot(0, [&] {
        wasModal = QApplication::activeModalWidget() == about;
        about->Button1->click();
    });
    Control<QAction>("mpInfo")->trigger();
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(about->isVisible());
}
