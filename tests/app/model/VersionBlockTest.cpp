// The version block as the build embeds it into this test executable (1.3.0.34, see
// tests/app/model/CMakeLists.txt), read back from the file, and damaged copies of it.
#include "app/model/VersionBlock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace vandrel::app;

namespace {

std::string ValueText(const std::vector<std::uint8_t>& block, const std::string& path) {
    const auto value = QueryVersionValue(block, path);
    if (!value || value->length == 0) {
        return "<none>";
    }
    return std::string(reinterpret_cast<const char*>(value->data), value->length - 1);
}

std::vector<std::uint8_t> OwnBlock() {
    std::vector<std::uint8_t> block;
    int error = 0;
    EXPECT_TRUE(ReadVersionBlock(SelfExecutableFile, block, error)) << error;
    return block;
}

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vbXXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~TempDir() { std::filesystem::remove_all(m_path); }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

void WriteFile(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

}  // namespace

TEST(VersionBlock, OwnExecutableAnswersEveryPath) {
    int error = 0;
    const std::uint32_t size = VersionBlockSize(SelfExecutableFile, error);
    const std::vector<std::uint8_t> block = OwnBlock();
    ASSERT_EQ(size, block.size());

    const auto fixed = QueryVersionValue(block, "\\");
    ASSERT_TRUE(fixed);
    const auto version = DecodeFixedFileVersion(*fixed);
    ASSERT_TRUE(version);
    EXPECT_EQ(version->fileVersionMS, (1u << 16) | 3u);
    EXPECT_EQ(version->fileVersionLS, 34u);

    const auto translation = QueryVersionValue(block, "\\VarFileInfo\\Translation");
    ASSERT_TRUE(translation && translation->length == 4u);
    EXPECT_EQ(ReadLittleEndian32(translation->data), 0x0409u | 65001u << 16);

    EXPECT_EQ(ValueText(block, "\\StringFileInfo\\0409FDE9\\FileVersion"), "1.3.0.34");
    EXPECT_EQ(ValueText(block, "\\StringFileInfo\\0409FDE9\\LegalTrademarks"), "");
    EXPECT_EQ(ValueText(block, "\\StringFileInfo\\040704E4\\ProductName"), "<none>");
    EXPECT_EQ(ValueText(block, "\\StringFileInfo\\0409FDE9\\NoSuchName"), "<none>");
    EXPECT_EQ(ValueText(block, "\\Other"), "<none>");
    EXPECT_EQ(VersionLine(SelfExecutableFile, error), "Vandrel 1.3.0 (build 34)");
}

// Files that are no executable with a block give the reason, never a crash.
TEST(VersionBlock, FilesWithoutABlockGiveTheReason) {
    const TempDir dir;
    const std::string self = SelfExecutablePath();
    ASSERT_FALSE(self.empty());
    std::ifstream image(self, std::ios::binary);
    std::string head(2000, '\0');
    image.read(head.data(), 2000);
    WriteFile(dir.File("text"), "just some text, long enough to be no ELF header at all\n");
    WriteFile(dir.File("empty"), "");
    WriteFile(dir.File("truncated"), head);
    WriteFile(dir.File("garbage"), std::string(64, 'x'));
    const std::string copies =
        "objcopy --remove-section=.vandrel.version '" + self + "' '" + dir.File("stripped") +
        "' && objcopy --update-section .vandrel.version='" + dir.File("garbage") + "' '" + self +
        "' '" + dir.File("badblock") + "'";
    ASSERT_EQ(std::system(copies.c_str()), 0);

    const struct {
        std::string file;
        int error;
    } cases[] = {
        {dir.File("missing"), ENOENT},
        {dir.File("text"), VersionErrorNotExecutable},
        {dir.File("empty"), VersionErrorNotExecutable},
        {dir.File("truncated"), VersionErrorNotExecutable},
        {dir.File("stripped"), VersionErrorNoBlock},
        {dir.File("badblock"), VersionErrorBadBlock},
    };
    for (const auto& c : cases) {
        int error = 0;
        std::vector<std::uint8_t> block;
        EXPECT_EQ(VersionBlockSize(c.file, error), 0u) << c.file;
        EXPECT_EQ(error, c.error) << c.file;
        error = 0;
        EXPECT_FALSE(ReadVersionBlock(c.file, block, error)) << c.file;
        EXPECT_EQ(error, c.error) << c.file;
        EXPECT_EQ(VersionLine(c.file, error), "") << c.file;
    }
}

// A damaged block in memory: every cut and every single changed byte is looked up without
// reading outside the block (the address sanitizer run checks that).
TEST(VersionBlock, DamagedBlocksAreReadSafely) {
    const std::vector<std::uint8_t> good = OwnBlock();
    const char* paths[] = {"\\", "\\VarFileInfo\\Translation",
                           "\\StringFileInfo\\0409FDE9\\Comments"};
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        const std::vector<std::uint8_t> part(good.begin(), good.begin() + cut);
        for (const char* path : paths) {
            EXPECT_FALSE(QueryVersionValue(part, path)) << cut;
        }
    }
    for (std::size_t at = 0; at < good.size(); ++at) {
        for (const std::uint8_t byte : {0x00, 0xFF}) {
            std::vector<std::uint8_t> bad = good;
            bad[at] = byte;
            for (const char* path : paths) {
                if (const auto value = QueryVersionValue(bad, path)) {
                    EXPECT_LE(value->data + value->length, bad.data() + bad.size());
                }
            }
        }
    }
}
