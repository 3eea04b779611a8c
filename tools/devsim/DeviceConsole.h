#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ConfigDialogue.h"
#include "DeviceState.h"

namespace vandrel::devsim {

// The device's command line as a telnet user sees it, without the socket: data bytes
// in (telnet commands already removed), bytes to send back out. CR LF, a lone CR or a
// lone LF ends a line; the single byte "#" opens the IP configuration dialogue at once;
// "exit" asks for the session to close.
class DeviceConsole {
public:
    static constexpr std::size_t kMaxLine = 256;

    DeviceConsole(DeviceState& state, std::uint32_t localAddress);

    std::string banner(const std::string& terminalType, const std::string& location) const;
    std::string input(const std::string& bytes);
    std::string interrupt();  // Ctrl-C or telnet IP: cancel the line or the dialogue

    void setEcho(bool on) { m_echo = on; }
    // "#" is echoed and then the session hangs: nothing typed is answered any more.
    void setHungDialogue(bool on) { m_hungDialogue = on; }
    bool closeRequested() const { return m_closeRequested; }
    bool inDialogue() const { return m_dialogue.has_value(); }

private:
    void inputByte(unsigned char byte, std::string& out);
    void endLine(std::string& out);
    void command(const std::string& line, std::string& out);
    void finishDialogue(std::string& out);
    std::string echoed(const std::string& text) const { return m_echo ? text : std::string(); }

    DeviceState& m_state;
    std::uint32_t m_localAddress;
    std::string m_line;
    std::optional<ConfigDialogue> m_dialogue;
    bool m_echo = true;
    bool m_afterCr = false;
    bool m_closeRequested = false;
    bool m_hungDialogue = false;
    bool m_hung = false;
};

inline constexpr const char* kPrompt = "> ";

}  // namespace vandrel::devsim
