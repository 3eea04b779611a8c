#include "app/StatusNotice.h"

#include <QLabel>

namespace vandrel::app {

StatusNotice::StatusNotice(QLabel* panel, std::chrono::milliseconds duration, QObject* parent)
    : QObject(parent), m_panel(panel), m_text(panel->text()) {
    m_timer.setSingleShot(true);
    m_timer.setInterval(duration);
    connect(&m_timer, &QTimer::timeout, this, &StatusNotice::Expire);
}

void StatusNotice::SetText(const QString& text) {
    m_text = text;
    if (!m_timer.isActive()) {
        ShowUncovered();
    }
}

void StatusNotice::SetPending(const QString& text) {
    m_pending = text;
    if (!m_timer.isActive()) {
        ShowUncovered();
    }
}

void StatusNotice::Show(const QString& notice) {
    m_notice = notice;
    m_panel->setText(notice);
    m_panel->setToolTip(notice);
    m_timer.start();
}

void StatusNotice::Dismiss() {
    if (m_timer.isActive()) {
        m_timer.stop();
        Expire();
    }
}

void StatusNotice::Expire() {
    m_notice.clear();
    m_panel->setToolTip(QString());
    ShowUncovered();
}

void StatusNotice::ShowUncovered() {
    m_panel->setText(m_pending.isEmpty() ? m_text : m_pending);
}

}  // namespace vandrel::app
