#pragma once

#include <cstddef>
#include <string>

namespace vandrel::app {

// Reads a whole file of at most limit bytes into bytes. Returns 0, the errno of the failure
// (EISDIR for a folder), or EFBIG when the file holds more than limit bytes: an endless file
// such as a device node ends there instead of growing memory without end.
int ReadSmallFile(const std::string& path, std::size_t limit, std::string& bytes);

}  // namespace vandrel::app
