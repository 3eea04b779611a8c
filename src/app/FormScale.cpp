#include "app/FormScale.h"

#include <QFontMetrics>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTableView>

#include <algorithm>
#include <cmath>

namespace vandrel::app {

FormScale::FormScale(const QFont& font)
    : m_x(QFontMetricsF(font).averageCharWidth() / DrawnCharWidth),
      m_y(QFontMetrics(font).height() / DrawnLineHeight) {}

int FormScale::X(int pixels) const {
    return static_cast<int>(std::lround(pixels * m_x));
}

int FormScale::Y(int pixels) const {
    return static_cast<int>(std::lround(pixels * m_y));
}

QRect FitFrameToScreen(QRect frame, const QRect& available) {
    if (available.isEmpty()) {
        return frame;
    }
    frame.setWidth(std::min(frame.width(), available.width()));
    frame.setHeight(std::min(frame.height(), available.height()));
    frame.moveLeft(
        std::clamp(frame.left(), available.left(), available.right() + 1 - frame.width()));
    frame.moveTop(
        std::clamp(frame.top(), available.top(), available.bottom() + 1 - frame.height()));
    return frame;
}

int CaptionFitWidth(const QPushButton& button) {
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    if (button.autoDefault() || button.isDefault()) {
        option.features |= QStyleOptionButton::AutoDefaultButton;
    }
    // What the style takes from the button's width before the caption is drawn.
    const QRect contents =
        button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button);
    const int frame = option.rect.width() - contents.width();
    const int margin = button.style()->pixelMetric(QStyle::PM_ButtonMargin, &option, &button);
    return button.fontMetrics().horizontalAdvance(button.text()) + margin + frame;
}

int CellFitWidth(const QTableView& view, const QString& text) {
    // The item text keeps the focus frame's margin plus one pixel on each side; a shown grid
    // takes one pixel of each column.
    const int margin = view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1;
    return view.fontMetrics().horizontalAdvance(text) + 2 * margin + (view.showGrid() ? 1 : 0);
}

QString WidestMacAddress(const QFont& font) {
    const QFontMetrics metrics(font);
    QChar widest = QLatin1Char('0');
    for (const QChar digit : QStringLiteral("0123456789abcdefABCDEF")) {
        if (metrics.horizontalAdvance(digit) > metrics.horizontalAdvance(widest)) {
            widest = digit;
        }
    }
    const QString pair(2, widest);
    return QStringList(6, pair).join(QLatin1Char(':'));
}

}  // namespace vandrel::app
