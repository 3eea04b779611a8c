#pragma once

#include <QFrame>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace vandrel::terminal {

// Where a search goes from the current match: stay on it while it still matches (typing),
// or move to the next or the previous one.
enum class FindStep { Here, Next, Previous };

// The small bar a terminal view shows over its top right corner to find text: the text,
// Previous and Next, a case switch and a count. Enter finds the next match, Shift+Enter the
// previous one, Escape closes the bar.
class EmulTFindBar : public QFrame {
    Q_OBJECT

public:
    explicit EmulTFindBar(QWidget* parent);

    QString Text() const;
    bool MatchCase() const;
    // Puts the focus into the text, all of it selected.
    void FocusText();
    void SetStatus(const QString& status);

    std::function<void(FindStep step)> OnFind;
    std::function<void()> OnClose;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* m_text;
    QCheckBox* m_matchCase;
    QLabel* m_status;
};

}  // namespace vandrel::terminal
