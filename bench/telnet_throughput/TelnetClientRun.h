#pragma once

#include <cstdint>
#include <string>

namespace vandrel::bench {

struct ClientRunResult {
    bool ok = false;
    double seconds = 0;
    std::uint64_t bytesWritten = 0;  // counted only when asked
};

// Runs Debian's telnet client against 127.0.0.1:port until the server closes. Its standard
// input is a FIFO opened read-write, so it never sees end of input; its output goes to
// /dev/null, or through a pipe that is counted.
ClientRunResult runTelnetClient(std::uint16_t port, bool countOutput);

}  // namespace vandrel::bench
