#include "support/Lab.h"

#include <algorithm>
#include <cstdlib>

#include "support/Subprocess.h"

namespace vandrel::test {

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

bool Lab::active() {
    return !name().empty();
}

std::string Lab::name() {
    return env("VANDREL_LAB");
}

int Lab::deviceCount() {
    return std::atoi(env("VANDREL_LAB_DEVICES").c_str());
}

int Lab::subnetCount() {
    return std::max(1, std::atoi(env("VANDREL_LAB_SUBNETS").c_str()));
}

int Lab::deviceSubnet(int k) {
    return (k - 1) % subnetCount();
}

std::string Lab::deviceAddress(int k) {
    return "198.18." + std::to_string(deviceSubnet(k)) + "." + std::to_string(10 + k);
}

bool Lab::labCommand(const std::vector<std::string>& args, std::string* output) {
    std::vector<std::string> argv = {VANDREL_SOURCE_DIR "/scripts/lab", "--name", name()};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessResult result = runProcess(argv, std::chrono::seconds(30));
    if (output != nullptr) {
        *output = result.output;
    }
    return active() && result.exitCode == 0;
}

bool Lab::stopDevice(int k, std::string* output) {
    return labCommand({"device", std::to_string(k), "stop"}, output);
}

bool Lab::startDevice(int k, std::string* output) {
    return labCommand({"device", std::to_string(k), "start"}, output);
}

bool Lab::resetDevice(int k, std::string* output) {
    return labCommand({"device", std::to_string(k), "reset"}, output);
}

bool Lab::restartDevice(int k, const std::vector<std::string>& devsimArgs, std::string* output) {
    // "--" makes an empty list mean "no options of its own" rather than "as before".
    std::vector<std::string> args = {"device", std::to_string(k), "restart", "--"};
    args.insert(args.end(), devsimArgs.begin(), devsimArgs.end());
    return labCommand(args, output);
}

}  // namespace vandrel::test
