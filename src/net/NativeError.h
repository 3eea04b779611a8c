#pragma once

// Translation of the system's native error numbers onto the socket error
// numbers of SocketErrorCodes.h. Everything that leaves the socket layer
// (LastError, the events' ErrCode, exception texts) carries the mapped value.

// errno -> socket error number. 0 stays 0. A non-blocking connect's
// EINPROGRESS counts as would-block (10035), EPIPE as a reset (10054). An
// errno with no counterpart of the same meaning is returned unchanged; such a
// value is never mistaken for a socket error, whose numbers start at 10004.

namespace vandrel::net {

int SocketErrorFromErrno(int err);

// getaddrinfo()/getnameinfo() EAI_* result -> socket error number (11001 to
// 11004 for resolver failures; a few argument errors map to their socket
// counterpart). 0 stays 0. EAI_SYSTEM reads errno.
int SocketErrorFromGai(int gaiErr);

}  // namespace vandrel::net
