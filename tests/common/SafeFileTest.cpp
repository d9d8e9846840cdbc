#include "common/SafeFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

namespace quelvo {
namespace {

using test::TempDir;

size_t EntriesIn(const std::filesystem::path& dir) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir),
                                             std::filesystem::directory_iterator()));
}

TEST(SafeFile, ReplacesWholeAndKeepsModes) {
    TempDir dir;
    const std::string path = dir.Write("Empresas2.dat", "old");
    WriteFileAtomic(path, "new content");
    EXPECT_EQ(ReadWholeFile(path), "new content");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    WriteFileAtomic(path, "", 0644);
    EXPECT_EQ(ReadWholeFile(path), "");
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

// A write that cannot complete (here: the file-size limit stands for a full disk) leaves the old
// file whole and no temporary file behind.
TEST(SafeFile, FailedWriteKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir.Write("Consultados.dat", "keep me\r\n");
    {
        test::FileSizeLimit limit(4);
        EXPECT_THROW(WriteFileAtomic(path, std::string(1000, 'x')), std::system_error);
    }
    EXPECT_EQ(ReadWholeFile(path), "keep me\r\n");
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(SafeFile, ReadErrors) {
    TempDir dir;
    EXPECT_THROW(ReadWholeFile(dir.File("missing")), std::system_error);
    EXPECT_FALSE(FileExists(dir.File("missing")));
    EXPECT_FALSE(FileExists(dir.path().string()));
    EXPECT_TRUE(FileExists(dir.Write("f", "")));
}

}  // namespace
}  // namespace quelvo
