#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

class QLabel;

namespace vandrel::app {

// A status-bar panel whose own text can be covered by a passing notice. The panel's text
// (SetText) is kept and written as usual; a notice (Show) is what the panel displays
// instead until its time is up, and then the panel's text is back. A newer notice replaces
// an older one and starts the time again.
class StatusNotice : public QObject {
    Q_OBJECT
public:
    StatusNotice(QLabel* panel, std::chrono::milliseconds duration, QObject* parent);

    QString Text() const { return m_text; }
    void SetText(const QString& text);

    void Show(const QString& notice);
    // The notice shown now; empty when none is.
    QString Notice() const { return m_timer.isActive() ? m_notice : QString(); }

private:
    void Expire();

    QLabel* m_panel;
    QString m_text;
    QString m_notice;
    QTimer m_timer;
};

}  // namespace vandrel::app
