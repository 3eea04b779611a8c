#include "app/SessionOutput.h"

#include <cstdint>

#include "terminal/TCustomEmulT.h"

namespace vandrel::app {

QString SessionOutputText(const terminal::TCustomEmulT& view) {
    QString text;
    qsizetype written = 0;  // the length of text up to the last row with a character
    for (int row = 1; row <= view.Rows(); ++row) {
        QString line;
        for (int col = 1; col <= view.Columns(); ++col) {
            const std::uint8_t c = view.Buffer().GetCell(col, row).Character;
            line += QChar(c == 0 ? ' ' : c);
        }
        qsizetype end = line.size();
        while (end > 0 && line[end - 1] == QLatin1Char(' ')) {
            --end;
        }
        text += line.left(end) + QLatin1Char('\n');
        if (end > 0) {
            written = text.size();
        }
    }
    text.truncate(written);
    return text;
}

}  // namespace vandrel::app
