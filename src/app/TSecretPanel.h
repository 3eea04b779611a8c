#pragma once

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>

namespace vandrel::app {

// A raised panel that can scroll its credit lines once from the bottom to the top, one
// pixel per tick, over its hidden children.
//
// Threads: while scrolling, a worker thread of the panel's own sleeps for the interval and
// then draws the next frame into an off-screen image; the GUI thread paints the latest
// frame. The end of a pass reaches the GUI thread as a queued call. Everything public is
// for the GUI thread.
class TSecretPanel : public QFrame {
    Q_OBJECT
public:
    enum class TextRelief { Flat, Raised, Lowered };
    using TNotifyEvent = std::function<void(QObject* Sender)>;

    explicit TSecretPanel(QWidget* parent = nullptr);
    ~TSecretPanel() override;

    // Takes effect at the next start.
    void SetLines(const QStringList& lines) { m_lines = lines; }
    const QStringList& Lines() const { return m_lines; }
    void SetInterval(int milliseconds) { m_interval = milliseconds > 0 ? milliseconds : 1; }
    int Interval() const { return m_interval; }
    void SetTextStyle(TextRelief style) { m_textStyle = style; }
    TextRelief TextStyle() const { return m_textStyle; }
    // The scroll text's font and colour; the children keep their own.
    void SetTextFont(const QFont& font) { m_textFont = font; }
    const QFont& TextFont() const { return m_textFont; }
    void SetTextColor(const QColor& color) { m_textColor = color; }
    const QColor& TextColor() const { return m_textColor; }

    // Scrolling: starting hides the visible children, stopping (by hand or at the end of
    // the pass) shows them again.
    bool Active() const { return m_thread != nullptr; }
    void SetActive(bool active);

    // Pixels scrolled in the current pass, and the pass's length in pixels.
    int Position() const { return m_position.load(); }
    int Total() const { return m_total; }

    // A double click on the panel where no child takes it.
    TNotifyEvent OnDblClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    struct Pass;
    void Start();
    void Stop();
    QRect TextArea() const;
    void RunTimer(const Pass& pass, std::uint64_t run);
    void EndOfPass(std::uint64_t run);
    static QImage DrawFrame(const Pass& pass, int position);

    QStringList m_lines;
    int m_interval = 40;
    TextRelief m_textStyle = TextRelief::Raised;
    QFont m_textFont;
    QColor m_textColor = Qt::blue;

    // GUI thread only.
    std::unique_ptr<std::thread> m_thread;
    std::uint64_t m_run = 0;
    int m_total = 0;
    QList<QPointer<QWidget>> m_hiddenChildren;

    std::atomic<int> m_position{0};
    std::atomic<bool> m_repaintPosted{false};
    std::binary_semaphore m_stopSignal{0};
    std::mutex m_mutex;  // guards the frame
    QImage m_frame;
};

}  // namespace vandrel::app
