// Print Table into PDF files through QPrinter (the print dialog answered by the test), read
// back with pdftotext. This executable carries the version block 1.3.0.34.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/MessageDlg.h"
#include "app/PrintDialog.h"
#include "app/TMainForm.h"
#include "app/TStringAlignGrid.h"
#include "discovery/TUDPServer.h"

using namespace vandrel::app;

// Readable failure messages for texts and lists of texts.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

struct Word {
    int page = 0;
    double xMin = 0, yMin = 0, xMax = 0;
    QString text;
};

// The words of a printout by page and line (line n has its top at n times the pitch),
// each line's words from left to right, with their positions in points from the printable
// area's corner.
struct Printout {
    int pages = 0;
    bool landscape = false;
    double pitch = 0;  // points
    std::map<std::pair<int, int>, std::vector<Word>> lines;

    QStringList Texts(int page, int line) const {
        QStringList texts;
        const auto found = lines.find({page, line});
        if (found != lines.end()) {
            for (const Word& w : found->second) {
                texts << w.text;
            }
        }
        return texts;
    }
    const Word* Find(int page, int line, const QString& text) const {
        const auto found = lines.find({page, line});
        if (found != lines.end()) {
            for (const Word& w : found->second) {
                if (w.text == text) {
                    return &w;
                }
            }
        }
        return nullptr;
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
    out.pitch = printer.height() / 35 * 72.0 / printer.resolution();
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
        Word w{out.pages, m.captured(3).toDouble() - area.left(),
               m.captured(4).toDouble() - area.top(), m.captured(5).toDouble() - area.left(),
               m.captured(6)};
        const int line = static_cast<int>(std::lround(w.yMin / out.pitch));
        out.lines[{w.page, line}].push_back(w);
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
    const QStringList t = RowTexts(n);
    return (t[0] + "\x1F" + t[1] + "\x1F" + t[2] + "\x1F" + t[3] + "\x1Fnot connected")
        .toStdString();
}

const QStringList Heading = {"Vandrel", "Version", "1.3"};
const QStringList Header = {"Device", "S/N", "IP", "Mac", "Status"};

class PrintTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        MessageDlgSeam::SetHandler([this](TMsgDlgType, const QString& text) {
            messages.push_back(text);
            return TModalResult::mrOk;
        });
        PrintDialogSeam::SetHandler([this](QPrinter& printer) {
            ++dialogs;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return confirm;
        });
        form = std::make_unique<TMainForm>();
        form->UDPServer->SetDefaultPort(0);
    }
    void TearDown() override {
        form.reset();
        PrintDialogSeam::Reset();
        MessageDlgSeam::Reset();
    }

    void AddRows(int count) {
        for (int n = 1; n <= count; ++n) {
            form->AddDeviceRow(Payload(n));
        }
        form->sg->SetRow(1);
    }

    Printout Print() {
        form->mpPrintTable->trigger();
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        return Read(pdf, *form->Printer);
    }

    QTemporaryDir dir;
    QString pdf = dir.filePath(QStringLiteral("table.pdf"));
    std::unique_ptr<TMainForm> form;
    std::vector<QString> messages;
    int dialogs = 0;
    bool confirm = true;
};

// A printer whose second page cannot be started.
class FailingPrinter : public QPrinter {
public:
    FailingPrinter() : QPrinter(QPrinter::HighResolution) {}
    bool newPage() override { return false; }
};

}  // namespace

TEST_F(PrintTableTest, HeadingHeaderAndRowsOnTheirLines) {
    AddRows(3);
    const Printout out = Print();
    EXPECT_EQ(out.pages, 1);
    EXPECT_TRUE(out.landscape);
    EXPECT_EQ(out.Texts(1, 2), Heading);
    EXPECT_EQ(out.Texts(1, 4), Header);
    for (int r = 1; r <= 3; ++r) {
        EXPECT_EQ(out.Texts(1, 4 + r), RowTexts(r)) << r;
    }
    EXPECT_EQ(out.lines.size(), 5u);

    // The layout view shows the same: heading, a blank line, header, rows.
    QStringList layout = Tool(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, "-"})
                             .split(QLatin1Char('\n'));
    while (!layout.isEmpty() && layout.first().trimmed().isEmpty()) {
        layout.removeFirst();
    }
    ASSERT_GE(layout.size(), 6);
    EXPECT_EQ(layout[0].simplified(), QStringLiteral("Vandrel Version 1.3"));
    EXPECT_EQ(layout[1].simplified(), QString());
    EXPECT_EQ(layout[2].simplified(), QStringLiteral("Device S/N IP Mac Status"));
    EXPECT_EQ(layout[3].simplified(), RowTexts(1).join(QLatin1Char(' ')));
    EXPECT_EQ(layout[5].simplified(), RowTexts(3).join(QLatin1Char(' ')));
}

// Each column starts one step (a W/8) after the end of the caption before it; every row
// and a row with blank cells use the header's places.
TEST_F(PrintTableTest, ColumnsFollowTheHeaderCaptions) {
    AddRows(2);
    form->AddDeviceRow(
        "Blank\x1F\x1F"
        "10.9.9.9\x1F\x1F"
        "connected");
    const Printout out = Print();
    const QPrinter& printer = *form->Printer;
    const double unit = 72.0 / printer.resolution();
    const double step = printer.width() / 8 * unit;
    const double x0 = printer.height() / 20 * unit;
    const auto& header = out.lines.at({1, 4});
    ASSERT_EQ(header.size(), 5u);
    EXPECT_NEAR(header[0].xMin, x0, 1.0);
    for (int c = 1; c < 5; ++c) {
        EXPECT_NEAR(header[c].xMin - header[c - 1].xMax, step, 1.5) << c;
    }
    for (int line = 5; line <= 6; ++line) {
        for (int c = 0; c < 5; ++c) {
            EXPECT_NEAR(out.lines.at({1, line})[c].xMin, header[c].xMin, 0.5) << line << c;
        }
    }
    EXPECT_EQ(out.Texts(1, 7), (QStringList{"Blank", "10.9.9.9", "connected"}));
    EXPECT_NEAR(out.Find(1, 7, "10.9.9.9")->xMin, header[2].xMin, 0.5);
    EXPECT_NEAR(out.Find(1, 7, "connected")->xMin, header[4].xMin, 0.5);
}

TEST_F(PrintTableTest, RowsInTableOrderAfterSorting) {
    AddRows(4);
    form->sg->SortColumn(0, false);
    const Printout out = Print();
    for (int r = 1; r <= 4; ++r) {
        EXPECT_EQ(out.Texts(1, 4 + r), RowTexts(5 - r)) << r;
    }
}

// Rows 31 on continue on further pages under the same heading and header; the first page is
// the single page of a short table.
TEST_F(PrintTableTest, LongTablesContinueOnFurtherPages) {
    const struct {
        int rows;
        int pages;
    } cases[] = {{30, 1}, {40, 2}, {45, 2}, {61, 3}};
    for (const auto& c : cases) {
        form->ClearDeviceTable();
        AddRows(c.rows);
        const Printout out = Print();
        ASSERT_EQ(out.pages, c.pages) << c.rows;
        for (int page = 1; page <= c.pages; ++page) {
            EXPECT_EQ(out.Texts(page, 2), Heading) << page;
            EXPECT_EQ(out.Texts(page, 4), Header) << page;
            for (int c2 = 0; c2 < 5; ++c2) {
                EXPECT_NEAR(out.lines.at({page, 4})[c2].xMin, out.lines.at({1, 4})[c2].xMin, 0.5);
            }
        }
        for (int r = 1; r <= c.rows; ++r) {
            const int page = (r - 1) / 30 + 1;
            const int line = 5 + (r - 1) % 30;
            EXPECT_EQ(out.Texts(page, line), RowTexts(r)) << c.rows << " row " << r;
        }
        EXPECT_EQ(out.lines.size(), static_cast<std::size_t>(c.rows + 2 * c.pages)) << c.rows;
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
        {"row without IP", "Dev\x1FSN\x1F\x1FMac\x1Fnot connected", true, 0},
        {"row without device",
         "\x1FSN\x1F"
         "10.0.0.1\x1FMac\x1Fnot connected",
         true, 0},
        {"dialog cancelled", Payload(1), false, 1},
    };
    for (const auto& c : cases) {
        form->ClearDeviceTable();
        if (!c.row.empty()) {
            form->AddDeviceRow(c.row);
            form->sg->SetRow(1);
        }
        dialogs = 0;
        confirm = c.confirm;
        form->mpPrintTable->trigger();
        EXPECT_EQ(dialogs, c.dialogs) << c.what;
        EXPECT_FALSE(QFile::exists(pdf)) << c.what;
        EXPECT_TRUE(messages.empty()) << c.what;
    }
}

// An error while drawing aborts the job (no file is left) and reaches the default error
// report; the cursor is normal again.
TEST_F(PrintTableTest, ErrorWhileDrawingAbortsAndIsReported) {
    form->Printer = std::make_unique<FailingPrinter>();
    AddRows(31);
    form->mpPrintTable->trigger();
    EXPECT_EQ(messages, std::vector<QString>{
                            QStringLiteral("Printer error: no new page for the device table")});
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(form->Printer->pageLayout().orientation(), QPageLayout::Landscape);

    // Without an error the same printer prints a short table.
    messages.clear();
    form->ClearDeviceTable();
    AddRows(2);
    EXPECT_EQ(Print().pages, 1);
}

TEST_F(PrintTableTest, PrintoutThatCannotStartIsReported) {
    pdf = dir.filePath(QStringLiteral("no-such-folder/table.pdf"));
    AddRows(2);
    form->mpPrintTable->trigger();
    EXPECT_EQ(messages, std::vector<QString>{
                            QStringLiteral("Printer error: the printout could not be started")});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// With VANDREL_PRINT_IMAGE=<file.png> set, saves the first page of a printout as an image.
TEST_F(PrintTableTest, PageImage) {
    const QString image = qEnvironmentVariable("VANDREL_PRINT_IMAGE");
    if (image.isEmpty()) {
        GTEST_SKIP() << "VANDREL_PRINT_IMAGE not set";
    }
    const char* names[] = {"VD-200 Gateway", "VD-110 Sensor", "VD-200 Gateway", "VD-310 Relay"};
    for (int n = 0; n < 8; ++n) {
        const std::string k = std::to_string(11 + n);
        form->AddDeviceRow(std::string(names[n % 4]) +
                           "\x1F"
                           "A1B2C3-00" +
                           k +
                           "\x1F"
                           "198.18.0." +
                           k +
                           "\x1F"
                           "02:00:C6:12:00:" +
                           k +
                           (n == 2 ? "\x1F"
                                     "connected"
                                   : "\x1Fnot connected"));
    }
    form->sg->SetRow(1);
    Print();
    const QString base = image.chopped(4);
    Tool(QStringLiteral("pdftoppm"),
         {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("60"),
          QStringLiteral("-singlefile"), pdf, base});
    EXPECT_TRUE(QFile::exists(image));
}
