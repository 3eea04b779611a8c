// libFuzzer entry: any byte stream must leave the parser consistent and its subnegotiation
// buffer bounded, and how the stream is cut into reads must not matter: the stream fed in
// one read and the same stream cut at fuzzer-chosen points give the same data, the same
// replies to the server and the same events.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "telnet/TelnetProtocol.h"

using namespace vandrel::telnet;

namespace {

class RecordingSink : public ProtocolSink {
public:
    void SendToServer(const std::uint8_t* data, std::size_t len) override {
        replies.push_back('S');
        replies.append(reinterpret_cast<const char*>(data), len);
    }
    void DeliverData(const std::uint8_t* data, int len) override {
        if (len <= 0 || len > TelnetProtocol::kDisplaySize || data[len] != 0) {
            std::abort();
        }
        shown.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(len));
    }
    void EndOfRecord() override { replies.push_back('E'); }
    void LocalEchoNegotiated() override { replies.push_back('L'); }
    void SendLocRequested() override { replies.push_back('O'); }
    void TermTypeRequested() override { replies.push_back('T'); }

    std::string shown;
    std::string replies;
};

void checkBounded(const TelnetProtocol& proto) {
    if (proto.SubnegotiationSize() > TelnetProtocol::kMaxSubnegotiation ||
        proto.BufferedCount() != 0) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte steers the cutting: each piece is (byte at the piece's start) % step + 1
    // bytes long, so the pieces range from single bytes to whole reads.
    const std::size_t step = data[0] | 1u;
    ++data;
    --size;

    RecordingSink whole;
    TelnetProtocol wholeProto(whole);
    wholeProto.Receive(data, size);
    checkBounded(wholeProto);

    RecordingSink cut;
    TelnetProtocol cutProto(cut);
    std::size_t pos = 0;
    while (pos < size) {
        const std::size_t piece = std::min<std::size_t>(data[pos] % step + 1u, size - pos);
        cutProto.Receive(data + pos, piece);
        checkBounded(cutProto);
        pos += piece;
    }

    if (whole.shown != cut.shown || whole.replies != cut.replies ||
        wholeProto.State() != cutProto.State() ||
        wholeProto.SubnegotiationSize() != cutProto.SubnegotiationSize() ||
        wholeProto.LocalEcho() != cutProto.LocalEcho()) {
        std::abort();
    }
    return 0;
}
