#include "support/Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <string_view>
#include <thread>

namespace vandrel::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSbinFolders[] = {"/usr/local/sbin", "/usr/sbin", "/sbin"};

bool reap(int pid, int& status, bool wait) {
    return ::waitpid(pid, &status, wait ? 0 : WNOHANG) == pid;
}

}  // namespace

std::string findProgram(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) {
        return name;
    }
    std::vector<std::string> folders;
    const char* path = std::getenv("PATH");
    for (std::string_view rest = path != nullptr ? path : ""; !rest.empty();) {
        const std::size_t colon = rest.find(':');
        folders.emplace_back(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    folders.insert(folders.end(), std::begin(kSbinFolders), std::end(kSbinFolders));
    for (const std::string& folder : folders) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

int spawnWithStdout(const std::vector<std::string>& argv, int& stdoutFd, bool mergeStderr,
                    bool ownProcessGroup) {
    int fds[2];
    if (argv.empty() || ::pipe2(fds, O_CLOEXEC) != 0) {
        return -1;
    }
    const std::string program = findProgram(argv[0]);
    // Prepared before fork: the child may only make exec-safe calls.
    const std::string failure =
        argv[0] + (program.empty()
                       ? ": not found on PATH nor in /usr/local/sbin, /usr/sbin, /sbin\n"
                       : ": cannot be run\n");
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    if (ownProcessGroup) {
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    }
    int pid = ::fork();
    if (pid == 0) {
        if (ownProcessGroup) {
            ::setpgid(0, 0);
        }
        ::dup2(fds[1], STDOUT_FILENO);
        if (mergeStderr) {
            ::dup2(fds[1], STDERR_FILENO);
        }
        int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, STDIN_FILENO);
        if (!program.empty()) {
            ::execv(program.c_str(), args.data());
        }
        [[maybe_unused]] const ssize_t ignored =
            ::write(STDERR_FILENO, failure.data(), failure.size());
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return -1;
    }
    stdoutFd = fds[0];
    return pid;
}

void terminateProcess(int pid, std::chrono::milliseconds grace) {
    if (pid <= 0) {
        return;
    }
    int status = 0;
    ::kill(pid, SIGTERM);
    auto deadline = Clock::now() + grace;
    while (Clock::now() < deadline) {
        if (reap(pid, status, false)) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    reap(pid, status, true);
}

void terminateProcessGroup(int pid, std::chrono::milliseconds grace) {
    if (pid <= 0) {
        return;
    }
    ::kill(-pid, SIGTERM);
    const auto deadline = Clock::now() + grace;
    bool killed = false;
    for (;;) {
        int status = 0;
        const int reaped = ::waitpid(-pid, &status, killed ? 0 : WNOHANG);
        if (reaped < 0 && errno == ECHILD) {
            return;  // nothing of the group is left
        }
        if (reaped == 0 && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } else if (reaped == 0) {
            ::kill(-pid, SIGKILL);
            killed = true;
        }
    }
}

ProcessResult runProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    ProcessResult result;
    int fd = -1;
    int pid = spawnWithStdout(argv, fd, true);
    if (pid < 0) {
        result.output = "cannot start " + (argv.empty() ? std::string("nothing") : argv[0]);
        return result;
    }
    auto deadline = Clock::now() + timeout;
    char buffer[4096];
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (result.timedOut) {
        terminateProcess(pid, std::chrono::milliseconds(500));
        return result;
    }
    int status = 0;
    if (reap(pid, status, true) && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

}  // namespace vandrel::test
