#include "TelnetClientRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace vandrel::bench {

namespace {

constexpr const char* kClient = "/usr/bin/inetutils-telnet";

// Reaps the child, killing it once the time limit has passed.
bool reap(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return false;
        }
        ::usleep(500);
    }
    return true;
}

}  // namespace

ClientRunResult runTelnetClient(std::uint16_t port, bool countOutput) {
    ClientRunResult result;
    char dirTemplate[] = "/tmp/vandrel-bench-XXXXXX";
    if (::mkdtemp(dirTemplate) == nullptr) {
        return result;
    }
    const std::string fifo = std::string(dirTemplate) + "/stdin";
    ::mkfifo(fifo.c_str(), 0600);
    const int in = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    int pipeFds[2] = {-1, -1};
    if (countOutput && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return result;
    }
    const int out = countOutput ? pipeFds[1] : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const int err = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::string portText = std::to_string(port);
    std::vector<char*> argv = {const_cast<char*>(kClient), const_cast<char*>("127.0.0.1"),
                               portText.data(), nullptr};

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(kClient, argv.data());
        ::_exit(127);
    }
    ::close(out);
    ::close(err);
    const auto deadline = start + std::chrono::seconds(120);
    if (countOutput) {
        std::vector<char> buf(1 << 16);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd pfd{pipeFds[0], POLLIN, 0};
            if (::poll(&pfd, 1, 1000) <= 0) {
                continue;
            }
            const ssize_t n = ::read(pipeFds[0], buf.data(), buf.size());
            if (n <= 0) {
                break;
            }
            result.bytesWritten += static_cast<std::uint64_t>(n);
        }
        ::close(pipeFds[0]);
    }
    result.ok = pid > 0 && reap(pid, deadline);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(in);
    std::filesystem::remove_all(dirTemplate);
    return result;
}

}  // namespace vandrel::bench
