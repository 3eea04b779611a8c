#include "DiscoveryResponder.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Ipv4.h"

namespace vandrel::devsim {

namespace {

constexpr std::size_t kMaxPending = 10000;
constexpr int kReadsPerWakeup = 64;
constexpr Milliseconds kDevicesSpread{1000};

}  // namespace

DiscoveryResponder::DiscoveryResponder(const Options& options, DeviceState& state)
    : m_options(options), m_state(state) {}

DiscoveryResponder::~DiscoveryResponder() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool DiscoveryResponder::open(std::string& error) {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        error = std::string("udp socket: ") + std::strerror(errno);
        return false;
    }
    int on = 1;
    ::setsockopt(m_fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    ::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(m_options.discoveryPort));
    address.sin_addr.s_addr = htonl(parseIpv4(m_options.bindAddress).value_or(0));
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = "udp bind " + m_options.bindAddress + ":" +
                std::to_string(m_options.discoveryPort) + ": " + std::strerror(errno);
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    return true;
}

void DiscoveryResponder::onReadable(TimePoint now) {
    bool more = true;
    for (int i = 0; i < kReadsPerWakeup && more; ++i) {
        receiveOne(now, more);
    }
    onTimer(now);
}

void DiscoveryResponder::receiveOne(TimePoint now, bool& more) {
    char data[2048];
    char control[256];
    sockaddr_in from{};
    iovec vector{data, sizeof data};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t received = ::recvmsg(m_fd, &message, MSG_TRUNC);
    if (received < 0) {
        more = false;
        return;
    }
    if (received != 1 || static_cast<unsigned char>(data[0]) != kDiscoveryRequest ||
        from.sin_family != AF_INET) {
        logLine("ignored a datagram of %zd bytes", received);
        return;
    }
    std::uint32_t arrival = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            arrival = ntohl(info.ipi_spec_dst.s_addr);
            if (arrival == 0 || arrival == 0xFFFFFFFFu) {
                arrival = interfaceAddress(info.ipi_ifindex);
            }
        }
    }
    const DeviceFields fields = m_state.replyFields(arrival);
    std::string frame = buildReply(fields, m_options.shape);
    logLine("request from %s:%u, %d repl%s of %zu bytes", inet_ntoa(from.sin_addr),
            ntohs(from.sin_port), m_options.replyCount, m_options.replyCount == 1 ? "y" : "ies",
            frame.size());
    TimePoint due = now + Milliseconds(m_options.delayMs);
    if (m_options.devices > 1) {
        queueDevices(fields, due, from);
        return;
    }
    for (int i = 0; i < m_options.replyCount && m_pending.size() < kMaxPending; ++i) {
        m_pending.push_back({due, from, frame});
    }
}

void DiscoveryResponder::queueDevices(const DeviceFields& first, TimePoint due,
                                      const sockaddr_in& to) {
    // Devices on a site answer within about a second, not at one instant: the replies are
    // spread evenly over kDevicesSpread. Device k has the k-th address after the first,
    // names in a shuffled order and a serial number of its own, so that every column sorts.
    const int count = m_options.devices;
    const std::uint32_t base = parseIpv4(first.ip).value_or(0);
    for (int k = 0; k < count && m_pending.size() < kMaxPending; ++k) {
        DeviceFields fields = first;
        const std::uint32_t ip = base + static_cast<std::uint32_t>(k);
        fields.device += "-" + std::to_string((static_cast<long long>(k) * 7919) % count);
        fields.serial += "-" + std::to_string(k);
        fields.ip = formatIpv4(ip);
        if (m_options.fields.mac == "auto") {
            fields.mac = macForAddress(ip);
        }
        m_pending.push_back(
            {due + kDevicesSpread * k / count, to, buildReply(fields, m_options.shape)});
    }
}

std::uint32_t DiscoveryResponder::interfaceAddress(int ifindex) const {
    char name[IF_NAMESIZE] = {};
    if (::if_indextoname(static_cast<unsigned>(ifindex), name) == nullptr) {
        return 0;
    }
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return 0;
    }
    std::uint32_t result = 0;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET &&
            std::strcmp(entry->ifa_name, name) == 0) {
            result = ntohl(reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
            break;
        }
    }
    ::freeifaddrs(list);
    return result;
}

void DiscoveryResponder::onTimer(TimePoint now) {
    while (!m_pending.empty() && m_pending.front().due <= now) {
        const Pending& reply = m_pending.front();
        ssize_t sent = ::sendto(m_fd, reply.frame.data(), reply.frame.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&reply.to), sizeof reply.to);
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)) {
            return;  // try again on the next wake-up
        }
        if (sent < 0) {
            logLine("reply to %s failed: %s", inet_ntoa(reply.to.sin_addr), std::strerror(errno));
        }
        m_pending.pop_front();
    }
}

std::optional<TimePoint> DiscoveryResponder::nextDeadline() const {
    if (m_pending.empty()) {
        return std::nullopt;
    }
    return m_pending.front().due;
}

}  // namespace vandrel::devsim
