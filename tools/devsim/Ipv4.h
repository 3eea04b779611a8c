#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vandrel::devsim {

// IPv4 addresses are in host byte order, as technicians type and read them.

// Strict dotted quad: four decimal numbers 0-255, no blanks, no leading '+',
// at most three digits each. Returns nothing for anything else.
std::optional<std::uint32_t> parseIpv4(const std::string& text);

std::string formatIpv4(std::uint32_t address);

// True for masks whose one-bits are contiguous from the top (0.0.0.0 excluded).
bool isNetmask(std::uint32_t mask);

// An address a device may take: not 0.x.x.x, not loopback, not multicast or reserved.
bool isUsableHost(std::uint32_t address);

}  // namespace vandrel::devsim
