#include "app/model/VersionBlock.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/model/ElfSection.h"

namespace vandrel::app {

namespace {

constexpr std::string_view kMagic = "VANDRELV";
constexpr std::uint32_t kFixedOffset = 12;
constexpr std::uint32_t kFixedSize = 16;
constexpr std::uint32_t kCountOffset = 28;
constexpr std::uint32_t kTranslationsOffset = 32;
// Far above any real block; a bigger section is a damaged one.
constexpr std::uint64_t kMaxBlockSize = 1u << 20;

class FileHandle {
public:
    explicit FileHandle(const std::string& file)
        : m_fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~FileHandle() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

std::uint32_t TranslationCount(std::span<const std::uint8_t> block) {
    return ReadLittleEndian16(block.data() + kCountOffset);
}

// The block's declared length when its header is sound and fits in size bytes, else 0.
std::uint32_t CheckedLength(std::span<const std::uint8_t> block) {
    if (block.size() < kTranslationsOffset ||
        std::memcmp(block.data(), kMagic.data(), kMagic.size()) != 0) {
        return 0;
    }
    const std::uint32_t length = ReadLittleEndian32(block.data() + kMagic.size());
    if (length < kTranslationsOffset || length > block.size() ||
        kTranslationsOffset + 4u * TranslationCount(block) > length) {
        return 0;
    }
    return length;
}

// Reads the whole section and checks it; the block is the section's start up to its length.
bool ReadSection(const std::string& file, std::vector<std::uint8_t>& block, int& error) {
    const FileHandle handle(file);
    if (handle.fd() < 0) {
        error = errno;
        return false;
    }
    ElfSectionPlace place;
    if (!FindElfSection(handle.fd(), VersionSectionName, place, error)) {
        return false;
    }
    if (place.size > kMaxBlockSize) {
        error = VersionErrorBadBlock;
        return false;
    }
    block.assign(place.size, 0);
    if (!ReadFileAt(handle.fd(), block.data(), block.size(), place.offset, VersionErrorBadBlock,
                    error)) {
        return false;
    }
    const std::uint32_t length = CheckedLength(block);
    if (length == 0) {
        error = VersionErrorBadBlock;
        return false;
    }
    block.resize(length);
    return true;
}

// The texts after the translation table: pairs of key and value, each zero-terminated. A
// damaged pair at the end (no terminating zero) ends the search.
std::optional<VersionValue> FindString(std::span<const std::uint8_t> block, std::string_view key) {
    std::size_t at = kTranslationsOffset + 4u * TranslationCount(block);
    auto next = [&](std::size_t from) -> std::optional<std::size_t> {
        const void* zero = std::memchr(block.data() + from, 0, block.size() - from);
        if (zero == nullptr) {
            return std::nullopt;
        }
        return static_cast<const std::uint8_t*>(zero) - block.data();
    };
    while (at < block.size()) {
        const auto keyEnd = next(at);
        if (!keyEnd || *keyEnd + 1 >= block.size()) {
            break;
        }
        const auto valueEnd = next(*keyEnd + 1);
        if (!valueEnd) {
            break;
        }
        const std::string_view found(reinterpret_cast<const char*>(block.data() + at),
                                     *keyEnd - at);
        if (found == key) {
            return VersionValue{block.data() + *keyEnd + 1,
                                static_cast<std::uint32_t>(*valueEnd - *keyEnd)};
        }
        at = *valueEnd + 1;
    }
    return std::nullopt;
}

}  // namespace

std::uint16_t ReadLittleEndian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint32_t VersionBlockSize(const std::string& file, int& error) {
    std::vector<std::uint8_t> block;
    return ReadSection(file, block, error) ? static_cast<std::uint32_t>(block.size()) : 0;
}

bool ReadVersionBlock(const std::string& file, std::vector<std::uint8_t>& block, int& error) {
    return ReadSection(file, block, error);
}

std::optional<VersionValue> QueryVersionValue(std::span<const std::uint8_t> block,
                                              std::string_view path) {
    if (block.empty() || CheckedLength(block) != block.size()) {
        return std::nullopt;
    }
    if (path == "\\") {
        return VersionValue{block.data() + kFixedOffset, kFixedSize};
    }
    if (path == "\\VarFileInfo\\Translation") {
        return VersionValue{block.data() + kTranslationsOffset, 4u * TranslationCount(block)};
    }
    constexpr std::string_view strings = "\\StringFileInfo\\";
    if (path.starts_with(strings)) {
        return FindString(block, path.substr(strings.size()));
    }
    return std::nullopt;
}

std::optional<FixedFileVersion> DecodeFixedFileVersion(const VersionValue& value) {
    if (value.data == nullptr || value.length < kFixedSize) {
        return std::nullopt;
    }
    return FixedFileVersion{ReadLittleEndian32(value.data), ReadLittleEndian32(value.data + 4),
                            ReadLittleEndian32(value.data + 8),
                            ReadLittleEndian32(value.data + 12)};
}

std::uint32_t FirstTranslation(std::span<const std::uint8_t> block) {
    const auto table = QueryVersionValue(block, "\\VarFileInfo\\Translation");
    if (!table || table->length < 2) {
        return 0;
    }
    std::uint32_t translation = static_cast<std::uint32_t>(ReadLittleEndian16(table->data)) << 16;
    if (table->length >= 4) {
        translation |= ReadLittleEndian16(table->data + 2);
    }
    return translation;
}

std::string TranslationKey(std::uint32_t translation) {
    char key[9];
    std::snprintf(key, sizeof key, "%08X", translation);
    return key;
}

std::string VersionLine(const std::string& file, int& error) {
    std::vector<std::uint8_t> block;
    if (!ReadVersionBlock(file, block, error)) {
        return {};
    }
    const auto fixed = QueryVersionValue(block, "\\");
    const auto version = fixed ? DecodeFixedFileVersion(*fixed) : std::nullopt;
    if (!version) {
        error = VersionErrorBadBlock;
        return {};
    }
    const auto name = QueryVersionValue(
        block, "\\StringFileInfo\\" + TranslationKey(FirstTranslation(block)) + "\\ProductName");
    std::string line =
        name && name->length > 1
            ? std::string(reinterpret_cast<const char*>(name->data), name->length - 1)
            : std::string("vandrel");
    // Appended piece by piece: GCC 12 warns (-Wrestrict, falsely) on a chain of
    // temporaries that starts with a string literal.
    const auto append = [&line](const char* separator, std::uint32_t number) {
        line.append(separator).append(std::to_string(number));
    };
    append(" ", version->fileVersionMS >> 16);
    append(".", version->fileVersionMS & 0xFFFF);
    append(".", version->fileVersionLS >> 16);
    append(" (build ", version->fileVersionLS & 0xFFFF);
    line += ')';
    return line;
}

std::string LanguageName(std::uint16_t language) {
    static constexpr std::array<std::pair<std::uint16_t, const char*>, 14> names{{
        {0x0405, "Czech (Czech Republic)"},
        {0x0406, "Danish (Denmark)"},
        {0x0407, "German (Germany)"},
        {0x0409, "English (United States)"},
        {0x040A, "Spanish (Spain, Traditional Sort)"},
        {0x040B, "Finnish (Finland)"},
        {0x040C, "French (France)"},
        {0x0410, "Italian (Italy)"},
        {0x0413, "Dutch (Netherlands)"},
        {0x0414, "Norwegian, Bokmal (Norway)"},
        {0x0415, "Polish (Poland)"},
        {0x041D, "Swedish (Sweden)"},
        {0x0807, "German (Switzerland)"},
        {0x0809, "English (United Kingdom)"},
    }};
    for (const auto& [id, name] : names) {
        if (id == language) {
            return name;
        }
    }
    return "Language Neutral";
}

std::string SelfExecutablePath() {
    std::array<char, 4096> path{};
    const ssize_t length = ::readlink(SelfExecutableFile, path.data(), path.size() - 1);
    return length > 0 ? std::string(path.data(), static_cast<std::size_t>(length)) : std::string();
}

}  // namespace vandrel::app
