#include <gtest/gtest.h>

#include "script/ScriptVariables.h"

using namespace vandrel::script;

namespace {

using Values = std::map<std::string, std::string>;

const DeviceIdentity kDevice{"VS-100", "VS-000123", "198.18.0.11", "00-1A-2b-3C-4D-5E"};

VariablesTable tableOf(std::string_view csv) {
    std::string error;
    std::optional<VariablesTable> table = VariablesTable::Parse(csv, error);
    EXPECT_TRUE(table) << error;
    return table.value_or(VariablesTable());
}

// The value of column for kDevice, or the error text.
std::string valueFor(std::string_view csv, const std::string& column) {
    std::string error;
    const auto values = tableOf(csv).RowFor(kDevice, error);
    return values ? values->at(column) : error;
}

TEST(ScriptVariables, MatchesByTheFirstKeyColumnTheTableHas) {
    const std::pair<const char*, const char*> cases[] = {
        {"IP,Mac,S/N,NewIP\n1.1.1.1,,VS-000999,a\n198.18.0.11,,\" VS-000123\t\",b\n", "b"},
        {"IP,Mac,NewIP\n198.18.0.11,00:1a:2b:3c:4d:5f,a\n9.9.9.9,00:1A:2B:3C:4D:5E ,b", "b"},
        {"NewIP,IP\r\na,198.18.0.12\r\nb, 198.18.0.11\r\n", "b"},
        {"S/N,NewIP\nVS-000124,a\n", "no values for S/N VS-000123"},
        {"Mac,NewIP\n", "no values for Mac 00-1A-2b-3C-4D-5E"},
    };
    for (const auto& [csv, expected] : cases) {
        EXPECT_EQ(valueFor(csv, "NewIP"), expected) << csv;
    }
}

TEST(ScriptVariables, DeviceVariablesComeFromTheDeviceOthersFromTheRow) {
    std::string error;
    EXPECT_EQ(tableOf("S/N,IP,Device,Gateway\nVS-000123,10.0.0.9,other,10.0.0.1\n")
                  .RowFor(kDevice, error),
              (Values{{"Device", "VS-100"},
                      {"S/N", "VS-000123"},
                      {"IP", "198.18.0.11"},
                      {"Mac", "00-1A-2b-3C-4D-5E"},
                      {"Gateway", "10.0.0.1"}}));
    // A device named by its address alone: found by IP, its missing S/N taken from the row.
    const DeviceIdentity byAddress{"", "", "198.18.0.11", ""};
    EXPECT_EQ(tableOf("S/N,IP,NewIP\nVS-000124,198.18.0.12,a\nVS-000123,198.18.0.11,b\n")
                  .RowFor(byAddress, error),
              (Values{{"Device", ""},
                      {"S/N", "VS-000123"},
                      {"IP", "198.18.0.11"},
                      {"Mac", ""},
                      {"NewIP", "b"}}));
    DeviceIdentity unknown = kDevice;
    unknown.SerialNumber = " ";
    EXPECT_FALSE(tableOf("S/N\nx\n").RowFor(unknown, error));
    EXPECT_EQ(error, "no values: the device has no S/N");
}

TEST(ScriptVariables, ReadsQuotingAndLineEnds) {
    const VariablesTable table =
        tableOf("\xEF\xBB\xBFS/N,Banner,Note\r\n\"VS-000123\",\"a,\"\"b\"\"\r\nc\",\n\n,,\nx,y");
    EXPECT_EQ(table.Columns(), (std::vector<std::string>{"S/N", "Banner", "Note"}));
    EXPECT_EQ(table.RowCount(), 2u);
    EXPECT_EQ(valueFor("S/N,Banner,Note\n\"VS-000123\",\"a,\"\"b\"\"\r\nc\",\n", "Banner"),
              "a,\"b\"\r\nc");
    EXPECT_EQ(valueFor("S/N,Banner,Note\nVS-000123,x", "Note"), "");
}

TEST(ScriptVariables, RefusesBadTables) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "line 1: no column names"},
        {"\n\n", "line 1: no column names"},
        {"S/N,,Mac\n", "line 1: column 2 has no name"},
        {"S/N,IP,S/N\n", "line 1: column \"S/N\" appears twice"},
        {"Name,Gateway\n", "line 1: no S/N, Mac or IP column"},
        {"S/N,A\nx,1\n\"y\nz\",2,3\n", "line 3: 3 values, but 2 columns"},
        {"S/N\nx\n\"y\n", "line 3: unterminated quote"},
        {"S/N,A\n\"x\"y,1\n", "line 2: text after a closing quote"},
        {"Mac\n00:1a:2b:3c:4d:5e\n00-1A-2B-3C-4D-5E\n",
         "line 3: Mac 00-1A-2B-3C-4D-5E is already on line 2"},
    };
    for (const auto& [csv, expected] : cases) {
        std::string error;
        EXPECT_FALSE(VariablesTable::Parse(csv, error)) << csv;
        EXPECT_EQ(error, expected) << csv;
    }
}

TEST(ScriptVariables, UnknownVariablesAreThoseNeitherDeviceNorTableGive) {
    EXPECT_EQ(
        UnknownVariables({"Gateway", "IP", "Mac", "NewIP", "Device", "S/N", "x"}, {"S/N", "NewIP"}),
        (std::vector<std::string>{"Gateway", "x"}));
}

}  // namespace
