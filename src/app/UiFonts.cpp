#include "app/UiFonts.h"

#include <QFontDatabase>
#include <QString>

#include <string>

namespace vandrel::app {

QFont FormFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(11);
    return font;
}

QFont FormBoldFont() {
    QFont font = FormFont();
    font.setBold(true);
    return font;
}

QFont GridHeaderFont() {
    QFont font = FormBoldFont();
    font.setPixelSize(13);
    return font;
}

QFont DialogFont() {
    QFont font = FormFont();
    font.setPixelSize(13);
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
