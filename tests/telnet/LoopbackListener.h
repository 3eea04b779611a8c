#pragma once

#include <cstdint>

// A TCP socket bound to 127.0.0.1 on a port the system picks, not yet listening.
// Stores the port; throws std::runtime_error when the socket cannot be had.
int bindLoopback(std::uint16_t& port);
