#include "app/cli/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace vandrel::app {

namespace {

int g_signalPipe[2] = {-1, -1};
volatile sig_atomic_t g_signalled = 0;

// Only async-signal-safe work here: one byte into the pipe, read on the event loop's thread.
void OnTerminationSignal(int) {
    const int saved = errno;
    g_signalled = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

void OnTerminationSignals(std::function<void()> handler) {
    if (g_signalPipe[0] >= 0 || ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    auto* notifier =
        new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [handler = std::move(handler)] {
        char bytes[16];
        while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        handler();
    });
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
}

bool TerminationSignalled() {
    return g_signalled != 0;
}

}  // namespace vandrel::app
