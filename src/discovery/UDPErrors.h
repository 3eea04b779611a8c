#pragma once

#include <stdexcept>
#include <string>

namespace vandrel::discovery {

// Base of every error the discovery endpoint raises; what() is the text shown to the user.
class EUDPError : public std::runtime_error {
public:
    explicit EUDPError(const std::string& message) : std::runtime_error(message) {}
};

// A failed socket call: carries the socket error number (10004..11001) and the text
// "Socket Error # <n>\r\n<text for n>".
class EUDPSocketError : public EUDPError {
public:
    explicit EUDPSocketError(int lastError);
    int LastError() const { return m_lastError; }

private:
    int m_lastError;
};

// The endpoint's own text for a socket error number; empty for numbers it does not know.
// This table is the discovery endpoint's and differs from the socket layer's.
std::string UDPSocketErrorText(int lastError);

// Fixed texts of the endpoint's errors.
inline constexpr const char* RSCannotAllocateSocket = "Cannot allocate socket.";
inline constexpr const char* RSCouldNotBindSocket =
    "Could not bind socket. Address and port are already in use.";
inline constexpr const char* RSInvalidPortRange = "Invalid Port Range (%d - %d)";
inline constexpr const char* RSCannotBindRange = "Can not bind in port range (%d - %d)";
inline constexpr const char* RSPackageSizeTooBig = "Package Size Too Big.";
inline constexpr const char* RSNotAllBytesSent = "Not all bytes sent.";
inline constexpr const char* RSSetSizeExceeded = "Set Size Exceeded.";
inline constexpr const char* RSWinsockInitializationError = "Winsock Initialization Error.";

// RSInvalidPortRange / RSCannotBindRange filled with min and max.
std::string FormatPortRange(const char* pattern, int portMin, int portMax);

}  // namespace vandrel::discovery
