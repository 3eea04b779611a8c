// libFuzzer entry: any proxy reply stream, cut into reads at fuzzer-chosen
// points, through every phase of the handshake. The reply buffer is never
// overrun (AddressSanitizer) and its counts stay inside it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/SocksReplyParser.h"

using vandrel::net::ProxyLevel;
using vandrel::net::SocksReplyParser;

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    SocksReplyParser parser;
    const ProxyLevel levels[] = {ProxyLevel::Socks4, ProxyLevel::Socks4A, ProxyLevel::Socks5};
    parser.Start(levels[data[0] % 3]);
    parser.SetOfferedMethod((data[0] & 4) ? 2 : 0);
    if (data[0] & 8) {
        parser.SetPhase(SocksReplyParser::Phase::ConnectReply);  // level 4 starts here
    }
    std::size_t pos = 1;
    while (pos < size) {
        // The first byte of each piece gives the piece's length.
        const std::size_t want = data[pos++] % 140u;
        const int room = parser.Room();
        check(room >= 0 && room < SocksReplyParser::kBufferSize);
        const std::size_t n = std::min({want, size - pos, static_cast<std::size_t>(room)});
        std::memcpy(parser.Tail(), data + pos, n);
        pos += n;
        const auto r = parser.Received(static_cast<int>(n));
        check(parser.BufferedCount() >= 0 &&
              parser.BufferedCount() < SocksReplyParser::kBufferSize);
        using Action = SocksReplyParser::Action;
        if (r.action == Action::SendAuthRequest) {
            parser.SetPhase(SocksReplyParser::Phase::AuthReply);
        } else if (r.action == Action::SendConnectRequest) {
            parser.SetPhase(SocksReplyParser::Phase::ConnectReply);
        } else if (r.action == Action::Granted) {
            const int count = parser.LeftoverCount();
            check(count >= 0 && parser.Leftover() + count <= parser.Tail());
            volatile std::uint8_t sum = 0;  // AddressSanitizer checks every leftover byte
            for (int i = 0; i < count; ++i) {
                sum = static_cast<std::uint8_t>(sum + parser.Leftover()[i]);
            }
            return 0;
        } else if (r.action == Action::Fail) {
            check(r.code >= 20001 && r.code <= 20017 && !r.text.empty());
            return 0;
        }
    }
    return 0;
}
