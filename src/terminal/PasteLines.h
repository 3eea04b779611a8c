#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vandrel::terminal {

// One line of pasted text: its characters as the session's bytes, and whether a line end
// followed it (sent as the session's Enter sequence).
struct PasteLine {
    std::string text;
    bool lineEnd = false;

    bool operator==(const PasteLine&) const = default;
};

// Pasted text as the session's 8-bit bytes: a character of Latin-1 is its own byte, any
// other character (a surrogate pair counting as one) becomes '?'. The terminal shows one
// byte per character, so UTF-8 would reach the device and the screen as several characters.
std::string PasteBytes(std::u16string_view text);

// Splits bytes into lines at CR LF, CR or LF (each one line end). A last line without a line
// end is kept when it is not empty; empty text gives no lines.
std::vector<PasteLine> SplitPasteLines(std::string_view bytes);

// Data bytes as telnet sends them: each 0xFF (IAC) doubled, so that the server reads the
// byte itself and not the start of a command.
std::string EscapeIac(std::string_view bytes);

}  // namespace vandrel::terminal
