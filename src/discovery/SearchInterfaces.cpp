#include "discovery/SearchInterfaces.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <bit>

#include "discovery/TSocketStack.h"
#include "discovery/TUDPBase.h"

namespace vandrel::discovery {

namespace {

constexpr std::uint32_t kSearchable = IFF_UP_BIT | IFF_BROADCAST_BIT;
constexpr std::uint32_t kNotSearchable = IFF_LOOPBACK_BIT | IFF_POINTTOPOINT_BIT;

// The subnet's broadcast address: the one the system reports, or, where it reports none
// (or the interface's own address, as for an address set up without one), the address with
// all host bits set. INADDR_ANY for a subnet too small to have one.
std::uint32_t SubnetBroadcast(const InterfaceInfo& info) {
    const std::uint32_t address = ntohl(info.Address.s_addr);
    const std::uint32_t mask = ntohl(info.Netmask.s_addr);
    const std::uint32_t reported = ntohl(info.Broadcast.s_addr);
    if (PrefixLength(info.Netmask) > 30) {
        return INADDR_ANY;
    }
    if (reported != INADDR_ANY && reported != INADDR_BROADCAST && reported != address) {
        return reported;
    }
    return address | ~mask;
}

SearchedInterface Searched(const InterfaceInfo& info, bool directed) {
    SearchedInterface entry;
    entry.Name = info.Name;
    entry.Address = info.Address;
    entry.PrefixLength = PrefixLength(info.Netmask);
    entry.Broadcast.s_addr = htonl(SubnetBroadcast(info));
    entry.Directed = directed;
    return entry;
}

bool Searchable(const InterfaceInfo& info) {
    return (info.Flags & kSearchable) == kSearchable && (info.Flags & kNotSearchable) == 0 &&
           SubnetBroadcast(info) != INADDR_ANY;
}

}  // namespace

int PrefixLength(in_addr netmask) {
    return std::popcount(ntohl(netmask.s_addr));
}

std::vector<SearchedInterface> ChooseSearchInterfaces(const std::vector<InterfaceInfo>& interfaces,
                                                      in_addr limitedSource) {
    std::vector<SearchedInterface> chosen;
    std::vector<std::uint32_t> covered;
    const InterfaceInfo* limited = nullptr;
    if (limitedSource.s_addr != htonl(INADDR_ANY)) {
        const auto it = std::find_if(interfaces.begin(), interfaces.end(), [&](const auto& info) {
            return info.Address.s_addr == limitedSource.s_addr;
        });
        if (it != interfaces.end()) {
            limited = &*it;
            chosen.push_back(Searched(*it, false));
            covered.push_back(chosen.back().Broadcast.s_addr);
        }
    }
    for (const InterfaceInfo& info : interfaces) {
        if (&info == limited || !Searchable(info)) {
            continue;
        }
        SearchedInterface entry = Searched(info, true);
        if (std::find(covered.begin(), covered.end(), entry.Broadcast.s_addr) == covered.end()) {
            covered.push_back(entry.Broadcast.s_addr);
            chosen.push_back(std::move(entry));
        }
    }
    return chosen;
}

std::string SingleLine(const std::string& text) {
    std::string line;
    bool inBreak = false;
    for (const char c : text) {
        const bool lineBreak = c == '\r' || c == '\n';
        if (lineBreak && !inBreak) {
            line += ' ';
        } else if (!lineBreak) {
            line += c;
        }
        inBreak = lineBreak;
    }
    return line;
}

std::string SearchSummary(const std::vector<SearchedInterface>& searched) {
    if (searched.empty()) {
        return "Searched no network interface";
    }
    std::string text = "Searched ";
    for (std::size_t i = 0; i < searched.size(); ++i) {
        const SearchedInterface& entry = searched[i];
        text += i > 0 ? ", " : "";
        text += entry.Name + " " + TSocketStack::ToDotted(entry.Address) + "/" +
                std::to_string(entry.PrefixLength);
        if (!entry.Error.empty()) {
            text += " (" + SingleLine(entry.Error) + ")";
        }
    }
    return text;
}

in_addr LimitedBroadcastSource() {
    in_addr source{};
    source.s_addr = htonl(INADDR_ANY);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return source;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(9);  // any port: connecting a datagram socket only picks a route
    peer.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
        source = local.sin_addr;
    }
    ::close(fd);
    return source;
}

SearchReport SendSearch(TUDPBase& endpoint, const std::string& data, int port, SearchScope scope) {
    SearchReport report;
    std::vector<InterfaceInfo> interfaces;
    QueryLocalInterfaces(interfaces);
    report.Searched = ChooseSearchInterfaces(interfaces, LimitedBroadcastSource());
    if (scope == SearchScope::LimitedBroadcastOnly) {
        std::erase_if(report.Searched, [](const auto& entry) { return entry.Directed; });
    }
    try {
        endpoint.Broadcast(data, port);
        report.AnySent = true;
    } catch (const std::exception& error) {
        report.LimitedError = std::current_exception();
        if (!report.Searched.empty() && !report.Searched.front().Directed) {
            report.Searched.front().Error = error.what();
        }
    } catch (...) {
        report.LimitedError = std::current_exception();
    }
    bool switchedOn = false;
    for (SearchedInterface& entry : report.Searched) {
        if (!entry.Directed) {
            continue;
        }
        try {
            if (!switchedOn) {
                endpoint.SetBroadcastFlag(true);
                switchedOn = true;
            }
            endpoint.Send(TSocketStack::ToDotted(entry.Broadcast), port, data);
            report.AnySent = true;
        } catch (const std::exception& error) {
            entry.Error = error.what();
        }
    }
    if (switchedOn) {
        try {
            endpoint.SetBroadcastFlag(endpoint.BroadcastEnabled());
        } catch (...) {
            // The flag stays on; the next Broadcast sets it again anyway.
        }
    }
    return report;
}

}  // namespace vandrel::discovery
