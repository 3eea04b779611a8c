#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vandrel::test {

// One vandrel-devsim on loopback for tests that need no lab and no root: it binds
// 127.0.0.1 on free ports (unless args say otherwise) and is stopped by the destructor.
//
//   DevsimProcess device({"--reply-count", "2"});
//   ASSERT_TRUE(device.ready()) << device.error();
//   sendto 127.0.0.1:device.discoveryPort(), connect 127.0.0.1:device.telnetPort()
class DevsimProcess {
public:
    explicit DevsimProcess(const std::vector<std::string>& args = {});
    ~DevsimProcess();
    DevsimProcess(const DevsimProcess&) = delete;
    DevsimProcess& operator=(const DevsimProcess&) = delete;

    bool ready() const { return m_pid > 0 && m_error.empty(); }
    const std::string& error() const { return m_error; }
    std::uint16_t discoveryPort() const { return m_discoveryPort; }
    std::uint16_t telnetPort() const { return m_telnetPort; }  // 0 with --refuse
    int pid() const { return m_pid; }

    // Stops the simulator (SIGTERM, then SIGKILL); safe to call twice.
    void stop();

    static std::string binary();

private:
    void waitForReady();

    int m_pid = -1;
    int m_stdout = -1;
    std::string m_error;
    std::uint16_t m_discoveryPort = 0;
    std::uint16_t m_telnetPort = 0;
};

}  // namespace vandrel::test
