#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vandrel::bench {

// Starts a program (looked up in PATH) with its output into /dev/null; -1 on failure.
pid_t startProgram(const std::vector<std::string>& argv);
// SIGTERM, up to 2 s for it to end, then SIGKILL; reaps it.
void stopProgram(pid_t pid);
// Whether it still runs (reaps it when it ended).
bool programRuns(pid_t pid);
// The peer terminal's command line for a telnet session to address:23.
std::vector<std::string> puttyCommand(const std::string& address);
// A scratch home for the peer terminal's settings, so every run starts from its defaults.
void useScratchHome();

}  // namespace vandrel::bench
