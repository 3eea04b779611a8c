#pragma once

#include <string>
#include <string_view>

namespace vandrel::app {

// Writes bytes to a new file beside path and renames it over path only once every byte is
// written, flushed to the disk and closed; so a failure (a full disk, say) leaves an existing
// file at path as it was and no file of its own. The file keeps the mode of the file it
// replaces; a new one gets the usual mode of a new file (0666 less the umask). Returns 0 or
// the errno of the first failure.
int ReplaceFile(const std::string& path, std::string_view bytes);

// "Cannot write <path>: <the system's text for error>", as the window reports it.
std::string CannotWriteText(const std::string& path, int error);

}  // namespace vandrel::app
