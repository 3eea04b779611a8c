#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QFontMetrics>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>

#include <array>
#include <stdexcept>

#include "app/PrintDialog.h"
#include "app/TAboutBox.h"
#include "app/TMainForm.h"
#include "app/TStringAlignGrid.h"
#include "app/TVersionInfo.h"
#include "app/UiFonts.h"
#include "app/model/ReplaceFile.h"

namespace vandrel::app {

namespace {

// Lines of a page; line n has its top at n times the line pitch. Line 35 may begin at the
// page's bottom edge, so 34 is the last line that surely fits.
constexpr int kHeadingLine = 2;
constexpr int kHeaderLine = 4;
constexpr int kFirstRowLine = 5;
constexpr int kLastRowLine = 34;

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// Draws the device table onto pages of a printer or PDF, in device units: left margin H/20, line
// pitch H/35, column step W/8 for a page H high and W wide.
class TablePage {
public:
    TablePage(QPainter& painter, QPagedPaintDevice& printer, QString heading)
        : m_painter(painter), m_printer(printer), m_heading(std::move(heading)) {
        const int height = printer.height();
        const int width = printer.width();
        m_x0 = height / 20;
        m_pitch = height / 35;
        m_step = width / 8;
    }

    void Print(const StringGrid& grid) {
        DrawTop(grid, true);
        int line = kHeaderLine;
        for (int row = 1; row < grid.RowCount(); ++row) {
            if (++line > kLastRowLine) {
                if (!m_printer.newPage()) {
                    throw std::runtime_error("Printer error: no new page for the device table");
                }
                DrawTop(grid, false);
                line = kFirstRowLine;
            }
            for (int col = 0; col < DeviceColumns; ++col) {
                DrawText(m_columns[col], line, DisplayText(grid.Cell(col, row)));
            }
        }
    }

private:
    // The heading and the header row, both bold; the first page measures where the columns start
    // (each one step after the end of the caption before it), later pages reuse those places.
    void DrawTop(const StringGrid& grid, bool measure) {
        m_painter.setFont(PrintFont(true));
        DrawText(m_x0, kHeadingLine, m_heading);
        int end = 0;
        for (int col = 0; col < DeviceColumns; ++col) {
            if (measure) {
                m_columns[col] = col == 0 ? m_x0 : end + m_step;
            }
            end = DrawText(m_columns[col], kHeaderLine, DisplayText(grid.Cell(col, 0)));
        }
        m_painter.setFont(PrintFont(false));
    }

    // Draws a text with its top at the line and returns where it ends.
    int DrawText(int x, int line, const QString& text) {
        const QFontMetrics metrics = m_painter.fontMetrics();
        m_painter.drawText(x, line * m_pitch + metrics.ascent(), text);
        return x + metrics.horizontalAdvance(text);
    }

    QPainter& m_painter;
    QPagedPaintDevice& m_printer;
    QString m_heading;
    int m_x0 = 0;
    int m_pitch = 0;
    int m_step = 0;
    std::array<int, DeviceColumns> m_columns{};
};

// A printout into a file is made in memory with the printer's settings and then replaces the
// file in one step: a full disk, an error while drawing or an abort leaves an older file
// as it was.
void PrintPdf(const QPrinter& printer, const StringGrid& grid, const QString& heading) {
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        writer.setPdfVersion(printer.pdfVersion());
        writer.setTitle(printer.docName());
        writer.setCreator(printer.creator());
        writer.setResolution(printer.resolution());
        writer.setPageLayout(printer.pageLayout());
        QPainter painter;
        if (!painter.begin(&writer)) {
            throw std::runtime_error("Printer error: the printout could not be started");
        }
        TablePage(painter, writer, heading).Print(grid);
        if (!painter.end()) {
            throw std::runtime_error("Printer error: the printout could not be finished");
        }
    }
    const QString file = printer.outputFileName();
    if (const int error =
            ReplaceFile(QFile::encodeName(file).toStdString(), pdf.data().toStdString())) {
        throw std::runtime_error(CannotWriteText(file.toStdString(), error));
    }
}

}  // namespace

void TMainForm::mpPrintTableClick(QObject*) {
    const int row = sg->Row();
    if (!sg->Cells(0, row).empty() && !sg->Cells(2, row).empty()) {
        PrintTable();
    }
}

void TMainForm::PrintTable() {
    if (!m_printer) {
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    }
    if (!RunPrintDialog(*m_printer, this)) {
        return;
    }
    const WaitCursor wait;
    const TVersionInfo version;
    const QString heading = QStringLiteral("Vandrel ") +
                            QString::asprintf("Version %d.%d", version.GetFileVersionPart(0),
                                              version.GetFileVersionPart(1));
    m_printer->setPageOrientation(QPageLayout::Landscape);
    if (m_printer->outputFormat() == QPrinter::PdfFormat &&
        !m_printer->outputFileName().isEmpty()) {
        PrintPdf(*m_printer, sg->Grid(), heading);
        return;
    }
    QPainter painter;
    if (!painter.begin(m_printer.get())) {
        throw std::runtime_error("Printer error: the printout could not be started");
    }
    try {
        TablePage(painter, *m_printer, heading).Print(sg->Grid());
        if (!painter.end()) {
            throw std::runtime_error("Printer error: the printout could not be finished");
        }
    } catch (...) {
        m_printer->abort();
        if (painter.isActive()) {
            painter.end();
        }
        throw;
    }
}

void TMainForm::mpInfoClick(QObject*) {
    if (AboutBox != nullptr) {
        AboutBox->exec();
    }
}

}  // namespace vandrel::app
