#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "DeviceConsole.h"
#include "DeviceState.h"
#include "Log.h"
#include "Options.h"
#include "TelnetReader.h"

namespace vandrel::devsim {

// Appends every byte that clients send to one file (sessions interleave in arrival order).
class Recorder {
public:
    explicit Recorder(int fd) : m_fd(fd) {}
    void write(const char* bytes, std::size_t length);

private:
    int m_fd;
};

// One accepted telnet client: sends the option script (and the flood, if asked),
// asks for the terminal type, shows the banner once the terminal type and location
// are known (or after a second), then runs the device console until the client
// leaves, types exit, or the close-after time is up.
class TelnetSession {
public:
    TelnetSession(int fd, const Options& options, DeviceState& state, Recorder* recorder,
                  TimePoint now);
    ~TelnetSession();
    TelnetSession(const TelnetSession&) = delete;
    TelnetSession& operator=(const TelnetSession&) = delete;

    int fd() const { return m_fd; }
    bool wantsWrite() const {
        return !m_drainDue && (m_outOffset < m_out.size() || m_floodLeft > 0);
    }
    bool finished() const { return m_finished; }

    void onReadable(TimePoint now);
    void onWritable(TimePoint now);
    void onTimer(TimePoint now);
    std::optional<TimePoint> nextDeadline() const;

private:
    static constexpr auto kBannerWait = Milliseconds(1000);
    static constexpr auto kDrainTime = Milliseconds(2000);

    void handleEvent(const TelnetEvent& event, TimePoint now);
    void handleOption(unsigned char verb, unsigned char option);
    void clientWill(unsigned char option);
    void clientDo(unsigned char option);
    void clientDont(unsigned char option);
    void handleSubnegotiation(const std::string& data);
    void sendCommand(unsigned char verb, unsigned char option);
    void maybeShowBanner(TimePoint now);
    void queue(const std::string& bytes);
    // Queues the console answers that are due by now.
    void releaseAnswers(TimePoint now);
    void fillFlood();
    void flush();
    void finish(const char* why);
    void startDrain(const char* reason);
    void resetNow();

    int m_fd;
    Recorder* m_recorder;
    TelnetReader m_reader;
    DeviceConsole m_console;
    std::string m_out;
    Milliseconds m_answerDelay;
    std::deque<std::pair<TimePoint, std::string>> m_answers;  // console output not due yet
    std::size_t m_outOffset = 0;
    std::uint64_t m_floodLeft;
    std::uint64_t m_floodOffset = 0;
    std::int64_t m_resetLeft;  // bytes to send before the reset; negative: never
    TimePoint m_bannerDue;
    std::optional<TimePoint> m_closeDue;
    std::optional<TimePoint> m_drainDue;  // set once we have sent FIN
    const char* m_closeReason = "";
    std::array<bool, 256> m_weWill{};   // we offered WILL for this option
    std::array<bool, 256> m_weDo{};     // we asked DO for this option
    std::array<bool, 256> m_refused{};  // we already answered a request for it
    bool m_ttypeAsked = false;
    bool m_ttypeDone = false;
    bool m_locationDone = false;
    bool m_bannerShown = false;
    bool m_closing = false;
    bool m_finished = false;
    std::string m_terminalType;
    std::string m_location;
    std::string m_peer;
};

}  // namespace vandrel::devsim
