// Several sessions at once: Connect on several selected rows, Session > Type into All
// Sessions, and the captions of session tabs with their marks (typed into, script progress).
#include <QAction>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>

#include "app/StatusNotice.h"
#include "app/TMainForm.h"
#include "app/TStringAlignGrid.h"
#include "app/VandrelApplication.h"
#include "app/model/DeviceTable.h"
#include "app/model/SessionRows.h"
#include "terminal/TTnEmulT.h"

namespace vandrel::app {

using terminal::TTnEmulT;

namespace {

// Leads the caption of every tab that typing goes to; the IP stays readable after it.
const QString kTypingMark = QStringLiteral("\u00BB ");

}  // namespace

void TMainForm::CreateMultiSessionMenu() {
    mpSession->addSeparator();
    mpTypeIntoAll = mpSession->addAction(QStringLiteral("Type into &All Sessions"));
    mpTypeIntoAll->setObjectName(QStringLiteral("mpTypeIntoAll"));
    mpTypeIntoAll->setCheckable(true);
    // The terminal's own keys with Ctrl+Shift are F, C and V; this one it never sends.
    mpTypeIntoAll->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+A")));
    mpTypeIntoAll->setStatusTip(
        QStringLiteral("Send what is typed into a connected session to every connected one"));
    connect(mpTypeIntoAll, &QAction::toggled, this,
            [this](bool on) { RunGuarded([&] { SetTypeIntoAll(on); }); });
    CreateScriptMenu();
}

void TMainForm::ConnectRows(const std::vector<int>& rows) {
    int opened = 0;
    std::vector<std::string> skipped;
    std::vector<std::string> addresses;
    for (const int row : rows) {
        const std::string refusal = ConnectRefusal(sg->Grid(), row);
        if (refusal.empty()) {
            addresses.push_back(sg->Cells(ColIP, row));
        } else {
            skipped.push_back(refusal);
        }
    }
    for (const std::string& ip : addresses) {
        if (OpenSession(ip)) {
            ++opened;
        } else {
            skipped.push_back("address not usable");
        }
    }
    SetPanelText(0, QStringLiteral("Not Logging"));
    SetPanelText(1, QString());
    ShowOutcome(QString::fromLatin1(OpenedSessionsNotice(opened, skipped)));
}

void TMainForm::SetTypeIntoAll(bool on) {
    m_typeIntoAll = on;
    if (mpTypeIntoAll->isChecked() != on) {
        mpTypeIntoAll->setChecked(on);
    }
    if (on && m_typingPanel == nullptr) {
        m_typingPanel = new QLabel(StatusBar);
        m_typingPanel->setObjectName(QStringLiteral("TypingPanel"));
        m_typingPanel->setFrameShape(QFrame::Panel);
        m_typingPanel->setFrameShadow(QFrame::Sunken);
        StatusBar->addPermanentWidget(m_typingPanel);
    }
    RefreshSessionCaptions();
}

bool TMainForm::IsTypingTarget(const TTnEmulT& terminal) const {
    return terminal.SessionOpen() && !terminal.Connecting() && terminal.Error() == 0;
}

std::vector<TTnEmulT*> TMainForm::TypingTargets() const {
    std::vector<TTnEmulT*> targets;
    for (int i = 0; i < TabNotebook->count(); ++i) {
        TTnEmulT* terminal = SessionTerminal(i);
        if (terminal != nullptr && IsTypingTarget(*terminal)) {
            targets.push_back(terminal);
        }
    }
    return targets;
}

void TMainForm::ConnectTypingHooks(TTnEmulT& terminal) {
    terminal.OnKeyTyped = [this](TTnEmulT& Sender, char key, bool backspaceKey) {
        ForOtherTypingTargets(Sender, [&](TTnEmulT& other) { other.TypeKey(key, backspaceKey); });
    };
    terminal.OnPasted = [this](TTnEmulT& Sender, const QString& text) {
        // The question, if any, was asked once for all of them.
        ForOtherTypingTargets(Sender, [&](TTnEmulT& other) { other.PasteTextUnasked(text); });
    };
}

int TMainForm::PasteReach(const TTnEmulT& terminal) const {
    if (!m_typeIntoAll || !IsTypingTarget(terminal)) {
        return 1;
    }
    return static_cast<int>(TypingTargets().size());
}

void TMainForm::SendConfiguration(TTnEmulT& terminal) {
    terminal.SendText("#");
    ForOtherTypingTargets(terminal, [](TTnEmulT& other) { other.SendText("#"); });
}

QString TMainForm::SessionCaption(int index) const {
    const QVariant caption = TabNotebook->tabBar()->tabData(index);
    return caption.isValid() ? caption.toString() : TabNotebook->tabText(index);
}

void TMainForm::SetSessionCaption(int index, const QString& caption) {
    TabNotebook->tabBar()->setTabData(index, caption);
    TabNotebook->setTabText(index, caption);
    RefreshSessionCaptions();
}

void TMainForm::RefreshSessionCaptions() {
    int typing = 0;
    for (int i = 0; i < TabNotebook->count(); ++i) {
        const QString caption = SessionCaption(i);
        const TTnEmulT* terminal = SessionTerminal(i);
        const bool marked = m_typeIntoAll && terminal != nullptr && IsTypingTarget(*terminal);
        typing += marked ? 1 : 0;
        QString shown = marked ? kTypingMark + caption : caption;
        if (const QString progress = ScriptProgress(terminal); !progress.isEmpty()) {
            shown += QStringLiteral(" [%1]").arg(progress);
        }
        if (shown != TabNotebook->tabText(i)) {
            // The caption without marks stays with the tab: Close and the texts go by it.
            TabNotebook->tabBar()->setTabData(i, caption);
            TabNotebook->setTabText(i, shown);
        }
    }
    if (m_typingPanel != nullptr) {
        m_typingPanel->setVisible(m_typeIntoAll);
        m_typingPanel->setText(typing == 1 ? QStringLiteral("Typing into 1 session")
                                           : QStringLiteral("Typing into %1 sessions").arg(typing));
    }
}

}  // namespace vandrel::app
