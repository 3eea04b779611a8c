#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

class QLabel;

namespace vandrel::app {

// A status-bar panel whose own text can be covered for a while. The panel's text (SetText)
// is kept and written as usual. A pending text (SetPending) covers it for as long as
// something waits, until it is set empty again. A notice (Show) covers both until its time
// is up; a newer notice replaces an older one and starts the time again, and Dismiss ends
// it at once. The panel always shows the topmost of the three that is there.
class StatusNotice : public QObject {
    Q_OBJECT
public:
    StatusNotice(QLabel* panel, std::chrono::milliseconds duration, QObject* parent);

    QString Text() const { return m_text; }
    void SetText(const QString& text);

    QString Pending() const { return m_pending; }
    void SetPending(const QString& text);

    void Show(const QString& notice);
    void Dismiss();
    // The notice shown now; empty when none is.
    QString Notice() const { return m_timer.isActive() ? m_notice : QString(); }

private:
    void Expire();
    // Writes what the panel shows when no notice covers it.
    void ShowUncovered();

    QLabel* m_panel;
    QString m_text;
    QString m_pending;
    QString m_notice;
    QTimer m_timer;
};

}  // namespace vandrel::app
