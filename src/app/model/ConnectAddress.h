#pragma once

#include <string>

namespace vandrel::app {

// Checks what the user typed for "Connect to Address": blanks around it are dropped; the
// rest must be a dotted IPv4 address (four decimal numbers 0 to 255) or a host name
// (labels of letters, digits and inner hyphens, 1 to 63 characters each, at most 253 in
// all, a final dot allowed, the last label not all digits). Returns the host to connect to
// (an address without leading zeros: 010.0.0.1 means 10.0.0.1), or an empty text with the
// reason in error.
std::string CheckConnectAddress(const std::string& typed, std::string& error);

}  // namespace vandrel::app
