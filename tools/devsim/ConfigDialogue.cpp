#include "ConfigDialogue.h"

#include "Ipv4.h"
#include "Text.h"

namespace vandrel::devsim {

namespace {

bool isNetworkOrBroadcast(std::uint32_t address, std::uint32_t mask) {
    if (mask >= 0xFFFFFFFEu) {
        return false;  // /31 and /32 have no network or broadcast address
    }
    std::uint32_t host = address & ~mask;
    return host == 0 || host == ~mask;
}

}  // namespace

ConfigDialogue::ConfigDialogue(const IpSettings& current) : m_current(current), m_new(current) {}

std::string ConfigDialogue::start() {
    return "\r\nIP configuration (press Enter to keep the value in brackets)\r\n" + prompt();
}

std::string ConfigDialogue::prompt() const {
    switch (m_step) {
        case Step::Ip:
            return "IP address [" + formatIpv4(m_new.ip) + "]: ";
        case Step::Netmask:
            return "Netmask [" + formatIpv4(m_new.netmask) + "]: ";
        case Step::Gateway:
            return "Gateway [" + formatIpv4(m_new.gateway) + "]: ";
        case Step::Confirm:
            return "Save these settings? (y/n): ";
        case Step::Done:
            break;
    }
    return {};
}

std::string ConfigDialogue::onLine(const std::string& line) {
    std::string answer = trimmed(line);
    switch (m_step) {
        case Step::Ip:
            return answerIp(answer);
        case Step::Netmask:
            return answerNetmask(answer);
        case Step::Gateway:
            return answerGateway(answer);
        case Step::Confirm:
            return answerConfirm(answer);
        case Step::Done:
            break;
    }
    return {};
}

std::string ConfigDialogue::cancel() {
    if (m_step == Step::Done) {
        return {};
    }
    m_step = Step::Done;
    return "\r\nIP configuration cancelled, nothing changed.\r\n";
}

std::string ConfigDialogue::answerIp(const std::string& line) {
    if (!line.empty()) {
        auto ip = parseIpv4(line);
        if (!ip || !isUsableHost(*ip)) {
            return "Invalid IP address '" + line +
                   "': give four numbers 0-255 such as 192.168.1.20.\r\n" + prompt();
        }
        m_new.ip = *ip;
    }
    m_step = Step::Netmask;
    return prompt();
}

std::string ConfigDialogue::answerNetmask(const std::string& line) {
    std::uint32_t mask = m_new.netmask;
    if (!line.empty()) {
        auto parsed = parseIpv4(line);
        if (!parsed || !isNetmask(*parsed)) {
            return "Invalid netmask '" + line + "': give a mask such as 255.255.255.0.\r\n" +
                   prompt();
        }
        mask = *parsed;
    }
    if (!isNetmask(mask) || isNetworkOrBroadcast(m_new.ip, mask)) {
        return "Invalid netmask " + formatIpv4(mask) + ": " + formatIpv4(m_new.ip) +
               " would be the network or broadcast address.\r\n" + prompt();
    }
    m_new.netmask = mask;
    if (m_new.gateway != 0 && (m_new.gateway & mask) != (m_new.ip & mask)) {
        m_new.gateway = 0;  // the old gateway is unreachable in the new subnet
    }
    m_step = Step::Gateway;
    return prompt();
}

std::string ConfigDialogue::answerGateway(const std::string& line) {
    if (!line.empty()) {
        auto gateway = parseIpv4(line);
        bool valid = gateway.has_value();
        if (valid && *gateway != 0) {
            valid = (*gateway & m_new.netmask) == (m_new.ip & m_new.netmask) &&
                    *gateway != m_new.ip && !isNetworkOrBroadcast(*gateway, m_new.netmask);
        }
        if (!valid) {
            return "Invalid gateway '" + line +
                   "': give an address in the device's subnet, or 0.0.0.0 for none.\r\n" + prompt();
        }
        m_new.gateway = *gateway;
    }
    m_step = Step::Confirm;
    return summary() + prompt();
}

std::string ConfigDialogue::answerConfirm(const std::string& line) {
    if (line == "y" || line == "Y" || line == "yes") {
        m_step = Step::Done;
        m_saved = m_new;
        return "Settings saved.\r\n";
    }
    if (line == "n" || line == "N" || line == "no") {
        m_step = Step::Done;
        return "Settings discarded, nothing changed.\r\n";
    }
    return prompt();
}

std::string ConfigDialogue::summary() const {
    return "\r\nNew settings:\r\n  IP address: " + formatIpv4(m_new.ip) +
           "\r\n  Netmask:    " + formatIpv4(m_new.netmask) +
           "\r\n  Gateway:    " + formatIpv4(m_new.gateway) + "\r\n";
}

}  // namespace vandrel::devsim
