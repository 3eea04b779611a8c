// libFuzzer target: arbitrary client bytes through the simulator's telnet parser and
// console, the path that must survive anything a client sends.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "DeviceConsole.h"
#include "DeviceState.h"
#include "Options.h"
#include "TelnetReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vandrel::devsim::Options options;
    vandrel::devsim::DeviceState state(options);
    vandrel::devsim::DeviceConsole console(state, 0xC612000B);
    vandrel::devsim::TelnetReader reader;
    // The first byte picks how the input is cut into reads.
    std::size_t chunk = size > 0 ? data[0] % 16 + 1 : 1;
    for (std::size_t offset = 1; offset < size; offset += chunk) {
        std::vector<vandrel::devsim::TelnetEvent> events;
        std::size_t length = std::min(chunk, size - offset);
        reader.feed(reinterpret_cast<const char*>(data) + offset, length, events);
        for (const auto& event : events) {
            if (event.kind == vandrel::devsim::TelnetEvent::Kind::Data) {
                console.input(event.data);
            } else if (event.kind == vandrel::devsim::TelnetEvent::Kind::Command) {
                console.interrupt();
            }
        }
    }
    state.replyFields(0x7F000001);
    return 0;
}
