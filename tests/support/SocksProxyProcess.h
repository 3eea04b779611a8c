#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vandrel::test {

// A real SOCKS proxy of Debian's on 127.0.0.1 at a free port, started for one
// test and stopped (with every process it forked) by the destructor:
//
//   auto proxy = SocksProxyProcess::microsocks("user", "secret");  // level 5
//   auto proxy = SocksProxyProcess::danted();                      // levels 4 and 5
//   ASSERT_TRUE(proxy.ready()) << proxy.error();
//   ... SocksServer "127.0.0.1", SocksPort proxy.portText()
//
// danted gets a configuration written into a directory of its own that lets
// clients from 127.0.0.0/8 connect to 127.0.0.0/8 only, without
// authentication.
class SocksProxyProcess {
public:
    // microsocks, with user name and password authentication when both are set; with only
    // one of them microsocks refuses to start (a start failure for tests).
    static SocksProxyProcess microsocks(const std::string& user = {},
                                        const std::string& password = {});
    static SocksProxyProcess danted();

    ~SocksProxyProcess();
    SocksProxyProcess(const SocksProxyProcess&) = delete;
    SocksProxyProcess& operator=(const SocksProxyProcess&) = delete;

    bool ready() const { return m_pid > 0 && m_error.empty(); }
    const std::string& error() const { return m_error; }
    std::uint16_t port() const { return m_port; }
    std::string portText() const { return std::to_string(m_port); }
    // Stops the proxy; safe to call twice.
    void stop();

private:
    // The command line for a port; empty when the proxy cannot be prepared.
    using ArgvFor = std::function<std::vector<std::string>(std::uint16_t port)>;
    // Starts the program made by argvFor(port), retrying on another port when the one picked
    // was taken meanwhile. dir (danted's configuration and log) is removed at the end.
    SocksProxyProcess(std::string dir, const ArgvFor& argvFor);
    bool waitUntilListening();

    int m_pid = -1;
    int m_output = -1;
    // Reads the proxy's output for as long as it runs: microsocks logs every
    // connection, and a full pipe would stop it.
    std::thread m_drain;
    std::uint16_t m_port = 0;
    std::string m_error;  // with the proxy's own output when it failed to start
    std::string m_program;
    std::string m_dir;
};

}  // namespace vandrel::test
