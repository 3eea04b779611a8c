#pragma once

namespace vandrel::terminal {

// What the Enter key sends into a session: CR LF, CR alone or LF alone.
enum class EnterKey { CrLf, Cr, Lf };
// What the Backspace key sends: 0x08 (^H) or 0x7F (DEL).
enum class BackspaceKey { ControlH, Delete };

}  // namespace vandrel::terminal
