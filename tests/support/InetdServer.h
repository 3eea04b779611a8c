#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/LoopbackServer.h"

namespace vandrel::test {

// Runs a program inetd-style for each connection to the loopback server: the accepted socket
// becomes the program's standard input, output and error. Used to put a real server (Debian's
// telnetd) behind a port the system picked, without a fixed port. Every child is ended and
// reaped when the object goes.
class InetdServer : public LoopbackServer {
public:
    // argv[0] is looked up like findProgram does (PATH, then the sbin folders).
    explicit InetdServer(std::vector<std::string> argv);
    ~InetdServer() override;

private:
    void launch(int fd);

    std::vector<std::string> m_argv;  // argv[0] found by findProgram
    std::string m_failure;            // what a child that cannot run the program sends
    std::vector<pid_t> m_children;
};

}  // namespace vandrel::test
