#pragma once

#include <stdexcept>
#include <string>

namespace vandrel::net {

// The socket layer's exception: nothing but a message. Raised by reports when
// no OnError hook is assigned, and by the resolution functions.
class ESocketException : public std::runtime_error {
public:
    explicit ESocketException(const std::string& msg) : std::runtime_error(msg) {}
    std::string Message() const { return what(); }
};

}  // namespace vandrel::net
