#pragma once

#include <cstdint>
#include <string>

namespace vandrel::app {

// Where a named section's bytes lie in an ELF file.
struct ElfSectionPlace {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// Finds the section called name in the ELF file open as fd (32 or 64 bits, this machine's
// byte order). Returns false with error set to an errno value: ENOEXEC for a file that is
// not such an ELF file or whose headers point outside it, ENODATA when it has no section of
// that name (or one without bytes in the file), or the error of reading.
bool FindElfSection(int fd, const std::string& name, ElfSectionPlace& place, int& error);

// Reads size bytes at offset of fd, through interrupted and partial reads. Returns false with
// error set to the errno of a failed read, or to shortError when the file ends first.
bool ReadFileAt(int fd, void* buffer, std::uint64_t size, std::uint64_t offset, int shortError,
                int& error);

}  // namespace vandrel::app
