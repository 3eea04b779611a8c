#include "app/model/ElfSection.h"

#include <elf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

namespace vandrel::app {

namespace {

constexpr unsigned char kNativeData =
    std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;
// Section header tables of real files have a few dozen entries; this only bounds bad input.
constexpr std::uint64_t kMaxSections = 1u << 16;

bool ReadAt(int fd, void* buffer, std::uint64_t size, std::uint64_t offset, int& error) {
    return ReadFileAt(fd, buffer, size, offset, ENOEXEC, error);  // a short file is a damaged one
}

bool InsideFile(std::uint64_t offset, std::uint64_t size, std::uint64_t fileSize) {
    return offset <= fileSize && size <= fileSize - offset;
}

template <typename Ehdr, typename Shdr>
bool FindIn(int fd, std::uint64_t fileSize, const std::string& name, ElfSectionPlace& place,
            int& error) {
    Ehdr header;
    if (!ReadAt(fd, &header, sizeof header, 0, error)) {
        return false;
    }
    error = ENOEXEC;
    if (header.e_shoff == 0 || header.e_shentsize < sizeof(Shdr)) {
        return false;
    }
    Shdr first;
    if (!InsideFile(header.e_shoff, sizeof first, fileSize) ||
        !ReadAt(fd, &first, sizeof first, header.e_shoff, error)) {
        error = ENOEXEC;
        return false;
    }
    // Many sections: the counts move into the first section header.
    const std::uint64_t count = header.e_shnum != 0 ? header.e_shnum : first.sh_size;
    const std::uint64_t names = header.e_shstrndx != SHN_XINDEX ? header.e_shstrndx : first.sh_link;
    if (count > kMaxSections || names >= count ||
        !InsideFile(header.e_shoff, count * header.e_shentsize, fileSize)) {
        return false;
    }
    std::vector<char> table(count * header.e_shentsize);
    if (!ReadAt(fd, table.data(), table.size(), header.e_shoff, error)) {
        return false;
    }
    auto section = [&](std::uint64_t index) {
        Shdr s;
        std::memcpy(&s, table.data() + index * header.e_shentsize, sizeof s);
        return s;
    };
    const Shdr strings = section(names);
    if (strings.sh_type == SHT_NOBITS ||
        !InsideFile(strings.sh_offset, strings.sh_size, fileSize)) {
        error = ENOEXEC;
        return false;
    }
    std::vector<char> text(strings.sh_size + 1, '\0');  // the extra zero ends a damaged table
    if (!ReadAt(fd, text.data(), strings.sh_size, strings.sh_offset, error)) {
        return false;
    }
    for (std::uint64_t i = 1; i < count; ++i) {
        const Shdr s = section(i);
        if (s.sh_name >= strings.sh_size || name != text.data() + s.sh_name) {
            continue;
        }
        if (s.sh_type == SHT_NOBITS || !InsideFile(s.sh_offset, s.sh_size, fileSize)) {
            break;
        }
        place = {s.sh_offset, s.sh_size};
        return true;
    }
    error = ENODATA;
    return false;
}

}  // namespace

bool ReadFileAt(int fd, void* buffer, std::uint64_t size, std::uint64_t offset, int shortError,
                int& error) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t got = ::pread(fd, out, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            error = got < 0 ? errno : shortError;
            return false;
        }
        out += got;
        size -= static_cast<std::uint64_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

bool FindElfSection(int fd, const std::string& name, ElfSectionPlace& place, int& error) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = errno;
        return false;
    }
    unsigned char ident[EI_NIDENT];
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);
    error = ENOEXEC;
    if (fileSize < sizeof ident || !ReadAt(fd, ident, sizeof ident, 0, error)) {
        return false;
    }
    if (std::memcmp(ident, ELFMAG, SELFMAG) != 0 || ident[EI_DATA] != kNativeData) {
        error = ENOEXEC;
        return false;
    }
    if (ident[EI_CLASS] == ELFCLASS64) {
        return FindIn<Elf64_Ehdr, Elf64_Shdr>(fd, fileSize, name, place, error);
    }
    if (ident[EI_CLASS] == ELFCLASS32) {
        return FindIn<Elf32_Ehdr, Elf32_Shdr>(fd, fileSize, name, place, error);
    }
    error = ENOEXEC;
    return false;
}

}  // namespace vandrel::app
