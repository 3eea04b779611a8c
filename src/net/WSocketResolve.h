#pragma once

// Turning the texts of Addr, Port, Proto, LocalAddr and LocalPort into
// numbers. Failures raise ESocketException directly; callers add their own
// prefix ("connect: ", "Listen: ").

#include <cstdint>
#include <string>

namespace vandrel::net {

// Decimal digits after leading blanks (code 32 only); 0 when none. Wraps
// silently on overflow.
int LeadingNumber(const std::string& s);

// Four decimal parts of at most 255 separated by three dots, blanks allowed
// around the whole.
bool IsDottedAddress(const std::string& s);

// IPv4 address in network order; names go through the system resolver.
std::uint32_t ResolveHost(const std::string& s);

// Port number in host order: a leading number as it stands (the caller keeps
// the low 16 bits), otherwise the service database entry for the protocol.
int ResolvePort(const std::string& port, const std::string& proto);

// "tcp" 6, "udp" 17, "raw" 255, a number as it stands, else the protocol database.
int ResolveProto(const std::string& proto);

// Removes control characters and blanks at both ends.
std::string TrimText(const std::string& s);

// ASCII letters in lower case; other bytes as they stand.
std::string LowerText(std::string s);

}  // namespace vandrel::net
