#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/model/StringGrid.h"
#include "script/ScriptVariables.h"

namespace vandrel::app {

// One device of a headless run: what its table row says and where its telnet console is.
struct RunTarget {
    script::DeviceIdentity Device;
    std::string Port = "telnet";
};

// A device named by --host or a line of --hosts: ADDRESS or ADDRESS:PORT, where ADDRESS is an
// IPv4 address or a host name as Connect to Address takes it. The device's IP is the address,
// its Device, S/N and Mac are empty. nullopt with the reason in error when text is no address.
std::optional<RunTarget> ParseRunHost(const std::string& text, std::string& error);

// The entries of a --hosts file: one a line, text from # on and blanks around an entry
// ignored, blank lines skipped. nullopt with "line N: ..." in error at the first bad entry.
std::optional<std::vector<RunTarget>> ReadHostList(std::string_view text, std::string& error);

// The listed rows of a scanned table whose Status allows Connect, in table order; the others
// go to skipped as "IP (S/N ...): status 'TEXT'".
std::vector<RunTarget> ConnectableDevices(const StringGrid& grid,
                                          std::vector<std::string>& skipped);

}  // namespace vandrel::app
