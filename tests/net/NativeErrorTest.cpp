#include "net/NativeError.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

using namespace vandrel::net;

namespace {

TEST(NativeError, ConnectionOutcomesMapByMeaning) {
    EXPECT_EQ(SocketErrorFromErrno(0), 0);
    EXPECT_EQ(SocketErrorFromErrno(EWOULDBLOCK), 10035);
    EXPECT_EQ(SocketErrorFromErrno(EAGAIN), 10035);
    EXPECT_EQ(SocketErrorFromErrno(EINPROGRESS), 10035);
    EXPECT_EQ(SocketErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(SocketErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(SocketErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(SocketErrorFromErrno(EPIPE), 10054);
    EXPECT_EQ(SocketErrorFromErrno(ENOTCONN), 10057);
    EXPECT_EQ(SocketErrorFromErrno(ECONNABORTED), 10053);
    EXPECT_EQ(SocketErrorFromErrno(ENETUNREACH), 10051);
    EXPECT_EQ(SocketErrorFromErrno(EHOSTUNREACH), 10065);
    EXPECT_EQ(SocketErrorFromErrno(EISCONN), 10056);
    EXPECT_EQ(SocketErrorFromErrno(EALREADY), 10037);
}

TEST(NativeError, ArgumentAndResourceErrorsMapByMeaning) {
    EXPECT_EQ(SocketErrorFromErrno(EINVAL), 10022);
    EXPECT_EQ(SocketErrorFromErrno(EINTR), 10004);
    EXPECT_EQ(SocketErrorFromErrno(EADDRINUSE), 10048);
    EXPECT_EQ(SocketErrorFromErrno(EADDRNOTAVAIL), 10049);
    EXPECT_EQ(SocketErrorFromErrno(EMSGSIZE), 10040);
    EXPECT_EQ(SocketErrorFromErrno(ENOTSOCK), 10038);
    EXPECT_EQ(SocketErrorFromErrno(EBADF), 10009);
    EXPECT_EQ(SocketErrorFromErrno(EACCES), 10013);
    EXPECT_EQ(SocketErrorFromErrno(EMFILE), 10024);
    EXPECT_EQ(SocketErrorFromErrno(ENOBUFS), 10055);
    EXPECT_EQ(SocketErrorFromErrno(EAFNOSUPPORT), 10047);
    EXPECT_EQ(SocketErrorFromErrno(EOPNOTSUPP), 10045);
}

TEST(NativeError, UnmappedErrnoNeverLooksLikeASocketError) {
    // ENOENT has no socket counterpart; it must not collide with a table code.
    const int v = SocketErrorFromErrno(ENOENT);
    EXPECT_NE(v, 0);
    EXPECT_LT(v, 10000);
}

TEST(NativeError, ResolverFailures) {
    EXPECT_EQ(SocketErrorFromGai(0), 0);
    EXPECT_EQ(SocketErrorFromGai(EAI_NONAME), 11001);
    EXPECT_EQ(SocketErrorFromGai(EAI_AGAIN), 11002);
    EXPECT_EQ(SocketErrorFromGai(EAI_FAIL), 11003);
#ifdef EAI_NODATA
    EXPECT_EQ(SocketErrorFromGai(EAI_NODATA), 11004);
#endif
    EXPECT_EQ(SocketErrorFromGai(EAI_FAMILY), 10047);
    // Any failure, even an unknown one, stays a failure.
    EXPECT_NE(SocketErrorFromGai(-9999), 0);
}

TEST(NativeError, ResolverSystemErrorReadsErrno) {
    errno = ECONNREFUSED;
    EXPECT_EQ(SocketErrorFromGai(EAI_SYSTEM), 10061);
    errno = 0;
    EXPECT_EQ(SocketErrorFromGai(EAI_SYSTEM), 11003);
}

}  // namespace
