#include "app/UiFonts.h"

#include <QApplication>
#include <QString>

#include <algorithm>
#include <cmath>
#include <string>

namespace vandrel::app {

namespace {

constexpr double kDrawnFormPoints = 8.0;
constexpr double kDrawnFormPixels = 11.0;
constexpr double kDrawnLargePixels = 13.0;

}  // namespace

QFont FormFont() {
    return QApplication::font();
}

QFont FormBoldFont() {
    QFont font = FormFont();
    font.setBold(true);
    return font;
}

QFont GridHeaderFont() {
    QFont font = ScaledFont(FormFont(), kDrawnLargePixels / kDrawnFormPixels);
    font.setBold(true);
    return font;
}

QFont DialogFont() {
    return ScaledFont(FormFont(), kDrawnLargePixels / kDrawnFormPixels);
}

QFont FormFontAtDrawnPoints(double points) {
    return ScaledFont(FormFont(), points / kDrawnFormPoints);
}

QFont ScaledFont(QFont font, double factor) {
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * factor);
    } else if (font.pixelSize() > 0) {
        font.setPixelSize(std::max(1, static_cast<int>(std::lround(font.pixelSize() * factor))));
    }
    return font;
}

QFont PrintFont(bool bold) {
    QFont font = FormFont();
    font.setPointSize(12);
    font.setBold(bold);
    return font;
}

QString DisplayText(const std::string& bytes) {
    QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20) {
            *out++ = QChar(static_cast<char16_t>(0x2400 + byte));  // control pictures
        } else if (byte == 0x7F) {
            *out++ = QChar(static_cast<char16_t>(0x2421));
        } else {
            *out++ = QChar(static_cast<char16_t>(byte));
        }
    }
    return text;
}

}  // namespace vandrel::app
