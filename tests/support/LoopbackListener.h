#pragma once

// TCP sockets on 127.0.0.1 with a port the system picks, for the loopback peers of the tests
// and benchmarks.

#include <cstdint>

namespace vandrel::test {

// Bound, not yet listening; stores the port. Throws std::runtime_error when the socket
// cannot be had.
int bindLoopback(std::uint16_t& port);
// Bound and listening with the given backlog; stores the port. Throws as bindLoopback.
int listenLoopback(std::uint16_t& port, int backlog = 4);
// A port on 127.0.0.1 on which nothing listens (bound, then released): connects are refused.
std::uint16_t unusedPort();

}  // namespace vandrel::test
