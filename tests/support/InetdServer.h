#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vandrel::test {

// Runs a program inetd-style for each connection to a listening port on 127.0.0.1: the
// accepted socket becomes the program's standard input, output and error. Used to put a
// real server (Debian's telnetd) behind a port the system picked, without a fixed port.
// Every child is ended and reaped when the object goes.
class InetdServer {
public:
    explicit InetdServer(std::vector<std::string> argv);
    ~InetdServer();
    InetdServer(const InetdServer&) = delete;
    InetdServer& operator=(const InetdServer&) = delete;

    std::uint16_t port() const { return m_port; }
    std::string portText() const { return std::to_string(m_port); }
    int launchedCount() const { return m_launched.load(); }

private:
    void run();
    void launch(int fd);

    std::vector<std::string> m_argv;
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_launched{0};
    std::mutex m_mutex;
    std::vector<pid_t> m_children;
    std::thread m_thread;
};

}  // namespace vandrel::test
