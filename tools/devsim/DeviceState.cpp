#include "DeviceState.h"

#include "Ipv4.h"

namespace vandrel::devsim {

DeviceState::DeviceState(const Options& options)
    : m_fields(options.fields),
      m_netmask(parseIpv4(options.netmask).value_or(0xFFFFFF00u)),
      m_gateway(parseIpv4(options.gateway).value_or(0)),
      m_sessionStatus(options.sessionStatus) {}

DeviceFields DeviceState::replyFields(std::uint32_t arrivalAddress) const {
    DeviceFields fields = m_fields;
    // The MAC belongs to the hardware: it follows the address the device came up
    // with, not the one a technician configures later.
    std::uint32_t hardware = parseIpv4(fields.ip).value_or(arrivalAddress);
    if (m_saved) {
        fields.ip = formatIpv4(m_saved->ip);
    } else if (fields.ip == "auto") {
        fields.ip = formatIpv4(arrivalAddress);
    }
    if (fields.mac == "auto") {
        fields.mac = macForAddress(hardware);
    }
    if (m_sessionStatus && m_openSessions > 0) {
        fields.status = "connected";
    }
    return fields;
}

IpSettings DeviceState::settingsFor(std::uint32_t localAddress) const {
    if (m_saved) {
        return *m_saved;
    }
    IpSettings settings{localAddress, m_netmask, m_gateway};
    if (auto given = parseIpv4(m_fields.ip)) {
        settings.ip = *given;
    }
    return settings;
}

}  // namespace vandrel::devsim
