#pragma once

// Drives the calling thread's Qt event loop from a test that waits for something: posted
// events, socket notifiers, timers and deferred deletions all run.

#include <functional>

namespace vandrel::test {

// Processes events until done() holds (true) or timeoutMs has passed (false).
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);
// Processes events for about ms milliseconds.
void pumpFor(int ms);

}  // namespace vandrel::test
