#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace vandrel::test {

struct ProcessResult {
    int exitCode = -1;  // -1 when it did not exit normally
    bool timedOut = false;
    std::string output;  // stdout and stderr together
};

// The path of a program: name itself when it holds a '/', else the first executable of that
// name on PATH or in the sbin folders, which a normal user's PATH lacks and where Debian puts
// danted, telnetd and ip. Empty when there is none.
std::string findProgram(const std::string& name);

// Runs argv[0] (found by findProgram) to completion, killing it when the timeout passes.
ProcessResult runProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);

// Starts argv[0] (found by findProgram) with stdout on a pipe; returns the pid (or -1) and the
// pipe's read end. When argv[0] cannot be found or run, the child says so on its standard
// error and exits with 127.
// With ownProcessGroup the child leads a process group of its own (its id is the pid), and
// this process adopts whatever the child forks and leaves behind (a child subreaper), so
// that terminateProcessGroup can end and reap all of it.
int spawnWithStdout(const std::vector<std::string>& argv, int& stdoutFd, bool mergeStderr,
                    bool ownProcessGroup = false);

// SIGTERM, then SIGKILL if the process has not exited within the grace time; reaps it.
void terminateProcess(int pid, std::chrono::milliseconds grace);

// SIGTERM to the whole group of a child started with ownProcessGroup, then SIGKILL to what
// is left after the grace time; reaps the child and everything of the group it left behind.
void terminateProcessGroup(int pid, std::chrono::milliseconds grace);

}  // namespace vandrel::test
