#include "support/InetdServer.h"

#include <unistd.h>

#include <chrono>

#include "support/Subprocess.h"

namespace vandrel::test {

InetdServer::InetdServer(std::vector<std::string> argv) : m_argv(std::move(argv)) {
    serve([this](int fd) { launch(fd); }, Connections::EachInTurn);
}

InetdServer::~InetdServer() {
    stop();
    for (const pid_t pid : m_children) {
        terminateProcess(pid, std::chrono::seconds(2));
    }
}

void InetdServer::launch(int fd) {
    // Everything the child needs is prepared before fork: after it only exec-safe calls.
    std::vector<char*> args;
    for (std::string& a : m_argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    setTimeouts(fd, 0);  // the server program's reads wait as long as it likes
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
        m_children.push_back(pid);
    }
}

}  // namespace vandrel::test
