#include "support/DevsimProcess.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <regex>

#include "support/Subprocess.h"

namespace vandrel::test {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);

}  // namespace

std::string DevsimProcess::binary() {
    return VANDREL_DEVSIM_PATH;
}

DevsimProcess::DevsimProcess(const std::vector<std::string>& args) {
    // Later options win, so args may override the loopback defaults.
    std::vector<std::string> argv = {binary(), "--bind",        "127.0.0.1", "--discovery-port",
                                     "0",      "--telnet-port", "0"};
    argv.insert(argv.end(), args.begin(), args.end());
    // Its standard error too: the reason it gives when it cannot start goes there.
    m_pid = spawnWithStdout(argv, m_stdout, true);
    if (m_pid < 0) {
        m_error = "cannot start " + binary();
        return;
    }
    waitForReady();
}

DevsimProcess::~DevsimProcess() {
    stop();
}

void DevsimProcess::waitForReady() {
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    static const std::regex ready(
        "ready discovery=[0-9.]+:([0-9]+) telnet=(?:off|[0-9.]+:([0-9]+))");
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{m_stdout, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        char buffer[512];
        ssize_t n = ::read(m_stdout, buffer, sizeof buffer);
        if (n <= 0) {
            m_error = "vandrel-devsim exited before it was ready: " + text;
            return;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        std::smatch match;
        if (std::regex_search(text, match, ready)) {
            m_discoveryPort = static_cast<std::uint16_t>(std::stoi(match[1]));
            if (match[2].matched) {
                m_telnetPort = static_cast<std::uint16_t>(std::stoi(match[2]));
            }
            return;
        }
    }
    m_error = "vandrel-devsim did not report ready: " + text;
}

void DevsimProcess::stop() {
    if (m_pid > 0) {
        terminateProcess(m_pid, std::chrono::seconds(2));
        m_pid = -1;
    }
    if (m_stdout >= 0) {
        ::close(m_stdout);
        m_stdout = -1;
    }
}

}  // namespace vandrel::test
