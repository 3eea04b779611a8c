#pragma once

#include <string>

namespace vandrel::net {

// English text of a socket error number; "Not a WinSock error" for any value
// outside the table, negative ones included.
std::string WSocketErrorText(int code);

// WSocketErrorText(code) + " (#" + code + ")".
std::string WSocketErrorMessage(int code);

// The operating system's text for an error number + " (#" + code + ")". Socket
// error numbers get their table text, anything else the C library's text.
std::string SystemErrorMessage(int code);

}  // namespace vandrel::net
