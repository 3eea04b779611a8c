#include "support/SocksProxyProcess.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "support/LoopbackListener.h"
#include "support/Subprocess.h"
#include "support/TestSockets.h"

namespace vandrel::test {

namespace {

constexpr int kAttempts = 3;
constexpr auto kStartTimeout = std::chrono::seconds(5);

std::string dantedConfig(const std::string& dir, std::uint16_t port) {
    std::string conf = "logoutput: " + dir + "/danted.log\n" +
                       "internal: 127.0.0.1 port = " + std::to_string(port) + "\n" +
                       "external: 127.0.0.1\n"
                       "clientmethod: none\n"
                       "socksmethod: none\n";
    if (::geteuid() == 0) {
        conf += "user.privileged: root\nuser.unprivileged: nobody\n";
    }
    conf +=
        "client pass {\n from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
        "socks pass {\n from: 127.0.0.0/8 to: 127.0.0.0/8\n command: connect\n protocol: tcp\n}\n"
        "socks block {\n from: 0.0.0.0/0 to: 0.0.0.0/0\n}\n";
    return conf;
}

}  // namespace

SocksProxyProcess SocksProxyProcess::microsocks(const std::string& user,
                                                const std::string& password) {
    return SocksProxyProcess({}, [&](std::uint16_t port) {
        std::vector<std::string> argv = {"microsocks", "-i", "127.0.0.1", "-p",
                                         std::to_string(port)};
        if (!user.empty()) {
            argv.insert(argv.end(), {"-u", user});
        }
        if (!password.empty()) {
            argv.insert(argv.end(), {"-P", password});
        }
        return argv;
    });
}

SocksProxyProcess SocksProxyProcess::danted() {
    std::string dir = std::filesystem::temp_directory_path() / "vandrel-danted-XXXXXX";
    if (::mkdtemp(dir.data()) == nullptr) {
        dir.clear();
    }
    return SocksProxyProcess(dir, [dir](std::uint16_t port) -> std::vector<std::string> {
        if (dir.empty()) {
            return {};
        }
        std::ofstream(dir + "/danted.conf") << dantedConfig(dir, port);
        return {"danted", "-f", dir + "/danted.conf", "-p", dir + "/danted.pid", "-N", "1"};
    });
}

SocksProxyProcess::SocksProxyProcess(std::string dir, const ArgvFor& argvFor)
    : m_dir(std::move(dir)) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        stop();
        m_error.clear();
        m_port = unusedPort();
        const std::vector<std::string> argv = argvFor(m_port);
        m_pid = argv.empty() ? -1 : spawnWithStdout(argv, m_output, true, true);
        if (m_pid < 0) {
            m_error = "cannot prepare or start the proxy";
            return;
        }
        m_program = argv[0];
        const int flags = ::fcntl(m_output, F_GETFL);
        ::fcntl(m_output, F_SETFL, flags | O_NONBLOCK);
        if (waitUntilListening()) {
            ::fcntl(m_output, F_SETFL, flags);
            m_drain = std::thread([fd = m_output] {
                char buf[4096];
                while (::read(fd, buf, sizeof buf) > 0) {
                }
            });
            return;
        }
    }
}

SocksProxyProcess::~SocksProxyProcess() {
    stop();
    if (!m_dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
}

void SocksProxyProcess::stop() {
    if (m_pid > 0) {
        terminateProcessGroup(m_pid, std::chrono::seconds(3));
        m_pid = -1;
    }
    if (m_drain.joinable()) {
        m_drain.join();  // ends at the end of the output, now that the proxy is gone
    }
    if (m_output >= 0) {
        ::close(m_output);
        m_output = -1;
    }
}

bool SocksProxyProcess::waitUntilListening() {
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    std::string output;
    char buf[1024];
    while (std::chrono::steady_clock::now() < deadline) {
        const auto readOutput = [&] {
            for (ssize_t n; (n = ::read(m_output, buf, sizeof buf)) > 0;) {
                output.append(buf, static_cast<std::size_t>(n));
            }
        };
        readOutput();
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            readOutput();  // what it wrote just before it ended
            if (!m_dir.empty()) {
                std::ifstream log(m_dir + "/danted.log");
                output.append(std::istreambuf_iterator<char>(log), {});
            }
            m_error = m_program + " ended at start: " + output;
            return false;
        }
        if (TcpClient().connectTo("127.0.0.1", m_port, std::chrono::milliseconds(200)) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_error = m_program + " did not listen within 5 s: " + output;
    return false;
}

}  // namespace vandrel::test
