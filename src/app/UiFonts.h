#pragma once

#include <QFont>

namespace vandrel::app {

// The windows' fonts. The window was drawn for an 8-point sans-serif form font; on this
// desktop that is the program's font (QApplication::font(), the desktop's UI font unless
// the program was given another), and the other sizes keep their proportion to it.

// The form's font (8 point, 11 pixels, where it was drawn).
QFont FormFont();
// The same, bold (labels and tab captions).
QFont FormBoldFont();
// Bold, 13 pixels where drawn: the device table's header row.
QFont GridHeaderFont();
// The information dialog's font: regular, 13 pixels where drawn.
QFont DialogFont();
// The form font at the size that stands for points in the drawn window (10 gives the
// credits' size).
QFont FormFontAtDrawnPoints(double points);
// The printed table's font: the same family at 12 points, bold or regular.
QFont PrintFont(bool bold);

// font made larger or smaller by factor, whether its size is given in points or pixels.
QFont ScaledFont(QFont font, double factor);

// One character per byte: 128..255 as Latin-1, control bytes as visible symbols so that they
// cannot break a cell's line.
QString DisplayText(const std::string& bytes);

}  // namespace vandrel::app
