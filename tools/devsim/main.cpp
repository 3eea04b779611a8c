#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "HelpText.h"
#include "Options.h"
#include "Simulator.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) {
    g_stop = 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    vandrel::devsim::ParsedOptions parsed = vandrel::devsim::parseOptions(args);
    if (parsed.help) {
        std::fputs(vandrel::devsim::helpText().c_str(), stdout);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "vandrel-devsim: %s\nTry vandrel-devsim --help.\n",
                     parsed.error.c_str());
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);

    vandrel::devsim::Simulator simulator(parsed.options);
    std::string error;
    if (!simulator.open(error)) {
        std::fprintf(stderr, "vandrel-devsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("vandrel-devsim: %s\n", simulator.readyLine().c_str());
    std::fflush(stdout);
    return simulator.run(g_stop);
}
