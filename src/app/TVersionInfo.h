#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/model/VersionBlock.h"

namespace vandrel::app {

// The version block of an executable (see VersionBlock.h): its string values and its four
// file-version numbers. The constructor reads everything; the object is read-only after it.
// An executable without a block gives empty strings and version 0.0.0.0, after an error
// box "GetFileVersionInfoSize error #:<code>".
class TVersionInfo {
public:
    // The running executable.
    TVersionInfo();
    // Another executable file.
    explicit TVersionInfo(const std::string& fileName);

    // 0 the language name, 1 "CompanyName", 2 "FileDescription", 3 "FileVersion",
    // 4 "InternalName", 5 "LegalCopyright", 6 "LegalTrademarks", 7 "OriginalFilename",
    // 8 "ProductName", 9 "ProductVersion", 10 "Comments"; empty for a missing or empty value
    // and for any other index. Values are cut to 254 characters.
    std::string GetInfoString(int Index) const;
    // 0 major, 1 minor, 2 release, 3 build; 0 for any other index or without a block.
    std::uint16_t GetFileVersionPart(int Index) const;

    const std::string& FileName() const { return m_fileName; }
    // Eight upper-case hex digits: language identifier, then code page (0409FDE9).
    const std::string& TranslationKey() const { return m_translationKey; }

private:
    void Read(const std::string& source);

    std::string m_fileName;
    std::vector<std::uint8_t> m_stringBlock;
    std::uint32_t m_stringBlockSize = 0;
    std::string m_translationKey;
    std::string m_languageName;
    std::vector<std::uint8_t> m_fixedBlock;
    std::uint32_t m_fixedBlockSize = 0;
    std::optional<FixedFileVersion> m_fixed;
};

}  // namespace vandrel::app
