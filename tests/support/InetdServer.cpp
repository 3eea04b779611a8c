#include "support/InetdServer.h"

#include "support/LoopbackListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace vandrel::test {

InetdServer::InetdServer(std::vector<std::string> argv) : m_argv(std::move(argv)) {
    m_listenFd = listenLoopback(m_port);
    m_thread = std::thread([this] { run(); });
}

InetdServer::~InetdServer() {
    m_stop = true;
    m_thread.join();
    ::close(m_listenFd);
    std::lock_guard lock(m_mutex);
    for (pid_t pid : m_children) {
        ::kill(pid, SIGTERM);
    }
    for (pid_t pid : m_children) {
        // Give each child a moment, then insist.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
            ::usleep(10000);
        }
    }
}

void InetdServer::run() {
    while (!m_stop) {
        pollfd pfd{m_listenFd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) > 0 && (pfd.revents & POLLIN)) {
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                launch(fd);
                ::close(fd);
            }
        }
    }
}

void InetdServer::launch(int fd) {
    // Everything the child needs is prepared before fork: after it only exec-safe calls.
    std::vector<char*> args;
    for (std::string& a : m_argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fd, 0);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::setsid();
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (pid > 0) {
        std::lock_guard lock(m_mutex);
        m_children.push_back(pid);
        ++m_launched;
    }
}

}  // namespace vandrel::test
