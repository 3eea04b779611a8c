#pragma once

#include <functional>

namespace vandrel::app {

// SIGTERM, SIGINT and SIGHUP run handler on the thread of the Qt event loop, from the loop,
// never from inside the signal; several signals before it runs may come as one call. Call
// once, after the application object exists; later calls do nothing.
void OnTerminationSignals(std::function<void()> handler);

// One of these signals arrived since OnTerminationSignals, whether or not the loop ran the
// handler yet (work that the loop would start first can ask).
bool TerminationSignalled();

}  // namespace vandrel::app
