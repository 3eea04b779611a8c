#pragma once

#include <netinet/in.h>

#include <exception>
#include <string>
#include <vector>

#include "discovery/GetLocalInterfaces.h"

namespace vandrel::discovery {

class TUDPBase;

// A subnet that a search reaches, and how.
struct SearchedInterface {
    std::string Name;
    in_addr Address{};
    int PrefixLength = 0;
    in_addr Broadcast{};
    // True: the request goes to this subnet's own broadcast address. False: the limited
    // broadcast (255.255.255.255) leaves through this interface and reaches it already.
    bool Directed = false;
    // Why the directed request could not be sent; empty when it was.
    std::string Error;
};

// The interfaces a search covers, in this order: the one the limited broadcast leaves from
// (the interface holding limitedSource, whatever kind it is), then every other interface
// that is up, broadcast-capable, neither loopback nor point-to-point and whose subnet has a
// broadcast address (prefix up to /30), each subnet once. The broadcast address is the one
// the system reports, or the address with all host bits set where it reports none (or the
// address itself). limitedSource INADDR_ANY: the limited broadcast has no way out.
std::vector<SearchedInterface> ChooseSearchInterfaces(const std::vector<InterfaceInfo>& interfaces,
                                                      in_addr limitedSource);

// The number of leading one bits of a netmask.
int PrefixLength(in_addr netmask);

// text with every run of line breaks turned into one blank (socket error texts span two
// lines).
std::string SingleLine(const std::string& text);

// "Searched eth0 192.168.1.23/24, wlan0 10.0.0.5/24"; an interface whose request failed is
// followed by its error text in parentheses. "Searched no network interface" for none.
std::string SearchSummary(const std::vector<SearchedInterface>& searched);

// The local address the system picks for a datagram to 255.255.255.255 (no datagram is
// sent), or INADDR_ANY when it has no route for it.
in_addr LimitedBroadcastSource();

enum class SearchScope {
    // The limited broadcast and a directed broadcast on every other interface.
    AllInterfaces,
    // The limited broadcast alone.
    LimitedBroadcastOnly,
};

struct SearchReport {
    std::vector<SearchedInterface> Searched;
    // The limited broadcast's error, raised again by the caller when it wants to report it.
    std::exception_ptr LimitedError;
    // Whether at least one request went out.
    bool AnySent = false;
};

// Sends the one-byte request through the endpoint: Broadcast (data, port) first, then, with
// AllInterfaces, the same data to the broadcast address of each directed interface, all from
// the endpoint's current binding. Broadcast is switched on only for these sends. A failing
// send stops no other; nothing is raised.
SearchReport SendSearch(TUDPBase& endpoint, const std::string& data, int port, SearchScope scope);

}  // namespace vandrel::discovery
