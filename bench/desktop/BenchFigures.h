#pragma once

#include <string>
#include <vector>

namespace vandrel::bench {

// The value below which a share q (0..1) of the values lie (nearest rank); 0 when empty.
double percentile(std::vector<double> values, double q);
inline double median(std::vector<double> values) {
    return percentile(std::move(values), 0.5);
}
// This process's resident memory in MiB (VmRSS).
double residentMiB();
// The load average, as uptime shows it: "0.52 0.61 0.70".
std::string loadAverage();

}  // namespace vandrel::bench
