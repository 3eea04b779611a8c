#include "terminal/EmulTFindBar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace vandrel::terminal {

EmulTFindBar::EmulTFindBar(QWidget* parent)
    : QFrame(parent),
      m_text(new QLineEdit(this)),
      m_matchCase(new QCheckBox(tr("Match case"), this)),
      m_status(new QLabel(this)) {
    setObjectName(QStringLiteral("findBar"));
    setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    setAutoFillBackground(true);
    m_text->setObjectName(QStringLiteral("findText"));
    m_text->setPlaceholderText(tr("Find"));
    m_matchCase->setObjectName(QStringLiteral("findMatchCase"));
    m_status->setObjectName(QStringLiteral("findStatus"));
    const auto button = [this](const char* name, const QString& text, auto action) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(text);
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::clicked, this, action);
        return b;
    };
    const auto find = [this](FindStep step) {
        if (OnFind) {
            OnFind(step);
        }
    };
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(m_text);
    layout->addWidget(button("findPrevious", tr("Previous"), [find] { find(FindStep::Previous); }));
    layout->addWidget(button("findNext", tr("Next"), [find] { find(FindStep::Next); }));
    layout->addWidget(m_matchCase);
    layout->addWidget(m_status);
    layout->addWidget(button("findClose", tr("Close"), [this] {
        if (OnClose) {
            OnClose();
        }
    }));
    connect(m_text, &QLineEdit::textChanged, this, [find] { find(FindStep::Here); });
    connect(m_matchCase, &QCheckBox::toggled, this, [find] { find(FindStep::Here); });
    m_text->installEventFilter(this);
}

QString EmulTFindBar::Text() const {
    return m_text->text();
}

bool EmulTFindBar::MatchCase() const {
    return m_matchCase->isChecked();
}

void EmulTFindBar::FocusText() {
    m_text->setFocus(Qt::ShortcutFocusReason);
    m_text->selectAll();
}

void EmulTFindBar::SetStatus(const QString& status) {
    m_status->setText(status);
}

bool EmulTFindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_text && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (OnFind) {
                OnFind((key->modifiers() & Qt::ShiftModifier) != 0 ? FindStep::Previous
                                                                   : FindStep::Next);
            }
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            if (OnClose) {
                OnClose();
            }
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

}  // namespace vandrel::terminal
