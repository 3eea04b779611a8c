#include "app/TSecretPanel.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include <chrono>

#include "app/VandrelApplication.h"
#include "net/HandOver.h"

namespace vandrel::app {

// What the worker needs for one pass, copied on the GUI thread when the pass starts.
struct TSecretPanel::Pass {
    QStringList lines;  // from the first non-blank one
    QFont font;
    QColor textColor;
    QColor highlight;
    QColor background;
    TextRelief style = TextRelief::Flat;
    QSize area;
    // Device pixels per pixel: the frame is drawn at the screen's resolution.
    qreal pixelRatio = 1.0;
    int lineHeight = 1;
    int total = 0;
    int interval = 40;
};

TSecretPanel::TSecretPanel(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Raised);
    setLineWidth(1);
    m_textFont = font();
    m_textFont.setBold(true);
}

TSecretPanel::~TSecretPanel() {
    Stop();
}

void TSecretPanel::SetActive(bool active) {
    if (active) {
        Start();
    } else {
        Stop();
    }
}

QRect TSecretPanel::TextArea() const {
    return contentsRect().adjusted(3, 3, -3, -3);
}

void TSecretPanel::Start() {
    if (m_thread != nullptr) {
        return;
    }
    Pass pass;
    qsizetype first = 0;
    while (first < m_lines.size() && m_lines[first].trimmed().isEmpty()) {
        ++first;
    }
    pass.lines = m_lines.mid(first);
    // A font object of its own: copies share cached glyph engines meant for one thread.
    pass.font.fromString(m_textFont.toString());
    pass.textColor = m_textColor;
    pass.highlight = palette().color(QPalette::Light);
    pass.background = palette().color(backgroundRole());
    pass.style = m_textStyle;
    const QFontMetrics metrics(m_textFont);
    pass.lineHeight =
        metrics.height() + metrics.leading() + (m_textStyle == TextRelief::Flat ? 0 : 1);
    pass.area = TextArea().size().expandedTo(QSize(1, 1));
    pass.pixelRatio = devicePixelRatioF();
    pass.total = pass.area.height() + static_cast<int>(pass.lines.size()) * pass.lineHeight;
    pass.interval = m_interval;
    m_total = pass.total;
    m_position = 0;

    m_hiddenChildren.clear();
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisible()) {
            child->hide();
            m_hiddenChildren.append(child);
        }
    }
    {
        const std::lock_guard lock(m_mutex);
        m_frame = QImage();
    }
    const std::uint64_t run = ++m_run;
    // A plain thread: thread checkers see its join, which they cannot see in QThread::wait.
    m_thread = std::make_unique<std::thread>([this, pass, run] { RunTimer(pass, run); });
}

void TSecretPanel::Stop() {
    if (m_thread == nullptr) {
        return;
    }
    m_stopSignal.release();
    m_thread->join();
    m_thread.reset();
    // A worker that ended its pass by itself left the signal unused.
    (void)m_stopSignal.try_acquire();
    {
        const std::lock_guard lock(m_mutex);
        m_frame = QImage();
    }
    for (const QPointer<QWidget>& child : std::as_const(m_hiddenChildren)) {
        if (child) {
            child->show();
            child->update();
        }
    }
    m_hiddenChildren.clear();
    update();
}

// Worker thread.
void TSecretPanel::RunTimer(const Pass& pass, std::uint64_t run) {
    // A semaphore rather than a condition variable: its timed wait is plain atomics that
    // thread checkers follow.
    while (!m_stopSignal.try_acquire_for(std::chrono::milliseconds(pass.interval))) {
        int position = m_position.load();
        if (position < pass.total) {
            m_position.store(++position);
        }
        QImage frame = DrawFrame(pass, position);
        {
            const std::lock_guard lock(m_mutex);
            m_frame = std::move(frame);
        }
        if (!m_repaintPosted.exchange(true)) {
            net::InvokeQueued(this, [this] {
                m_repaintPosted = false;
                update(TextArea());
            });
        }
        if (position >= pass.total) {
            net::InvokeQueued(this, [this, run] { EndOfPass(run); });
            return;
        }
    }
}

void TSecretPanel::EndOfPass(std::uint64_t run) {
    // A pass stopped by hand, or followed by a new one, has ended already.
    if (run == m_run) {
        Stop();
    }
}

void TSecretPanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (m_thread == nullptr) {
        return;
    }
    QImage frame;
    {
        const std::lock_guard lock(m_mutex);
        frame = m_frame;
    }
    if (!frame.isNull()) {
        QPainter painter(this);
        painter.drawImage(TextArea().topLeft(), frame);
    }
}

void TSecretPanel::mouseDoubleClickEvent(QMouseEvent* event) {
    if (childAt(event->position().toPoint()) != nullptr || !OnDblClick) {
        QFrame::mouseDoubleClickEvent(event);
        return;
    }
    RunGuarded([this] { OnDblClick(this); });
}

// The lines and a final blank line, the first line's top at the area's height minus the
// position, so the text enters at the bottom and leaves at the top.
QImage TSecretPanel::DrawFrame(const Pass& pass, int position) {
    QImage image(pass.area * pass.pixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(pass.pixelRatio);
    image.fill(pass.background);
    QPainter painter(&image);
    painter.setFont(pass.font);
    const int width = pass.area.width();
    const int count = static_cast<int>(pass.lines.size()) + 1;  // and one blank line
    for (int i = 0; i < count; ++i) {
        const int top = pass.area.height() - position + i * pass.lineHeight;
        if (top + pass.lineHeight <= 0 || top >= pass.area.height()) {
            continue;
        }
        const QString text = i < pass.lines.size() ? pass.lines[i] : QStringLiteral(" ");
        const QRect line(0, top, width, pass.lineHeight);
        constexpr int flags =
            Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine | Qt::TextExpandTabs;
        if (pass.style != TextRelief::Flat) {
            // Raised: the light copy up and left; lowered: down and right.
            const int shift = pass.style == TextRelief::Raised ? -1 : 1;
            painter.setPen(pass.highlight);
            painter.drawText(line.translated(shift, shift), flags, text);
        }
        painter.setPen(pass.textColor);
        painter.drawText(line, flags, text);
    }
    return image;
}

}  // namespace vandrel::app
