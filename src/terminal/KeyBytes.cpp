#include "terminal/KeyBytes.h"

namespace vandrel::terminal {

std::string_view EnterBytes(EnterKey key) {
    switch (key) {
        case EnterKey::Cr:
            return "\r";
        case EnterKey::Lf:
            return "\n";
        case EnterKey::CrLf:
            break;
    }
    return "\r\n";
}

char BackspaceByte(BackspaceKey key) {
    return key == BackspaceKey::Delete ? '\x7F' : '\x08';
}

}  // namespace vandrel::terminal
