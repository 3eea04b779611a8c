#pragma once

#include <string>
#include <vector>

#include "discovery/GetLocalInterfaces.h"

namespace vandrel::discovery {

// The address to show as this computer's own: the first host-name address that belongs to
// an interface that is up and not the loopback; else the first such interface's address;
// else the first host-name address (empty when there is none). A host name that resolves to
// the loopback would otherwise hide the subnet a search reaches.
std::string ChooseLocalAddress(const std::vector<std::string>& hostAddresses,
                               const std::vector<InterfaceInfo>& interfaces);

// The first interface that is up and not the loopback, in the system's order; nullptr when
// there is none.
const InterfaceInfo* FirstNetworkInterface(const std::vector<InterfaceInfo>& interfaces);

// The status text when the host name does not resolve and Local IP comes from the interface
// list instead: "Host name vm does not resolve; Local IP from eth0".
std::string UnresolvedHostNotice(const std::string& hostName,
                                 const std::vector<InterfaceInfo>& interfaces);

// Looks up the host name (raising EUDPSocketError when that fails) and chooses among its
// addresses and the local interfaces.
std::string LocalAddress();

// Splits text the way a comma-separated string list is read: items end at a comma or at any
// run of characters 1..32, leading separators are skipped, and a double-quoted item runs to
// its closing quote with "" standing for one quote.
std::vector<std::string> SplitCommaText(const std::string& text);

// The netmask of the interface list line whose IP item equals localIP; when no line does,
// the value of the first "Mask=" item (name compared without case); empty when there is none.
std::string NetmaskFromInterfaceList(const std::string& interfaceText, const std::string& localIP);

}  // namespace vandrel::discovery
