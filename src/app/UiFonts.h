#pragma once

#include <QFont>

namespace vandrel::app {

// The form's font: the desktop's default sans-serif UI font at 11 pixels (8 point).
QFont FormFont();
// The same, bold (labels and tab captions).
QFont FormBoldFont();
// Bold, 13 pixels: the device table's header row.
QFont GridHeaderFont();
// The information dialog's font: regular, 13 pixels.
QFont DialogFont();
// The printed table's font: the same family at 12 points, bold or regular.
QFont PrintFont(bool bold);

// One character per byte: 128..255 as Latin-1, control bytes as visible symbols so that they
// cannot break a cell's line.
QString DisplayText(const std::string& bytes);

}  // namespace vandrel::app
