// libFuzzer entry, differential: the program's three readers of dotted IPv4 text on the same
// input. The socket layer's lenient test (blanks around, any number of digits per part) must
// accept exactly the texts of its grammar and convert them without a name lookup; the
// discovery endpoint's strict parser and the device simulator's must agree with each other
// and with inet_pton wherever inet_pton accepts, and everything strict is also lenient.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "Ipv4.h"
#include "discovery/TSocketStack.h"
#include "net/ESocketException.h"
#include "net/WSocketResolve.h"

using namespace vandrel;

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Blanks, four runs of digits joined by three dots, each of value 255 at most, blanks.
bool lenientGrammar(const std::string& s) {
    std::size_t i = s.find_first_not_of(' ');
    const std::size_t end = s.find_last_not_of(' ') + 1;
    if (i == std::string::npos) {
        return false;
    }
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (i >= end || s[i++] != '.')) {
            return false;
        }
        unsigned value = 0;
        const std::size_t start = i;
        while (i < end && isDigit(s[i])) {
            value = std::min(value * 10 + static_cast<unsigned>(s[i++] - '0'), 1000u);
        }
        if (i == start || value > 255) {
            return false;
        }
    }
    return i == end;
}

bool hasLeadingZero(const std::string& s) {
    for (std::size_t i = 0; i + 1 < s.size(); ++i) {
        if (s[i] == '0' && isDigit(s[i + 1]) && (i == 0 || !isDigit(s[i - 1]))) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const bool lenient = net::IsDottedAddress(text);
    check(lenient == lenientGrammar(text));

    in_addr endpoint{};
    const bool strict = discovery::TSocketStack::FromDotted(text, endpoint);
    const std::optional<std::uint32_t> simulator = devsim::parseIpv4(text);
    check(strict == simulator.has_value());
    if (strict) {
        check(ntohl(endpoint.s_addr) == *simulator);
        check(lenient);
    }
    in_addr reference{};
    if (::inet_pton(AF_INET, text.c_str(), &reference) == 1 &&
        text.size() == std::strlen(text.c_str())) {
        check(strict && endpoint.s_addr == reference.s_addr);
    }

    // Text the socket layer takes for an address is converted, never looked up by name.
    const std::string trimmed = net::TrimText(text);
    if (!trimmed.empty() && text.size() <= 256 && net::IsDottedAddress(trimmed)) {
        try {
            const std::uint32_t address = net::ResolveHost(text);
            if (strict && !hasLeadingZero(text)) {
                check(address == endpoint.s_addr);
            }
        } catch (const net::ESocketException&) {
            check(hasLeadingZero(trimmed));  // only octal-looking parts are refused
        }
    }
    return 0;
}
