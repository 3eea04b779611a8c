#pragma once

#include <string>
#include <vector>

namespace vandrel::test {

// The lab a test runs in (see tests/support/README.md). vandrel_add_lab_test() starts
// the test inside the lab's app namespace with VANDREL_LAB, VANDREL_LAB_DEVICES and
// VANDREL_LAB_SUBNETS set;
// these helpers read them and drive the lab's simulators through scripts/lab.
class Lab {
public:
    // False when the test was started outside a lab (then nothing here works).
    static bool active();
    static std::string name();
    static int deviceCount();

    // 1 unless the lab was brought up with --subnets (SUBNETS in vandrel_add_lab_test).
    static int subnetCount();

    static std::string appAddress() { return "198.18.0.2"; }
    // Device k counts from 1 and lives on subnet (k-1) mod subnetCount():
    // 198.18.0.11, 198.18.0.12, ... in a one-subnet lab; 198.18.0.11, 198.18.1.12, ...
    // with two subnets.
    static std::string deviceAddress(int k);
    static int deviceSubnet(int k);
    // An address in the lab that nobody owns: whatever is sent there vanishes without an
    // answer, so a connect to it runs into its time-out.
    static std::string deadAddress() { return "198.18.0.250"; }

    // Control of device k's simulator; each returns true on success and puts the
    // output of scripts/lab into *output when given. restartDevice() replaces the
    // device's own options (those of DEVICE_ARGS; DEVSIM_ARGS stay) with devsimArgs
    // until the lab ends (an empty list restores the device's plain defaults);
    // startDevice() starts it again with the options it had last.
    static bool stopDevice(int k, std::string* output = nullptr);
    static bool startDevice(int k, std::string* output = nullptr);
    static bool restartDevice(int k, const std::vector<std::string>& devsimArgs,
                              std::string* output = nullptr);
    // Gives device k back the options the lab was brought up with, restarting it only when it
    // runs with others or not at all: a test that changed a device ends with this, so that the
    // next run (ctest --repeat) finds the lab as its setup made it.
    static bool resetDevice(int k, std::string* output = nullptr);

    // Runs "scripts/lab --name <this lab> <args...>".
    static bool labCommand(const std::vector<std::string>& args, std::string* output = nullptr);
};

}  // namespace vandrel::test
