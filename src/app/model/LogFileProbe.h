#pragma once

#include <string>

namespace vandrel::app {

// Checks that a session log could be opened on name right now: the file can be opened for
// writing (it is created when missing) and no other logger holds it. Returns 0 or the
// errno of the failure (EBUSY when another logger holds the file).
//
// The terminal opens its log without reporting failures (they show with the first byte it
// writes), so the logging control asks first and reports the failure at once.
int ProbeLogFile(const std::string& name);

}  // namespace vandrel::app
