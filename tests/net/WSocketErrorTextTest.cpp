#include "net/WSocketErrorText.h"

#include <gtest/gtest.h>

using namespace vandrel::net;

namespace {

TEST(WSocketErrorText, TableEntries) {
    EXPECT_EQ(WSocketErrorText(0), "No Error");
    EXPECT_EQ(WSocketErrorText(10035), "Operation would block");
    EXPECT_EQ(WSocketErrorText(10047), "Address family not supported by protocol family");
    EXPECT_EQ(WSocketErrorText(10054), "Connection reset by peer");
    EXPECT_EQ(WSocketErrorText(10058), "Can't send after socket shutdown");
    EXPECT_EQ(WSocketErrorText(10061), "Connection refused");
    EXPECT_EQ(WSocketErrorText(10093), "WinSock not initialized");
    EXPECT_EQ(WSocketErrorText(11001), "Host not found");
    EXPECT_EQ(WSocketErrorText(11004), "No Data");
}

TEST(WSocketErrorText, ValuesOutsideTheTable) {
    for (int code :
         {-1, -10061, 1, 10000, 10003, 10005, 10072, 10090, 10094, 11000, 11005, 65535}) {
        EXPECT_EQ(WSocketErrorText(code), "Not a WinSock error") << code;
    }
}

TEST(WSocketErrorText, MessageAppendsTheCode) {
    EXPECT_EQ(WSocketErrorMessage(10035), "Operation would block (#10035)");
    EXPECT_EQ(WSocketErrorMessage(10061), "Connection refused (#10061)");
    EXPECT_EQ(WSocketErrorMessage(-5), "Not a WinSock error (#-5)");
}

TEST(WSocketErrorText, SystemMessageUsesTableForSocketCodes) {
    EXPECT_EQ(SystemErrorMessage(10092), "WinSock DLL cannot support this application (#10092)");
    const std::string other = SystemErrorMessage(2);
    EXPECT_NE(other.find("(#2)"), std::string::npos);
    EXPECT_GT(other.size(), 5u);
}

}  // namespace
