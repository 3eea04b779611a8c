#include "support/LoopbackListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace vandrel::test {

int bindLoopback(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("cannot create a socket on 127.0.0.1");
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot bind a socket on 127.0.0.1");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

int listenLoopback(std::uint16_t& port, int backlog) {
    const int fd = bindLoopback(port);
    if (::listen(fd, backlog) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    return fd;
}

std::uint16_t unusedPort() {
    std::uint16_t port = 0;
    ::close(bindLoopback(port));
    return port;
}

}  // namespace vandrel::test
