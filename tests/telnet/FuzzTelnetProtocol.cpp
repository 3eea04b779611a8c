// libFuzzer entry: any byte stream, cut into reads at fuzzer-chosen points, must leave the
// parser consistent and its subnegotiation buffer bounded.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "telnet/TelnetProtocol.h"

using namespace vandrel::telnet;

namespace {

class NullSink : public ProtocolSink {
public:
    void SendToServer(const std::uint8_t*, std::size_t) override {}
    void DeliverData(const std::uint8_t* data, int len) override {
        if (len <= 0 || len > TelnetProtocol::kDisplaySize || data[len] != 0) {
            std::abort();
        }
    }
    void EndOfRecord() override {}
    void LocalEchoNegotiated() override {}
    void SendLocRequested() override {}
    void TermTypeRequested() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    NullSink sink;
    TelnetProtocol proto(sink);
    std::size_t pos = 0;
    while (pos < size) {
        // The first byte of each piece gives the piece's length.
        const std::size_t piece = std::min<std::size_t>(data[pos] + 1u, size - pos);
        proto.Receive(data + pos, piece);
        pos += piece;
        if (proto.SubnegotiationSize() > TelnetProtocol::kMaxSubnegotiation) {
            std::abort();
        }
    }
    return 0;
}
