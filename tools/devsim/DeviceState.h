#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "ConfigDialogue.h"
#include "Options.h"

namespace vandrel::devsim {

// What one simulated device knows about itself; shared by the discovery responder
// and every telnet session, so a saved IP configuration shows in the next reply.
class DeviceState {
public:
    explicit DeviceState(const Options& options);

    // The reply fields for a request that arrived on the interface with this address.
    DeviceFields replyFields(std::uint32_t arrivalAddress) const;

    // The settings the "#" dialogue starts from, for a session on this local address.
    IpSettings settingsFor(std::uint32_t localAddress) const;

    void save(const IpSettings& settings) { m_saved = settings; }
    // While a telnet session is open the reply's Status reads "connected", as on a device
    // that takes one session at a time (unless Options::sessionStatus is off).
    void setOpenSessions(std::size_t count) { m_openSessions = count; }
    const std::optional<IpSettings>& saved() const { return m_saved; }

    const std::string& device() const { return m_fields.device; }
    const std::string& serial() const { return m_fields.serial; }

private:
    DeviceFields m_fields;  // "auto" in ip or mac: derived per reply
    std::uint32_t m_netmask;
    std::uint32_t m_gateway;
    std::optional<IpSettings> m_saved;
    bool m_sessionStatus = true;
    std::size_t m_openSessions = 0;
};

}  // namespace vandrel::devsim
