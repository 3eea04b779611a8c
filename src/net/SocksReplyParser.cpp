#include "net/SocksReplyParser.h"

#include <algorithm>
#include <cstring>

namespace vandrel::net {

namespace {

// The reply bytes the buffer holds at most; the last byte stays free.
constexpr int kCapacity = SocksReplyParser::kBufferSize - 1;
constexpr int kLevel4ReplySize = 8;

using Result = SocksReplyParser::Result;
using Action = SocksReplyParser::Action;

Result fail(int code, std::string text) {
    return Result{Action::Fail, -1, code, std::move(text)};
}

Result level5Failure(int reply) {
    static constexpr const char* kTexts[] = {
        "general SOCKS server failure", "connection not allowed by ruleset",
        "network unreachable",          "host unreachable",
        "connection refused",           "time to live expired",
        "command not supported",        "address type not supported",
    };
    if (reply >= 1 && reply <= 8) {
        return fail(kSocksGeneralFailure + reply - 1, kTexts[reply - 1]);
    }
    return fail(kSocksUnassignedError, "unassigned error #" + std::to_string(reply));
}

}  // namespace

void SocksReplyParser::Start(ProxyLevel level) {
    Reset();
    m_level = level;
    m_phase = Phase::MethodReply;
}

void SocksReplyParser::Reset() {
    m_phase = Phase::Data;
    m_offered = 0;
    m_count = 0;
    m_leftoverPos = 0;
    m_leftoverCount = 0;
}

int SocksReplyParser::Room() const {
    switch (m_phase) {
        case Phase::Data:
            return 0;
        case Phase::ConnectReply:
            if (m_level != ProxyLevel::Socks5) {
                return std::max(0, kLevel4ReplySize - m_count);
            }
            [[fallthrough]];
        default:
            return std::max(0, kCapacity - m_count);
    }
}

Result SocksReplyParser::Received(int n) {
    m_count += std::clamp(n, 0, Room());
    switch (m_phase) {
        case Phase::MethodReply:
            return ReadMethodReply();
        case Phase::AuthReply:
            return ReadAuthReply();
        case Phase::ConnectReply:
            return m_level == ProxyLevel::Socks5 ? ReadLevel5Reply() : ReadLevel4Reply();
        case Phase::Data:
            break;
    }
    return fail(kSocksInternalError, "internal error");
}

Result SocksReplyParser::ReadMethodReply() {
    if (m_level != ProxyLevel::Socks5) {
        return fail(kSocksLogicError, "TWSocket logic error");
    }
    if (m_count < 2) {
        return {};
    }
    const std::uint8_t version = m_buf[0];
    const std::uint8_t method = m_buf[1];
    // Bytes behind the method reply (a proxy that answers ahead) belong to the
    // next reply: they stay buffered for it.
    std::memmove(m_buf, m_buf + 2, static_cast<std::size_t>(m_count - 2));
    m_count -= 2;
    if (version != 5) {
        return fail(kSocksVersionError, "socks version error");
    }
    if (method == 0) {
        return Result{Action::SendConnectRequest, m_offered != 0 ? 3 : -1, 0, {}};
    }
    if (method == 2) {
        return Result{Action::SendAuthRequest, -1, 0, {}};
    }
    return fail(kSocksMethodRefused, "authentification method not acceptable");
}

Result SocksReplyParser::ReadAuthReply() {
    if (m_count >= 1 && m_buf[0] != 1) {
        return fail(kSocksVersionError, "socks version error");
    }
    if (m_count < 2) {
        return {};
    }
    if (m_count > 2) {
        return fail(kSocksLogicError, "too much data availaible");
    }
    if (m_buf[1] != 0) {
        return fail(kSocksAuthFailed, "socks authentication failed");
    }
    m_count = 0;
    return Result{Action::SendConnectRequest, 1, 0, {}};
}

Result SocksReplyParser::ReadLevel4Reply() {
    if (m_count < kLevel4ReplySize) {
        return {};
    }
    m_count = 0;
    if (m_buf[0] != 0) {
        return fail(kSocksVersionError, "socks version error");
    }
    switch (m_buf[1]) {
        case 90:
            m_phase = Phase::Data;
            return Result{Action::Granted, -1, 0, {}};
        case 91:
            return fail(kSocksRequestRejected, "request rejected or failed");
        case 92:
            return fail(kSocksConnectionRefused, "connection refused");
        case 93:
            return fail(kSocksAuthFailed, "authentification failed");
        default:
            return fail(kSocksUnassignedError, "unassigned error #" + std::to_string(m_buf[1]));
    }
}

Result SocksReplyParser::ReadLevel5Reply() {
    if (m_count >= 1 && m_buf[0] != 5) {
        return fail(kSocksVersionError, "socks version error");
    }
    if (m_count >= 2 && m_buf[1] != 0) {
        return level5Failure(m_buf[1]);
    }
    if (m_count < 5) {
        return {};
    }
    const int type = m_buf[3];
    const int length = type == 1 ? 10 : type == 3 ? m_buf[4] + 7 : 5;
    if (length > kCapacity) {
        // A bound name this long cannot be read into the buffer.
        return fail(kSocksLogicError, "socks reply too long");
    }
    if (m_count < length) {
        return {};
    }
    return GrantLevel5();
}

Result SocksReplyParser::GrantLevel5() {
    int pos = 0;
    if (m_buf[3] == 1) {
        m_boundAddr = std::to_string(m_buf[4]) + "." + std::to_string(m_buf[5]) + "." +
                      std::to_string(m_buf[6]) + "." + std::to_string(m_buf[7]);
        pos = 8;
    } else if (m_buf[3] == 3) {
        m_boundAddr.assign(reinterpret_cast<const char*>(m_buf + 5), m_buf[4]);
        pos = m_buf[4] + 5;
    } else {
        return fail(kSocksAddressTypeError, "address type not supported");
    }
    m_boundPort = std::to_string(m_buf[pos] << 8 | m_buf[pos + 1]);
    pos += 2;
    m_phase = Phase::Data;
    m_leftoverPos = pos;
    m_leftoverCount = std::max(0, m_count - pos);
    return Result{Action::Granted, -1, 0, {}};
}

}  // namespace vandrel::net
