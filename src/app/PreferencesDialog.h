#pragma once

#include <QDialog>
#include <QFont>

#include <functional>
#include <optional>

#include "app/Seam.h"
#include "app/model/Preferences.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;

namespace vandrel::app {

// Edit > Preferences...: the session settings, each control named after its field
// (HistoryLines, EnterKey, BackspaceKey, ConfirmMultiLinePaste, PasteLineDelayMs,
// KeepClosedTabs, SessionFont with the buttons ChooseFont and DesktopFont). The zoom is not
// shown: it follows the zoom keys.
class PreferencesDialog : public QDialog {
    Q_OBJECT
public:
    PreferencesDialog(const Preferences& prefs, QWidget* parent = nullptr);
    // The preferences as the controls show them now.
    Preferences Result() const;
    // Runs the font dialog for the session font (through FontDialogSeam when set).
    void ChooseFont();
    void UseDesktopFont();

private:
    void ShowFont();

    Preferences m_prefs;
    QSpinBox* m_historyLines = nullptr;
    QComboBox* m_enterKey = nullptr;
    QComboBox* m_backspaceKey = nullptr;
    QCheckBox* m_confirmPaste = nullptr;
    QSpinBox* m_pasteDelay = nullptr;
    QCheckBox* m_keepClosedTabs = nullptr;
    QLabel* m_fontName = nullptr;
};

// The session font a preference names: the desktop's fixed font when it names none or one
// the toolkit cannot read.
QFont SessionFontOf(const Preferences& prefs);

// Shows the dialog modally; the preferences chosen, or nothing when cancelled. Through
// PreferencesDialogSeam when a handler is set: it gets the dialog to change and returns
// whether it was accepted.
std::optional<Preferences> AskPreferences(QWidget* parent, const Preferences& current);

class PreferencesDialogSeam
    : public Seam<PreferencesDialogSeam, std::function<bool(PreferencesDialog& dialog)>> {};
// Answers the font dialog: gets the font offered, returns the one chosen or nothing.
class FontDialogSeam
    : public Seam<FontDialogSeam, std::function<std::optional<QFont>(const QFont& offered)>> {};

}  // namespace vandrel::app
