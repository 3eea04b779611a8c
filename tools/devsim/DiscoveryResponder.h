#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "DeviceState.h"
#include "Log.h"
#include "Options.h"

namespace vandrel::devsim {

// The UDP side of a device: answers each one-byte request 0x05 with the configured
// number of replies, sent to the sender's address and port after the configured delay.
// Every other datagram is ignored.
class DiscoveryResponder {
public:
    DiscoveryResponder(const Options& options, DeviceState& state);
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    bool open(std::string& error);
    int fd() const { return m_fd; }
    std::uint16_t port() const { return m_port; }

    void onReadable(TimePoint now);
    void onTimer(TimePoint now);
    std::optional<TimePoint> nextDeadline() const;

private:
    struct Pending {
        TimePoint due;
        sockaddr_in to;
        std::string frame;
    };

    void receiveOne(TimePoint now, bool& more);
    void queueDevices(const DeviceFields& first, TimePoint due, const sockaddr_in& to);
    std::uint32_t interfaceAddress(int ifindex) const;

    const Options& m_options;
    DeviceState& m_state;
    int m_fd = -1;
    std::uint16_t m_port = 0;
    std::deque<Pending> m_pending;
};

}  // namespace vandrel::devsim
