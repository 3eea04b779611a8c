#include "DeviceConsole.h"

#include "Ipv4.h"
#include "Text.h"

namespace vandrel::devsim {

namespace {

const char* kHelp =
    "Commands:\r\n"
    "  #      change the IP configuration (IP address, netmask, gateway)\r\n"
    "  show   show the device and its IP configuration\r\n"
    "  help   this list\r\n"
    "  exit   close the session\r\n";

}  // namespace

DeviceConsole::DeviceConsole(DeviceState& state, std::uint32_t localAddress)
    : m_state(state), m_localAddress(localAddress) {}

std::string DeviceConsole::banner(const std::string& terminalType,
                                  const std::string& location) const {
    return "\r\n" + m_state.device() + " device simulator, S/N " + m_state.serial() +
           "\r\nTerminal type: " + (terminalType.empty() ? "(not reported)" : terminalType) +
           "\r\nLocation: " + (location.empty() ? "(not reported)" : location) +
           "\r\nType # to change the IP configuration, help for commands, exit to close.\r\n" +
           kPrompt;
}

std::string DeviceConsole::input(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        if (m_closeRequested) {
            break;
        }
        inputByte(static_cast<unsigned char>(c), out);
    }
    return out;
}

std::string DeviceConsole::interrupt() {
    m_line.clear();
    if (m_dialogue) {
        std::string out = m_dialogue->cancel();
        m_dialogue.reset();
        return out + kPrompt;
    }
    return echoed("^C") + "\r\n" + kPrompt;
}

void DeviceConsole::inputByte(unsigned char byte, std::string& out) {
    if (m_hung) {
        return;
    }
    bool afterCr = m_afterCr;
    m_afterCr = false;
    if (byte == '\r') {
        endLine(out);
        m_afterCr = true;
    } else if (byte == '\n' || byte == 0) {
        if (!afterCr && byte == '\n') {
            endLine(out);  // a lone LF from a client that sends Unix line ends
        }
    } else if (byte == '#' && !m_dialogue) {
        m_line.clear();
        out += echoed("#");
        m_hung = m_hungDialogue;
        if (m_hung) {
            return;
        }
        m_dialogue.emplace(m_state.settingsFor(m_localAddress));
        out += m_dialogue->start();
    } else if (byte == 8 || byte == 127) {
        if (!m_line.empty()) {
            m_line.pop_back();
            out += echoed("\b \b");
        }
    } else if (byte == 3) {
        out += interrupt();
    } else if (byte >= 32 && m_line.size() < kMaxLine) {
        m_line += static_cast<char>(byte);
        out += echoed(std::string(1, static_cast<char>(byte)));
    }
}

void DeviceConsole::endLine(std::string& out) {
    std::string line;
    line.swap(m_line);
    out += echoed("\r\n");
    if (m_dialogue) {
        out += m_dialogue->onLine(line);
        if (m_dialogue->finished()) {
            finishDialogue(out);
        }
        return;
    }
    command(trimmed(line), out);
}

void DeviceConsole::finishDialogue(std::string& out) {
    if (m_dialogue->saved()) {
        m_state.save(*m_dialogue->saved());
    }
    m_dialogue.reset();
    out += kPrompt;
}

void DeviceConsole::command(const std::string& line, std::string& out) {
    if (line == "exit" || line == "quit" || line == "logout") {
        out += "Bye.\r\n";
        m_closeRequested = true;
        return;
    }
    if (line == "help" || line == "?") {
        out += kHelp;
    } else if (line == "show") {
        IpSettings settings = m_state.settingsFor(m_localAddress);
        out += "Device:     " + m_state.device() + "\r\nS/N:        " + m_state.serial() +
               "\r\nIP address: " + formatIpv4(settings.ip) +
               "\r\nNetmask:    " + formatIpv4(settings.netmask) +
               "\r\nGateway:    " + formatIpv4(settings.gateway) + "\r\n";
    } else if (!line.empty()) {
        out += "Unknown command '" + line + "', type help for the list.\r\n";
    }
    out += kPrompt;
}

}  // namespace vandrel::devsim
