#pragma once

#include <map>
#include <string>
#include <vector>

#include "terminal/KeyBytes.h"

namespace vandrel::app {

// The settings the user chooses in the Preferences dialog. Every default keeps a session
// exactly as it is without any settings.
struct Preferences {
    static constexpr int kMaxHistoryLines = 1000000;
    static constexpr int kMaxPasteLineDelayMs = 10000;
    // The zoom steps a session view can take (as many as its largest size has points).
    static constexpr int kMinZoom = -96;
    static constexpr int kMaxZoom = 96;

    // Lines kept above the grid; 0 keeps none.
    int HistoryLines = 10000;
    terminal::EnterKey Enter = terminal::EnterKey::CrLf;
    terminal::BackspaceKey Backspace = terminal::BackspaceKey::ControlH;
    // Pause after each line of a paste.
    int PasteLineDelayMs = 0;
    // A paste of more than one line asks first.
    bool ConfirmMultiLinePaste = true;
    // A tab whose session the device ended stays open.
    bool KeepClosedTabs = false;
    // The session font as the toolkit describes it; empty: the desktop's fixed font.
    std::string SessionFont;
    // Font size steps from the session font's size (Ctrl+Plus, Ctrl+Minus).
    int Zoom = 0;

    bool operator==(const Preferences&) const = default;
};

// Settings as the settings file holds them: key ("Group/Name") to text.
using SettingValues = std::map<std::string, std::string>;

// Reads the preferences from values. A missing key gives its default; a damaged value (not
// a number, an unknown choice) gives the default too, and a number out of range is clamped.
// The keys of damaged or clamped values are appended to damaged.
Preferences ReadPreferences(const SettingValues& values, std::vector<std::string>& damaged);
// Puts every preference into values, in the form ReadPreferences reads.
void WritePreferences(const Preferences& preferences, SettingValues& values);

// The addresses typed into Connect to Address, newest first.
constexpr std::size_t kRecentAddressLimit = 10;
// Puts address (blanks around it dropped) first; an equal one (letters compared without
// case) moves there instead of appearing twice; the list keeps at most kRecentAddressLimit.
void RememberAddress(std::vector<std::string>& recent, const std::string& address);
// Reads the list kept under "Connect/Address1" ... "Connect/Address10". Entries that are no
// address or host name, and repeats, are dropped and their keys appended to damaged.
std::vector<std::string> ReadRecentAddresses(const SettingValues& values,
                                             std::vector<std::string>& damaged);
void WriteRecentAddresses(const std::vector<std::string>& recent, SettingValues& values);

}  // namespace vandrel::app
