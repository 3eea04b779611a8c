#include "support/InetdServer.h"

#include <unistd.h>

#include <chrono>

#include "support/Subprocess.h"

namespace vandrel::test {

InetdServer::InetdServer(std::vector<std::string> argv) : m_argv(std::move(argv)) {
    if (!m_argv.empty()) {
        const std::string program = findProgram(m_argv[0]);
        m_failure = m_argv[0] + (program.empty() ? ": not found\r\n" : ": cannot be run\r\n");
        m_argv[0] = program.empty() ? m_argv[0] : program;
    }
    serve([this](int fd) { launch(fd); }, Connections::EachInTurn);
}

InetdServer::~InetdServer() {
    stop();
    for (const pid_t pid : m_children) {
        terminateProcess(pid, std::chrono::seconds(2));
    }
}

void InetdServer::launch(int fd) {
    if (m_argv.empty()) {
        return;
    }
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
        // The client reads why no server answers.
        [[maybe_unused]] const ssize_t ignored = ::write(2, m_failure.data(), m_failure.size());
        ::_exit(127);
    }
    if (pid > 0) {
        m_children.push_back(pid);
    }
}

}  // namespace vandrel::test
