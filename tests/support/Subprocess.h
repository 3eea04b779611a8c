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

// Runs argv[0] (searched in PATH) to completion, killing it when the timeout passes.
ProcessResult runProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);

// Starts argv[0] with stdout on a pipe; returns the pid (or -1) and the pipe's read end.
int spawnWithStdout(const std::vector<std::string>& argv, int& stdoutFd, bool mergeStderr);

// SIGTERM, then SIGKILL if the process has not exited within the grace time; reaps it.
void terminateProcess(int pid, std::chrono::milliseconds grace);

}  // namespace vandrel::test
