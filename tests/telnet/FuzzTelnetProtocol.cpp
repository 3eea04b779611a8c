// libFuzzer entry: any byte stream, cut into reads at fuzzer-chosen points, must leave the
// parser consistent and its subnegotiation buffer bounded.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "telnet/TelnetProtocol.h"

namespace {

class NullSink : public telnet::ProtocolSink {
public:
    void sendToServer(const std::uint8_t*, std::size_t) override {}
    void deliverData(const std::uint8_t* data, int len) override {
        if (len <= 0 || len > telnet::TelnetProtocol::kDisplaySize || data[len] != 0) {
            std::abort();
        }
    }
    void endOfRecord() override {}
    void localEchoNegotiated() override {}
    void sendLocRequested() override {}
    void termTypeRequested() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    NullSink sink;
    telnet::TelnetProtocol proto(sink);
    std::size_t pos = 0;
    while (pos < size) {
        // The first byte of each piece gives the piece's length.
        const std::size_t piece = std::min<std::size_t>(data[pos] + 1u, size - pos);
        proto.receive(data + pos, piece);
        pos += piece;
        if (proto.subnegotiationSize() > telnet::TelnetProtocol::kMaxSubnegotiation) {
            std::abort();
        }
    }
    return 0;
}
