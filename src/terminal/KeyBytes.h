#pragma once

#include <string_view>

namespace vandrel::terminal {

// What the Enter key sends: CR LF (the default), CR alone or LF alone.
enum class EnterKey { CrLf, Cr, Lf };
// What the Backspace key sends: 0x08 (the default) or 0x7F.
enum class BackspaceKey { ControlH, Delete };

// The bytes of the Enter key for a session.
std::string_view EnterBytes(EnterKey key);
// The byte of the Backspace key for a session.
char BackspaceByte(BackspaceKey key);

}  // namespace vandrel::terminal
