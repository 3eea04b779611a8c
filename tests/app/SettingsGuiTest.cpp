// What the window remembers across a restart, the Preferences dialog, and a damaged settings
// file, with the settings in the test's own folder.
#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QSpinBox>
#include <QSplitter>
#include <QTimer>

#include <functional>

#include "WindowTest.h"
#include "app/AddressDialog.h"
#include "app/EditorLauncher.h"
#include "app/PreferencesDialog.h"
#include "app/Settings.h"
#include "terminal/TTnEmulT.h"

using namespace vandrel::app;
using vandrel::terminal::EnterKey;
using vandrel::terminal::TTnEmulT;

namespace {

class SettingsGuiTest : public vandrel::test::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        FileDialogSeam::SetHandler([this](QFileDialog& dialog) {
            folders.push_back(dialog.directory().absolutePath());
            return fileAnswer;
        });
        AddressDialogSeam::SetHandler([this](const QString& text) {
            offered = text;
            return typed.isEmpty() ? std::nullopt : std::optional<QString>(typed);
        });
        EditorLauncher::SetProgram(QStringLiteral("true"));
        fileName = dir.filePath(QStringLiteral("conf/Vandrel.conf"));
    }
    void TearDown() override {
        WindowTest::TearDown();
        AddressDialogSeam::Reset();
        PreferencesDialogSeam::Reset();
        FontDialogSeam::Reset();
        EditorLauncher::Reset();
    }

    // A window that remembers in fileName, shown.
    void OpenWindow() {
        form.reset();
        CreateQuietWindow();
        form->UseSettings(std::make_unique<Settings>(fileName));
        ShowWindow();
    }
    // Preferences, changed by the technician through the dialog and accepted.
    void ChangePreferences(std::function<void(PreferencesDialog&)> change) {
        PreferencesDialogSeam::SetHandler([change](PreferencesDialog& dialog) {
            change(dialog);
            return true;
        });
        Control<QAction>("mpPreferences")->trigger();
    }
    QString Folder(const char* name) const {
        QDir(dir.path()).mkpath(QLatin1String(name));
        return dir.filePath(QLatin1String(name));
    }

    QString fileName;
    std::vector<QString> folders;
    QString offered;
    QString typed;
};

}  // namespace

TEST_F(SettingsGuiTest, ARestartFindsWindowFoldersAddressesAndPreferencesAsLeft) {
    OpenWindow();
    form->setGeometry(QRect(150, 160, 1100, 900));
    Control<QSplitter>("Splitter1")->setSizes({300, 500});
    const QList<int> splitter = Control<QSplitter>("Splitter1")->sizes();
    fileAnswer = Folder("logs") + "/a.txt";
    Control<QAction>("mpOpen")->trigger();
    fileAnswer = Folder("exports") + "/devices.csv";
    Control<QAction>("mpExportTable")->trigger();
    for (const char* address : {"127.0.0.2", "bad address", "127.0.0.3", "127.0.0.2"}) {
        typed = QLatin1String(address);
        Control<QAction>("mpConnectAddress")->trigger();
    }
    ChangePreferences([](PreferencesDialog& dialog) {
        dialog.findChild<QSpinBox*>("HistoryLines")->setValue(500);
        dialog.findChild<QComboBox*>("EnterKey")->setCurrentIndex(2);
    });
    form->close();

    folders.clear();
    OpenWindow();
    EXPECT_EQ(form->geometry(), QRect(150, 160, 1100, 900));
    EXPECT_EQ(Control<QSplitter>("Splitter1")->sizes(), splitter);
    EXPECT_EQ(form->CurrentPreferences().HistoryLines, 500);
    EXPECT_EQ(form->CurrentPreferences().Enter, EnterKey::Lf);
    fileAnswer.reset();
    Control<QAction>("mpOpen")->trigger();
    Control<QAction>("mpExportTable")->trigger();
    EXPECT_EQ(folders, (std::vector<QString>{Folder("logs"), Folder("exports")}));
    typed.clear();
    Control<QAction>("mpConnectAddress")->trigger();
    EXPECT_EQ(offered, "127.0.0.2");
    EXPECT_EQ(Settings(fileName).State().RecentAddresses,
              (std::vector<std::string>{"127.0.0.2", "127.0.0.3"}));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith("Not an IPv4")) << messages[0].toStdString();
    EXPECT_EQ(form->OutcomeText().contains("Settings"), false);
}

TEST_F(SettingsGuiTest, ADamagedOrUnreadableFileGivesTheDefaultsAndSaysSoOnce) {
    CreateQuietWindow();
    ShowWindow();
    const QRect firstGeometry = form->geometry();
    const QList<int> firstSplitter = Control<QSplitter>("Splitter1")->sizes();
    QDir().mkpath(QFileInfo(fileName).path());
    const QByteArray damaged("[Session\nHistoryLines=5\n\x01\xff[[[\n");
    writeFile(fileName, damaged);
    OpenWindow();
    EXPECT_EQ(form->CurrentPreferences(), Preferences{});
    EXPECT_EQ(form->geometry().size(), firstGeometry.size());
    EXPECT_EQ(Control<QSplitter>("Splitter1")->sizes(), firstSplitter);
    EXPECT_TRUE(form->OutcomeText().contains("could not be read: defaults are used"))
        << form->OutcomeText().toStdString();
    EXPECT_EQ(readFile(fileName + ".damaged"), damaged);  // kept before it is overwritten
    form->close();
    EXPECT_FALSE(Settings(fileName).Damaged());

    // Good keys with bad values, then a folder where the file should be: read and write fail.
    writeFile(fileName, "[Session]\nHistoryLines=lots\nZoom=3\n");
    OpenWindow();
    EXPECT_EQ(form->CurrentPreferences().HistoryLines, 10000);
    EXPECT_EQ(form->CurrentPreferences().Zoom, 3);
    EXPECT_TRUE(form->OutcomeText().contains("could not be read"));
    QFile::remove(fileName);
    QDir().mkpath(fileName);
    OpenWindow();
    EXPECT_TRUE(form->OutcomeText().contains("could not be read"));
    Preferences changed;
    changed.KeepClosedTabs = true;
    form->SetPreferences(changed);  // the write fails too, but the notice was given
    EXPECT_TRUE(form->OutcomeText().contains("could not be read"));
    EXPECT_TRUE(messages.empty());
}

TEST_F(SettingsGuiTest, FontAndZoomReachEverySessionAndNoFileIsWrittenWithoutSettings) {
    CreateQuietWindow();
    TTnEmulT* first = form->AddSessionTab("127.0.0.1");
    const QFont desktop = first->Font();
    TTnEmulT fresh;
    EXPECT_EQ(desktop, fresh.Font());  // the defaults leave a session's font alone
    QFont chosen = desktop;
    chosen.setPointSize(14);
    FontDialogSeam::SetHandler([&](const QFont& font) {
        EXPECT_EQ(font, TTnEmulT::DefaultFont());
        return std::optional<QFont>(chosen);
    });
    ChangePreferences([](PreferencesDialog& dialog) { dialog.ChooseFont(); });
    EXPECT_EQ(first->SessionFont().toString(), chosen.toString());

    TTnEmulT* second = form->AddSessionTab("127.0.0.2");
    EXPECT_EQ(second->Font().pointSize(), 14);
    second->ZoomIn();
    EXPECT_EQ(first->Font().pointSize(), 15);
    EXPECT_EQ(form->CurrentPreferences().Zoom, 1);
    ChangePreferences([](PreferencesDialog& dialog) { dialog.UseDesktopFont(); });
    EXPECT_DOUBLE_EQ(second->Font().pointSizeF(), TTnEmulT::DefaultFont().pointSizeF() + 1);

    // The session choices reach the window: new tabs, open tabs' paste pacing, kept tabs.
    Preferences session = form->CurrentPreferences();
    session.Enter = EnterKey::Lf;
    session.Backspace = vandrel::terminal::BackspaceKey::Delete;
    session.KeepClosedTabs = true;
    session.HistoryLines = 500;
    form->SetPreferences(session);
    EXPECT_TRUE(form->KeepClosedTabs());
    EXPECT_EQ(first->EnterSends(), EnterKey::CrLf) << "an open tab keeps its choice";
    TTnEmulT* third = form->AddSessionTab("127.0.0.3");
    EXPECT_EQ(third->EnterSends(), EnterKey::Lf);
    EXPECT_EQ(third->BackspaceSends(), vandrel::terminal::BackspaceKey::Delete);
    EXPECT_EQ(first->HistoryLines(), 500);

    form->close();
    EXPECT_FALSE(QFile::exists(Settings::UserFileName()));
    EXPECT_TRUE(Settings::UserFileName().endsWith("/Vandrel/Vandrel.conf"));
    EXPECT_FALSE(Settings::UserFileName().startsWith(QDir::homePath()));  // a scratch folder
}

TEST_F(SettingsGuiTest, TheAddressBoxOffersRecentAddressesNewestFirst) {
    AddressDialogSeam::Reset();
    QStringList items;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        auto* combo = box->findChild<QComboBox*>();
        ASSERT_NE(combo, nullptr);
        for (int i = 0; i < combo->count(); ++i) {
            items.append(combo->itemText(i));
        }
        EXPECT_EQ(combo->currentText(), "10.0.0.2");
        combo->setCurrentText("10.0.0.9");
        box->accept();
    });
    const std::optional<QString> answer =
        AskConnectAddress(nullptr, "10.0.0.2", {"10.0.0.2", "plc.example"});
    EXPECT_EQ(items, (QStringList{"10.0.0.2", "plc.example"}));
    EXPECT_EQ(answer, "10.0.0.9");
}
