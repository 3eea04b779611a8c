#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vandrel::discovery {

// Flag bits of an interface record.
inline constexpr std::uint32_t IFF_UP_BIT = 1;
inline constexpr std::uint32_t IFF_BROADCAST_BIT = 2;
inline constexpr std::uint32_t IFF_LOOPBACK_BIT = 4;
inline constexpr std::uint32_t IFF_POINTTOPOINT_BIT = 8;

// One IPv4 address of a network interface, as the system reports it.
struct InterfaceInfo {
    std::string Name;
    std::uint32_t Flags = 0;
    in_addr Address{};
    in_addr Broadcast{};
    in_addr Netmask{};
};

// Every IPv4 interface address of this computer, in the system's order. False when the
// system list cannot be read.
bool QueryLocalInterfaces(std::vector<InterfaceInfo>& interfaces);

// One line per record: " IP=a, Mask=m, Broadcast=b, Interface UP|DOWN, Broadcasts
// supported|NOT supported, Loopback|Network interface\r\n".
std::string FormatInterfaceList(const std::vector<InterfaceInfo>& interfaces);

// Fills text with the interface list and returns 0, or returns 1 with an empty text when
// the system list cannot be read. Unlike a fixed-size system buffer, every interface is
// listed.
int GetLocalInterfaces(std::string& text);

}  // namespace vandrel::discovery
