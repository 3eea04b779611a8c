#include "net/TSocketLogger.h"
#include "support/RaisedText.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

using namespace vandrel::net;
using namespace vandrel::test;

namespace {

namespace fs = std::filesystem;

class TSocketLoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("vandrel-logger-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string path(const char* name) const { return (m_dir / name).string(); }
    static std::string contents(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    fs::path m_dir;
};

TEST_F(TSocketLoggerTest, FileLinesWithStamp) {
    TSocketLogger log;
    log.SetLogFileName(path("a.log"));
    log.SetLogOptions({loDestFile, loAddStamp});
    log.DoDebugLog(nullptr, loWsockInfo, "first");
    log.DoDebugLog(nullptr, loWsockInfo, "second");
    log.CloseLogFile();
    const std::regex line(R"(\d\d:\d\d:\d\d:\d\d\d first\r\n\d\d:\d\d:\d\d:\d\d\d second\r\n)");
    EXPECT_TRUE(std::regex_match(contents(path("a.log")), line)) << contents(path("a.log"));
}

TEST_F(TSocketLoggerTest, EventOnlyWithoutHandlerIsSilent) {
    TSocketLogger log;
    log.SetLogOptions({loDestEvent});
    EXPECT_NO_THROW(log.DoDebugLog(nullptr, loWsockErr, "nothing"));
}

TEST_F(TSocketLoggerTest, DestinationsInOrderOnlyFileGetsLineEnd) {
    std::vector<std::string> seen;
    TSocketLogger::SetDebugOutput([&](const std::string& s) { seen.push_back("debug:" + s); });
    TSocketLogger log;
    log.SetLogFileName(path("b.log"));
    log.SetOnSocketLogEvent([&](TObject*, TLogOption opt, const std::string& s) {
        seen.push_back("event:" + s + ":" + std::to_string(opt));
    });
    log.SetLogOptions({loDestEvent, loDestOutDebug, loDestFile});
    log.DoDebugLog(nullptr, loWsockDump, "msg");
    TSocketLogger::SetDebugOutput(nullptr);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "event:msg:6");
    EXPECT_EQ(seen[1], "debug:msg");
    log.CloseLogFile();
    EXPECT_EQ(contents(path("b.log")), "msg\r\n");
}

TEST_F(TSocketLoggerTest, EventHandlerExceptionSkipsLaterDestinations) {
    TSocketLogger log;
    log.SetLogFileName(path("c.log"));
    log.SetOnSocketLogEvent(
        [](TObject*, TLogOption, const std::string&) { throw std::runtime_error("hook failed"); });
    log.SetLogOptions({loDestEvent, loDestFile});
    EXPECT_THROW(log.DoDebugLog(nullptr, loWsockErr, "x"), std::runtime_error);
    EXPECT_FALSE(fs::exists(path("c.log")));
    // The lock was released: the next message goes through.
    log.SetOnSocketLogEvent(nullptr);
    log.DoDebugLog(nullptr, loWsockErr, "y");
    log.CloseLogFile();
    EXPECT_EQ(contents(path("c.log")), "y\r\n");
}

TEST_F(TSocketLoggerTest, HandlerMayLogAgainOnTheSameThread) {
    TSocketLogger log;
    int depth = 0;
    std::vector<std::string> seen;
    log.SetOnSocketLogEvent([&](TObject*, TLogOption, const std::string& s) {
        seen.push_back(s);
        if (depth++ == 0) {
            log.DoDebugLog(nullptr, loWsockInfo, "nested");
        }
    });
    log.SetLogOptions({loDestEvent});
    log.DoDebugLog(nullptr, loWsockInfo, "outer");
    EXPECT_EQ(seen, (std::vector<std::string>{"outer", "nested"}));
}

TEST_F(TSocketLoggerTest, OverwriteEmptiesOnOpenThenAppends) {
    { std::ofstream(path("d.log")) << "old contents\r\n"; }
    TSocketLogger log;
    log.SetLogFileName(path("d.log"));
    log.SetLogFileOption(lfoOverwrite);
    log.SetLogOptions({loDestFile});
    log.DoDebugLog(nullptr, loWsockInfo, "one");
    log.DoDebugLog(nullptr, loWsockInfo, "two");
    log.CloseLogFile();
    EXPECT_EQ(contents(path("d.log")), "one\r\ntwo\r\n");
}

TEST_F(TSocketLoggerTest, AppendKeepsExistingContents) {
    { std::ofstream(path("e.log")) << "old\r\n"; }
    TSocketLogger log;
    log.SetLogFileName(path("e.log"));
    log.SetLogOptions({loDestFile});
    log.DoDebugLog(nullptr, loWsockInfo, "new");
    log.CloseLogFile();
    EXPECT_EQ(contents(path("e.log")), "old\r\nnew\r\n");
}

TEST_F(TSocketLoggerTest, RenamingSwitchesFiles) {
    TSocketLogger log;
    log.SetLogFileName(path("f1.log"));
    log.SetLogOptions({loDestFile});
    log.DoDebugLog(nullptr, loWsockInfo, "a");
    log.SetLogFileName(path("f1.log"));  // same name: file stays open
    log.DoDebugLog(nullptr, loWsockInfo, "b");
    log.SetLogFileName(path("f2.log"));
    log.DoDebugLog(nullptr, loWsockInfo, "c");
    log.CloseLogFile();
    EXPECT_EQ(contents(path("f1.log")), "a\r\nb\r\n");
    EXPECT_EQ(contents(path("f2.log")), "c\r\n");
}

TEST_F(TSocketLoggerTest, EmptyFileNameRaisesEveryTime) {
    TSocketLogger log;
    log.SetLogOptions({loDestFile});
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(raisedText<ELoggerException>([&] { log.DoDebugLog(nullptr, loWsockInfo, "x"); }),
                  "File name empty");
    }
}

TEST_F(TSocketLoggerTest, SecondWriterIsRefused) {
    TSocketLogger first;
    TSocketLogger second;
    for (TSocketLogger* l : {&first, &second}) {
        l->SetLogFileName(path("g.log"));
        l->SetLogOptions({loDestFile});
    }
    first.DoDebugLog(nullptr, loWsockInfo, "mine");
    EXPECT_EQ(
        raisedText<ELoggerException>([&] { second.DoDebugLog(nullptr, loWsockInfo, "intruder"); }),
        "Datei " + path("g.log") + " kann nicht geöffnet werden");
    // Reading stays possible while the first logger holds the file.
    EXPECT_EQ(contents(path("g.log")), "mine\r\n");
    first.CloseLogFile();
    second.DoDebugLog(nullptr, loWsockInfo, "now");
    second.CloseLogFile();
    EXPECT_EQ(contents(path("g.log")), "mine\r\nnow\r\n");
}

TEST_F(TSocketLoggerTest, UncreatableFileNamesItsPath) {
    TSocketLogger log;
    const std::string bad = path("missing-dir/h.log");
    log.SetLogFileName(bad);
    log.SetLogOptions({loDestFile});
    EXPECT_EQ(raisedText<ELoggerException>([&] { log.DoDebugLog(nullptr, loWsockInfo, "x"); }),
              "Datei " + bad + " kann nicht erstellt werden");
}

TEST_F(TSocketLoggerTest, DestructionNotifiesReferrersAndDropsLateMessages) {
    bool notified = false;
    int events = 0;
    {
        auto log = std::make_unique<TSocketLogger>();
        log->SetLogOptions({loDestEvent});
        log->SetOnSocketLogEvent([&](TObject*, TLogOption, const std::string&) { ++events; });
        TSocketLogger* raw = log.get();
        log->AddFreeNotification(&notified, [&notified, raw] {
            notified = true;
            raw->DoDebugLog(nullptr, loWsockInfo, "while being destroyed");
        });
        log.reset();
    }
    EXPECT_TRUE(notified);
    EXPECT_EQ(events, 0);
}

}  // namespace
