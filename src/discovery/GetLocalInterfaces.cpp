#include "discovery/GetLocalInterfaces.h"

#include <ifaddrs.h>
#include <net/if.h>

#include "discovery/TSocketStack.h"

namespace vandrel::discovery {

bool QueryLocalInterfaces(std::vector<InterfaceInfo>& interfaces) {
    interfaces.clear();
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return false;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        InterfaceInfo info;
        info.Name = entry->ifa_name != nullptr ? entry->ifa_name : "";
        if ((entry->ifa_flags & IFF_UP) != 0) {
            info.Flags |= IFF_UP_BIT;
        }
        if ((entry->ifa_flags & IFF_BROADCAST) != 0) {
            info.Flags |= IFF_BROADCAST_BIT;
        }
        if ((entry->ifa_flags & IFF_LOOPBACK) != 0) {
            info.Flags |= IFF_LOOPBACK_BIT;
        }
        if ((entry->ifa_flags & IFF_POINTOPOINT) != 0) {
            info.Flags |= IFF_POINTTOPOINT_BIT;
        }
        info.Address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
        if (entry->ifa_netmask != nullptr && entry->ifa_netmask->sa_family == AF_INET) {
            info.Netmask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr;
        }
        const sockaddr* broadcast =
            (entry->ifa_flags & IFF_BROADCAST) != 0 ? entry->ifa_broadaddr : nullptr;
        if (broadcast != nullptr && broadcast->sa_family == AF_INET) {
            info.Broadcast = reinterpret_cast<const sockaddr_in*>(broadcast)->sin_addr;
        }
        interfaces.push_back(info);
    }
    ::freeifaddrs(list);
    return true;
}

std::string FormatInterfaceList(const std::vector<InterfaceInfo>& interfaces) {
    std::string text;
    for (const InterfaceInfo& info : interfaces) {
        text += " IP=" + TSocketStack::ToDotted(info.Address) + ",";
        text += " Mask=" + TSocketStack::ToDotted(info.Netmask) + ",";
        text += " Broadcast=" + TSocketStack::ToDotted(info.Broadcast) + ",";
        text += (info.Flags & IFF_UP_BIT) != 0 ? " Interface UP," : " Interface DOWN,";
        text += (info.Flags & IFF_BROADCAST_BIT) != 0 ? " Broadcasts supported,"
                                                      : " Broadcasts NOT supported,";
        text += (info.Flags & IFF_LOOPBACK_BIT) != 0 ? " Loopback interface" : " Network interface";
        text += "\r\n";
    }
    return text;
}

int GetLocalInterfaces(std::string& text) {
    text.clear();
    std::vector<InterfaceInfo> interfaces;
    if (!QueryLocalInterfaces(interfaces)) {
        return 1;
    }
    text = FormatInterfaceList(interfaces);
    return 0;
}

}  // namespace vandrel::discovery
