#include "app/TVersionInfo.h"

#include <QString>

#include <algorithm>
#include <array>

#include "app/MessageDlg.h"

namespace vandrel::app {

namespace {

constexpr std::array<const char*, 11> kValueNames = {"",
                                                     "CompanyName",
                                                     "FileDescription",
                                                     "FileVersion",
                                                     "InternalName",
                                                     "LegalCopyright",
                                                     "LegalTrademarks",
                                                     "OriginalFilename",
                                                     "ProductName",
                                                     "ProductVersion",
                                                     "Comments"};
// Longest value returned, counting its terminating zero.
constexpr std::uint32_t kMaxValueLength = 255;

}  // namespace

TVersionInfo::TVersionInfo() : m_fileName(SelfExecutablePath()) {
    Read(SelfExecutableFile);
}

TVersionInfo::TVersionInfo(const std::string& fileName) : m_fileName(fileName) {
    Read(fileName);
}

void TVersionInfo::Read(const std::string& source) {
    int error = 0;
    m_stringBlockSize = VersionBlockSize(source, error);
    if (m_stringBlockSize != 0 && ReadVersionBlock(source, m_stringBlock, error)) {
        const std::uint32_t translation = FirstTranslation(m_stringBlock);
        m_translationKey = vandrel::app::TranslationKey(translation);
        m_languageName = LanguageName(static_cast<std::uint16_t>(translation >> 16));
    }

    m_fixedBlockSize = VersionBlockSize(source, error);
    if (m_fixedBlockSize == 0) {
        MessageDlg(nullptr,
                   QStringLiteral("GetFileVersionInfoSize error #:") + QString::number(error),
                   MessageKind::Error);
    }
    if (ReadVersionBlock(source, m_fixedBlock, error)) {
        if (const auto fixed = QueryVersionValue(m_fixedBlock, "\\")) {
            m_fixed = DecodeFixedFileVersion(*fixed);
        }
    }
}

std::string TVersionInfo::GetInfoString(int Index) const {
    if (Index < 0 || Index >= static_cast<int>(kValueNames.size())) {
        return {};
    }
    if (Index == 0) {
        return m_languageName;
    }
    if (m_stringBlock.empty()) {
        return {};
    }
    const std::string path = "\\StringFileInfo\\" + m_translationKey + "\\" +
                             kValueNames[static_cast<std::size_t>(Index)];
    const auto value = QueryVersionValue(m_stringBlock, path);
    if (!value || value->length <= 1) {
        return {};
    }
    const std::uint32_t length = std::min(value->length, kMaxValueLength);
    return std::string(reinterpret_cast<const char*>(value->data), length - 1);
}

std::uint16_t TVersionInfo::GetFileVersionPart(int Index) const {
    if (!m_fixed) {
        return 0;
    }
    switch (Index) {
        case 0:
            return static_cast<std::uint16_t>(m_fixed->fileVersionMS >> 16);
        case 1:
            return static_cast<std::uint16_t>(m_fixed->fileVersionMS & 0xFFFF);
        case 2:
            return static_cast<std::uint16_t>(m_fixed->fileVersionLS >> 16);
        case 3:
            return static_cast<std::uint16_t>(m_fixed->fileVersionLS & 0xFFFF);
        default:
            return 0;
    }
}

}  // namespace vandrel::app
