// Export Table, Ctrl+C in the table and the status-bar notice, on a window that never
// sends anything (ephemeral discovery port, no search).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>

#include "WindowTest.h"
#include "app/DesktopLinks.h"
#include "app/TStringAlignGrid.h"
#include "support/Subprocess.h"

using namespace vandrel::app;
using namespace std::chrono_literals;

namespace {

// Every byte value a device can put into a field that matters to CSV: separators, quotes,
// line breaks, other control bytes, blanks at the ends and 8-bit characters.
const std::vector<std::vector<std::string>> kRows = {
    {"VD-100", "VS-000001", "198.18.0.11", "02:00:C6:12:00:0B", "not connected"},
    {"Pump, north", "say \"hi\"", "10.0.0.2", "two\r\nlines", " padded "},
    {std::string("nul\0ctl\x01\x1B[2J", 11), "\xC4rger \xE9t\xE9", "\x80\x9F\xFF", "tab\there", ""},
    {"=HYPERLINK(\"http://198.18.0.99\",\"x\")", "+1", "10.0.0.3", "@SUM(A1)", "-2"},
};

// The same cells as a spreadsheet gets them (one character per byte): a leading apostrophe
// before a formula, \xNN for bytes that would steer a terminal.
const std::vector<std::vector<std::string>> kRead = {
    kRows[0],
    {"Pump, north", "say \"hi\"", "10.0.0.2", "two\\x0D\nlines", " padded "},
    {"nul\\x00ctl\\x01\\x1B[2", "\xC4rger \xE9t\xE9", "\\x80\\x9F\xFF", "tab\there", ""},
    {"'=HYPERLINK(\"http://198.18.0.99\",\"x\")", "'+1", "10.0.0.3", "'@SUM(A1)", "'-2"},
};

// Row two as Ctrl+C and the row menu copy it: one line, tab-separated.
constexpr const char* kRowTwoCopied = "Pump, north\tsay \"hi\"\t10.0.0.2\ttwo  lines\t padded ";

// The table's cells as Python's csv module reads the exported file.
QJsonArray ReadWithPython(const QString& file) {
    const vandrel::test::ProcessResult result =
        vandrel::test::runProcess({"python3", "-c",
                                   "import csv, json, sys\n"
                                   "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                                   "    print(json.dumps(list(csv.reader(f))))\n",
                                   file.toStdString()},
                                  20s);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    return QJsonDocument::fromJson(QByteArray::fromStdString(result.output)).array();
}

class TableExport : public vandrel::test::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        FileDialogSeam::SetHandler([this](QFileDialog& dialog) {
            dialogTitle = dialog.windowTitle();
            dialogSuffix = dialog.defaultSuffix();
            return fileAnswer;
        });
        CreateQuietWindow();
        ShowWindow();
        for (const auto& row : kRows) {
            form->AddDeviceRow(vandrel::test::DevicePayload(row));
        }
    }

    QString dialogTitle;
    QString dialogSuffix;
};

}  // namespace

TEST_F(TableExport, TheFileReadsBackCellForCellInPython) {
    fileAnswer = dir.filePath("devices.csv");
    Control<QAction>("mpExportTable")->trigger();
    EXPECT_EQ(dialogTitle, "Export Table");
    EXPECT_EQ(dialogSuffix, "csv");
    ASSERT_TRUE(messages.empty()) << messages.front().toStdString();

    const QJsonArray records = ReadWithPython(*fileAnswer);
    ASSERT_EQ(records.size(), static_cast<qsizetype>(kRows.size() + 1));
    for (qsizetype r = 0; r < records.size(); ++r) {  // the header first
        const QJsonArray record = records[r].toArray();
        ASSERT_EQ(record.size(), DeviceColumns) << r;
        for (int c = 0; c < DeviceColumns; ++c) {
            EXPECT_EQ(record[c].toString(), r == 0 ? QString::fromLatin1(DeviceHeaders[c])
                                                   : QString::fromLatin1(kRead[r - 1][c]))
                << "row " << r << " column " << c;
        }
    }

    // Sorted, the table exports in its new order.
    Table()->SortColumn(ColIP, true);
    Control<QAction>("mpExportTable")->trigger();
    const QJsonArray sorted = ReadWithPython(*fileAnswer);
    ASSERT_EQ(sorted.size(), 5);
    EXPECT_EQ(sorted[1].toArray()[ColIP].toString(), "10.0.0.2");
    EXPECT_EQ(sorted[4].toArray()[ColIP].toString(), QString::fromLatin1(kRead[2][ColIP]));
}

TEST_F(TableExport, CancelAndUnwritablePlacesLeaveNothingHalfDone) {
    fileAnswer.reset();
    Control<QAction>("mpExportTable")->trigger();
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    fileAnswer = dir.filePath("missing folder/devices.csv");
    Control<QAction>("mpExportTable")->trigger();
    EXPECT_EQ(messages,
              std::vector<QString>{"Cannot write " + *fileAnswer + ": No such file or directory"});

    ClearDeviceTable(Table()->Grid());
    fileAnswer = dir.filePath("empty.csv");
    Control<QAction>("mpExportTable")->trigger();
    EXPECT_EQ(ReadWithPython(*fileAnswer).size(), 1) << "an empty table exports its header";
}

// On a full disk the export says why and where, and the older file stays as it was.
TEST_F(TableExport, AFullDiskKeepsTheOldFile) {
    const std::string tiny = Mount("tiny", 0);
    if (!privateMounts) {
        GTEST_SKIP() << "root-only: needs a private mount namespace: " << mountProblem;
    }
    ASSERT_FALSE(tiny.empty()) << mountProblem;
    fileAnswer = QString::fromStdString(tiny + "/devices.csv");
    writeFile(*fileAnswer, "old export\r\n");
    fillUp(tiny);
    Control<QAction>("mpExportTable")->trigger();
    EXPECT_EQ(messages,
              std::vector<QString>{"Cannot write " + *fileAnswer + ": No space left on device"});
    EXPECT_EQ(readFile(*fileAnswer), "old export\r\n");
    EXPECT_EQ(QDir(QString::fromStdString(tiny)).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"devices.csv", "filler"}));
}

TEST_F(TableExport, CtrlCInTheTableCopiesTheSelectedRow) {
    QClipboard* clipboard = QApplication::clipboard();
    Table()->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Table()->hasFocus(); }, 2000));
    Table()->SetRow(2);
    QTest::keyClick(Table(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), kRowTwoCopied);

    // Elsewhere in the window Ctrl+C is not the table's.
    clipboard->setText(QStringLiteral("before"));
    Control<QPushButton>("btnClose")->setFocus();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Control<QPushButton>("btnClose")->hasFocus(); }, 2000));
    QTest::keyClick(Control("btnClose"), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), "before");

    // An empty table has no row to copy.
    ClearDeviceTable(Table()->Grid());
    Table()->setFocus();
    QTest::keyClick(Table(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), "before");
    EXPECT_TRUE(messages.empty());
}

TEST_F(TableExport, TheRowMenuActsOnTheRowItOpensOn) {
    std::vector<QString> links;
    DesktopLinkSeam::SetHandler([&](const QUrl& url) { links.push_back(url.toString()); });
    QClipboard* clipboard = QApplication::clipboard();
    const auto openOn = [&](int row) {
        Table()->SetRow(1);
        QTest::qWait(0);  // the view takes new rows on its next pass
        const QRect cell = Table()->visualRect(Table()->model()->index(row - 1, ColDevice));
        emit Table()->customContextMenuRequested(cell.center());
        const bool shown = Control<QMenu>("RowMenu")->isVisible() && Table()->Row() == row;
        Control<QMenu>("RowMenu")->hide();
        return shown;
    };
    const auto trigger = [&](const char* name) {
        Control<QMenu>("RowMenu")->findChild<QAction*>(QString::fromLatin1(name))->trigger();
        return clipboard->text();
    };
    ASSERT_TRUE(openOn(2));
    EXPECT_EQ(trigger("RowCopyIP"), "10.0.0.2");
    EXPECT_EQ(trigger("RowCopyMac"), "two\\x0D\\x0Alines");
    EXPECT_EQ(trigger("RowCopyRow"), kRowTwoCopied);
    trigger("RowOpenInBrowser");
    // A device's IP cell that is no address opens nothing.
    ASSERT_TRUE(openOn(3));
    trigger("RowOpenInBrowser");
    EXPECT_EQ(links, std::vector<QString>{"http://10.0.0.2/"});

    // Connect opens a session to the row's device (loopback, where nothing listens).
    form->AddDeviceRow(
        vandrel::test::DevicePayload({"VD-1", "S1", "127.0.0.1", "M", "not connected"}));
    ASSERT_TRUE(openOn(5));
    trigger("RowConnect");
    EXPECT_EQ(Notebook()->count(), 1);

    // Below the rows and on the header there is no menu.
    const QPoint below(5, Table()->viewport()->height() - 2);
    emit Table()->customContextMenuRequested(below);
    EXPECT_FALSE(Control<QMenu>("RowMenu")->isVisible());
    DesktopLinkSeam::Reset();
    EXPECT_TRUE(messages.empty());
}
