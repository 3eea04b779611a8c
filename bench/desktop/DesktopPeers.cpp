#include "DesktopPeers.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace vandrel::bench {

pid_t startProgram(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

bool programRuns(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == 0;
}

void stopProgram(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 200 && programRuns(pid); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (programRuns(pid)) {
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
}

std::vector<std::string> puttyCommand(const std::string& address) {
    return {"putty", "-telnet", "-P", "23", address};
}

void useScratchHome() {
    static char home[] = "/tmp/vandrel-bench-home-XXXXXX";
    if (::mkdtemp(home) != nullptr) {
        ::setenv("HOME", home, 1);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(home, ignored);
        });
    }
}

}  // namespace vandrel::bench
