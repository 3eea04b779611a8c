#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel::app {

// The version block is what the build embeds into each executable (cmake/VandrelVersionBlock.cmake)
// as the ELF section ".vandrel.version"; nothing in the program refers to it, it is read back
// from the executable file. All integers are little-endian:
//   offset  0  8 bytes  "VANDRELV"
//   offset  8  uint32   length of the whole block in bytes
//   offset 12  uint32   file version, major << 16 | minor     } the fixed record,
//   offset 16  uint32   file version, release << 16 | build   } 16 bytes, answered
//   offset 20  uint32   product version, the same way          } for the path "\"
//   offset 24  uint32                                          }
//   offset 28  uint16   number N of translations, uint16 0
//   offset 32  N x (uint16 language identifier, uint16 code page): "\VarFileInfo\Translation"
//   then, up to the length, pairs of zero-terminated texts: a key made of the translation as
//   eight upper-case hex digits, "\" and the value's name (0409FDE9\ProductName), then the
//   value, answered for "\StringFileInfo\0409FDE9\ProductName".

inline constexpr const char* VersionSectionName = ".vandrel.version";
// The running executable's own file; it stays readable even when the file was replaced.
inline constexpr const char* SelfExecutableFile = "/proc/self/exe";

// Error codes of the reading functions: errno values of open and read, and these.
inline constexpr int VersionErrorNotExecutable = 8;  // ENOEXEC: not an ELF file of this machine
inline constexpr int VersionErrorNoBlock = 61;       // ENODATA: no version section
inline constexpr int VersionErrorBadBlock = 74;      // EBADMSG: a section that is no valid block

// The size of the file's version block in bytes, or 0 with the reason in error.
std::uint32_t VersionBlockSize(const std::string& file, int& error);
// Reads the file's version block into block; false with the reason in error.
bool ReadVersionBlock(const std::string& file, std::vector<std::uint8_t>& block, int& error);

// A value in a block: its bytes; for a text the length counts the terminating zero.
struct VersionValue {
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
};
// Looks a path up in a block read by ReadVersionBlock: "\", "\VarFileInfo\Translation" or
// "\StringFileInfo\<key>\<name>". Nothing when the block has no such value.
std::optional<VersionValue> QueryVersionValue(std::span<const std::uint8_t> block,
                                              std::string_view path);

// The fixed record answered for "\".
struct FixedFileVersion {
    std::uint32_t fileVersionMS = 0;
    std::uint32_t fileVersionLS = 0;
    std::uint32_t productVersionMS = 0;
    std::uint32_t productVersionLS = 0;
};
std::optional<FixedFileVersion> DecodeFixedFileVersion(const VersionValue& value);

// The block's first translation: language identifier << 16 | code page; 0 without one.
std::uint32_t FirstTranslation(std::span<const std::uint8_t> block);
// A translation as the key of its texts: eight upper-case hex digits ("0409FDE9").
std::string TranslationKey(std::uint32_t translation);

// The program's version for a person or a bug report, from an executable's block:
// "<ProductName> <major>.<minor>.<release> (build <build>)". Empty, with the reason in error,
// for a file without a readable block.
std::string VersionLine(const std::string& file, int& error);

std::uint16_t ReadLittleEndian16(const std::uint8_t* bytes);
std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes);

// The English name of a language identifier ("English (United States)" for 0x0409), or
// "Language Neutral" for one this table does not know.
std::string LanguageName(std::uint16_t language);

// The path of the running executable ("" when the system does not say).
std::string SelfExecutablePath();

}  // namespace vandrel::app
