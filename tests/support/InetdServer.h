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
    explicit InetdServer(std::vector<std::string> argv);
    ~InetdServer() override;

private:
    void launch(int fd);

    std::vector<std::string> m_argv;
    std::vector<pid_t> m_children;
};

}  // namespace vandrel::test
