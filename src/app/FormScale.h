#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QPushButton;
class QTableView;
class QString;

namespace vandrel::app {

// The windows' pixel figures were drawn for an 8-point sans-serif font with an average
// character width of 5 pixels and a line height of 13 pixels. A FormScale maps them to the
// running font: horizontal figures by the ratio of the average character widths, vertical
// ones by the ratio of the line heights. Figures are device-independent pixels, so a
// desktop scale factor (HiDPI) enlarges the result as a whole.
class FormScale {
public:
    static constexpr double DrawnCharWidth = 5.0;
    static constexpr double DrawnLineHeight = 13.0;

    explicit FormScale(const QFont& font);
    FormScale(double x, double y) : m_x(x), m_y(y) {}

    double XFactor() const { return m_x; }
    double YFactor() const { return m_y; }
    int X(int pixels) const;
    int Y(int pixels) const;
    QSize Size(int width, int height) const { return {X(width), Y(height)}; }
    QRect Rect(int left, int top, int width, int height) const {
        return {X(left), Y(top), X(width), Y(height)};
    }

private:
    double m_x = 1.0;
    double m_y = 1.0;
};

// frame moved onto available and, where it is larger, shrunk to it, so that the whole frame
// lies on the screen. An empty available (no screen known) leaves frame as it is.
QRect FitFrameToScreen(QRect frame, const QRect& available);

// The narrowest width at which the button shows its caption whole, with the style's button
// margin around it.
int CaptionFitWidth(const QPushButton& button);
// The narrowest column of the view that shows text without eliding it (in the view's font).
int CellFitWidth(const QTableView& view, const QString& text);
// The widest MAC address the font can show: six pairs of its widest hexadecimal digit.
QString WidestMacAddress(const QFont& font);

}  // namespace vandrel::app
