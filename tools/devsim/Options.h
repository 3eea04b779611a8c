#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DiscoveryFrame.h"

namespace vandrel::devsim {

// Everything the simulator can be told on its command line.
struct Options {
    std::string bindAddress = "0.0.0.0";
    int discoveryPort = 33300;
    int telnetPort = 23;

    DeviceFields fields{"VD-100", "VS-000001", "auto", "auto", "not connected"};
    std::string netmask = "255.255.255.0";
    std::string gateway = "0.0.0.0";

    int replyCount = 1;
    int devices = 1;  // answers as this many devices, each with an address of its own
    int delayMs = 0;
    FrameShape shape;

    bool refuse = false;
    bool hungDialogue = false;          // "#" is echoed, then the device answers nothing more
    bool sessionStatus = true;          // Status "connected" while a telnet session is open
    int answerDelayMs = 0;              // the console's answers go out this much later
    int closeAfterMs = -1;              // negative: sessions stay open
    std::int64_t resetAfterBytes = -1;  // negative: sessions are never reset
    std::uint64_t floodBytes = 0;
    std::string recordFile;
    std::string optionScript;  // raw bytes sent to every client on accept
};

struct ParsedOptions {
    Options options;
    bool help = false;
    std::string error;  // non-empty: the command line is unusable
};

// Parses the arguments after the program name.
ParsedOptions parseOptions(const std::vector<std::string>& args);

// Turns "do:24,will:1,raw:fffb03" into telnet bytes; "none" or "" gives no bytes.
bool parseOptionScript(const std::string& text, std::string& bytes, std::string& error);

std::string defaultOptionScript();

}  // namespace vandrel::devsim
