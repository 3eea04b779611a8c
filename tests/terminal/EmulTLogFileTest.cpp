#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "terminal/EInOutError.h"
#include "terminal/EmulTScreen.h"

using namespace vandrel::terminal;

namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;

std::optional<std::string> InChild(const std::function<bool()>& prepare,
                                   const std::function<std::string()>& body);

// Runs body in a child process bound by file permissions: root becomes the unprivileged
// user "nobody" there.
std::string WithoutPrivileges(const std::function<std::string()>& body) {
    const auto report = InChild(
        [] { return ::geteuid() != 0 || (::setgid(kNobody) == 0 && ::setuid(kNobody) == 0); },
        body);
    return report.value_or("no child");
}

// Descriptors of this process open on the file name.
int OpenDescriptorsOn(const std::string& name) {
    int n = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        n += fs::read_symlink(entry.path(), ec) == name;
    }
    return n;
}

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "emult-log-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        path = (dir / "session.log").string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, ec);
        fs::remove_all(dir, ec);
    }

    using Limited = std::function<std::optional<std::string>(const std::function<std::string()>&)>;
    bool ExpectCutInTheMiddleOfABlock(const std::string& reason, const Limited& limited);

    static std::string Read(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(name, std::ios::binary) << bytes;
    }
    static std::string Shown(const EmulTScreen& s, int row = 1) {
        std::string text;
        for (int col = 1; col <= s.Columns(); ++col) {
            const auto c = s.Buffer().GetCell(col, row).Character;
            if (c == 0) {
                break;
            }
            text += static_cast<char>(c);
        }
        return text;
    }
    // Runs f, which must throw EInOutError, and returns the error.
    template <typename F>
    static EInOutError Raised(F&& f) {
        try {
            f();
        } catch (const EInOutError& e) {
            return e;
        }
        ADD_FAILURE() << "no EInOutError";
        return EInOutError(0, "");
    }

    fs::path dir;
    std::string path;
};

}  // namespace

TEST_F(LogFileTest, SessionBetweenMarkers) {
    EmulTScreen screen;
    screen.SetLogName(path);
    screen.SetLog(true);
    screen.SetLog(true);  // unchanged value: no second marker
    screen.WriteStr("AB\r\n");
    screen.WriteStr(std::string("\x1b\x07\0", 3));  // dropped on screen, logged anyway
    screen.WriteChar('C');
    screen.SetLog(false);
    screen.SetLog(false);
    EXPECT_EQ(Read(path), std::string("<Open>AB\r\n\x1b\x07\0C<Close>", 21));
    EXPECT_EQ(Shown(screen, 2), "C");
}

// A file the logging user may write but not read cannot be opened for appending; it is
// still appended to, never emptied.
TEST_F(LogFileTest, AppendsToAnExistingFile) {
    for (bool writeOnly : {false, true}) {
        SCOPED_TRACE(writeOnly ? "write-only file" : "readable file");
        Write(path, "earlier\r\n");
        ::chmod(dir.c_str(), 0755);
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
        }
        ::chmod(path.c_str(), writeOnly ? 0200 : 0600);
        const std::string report = WithoutPrivileges([&] {
            EmulTScreen screen;
            screen.SetLogName(path);
            screen.SetLog(true);
            screen.WriteStr("x");
            screen.SetLog(false);
            screen.SetLog(true);
            screen.SetLog(false);
            return std::string(writeOnly && ::open(path.c_str(), O_RDWR) >= 0 ? "readable" : "ok");
        });
        EXPECT_EQ(report, "ok");
        ::chmod(path.c_str(), 0600);
        EXPECT_EQ(Read(path), "earlier\r\n<Open>x<Close><Open><Close>");
        fs::remove(path);
    }
}

TEST_F(LogFileTest, CutsAtTheFirstEofByteNearTheEnd) {
    Write(path, "keep\x1amiddle\x1atail");
    {
        EmulTScreen screen;
        screen.SetLogName(path);
        screen.SetLog(true);
    }  // destruction closes the log
    EXPECT_EQ(Read(path), "keep<Open><Close>");

    // Only the last 128 bytes are searched.
    const std::string old = "a\x1a" + std::string(128, 'b');
    Write(path, old);
    {
        EmulTScreen screen;
        screen.SetLogName(path);
        screen.SetLog(true);
    }
    EXPECT_EQ(Read(path), old + "<Open><Close>");
}

TEST_F(LogFileTest, CreatesTheFileAndSwitchesFiles) {
    const std::string second = (dir / "second.log").string();
    EmulTScreen screen;
    screen.SetLogName(path);
    screen.SetLog(true);
    screen.SetLogName(second);  // affects only the next opening
    screen.WriteStr("1");
    screen.SetLog(false);
    screen.SetLog(true);
    screen.WriteStr("2");
    screen.SetLog(false);
    EXPECT_EQ(Read(path), "<Open>1<Close>");
    EXPECT_EQ(Read(second), "<Open>2<Close>");
}

TEST_F(LogFileTest, OpenFailureIsRaisedByTheNextWrite) {
    const std::string missing = (dir / "no" / "such.log").string();
    EmulTScreen screen;
    screen.SetLogName(missing);
    EXPECT_NO_THROW(screen.SetLog(true));
    const EInOutError e = Raised([&] { screen.WriteStr("AB"); });
    EXPECT_EQ(e.FileName(), missing);
    EXPECT_EQ(e.ErrorCode(), ENOENT);
    EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos);
    Raised([&] { screen.WriteChar('C'); });  // every byte fails from then on
    EXPECT_EQ(Shown(screen), "");
    EXPECT_EQ(screen.CursorColumn(), 1);

    Raised([&] { screen.SetLog(false); });
    EXPECT_FALSE(screen.Log());
    screen.WriteStr("ok");
    EXPECT_EQ(Shown(screen), "ok");
}

TEST_F(LogFileTest, ReadOnlyDirectory) {
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                             fs::perms::others_exec);
    const std::string report = WithoutPrivileges([&] {
        EmulTScreen screen;
        screen.SetLogName(path);
        screen.SetLog(true);
        try {
            screen.WriteStr("A");
            return std::string("no error");
        } catch (const EInOutError& e) {
            return std::to_string(e.ErrorCode()) + "|" + Shown(screen);
        }
    });
    EXPECT_EQ(report, std::to_string(EACCES) + "|");
}

// Switching off releases the file even when "<Close>" cannot be written: no descriptor is
// left on it and its lock is free again.
TEST_F(LogFileTest, FullDeviceShowsNothingAndIsReleased) {
    const int before = OpenDescriptorsOn("/dev/full");
    EmulTScreen screen;
    screen.SetLogName("/dev/full");
    screen.SetLog(true);
    EXPECT_EQ(OpenDescriptorsOn("/dev/full"), before + 1);
    const EInOutError e = Raised([&] { screen.WriteStr("A"); });
    EXPECT_EQ(e.ErrorCode(), ENOSPC);
    EXPECT_NE(std::string(e.what()).find("No space left on device"), std::string::npos);
    EXPECT_EQ(Raised([&] { screen.WriteStr("B"); }).ErrorCode(), ENOSPC);
    EXPECT_EQ(Shown(screen), "");
    EXPECT_EQ(Raised([&] { screen.SetLog(false); }).ErrorCode(), ENOSPC);
    EXPECT_FALSE(screen.Log());
    EXPECT_EQ(OpenDescriptorsOn("/dev/full"), before);
    const int other = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
}

// Names that are no plain file must not stop the program.
TEST_F(LogFileTest, PipesAndDirectoriesFailInsteadOfBlocking) {
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EmulTScreen screen;
    screen.SetLogName(fifo);
    screen.SetLog(true);
    const std::string line = std::string(78, 'p') + "\r\n";
    int lines = 0;
    try {
        for (; lines < 10000; ++lines) {  // far more than any pipe holds
            screen.WriteStr(line);
        }
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), EAGAIN);
    }
    EXPECT_LT(lines, 10000);
    try {
        screen.SetLog(false);  // "<Close>" may or may not fit the full pipe
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), EAGAIN);
    }
    EXPECT_FALSE(screen.Log());

    screen.SetLogName(dir.string());
    screen.SetLog(true);
    EXPECT_EQ(Raised([&] { screen.WriteChar('d'); }).ErrorCode(), EISDIR);
}

// A short write shows exactly the bytes that reached the file.
TEST_F(LogFileTest, ShortWriteShowsOnlyWhatWasLogged) {
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 10;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

    EmulTScreen screen;
    screen.SetLogName(path);
    screen.SetLog(true);
    const EInOutError e = Raised([&] { screen.WriteStr("ABCDEFG"); });
    EXPECT_EQ(Raised([&] { screen.WriteChar('H'); }).ErrorCode(), EFBIG);

    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(e.ErrorCode(), EFBIG);
    EXPECT_EQ(Shown(screen), "ABCD");
    screen.SetLog(false);
    EXPECT_EQ(Read(path), "<Open>ABCD<Close>");
}

TEST_F(LogFileTest, SecondWriterIsRefusedReadersAreNot) {
    EmulTScreen first;
    first.SetLogName(path);
    first.SetLog(true);
    first.WriteStr("1");

    auto second = std::make_unique<EmulTScreen>();
    second->SetLogName(path);
    second->SetLog(true);
    const EInOutError e = Raised([&] { second->WriteStr("2"); });
    EXPECT_EQ(e.ErrorCode(), EBUSY);
    EXPECT_EQ(Shown(*second), "");
    EXPECT_EQ(Read(path), "<Open>1");  // readers see the file meanwhile
    second.reset();                    // must not close or mark the other's file

    first.WriteStr("3");
    first.SetLog(false);
    EXPECT_EQ(Read(path), "<Open>13<Close>");

    // Once released, the file can be logged into again.
    EmulTScreen third;
    third.SetLogName(path);
    third.SetLog(true);
    third.WriteStr("4");
    third.SetLog(false);
    EXPECT_EQ(Read(path), "<Open>13<Close><Open>4<Close>");
}

namespace {

// Runs body in a child process, after prepare (which may refuse with false), and returns
// what it reports; nothing when prepare refused.
std::optional<std::string> InChild(const std::function<bool()>& prepare,
                                   const std::function<std::string()>& body) {
    int out[2];
    if (::pipe(out) != 0) {
        return std::nullopt;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        ::alarm(20);
        std::string report = "-";
        try {
            report = prepare() ? "+" + body() : "-";
        } catch (const std::exception& e) {
            report = std::string("+exception: ") + e.what();
        }
        const ssize_t written = ::write(out[1], report.data(), report.size());
        ::_exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
    }
    ::close(out[1]);
    std::string report;
    char chunk[256];
    for (ssize_t n; (n = ::read(out[0], chunk, sizeof chunk)) > 0;) {
        report.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    if (report.empty() || report[0] != '+') {
        return std::nullopt;
    }
    return report.substr(1);
}

// Runs body in a child process with a private mount namespace and a tmpfs (of mount flags
// and options) on dir, or gives nothing when these cannot be had (not root, or a machine
// that denies mount namespaces). Mounts made there vanish with the child.
std::optional<std::string> InPrivateMount(const fs::path& dir, unsigned long flags,
                                          const char* options,
                                          const std::function<std::string()>& body) {
    return InChild(
        [&] {
            return ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                   ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                   ::mount("vandrel-test", dir.c_str(), "tmpfs", flags, options) == 0;
        },
        body);
}

// Why InPrivateMount gave nothing, for the test's output.
std::string NoPrivateMount() {
    return ::geteuid() != 0
               ? "root-only: needs root for a private mount of a small file system"
               : "root-only: this machine denies a private mount namespace or a tmpfs mount";
}

// Runs body in a child process whose files may grow to 8192 bytes at most.
std::optional<std::string> InFileSizeLimit(const std::function<std::string()>& body) {
    return InChild(
        [] {
            const rlimit limit{8192, 8192};
            std::signal(SIGXFSZ, SIG_IGN);
            return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
        },
        body);
}

// Logs text into name, through WriteStrShowingAll when showingAll, else WriteStr, and
// reports the error, the first two rows, the cursor column and whether it still logs.
std::string LogAndReport(const std::string& name, const std::string& text,
                         bool showingAll = false) {
    EmulTScreen screen;
    screen.SetLogName(name);
    screen.SetLog(true);
    std::string report = "no error";
    if (showingAll) {
        if (const std::optional<EInOutError> e = screen.WriteStrShowingAll(text)) {
            report = e->what();
        }
    } else {
        try {
            screen.WriteStr(text);
        } catch (const EInOutError& e) {
            report = e.what();
        }
    }
    for (int row = 1; row <= 2; ++row) {
        report += "|";
        for (int col = 1; col <= screen.Columns() && screen.Buffer().GetCell(col, row).Character;
             ++col) {
            report += static_cast<char>(screen.Buffer().GetCell(col, row).Character);
        }
    }
    return report + "|" + std::to_string(screen.CursorColumn()) + (screen.Log() ? "|on" : "|off");
}

}  // namespace

TEST_F(LogFileTest, ReadOnlyMountedDirectory) {
    const auto report =
        InPrivateMount(dir, MS_RDONLY, "size=64k", [&] { return LogAndReport(path, "AB"); });
    if (!report) {
        GTEST_SKIP() << NoPrivateMount();
    }
    EXPECT_EQ(*report, "Read-only file system (" + path + ")|||1|on");
}

// A block outgrows a file that can take 8192 bytes ("<Open>" and 8186 bytes of it fit):
// WriteStr shows only the bytes that reached the file and stops; WriteStrShowingAll shows the
// whole block and switches logging off. False when limited gave nothing.
bool LogFileTest::ExpectCutInTheMiddleOfABlock(const std::string& reason, const Limited& limited) {
    const std::string block = std::string(12000, 'x') + "\r\nEND";
    for (bool showingAll : {false, true}) {
        SCOPED_TRACE(showingAll ? "WriteStrShowingAll" : "WriteStr");
        fs::remove(path);
        const auto report = limited([&] {
            std::string r = LogAndReport(path, block, showingAll);
            return r + "|" + std::to_string(fs::file_size(path));
        });
        if (!report) {
            return false;
        }
        EXPECT_EQ(*report, reason + " (" + path + ")|" + std::string(80, 'x') +
                               (showingAll ? "|END|4|off|8192" : "||80|on|8192"));
    }
    return true;
}

// An 8 KiB file system fills up.
TEST_F(LogFileTest, DiskFullInTheMiddleOfABlock) {
    if (!ExpectCutInTheMiddleOfABlock("No space left on device", [&](const auto& body) {
            return InPrivateMount(dir, 0, "size=8k", body);
        })) {
        GTEST_SKIP() << NoPrivateMount();
    }
}

// A file size limit, for every user.
TEST_F(LogFileTest, FileSizeLimitInTheMiddleOfABlock) {
    EXPECT_TRUE(ExpectCutInTheMiddleOfABlock("File too large", InFileSizeLimit));
}

// The lock holds across processes too.
TEST_F(LogFileTest, AnotherProcessCannotWriteTheLog) {
    EmulTScreen first;
    first.SetLogName(path);
    first.SetLog(true);
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(20);
        const std::string r = LogAndReport(path, "2");
        const ssize_t written = ::write(out[1], r.data(), r.size());
        ::_exit(written > 0 ? 0 : 1);
    }
    ::close(out[1]);
    char chunk[512];
    const ssize_t n = ::read(out[0], chunk, sizeof chunk);
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(chunk, static_cast<std::size_t>(n)),
              "Device or resource busy (" + path + ")|||1|on");
    first.SetLog(false);
    EXPECT_EQ(Read(path), "<Open><Close>");
}
