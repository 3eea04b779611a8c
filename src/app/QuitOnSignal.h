#pragma once

namespace vandrel::app {

// SIGTERM, SIGINT and SIGHUP end the event loop like closing the window does, so that a
// desktop's logout or a kill leaves session logs complete and the exit status 0. Call once,
// after the application object exists.
void QuitOnTerminationSignals();

}  // namespace vandrel::app
