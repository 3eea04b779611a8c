#include "support/SocksProxyProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/LoopbackListener.h"
#include "support/Subprocess.h"

namespace vandrel::test {

namespace {

constexpr int kAttempts = 3;
constexpr auto kStartTimeout = std::chrono::seconds(5);

bool acceptsConnections(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

std::string readAvailable(int fd) {
    std::string out;
    char buf[1024];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) {
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

std::string makeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vandrel-danted-XXXXXX");
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

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
    SocksProxyProcess p;
    p.start([&](std::uint16_t port) {
        std::vector<std::string> argv = {"microsocks", "-i", "127.0.0.1", "-p",
                                         std::to_string(port)};
        if (!user.empty()) {
            argv.insert(argv.end(), {"-u", user, "-P", password});
        }
        return argv;
    });
    return p;
}

SocksProxyProcess SocksProxyProcess::danted() {
    SocksProxyProcess p;
    p.m_dir = makeTempDir();
    if (p.m_dir.empty()) {
        p.m_error = "cannot make a directory for danted";
        return p;
    }
    const std::string dir = p.m_dir;
    p.start([dir](std::uint16_t port) {
        std::ofstream(dir + "/danted.conf") << dantedConfig(dir, port);
        return std::vector<std::string>{
            "danted", "-f", dir + "/danted.conf", "-p", dir + "/danted.pid", "-N", "1"};
    });
    return p;
}

SocksProxyProcess::SocksProxyProcess(SocksProxyProcess&& other) noexcept
    : m_pid(other.m_pid),
      m_output(other.m_output),
      m_drain(std::move(other.m_drain)),
      m_port(other.m_port),
      m_error(std::move(other.m_error)),
      m_dir(std::move(other.m_dir)) {
    other.m_pid = -1;
    other.m_output = -1;
    other.m_dir.clear();
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

template <typename ArgvFor>
void SocksProxyProcess::start(const ArgvFor& argvFor) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        stop();
        m_error.clear();
        m_port = unusedPort();
        const std::vector<std::string> argv = argvFor(m_port);
        m_pid = spawnWithStdout(argv, m_output, true, true);
        if (m_pid < 0) {
            m_error = "cannot start " + argv[0];
            return;
        }
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

bool SocksProxyProcess::waitUntilListening() {
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    std::string output;
    while (std::chrono::steady_clock::now() < deadline) {
        output += readAvailable(m_output);
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            std::ifstream log(m_dir + "/danted.log");
            output.append(std::istreambuf_iterator<char>(log), {});
            m_error = "the proxy ended at start: " + output;
            return false;
        }
        if (acceptsConnections(m_port)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_error = "the proxy did not listen within 5 s: " + output;
    return false;
}

}  // namespace vandrel::test
