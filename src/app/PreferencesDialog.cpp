#include "app/PreferencesDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "terminal/TCustomEmulT.h"

namespace vandrel::app {

using terminal::BackspaceKey;
using terminal::EnterKey;

namespace {

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

}  // namespace

QFont SessionFontOf(const Preferences& prefs) {
    QFont font;
    if (!prefs.SessionFont.empty() && font.fromString(QString::fromStdString(prefs.SessionFont))) {
        return font;
    }
    return terminal::TCustomEmulT::DefaultFont();
}

PreferencesDialog::PreferencesDialog(const Preferences& prefs, QWidget* parent)
    : QDialog(parent), m_prefs(prefs) {
    setObjectName(QStringLiteral("PreferencesDialog"));
    setWindowTitle(QStringLiteral("Preferences"));
    auto* form = new QFormLayout();

    m_historyLines = Named(new QSpinBox(this), "HistoryLines");
    m_historyLines->setRange(0, Preferences::kMaxHistoryLines);
    m_historyLines->setSingleStep(1000);
    m_historyLines->setSpecialValueText(QStringLiteral("Off"));
    m_historyLines->setValue(prefs.HistoryLines);
    form->addRow(QStringLiteral("&Scrollback lines:"), m_historyLines);

    m_enterKey = Named(new QComboBox(this), "EnterKey");
    m_enterKey->addItem(QStringLiteral("CR LF"), static_cast<int>(EnterKey::CrLf));
    m_enterKey->addItem(QStringLiteral("CR"), static_cast<int>(EnterKey::Cr));
    m_enterKey->addItem(QStringLiteral("LF"), static_cast<int>(EnterKey::Lf));
    m_enterKey->setCurrentIndex(m_enterKey->findData(static_cast<int>(prefs.Enter)));
    form->addRow(QStringLiteral("&Enter sends:"), m_enterKey);

    m_backspaceKey = Named(new QComboBox(this), "BackspaceKey");
    m_backspaceKey->addItem(QStringLiteral("^H (0x08)"), static_cast<int>(BackspaceKey::ControlH));
    m_backspaceKey->addItem(QStringLiteral("DEL (0x7F)"), static_cast<int>(BackspaceKey::Delete));
    m_backspaceKey->setCurrentIndex(m_backspaceKey->findData(static_cast<int>(prefs.Backspace)));
    form->addRow(QStringLiteral("&Backspace sends:"), m_backspaceKey);

    m_confirmPaste =
        Named(new QCheckBox(QStringLiteral("Ask before pasting more than one line"), this),
              "ConfirmMultiLinePaste");
    m_confirmPaste->setChecked(prefs.ConfirmMultiLinePaste);
    form->addRow(QString(), m_confirmPaste);

    m_pasteDelay = Named(new QSpinBox(this), "PasteLineDelayMs");
    m_pasteDelay->setRange(0, Preferences::kMaxPasteLineDelayMs);
    m_pasteDelay->setSuffix(QStringLiteral(" ms"));
    m_pasteDelay->setValue(prefs.PasteLineDelayMs);
    form->addRow(QStringLiteral("&Paste delay per line:"), m_pasteDelay);

    m_keepClosedTabs =
        Named(new QCheckBox(QStringLiteral("Keep the tab when the device ends the session"), this),
              "KeepClosedTabs");
    m_keepClosedTabs->setChecked(prefs.KeepClosedTabs);
    form->addRow(QString(), m_keepClosedTabs);

    auto* fontRow = new QHBoxLayout();
    m_fontName = Named(new QLabel(this), "SessionFont");
    auto* choose = Named(new QPushButton(QStringLiteral("&Font..."), this), "ChooseFont");
    auto* desktop = Named(new QPushButton(QStringLiteral("&Desktop Font"), this), "DesktopFont");
    fontRow->addWidget(m_fontName, 1);
    fontRow->addWidget(choose);
    fontRow->addWidget(desktop);
    form->addRow(QStringLiteral("Session font:"), fontRow);
    connect(choose, &QPushButton::clicked, this, &PreferencesDialog::ChooseFont);
    connect(desktop, &QPushButton::clicked, this, &PreferencesDialog::UseDesktopFont);
    ShowFont();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

Preferences PreferencesDialog::Result() const {
    Preferences p = m_prefs;
    p.HistoryLines = m_historyLines->value();
    p.Enter = static_cast<EnterKey>(m_enterKey->currentData().toInt());
    p.Backspace = static_cast<BackspaceKey>(m_backspaceKey->currentData().toInt());
    p.ConfirmMultiLinePaste = m_confirmPaste->isChecked();
    p.PasteLineDelayMs = m_pasteDelay->value();
    p.KeepClosedTabs = m_keepClosedTabs->isChecked();
    return p;
}

void PreferencesDialog::ChooseFont() {
    const QFont offered = SessionFontOf(m_prefs);
    std::optional<QFont> chosen;
    if (const auto handler = FontDialogSeam::Current()) {
        chosen = handler(offered);
    } else {
        bool ok = false;
        const QFont font = QFontDialog::getFont(&ok, offered, this, QStringLiteral("Session Font"),
                                                QFontDialog::MonospacedFonts);
        if (ok) {
            chosen = font;
        }
    }
    if (chosen) {
        m_prefs.SessionFont = chosen->toString().toStdString();
        ShowFont();
    }
}

void PreferencesDialog::UseDesktopFont() {
    m_prefs.SessionFont.clear();
    ShowFont();
}

void PreferencesDialog::ShowFont() {
    const QFont font = SessionFontOf(m_prefs);
    const QString name =
        QStringLiteral("%1, %2 pt").arg(font.family()).arg(font.pointSizeF(), 0, 'g', 3);
    m_fontName->setText(m_prefs.SessionFont.empty() ? name + QStringLiteral(" (desktop)") : name);
}

std::optional<Preferences> AskPreferences(QWidget* parent, const Preferences& current) {
    PreferencesDialog dialog(current, parent);
    const auto handler = PreferencesDialogSeam::Current();
    const bool accepted = handler ? handler(dialog) : dialog.exec() == QDialog::Accepted;
    if (!accepted) {
        return std::nullopt;
    }
    return dialog.Result();
}

}  // namespace vandrel::app
