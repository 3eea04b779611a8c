#pragma once

#include <QString>

namespace vandrel::terminal {
class TCustomEmulT;
}

namespace vandrel::app {

// What a session view shows, as text: each row of the grid with the blanks at its end cut
// and followed by a line feed, the empty rows after the last written one left out. A byte
// is the character the view draws for it (one Latin-1 character per byte).
QString SessionOutputText(const terminal::TCustomEmulT& view);

}  // namespace vandrel::app
