#pragma once

#include <csignal>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DeviceState.h"
#include "DiscoveryResponder.h"
#include "Options.h"
#include "TelnetSession.h"

namespace vandrel::devsim {

// One simulated device: the discovery responder, the telnet listener and its
// sessions, all driven by a single poll() loop until stop is set.
class Simulator {
public:
    static constexpr std::size_t kMaxSessions = 64;

    explicit Simulator(const Options& options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    bool open(std::string& error);
    // "ready discovery=ADDR:PORT telnet=ADDR:PORT|off", printed once open() succeeded.
    std::string readyLine() const;
    int run(const volatile std::sig_atomic_t& stop);

private:
    bool openListener(std::string& error);
    bool openRecorder(std::string& error);
    void acceptClients(TimePoint now);
    int pollTimeout(TimePoint now) const;

    Options m_options;
    DeviceState m_state;
    DiscoveryResponder m_responder;
    int m_listenFd = -1;
    int m_recordFd = -1;
    std::uint16_t m_telnetPort = 0;
    std::unique_ptr<Recorder> m_recorder;
    std::vector<std::unique_ptr<TelnetSession>> m_sessions;
};

}  // namespace vandrel::devsim
