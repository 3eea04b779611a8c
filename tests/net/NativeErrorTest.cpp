#include "net/NativeError.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

namespace {

TEST(NativeError, ConnectionOutcomesMapByMeaning) {
    EXPECT_EQ(socketErrorFromErrno(0), 0);
    EXPECT_EQ(socketErrorFromErrno(EWOULDBLOCK), 10035);
    EXPECT_EQ(socketErrorFromErrno(EAGAIN), 10035);
    EXPECT_EQ(socketErrorFromErrno(EINPROGRESS), 10035);
    EXPECT_EQ(socketErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(socketErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(socketErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(socketErrorFromErrno(EPIPE), 10054);
    EXPECT_EQ(socketErrorFromErrno(ENOTCONN), 10057);
    EXPECT_EQ(socketErrorFromErrno(ECONNABORTED), 10053);
    EXPECT_EQ(socketErrorFromErrno(ENETUNREACH), 10051);
    EXPECT_EQ(socketErrorFromErrno(EHOSTUNREACH), 10065);
    EXPECT_EQ(socketErrorFromErrno(EISCONN), 10056);
    EXPECT_EQ(socketErrorFromErrno(EALREADY), 10037);
}

TEST(NativeError, ArgumentAndResourceErrorsMapByMeaning) {
    EXPECT_EQ(socketErrorFromErrno(EINVAL), 10022);
    EXPECT_EQ(socketErrorFromErrno(EINTR), 10004);
    EXPECT_EQ(socketErrorFromErrno(EADDRINUSE), 10048);
    EXPECT_EQ(socketErrorFromErrno(EADDRNOTAVAIL), 10049);
    EXPECT_EQ(socketErrorFromErrno(EMSGSIZE), 10040);
    EXPECT_EQ(socketErrorFromErrno(ENOTSOCK), 10038);
    EXPECT_EQ(socketErrorFromErrno(EBADF), 10009);
    EXPECT_EQ(socketErrorFromErrno(EACCES), 10013);
    EXPECT_EQ(socketErrorFromErrno(EMFILE), 10024);
    EXPECT_EQ(socketErrorFromErrno(ENOBUFS), 10055);
    EXPECT_EQ(socketErrorFromErrno(EAFNOSUPPORT), 10047);
    EXPECT_EQ(socketErrorFromErrno(EOPNOTSUPP), 10045);
}

TEST(NativeError, UnmappedErrnoNeverLooksLikeASocketError) {
    // ENOENT has no socket counterpart; it must not collide with a table code.
    const int v = socketErrorFromErrno(ENOENT);
    EXPECT_NE(v, 0);
    EXPECT_LT(v, 10000);
}

TEST(NativeError, ResolverFailures) {
    EXPECT_EQ(socketErrorFromGai(0), 0);
    EXPECT_EQ(socketErrorFromGai(EAI_NONAME), 11001);
    EXPECT_EQ(socketErrorFromGai(EAI_AGAIN), 11002);
    EXPECT_EQ(socketErrorFromGai(EAI_FAIL), 11003);
#ifdef EAI_NODATA
    EXPECT_EQ(socketErrorFromGai(EAI_NODATA), 11004);
#endif
    EXPECT_EQ(socketErrorFromGai(EAI_FAMILY), 10047);
    // Any failure, even an unknown one, stays a failure.
    EXPECT_NE(socketErrorFromGai(-9999), 0);
}

TEST(NativeError, ResolverSystemErrorReadsErrno) {
    errno = ECONNREFUSED;
    EXPECT_EQ(socketErrorFromGai(EAI_SYSTEM), 10061);
    errno = 0;
    EXPECT_EQ(socketErrorFromGai(EAI_SYSTEM), 11003);
}

}  // namespace
