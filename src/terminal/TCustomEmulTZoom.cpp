// Zoom of the terminal view: the session font's size in steps of a point.
#include <QKeyEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "terminal/TCustomEmulT.h"

namespace vandrel::terminal {

namespace {

constexpr int kMinPoints = 4;
constexpr int kMaxPoints = 96;
// One notch of a mouse wheel.
constexpr int kWheelNotch = 120;

// The size of font in points; a font sized in pixels counts a pixel as a point.
qreal Points(const QFont& font) {
    return font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize();
}

}  // namespace

void TCustomEmulT::SetSessionFont(const QFont& value) {
    if (value == m_sessionFont) {
        return;
    }
    m_sessionFont = value;
    ShowZoomed(m_zoom);
}

void TCustomEmulT::SetZoom(int steps) {
    if (steps != m_zoom) {
        ShowZoomed(steps);
    }
}

void TCustomEmulT::ShowZoomed(int steps) {
    // The steps are kept within what the size range allows for this font; at 0 the session
    // font is shown exactly as given.
    const qreal base = Points(m_sessionFont);
    const qreal lowest = std::min<qreal>(kMinPoints, base);
    const qreal highest = std::max<qreal>(kMaxPoints, base);
    m_zoom = std::clamp(steps, std::max(-kMaxPoints, static_cast<int>(std::ceil(lowest - base))),
                        std::min(kMaxPoints, static_cast<int>(std::floor(highest - base))));
    QFont f = m_sessionFont;
    if (m_zoom != 0 && m_sessionFont.pointSizeF() > 0) {
        f.setPointSizeF(base + m_zoom);
    } else if (m_zoom != 0) {
        f.setPixelSize(static_cast<int>(base) + m_zoom);
    }
    SetFont(f);
}

void TCustomEmulT::ZoomTo(int steps) {
    const int before = m_zoom;
    SetZoom(steps);
    if (m_zoom != before && OnZoom) {
        OnZoom(*this);
    }
}

void TCustomEmulT::ZoomIn() {
    ZoomTo(m_zoom + 1);
}

void TCustomEmulT::ZoomOut() {
    ZoomTo(m_zoom - 1);
}

void TCustomEmulT::ZoomReset() {
    ZoomTo(0);
}

bool TCustomEmulT::ZoomKey(const QKeyEvent& event) {
    // Shift is allowed: on many layouts Plus is a shifted key.
    const Qt::KeyboardModifiers mods =
        event.modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    if (mods != Qt::ControlModifier) {
        return false;
    }
    switch (event.key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            ZoomIn();
            return true;
        case Qt::Key_Minus:
            ZoomOut();
            return true;
        case Qt::Key_0:
            ZoomReset();
            return true;
        default:
            return false;
    }
}

bool TCustomEmulT::WheelZoom(const QWheelEvent& event) {
    if (!(event.modifiers() & Qt::ControlModifier)) {
        m_wheelZoom = 0;
        return false;
    }
    // Fine-grained wheels (touchpads) add up to whole notches.
    const int delta = event.angleDelta().y();
    if ((delta > 0) != (m_wheelZoom > 0)) {
        m_wheelZoom = 0;
    }
    m_wheelZoom += delta;
    while (m_wheelZoom >= kWheelNotch) {
        m_wheelZoom -= kWheelNotch;
        ZoomIn();
    }
    while (m_wheelZoom <= -kWheelNotch) {
        m_wheelZoom += kWheelNotch;
        ZoomOut();
    }
    return true;
}

}  // namespace vandrel::terminal
