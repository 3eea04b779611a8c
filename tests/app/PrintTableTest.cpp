// Print Table into PDF files through QPrinter (the print dialog answered by the test), read
// back with pdftotext. This executable carries the version block 1.3.0.34.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>

#include <cmath>
#include <map>
#include <ostream>

#include "WindowTest.h"
#include "app/PrintDialog.h"
#include "app/TStringAlignGrid.h"

using namespace vandrel::app;
using vandrel::test::DevicePayload;

// Readable failure messages for texts and lists of texts.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

struct Word {
    double xMin = 0, xMax = 0;
    QString text;
};

// The words of a printout by page and line (line n has its top at n pitches), left to right,
// in points from the printable area's corner.
struct Printout {
    int pages = 0;
    bool landscape = false;
    std::map<std::pair<int, int>, std::vector<Word>> lines;

    QStringList Texts(int page, int line) const {
        QStringList texts;
        if (const auto found = lines.find({page, line}); found != lines.end()) {
            for (const Word& w : found->second) {
                texts << w.text;
            }
        }
        return texts;
    }
};

QString Tool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

Printout Read(const QString& pdf, const QPrinter& printer) {
    Printout out;
    const QRectF area = printer.pageRect(QPrinter::Point);
    const double pitch = printer.height() / 35 * 72.0 / printer.resolution();
    const QString html = Tool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, "-"});
    static const QRegularExpression tag(QStringLiteral(
        R"re(<page width="([\d.]+)" height="([\d.]+)">|<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="[\d.]+">([^<]*)</word>)re"));
    for (auto it = tag.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        if (!m.captured(1).isEmpty()) {
            ++out.pages;
            out.landscape = m.captured(1).toDouble() > m.captured(2).toDouble();
            continue;
        }
        const int line =
            static_cast<int>(std::lround((m.captured(4).toDouble() - area.top()) / pitch));
        out.lines[{out.pages, line}].push_back({m.captured(3).toDouble() - area.left(),
                                                m.captured(5).toDouble() - area.left(),
                                                m.captured(6)});
    }
    for (auto& [key, words] : out.lines) {
        std::sort(words.begin(), words.end(),
                  [](const Word& a, const Word& b) { return a.xMin < b.xMin; });
    }
    return out;
}

QStringList RowTexts(int n) {
    const QString k = QString::number(n).rightJustified(2, QLatin1Char('0'));
    return {"Dev" + k, "SN" + k,   "10.0.0." + QString::number(n), "02:00:00:00:00:" + k,
            "not",     "connected"};
}

std::string Payload(int n) {
    return (RowTexts(n).mid(0, 4).join(QChar(0x1F)) + "\x1Fnot connected").toStdString();
}

const QStringList Heading = {"Vandrel", "Version", "1.3"};
const QStringList Header = {"Device", "S/N", "IP", "Mac", "Status"};

// The print dialog writes into a PDF file, or is cancelled when confirm is false.
class PrintTableTest : public vandrel::test::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        PrintDialogSeam::SetHandler([this](QPrinter& printer) {
            ++dialogs;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return confirm;
        });
        CreateQuietWindow();
    }
    void TearDown() override {
        WindowTest::TearDown();
        PrintDialogSeam::Reset();
    }

    void AddRows(int count) {
        form->ClearDeviceTable();
        for (int n = 1; n <= count; ++n) {
            form->AddDeviceRow(Payload(n));
        }
        Table()->SetRow(1);
    }

    Printout Print() {
        Control<QAction>("mpPrintTable")->trigger();
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        return Read(pdf, *form->TablePrinter());
    }

    QString pdf = dir.filePath(QStringLiteral("table.pdf"));
    int dialogs = 0;
    bool confirm = true;
};

}  // namespace

// Each column starts one step (a W/8) after the end of the caption before it; every row,
// one with blank cells too, uses the header's places.
TEST_F(PrintTableTest, ColumnsFollowTheHeaderCaptions) {
    AddRows(2);
    form->AddDeviceRow(DevicePayload({"Blank", "", "10.9.9.9", "", "connected"}));
    const Printout out = Print();
    const QPrinter& printer = *form->TablePrinter();
    const double unit = 72.0 / printer.resolution();
    const auto& header = out.lines.at({1, 4});
    ASSERT_EQ(header.size(), 5u);
    EXPECT_NEAR(header[0].xMin, printer.height() / 20 * unit, 1.0);
    for (int c = 1; c < 5; ++c) {
        EXPECT_NEAR(header[c].xMin - header[c - 1].xMax, printer.width() / 8 * unit, 1.5) << c;
    }
    for (int line = 5; line <= 6; ++line) {
        for (int c = 0; c < 5; ++c) {
            EXPECT_NEAR(out.lines.at({1, line})[c].xMin, header[c].xMin, 0.5) << line << c;
        }
    }
    ASSERT_EQ(out.Texts(1, 7), (QStringList{"Blank", "10.9.9.9", "connected"}));
    EXPECT_NEAR(out.lines.at({1, 7})[1].xMin, header[2].xMin, 0.5);
    EXPECT_NEAR(out.lines.at({1, 7})[2].xMin, header[4].xMin, 0.5);
}

// Heading on line 2, header on line 4, the rows from line 5 in the table's order, sorted or
// not, and nothing else; rows 31 on continue on further pages under the same heading and
// header in the same places.
TEST_F(PrintTableTest, LongTablesContinueOnFurtherPages) {
    const struct {
        int rows;
        int pages;
        bool descending;
    } cases[] = {{3, 1, false},  {3, 1, true},  {30, 1, false},
                 {40, 2, false}, {45, 2, true}, {61, 3, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rows << " rows" << (c.descending ? " sorted" : ""));
        AddRows(c.rows);
        if (c.descending) {
            Table()->SortColumn(0, false);
        }
        const Printout out = Print();
        ASSERT_EQ(out.pages, c.pages);
        EXPECT_TRUE(out.landscape);
        for (int page = 1; page <= c.pages; ++page) {
            EXPECT_EQ(out.Texts(page, 2), Heading) << page;
            ASSERT_EQ(out.Texts(page, 4), Header) << page;
            for (int col = 0; col < 5; ++col) {
                EXPECT_NEAR(out.lines.at({page, 4})[col].xMin, out.lines.at({1, 4})[col].xMin, 0.5);
            }
        }
        for (int i = 0; i < c.rows; ++i) {
            EXPECT_EQ(out.Texts(i / 30 + 1, 5 + i % 30),
                      RowTexts(c.descending ? c.rows - i : i + 1))
                << "printed row " << i + 1;
        }
        EXPECT_EQ(out.lines.size(), static_cast<std::size_t>(c.rows + 2 * c.pages));
    }
}

TEST_F(PrintTableTest, NothingIsPrintedWithoutDeviceOrConfirmation) {
    const struct {
        const char* what;
        std::string row;  // empty: an empty table
        bool confirm;
        int dialogs;
    } cases[] = {
        {"empty table", "", true, 0},
        {"row without IP", DevicePayload({"Dev", "SN", "", "Mac", "not connected"}), true, 0},
        {"row without device", DevicePayload({"", "SN", "10.0.0.1", "Mac", "not connected"}), true,
         0},
        {"dialog cancelled", Payload(1), false, 1},
    };
    for (const auto& c : cases) {
        form->ClearDeviceTable();
        if (!c.row.empty()) {
            form->AddDeviceRow(c.row);
            Table()->SetRow(1);
        }
        dialogs = 0;
        confirm = c.confirm;
        Control<QAction>("mpPrintTable")->trigger();
        EXPECT_EQ(dialogs, c.dialogs) << c.what;
        EXPECT_FALSE(QFile::exists(pdf)) << c.what;
        EXPECT_TRUE(messages.empty()) << c.what;
    }
}

// A file that cannot be written, into a missing folder or over a folder: the error reaches
// the default error report naming the cause and the file, nothing is left behind and the
// cursor is normal again. Without an error the same printer then prints a short table.
TEST_F(PrintTableTest, FailuresAreReportedAndLeaveNoFile) {
    const auto expectReported = [&](const QString& text) {
        EXPECT_EQ(messages, std::vector<QString>{"Cannot write " + pdf + ": " + text});
        EXPECT_FALSE(QFile::exists(pdf) && !QFileInfo(pdf).isDir());
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        messages.clear();
    };
    const QString writable = pdf;
    pdf = dir.filePath(QStringLiteral("no-such-folder/table.pdf"));
    AddRows(31);
    Control<QAction>("mpPrintTable")->trigger();
    expectReported(QStringLiteral("No such file or directory"));

    pdf = dir.filePath(QStringLiteral("folder.pdf"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.pdf")));
    Control<QAction>("mpPrintTable")->trigger();
    expectReported(QStringLiteral("Is a directory"));
    EXPECT_EQ(form->TablePrinter()->pageLayout().orientation(), QPageLayout::Landscape);

    pdf = writable;
    AddRows(2);
    EXPECT_EQ(Print().pages, 1);
}

// Printing over an older PDF on a full disk: the older file stays as it was, and the error
// names the cause and the file. With room again the printout replaces it.
TEST_F(PrintTableTest, AFullDiskKeepsTheOldFile) {
    const std::string tiny = Mount("tiny", 0);
    if (!privateMounts) {
        GTEST_SKIP() << "root-only: needs a private mount namespace: " << mountProblem;
    }
    ASSERT_FALSE(tiny.empty()) << mountProblem;
    pdf = QString::fromStdString(tiny + "/table.pdf");
    writeFile(pdf, "old printout");
    fillUp(tiny);
    AddRows(3);
    Control<QAction>("mpPrintTable")->trigger();
    EXPECT_EQ(messages, std::vector<QString>{"Cannot write " + pdf + ": No space left on device"});
    EXPECT_EQ(readFile(pdf), "old printout");
    EXPECT_EQ(QDir(QString::fromStdString(tiny)).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"filler", "table.pdf"}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    messages.clear();
    ASSERT_TRUE(QFile::remove(QString::fromStdString(tiny + "/filler")));
    EXPECT_EQ(Print().Texts(1, 5), RowTexts(1));
}
