#include "common/Utils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <ctime>
#include <filesystem>
#include <system_error>

#include "common/Version.h"
#include "support/TempDir.h"

namespace quelvo {
namespace {

using test::TempDir;

TEST(Utils, TextFilters) {
    EXPECT_EQ(OnlyDigits("12.345.678/0001-95"), "12345678000195");
    EXPECT_EQ(OnlyDigits("sem digitos"), "");
    EXPECT_EQ(OnlyDigits("\xc2\xb9"
                         "1"),
              "1");  // superscript one is not a digit
    EXPECT_EQ(KeepChars("banana", "an"), "anana");
    EXPECT_EQ(KeepChars("a\xc3\xa7\xc3\xa3o", "\xc3\xa7o"), "\xc3\xa7o");
    EXPECT_EQ(KeepChars("", "abc"), "");
}

TEST(Utils, UFCodeTable) {
    EXPECT_EQ(UFCode("SP"), "35");
    EXPECT_EQ(UFCode("AC"), "12");
    EXPECT_EQ(UFCode("TO"), "17");
    EXPECT_EQ(UFCode("DF"), "53");
    EXPECT_EQ(UFCode("MS"), "50");
    EXPECT_EQ(UFCode("sp"), "");
    EXPECT_EQ(UFCode("XX"), "");
    EXPECT_EQ(UFCode(""), "");
    EXPECT_EQ(UFCode("SP "), "");
}

TEST(Utils, TextFilesAreLinesEndedByCrLf) {
    TempDir dir;
    const test::Umask umask(0);
    struct Case {
        const char* text;
        const char* file;
    };
    const Case cases[] = {
        {"a\r\nb\nc\rd", "a\r\nb\r\nc\r\nd\r\n"},
        {"", ""},
        {"\r\n", "\r\n"},
        {"x\n\ny", "x\r\n\r\ny\r\n"},
    };
    for (const auto& c : cases) {
        SaveTextFile(dir.File("t.txt"), c.text);
        EXPECT_EQ(dir.Read("t.txt"), c.file) << c.text;
        EXPECT_EQ(test::ModeOf(dir.File("t.txt")), "600") << "readable by its owner only";
    }
    dir.Write("last.txt", "um\ndois");
    EXPECT_EQ(LoadTextFile(dir.File("last.txt")), "um\r\ndois\r\n");
    EXPECT_THROW(LoadTextFile(dir.File("missing.txt")), std::system_error);
}

TEST(Utils, EnsureDirCreatesParentsAndIgnoresFailures) {
    TempDir dir;
    EnsureDir(dir.File("a/b/temp"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("a/b/temp")));
    EnsureDir(dir.File("a/b/temp"));  // already there
    dir.Write("f", "x");
    EnsureDir(dir.File("f/sub"));  // cannot be made: nothing reported
    EXPECT_FALSE(std::filesystem::exists(dir.File("f/sub")));
}

TEST(Utils, ApplicationDirEndsWithSlash) {
    const std::string original = ApplicationDir();
    EXPECT_EQ(original.back(), '/');
    TempDir dir;
    SetApplicationDir(dir.path().string());
    EXPECT_EQ(ApplicationDir(), dir.path().string() + "/");
    SetApplicationDir(original);
}

TEST(Utils, FileVersionReadsTheMarkerOfAnyFile) {
    EXPECT_EQ(ProgramVersion(), QUELVO_VERSION);
    // This test program carries the marker, like every executable of the project.
    EXPECT_EQ(FileVersion("/proc/self/exe"), QUELVO_VERSION);

    TempDir dir;
    const std::string prefix(VersionMarkerPrefix());
    struct Case {
        std::string content;
        const char* expected;
    };
    const Case cases[] = {
        {"junk" + prefix + "2.10.0.7" + std::string(1, '\0') + "tail", "2.10.0.7"},
        {prefix + "01.2.3.4", "1.2.3.4"},
        {std::string(3 << 20, 'x') + prefix + "1.7.0.0", "1.7.0.0"},        // past the first block
        {std::string((1 << 20) - 5, 'x') + prefix + "3.0.0.1", "3.0.0.1"},  // across blocks
        {prefix + "1.2.3", ""},
        {prefix + "1.2.3.70000", ""},
        {prefix + "x" + prefix + "4.5.6.7", "4.5.6.7"},  // a broken marker, then a good one
        {"no marker here", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileVersion(dir.Write("prog", c.content)), c.expected) << c.content.substr(0, 40);
        EXPECT_EQ(VersionInBytes(c.content), c.expected) << c.content.substr(0, 40);
    }
    EXPECT_EQ(FileVersion(dir.File("missing")), "");
    EXPECT_EQ(FileVersion(dir.path().string()), "");  // a folder
}

TEST(Utils, FileProgramReadsTheProgramMarker) {
    TempDir dir;
    const std::string prefix = QUELVO_PROGRAM_MARKER_PREFIX;
    const std::string nul(1, '\0');
    const struct {
        std::string content;
        const char* expected;
    } cases[] = {
        {"junk" + prefix + "quelvo" + nul + "tail", "quelvo"},
        {prefix + "quelvo-monitor" + nul, "quelvo-monitor"},
        // The reader's own copy of the prefix names nothing.
        {prefix + nul + prefix + "quelvo" + nul, "quelvo"},
        {prefix + "quelvo" + nul + prefix + "quelvo" + nul, "quelvo"},
        // Two programs in one file: neither.
        {prefix + "quelvo" + nul + prefix + "quelvo-monitor" + nul, ""},
        {std::string(3 << 20, 'x') + prefix + "quelvo" + nul, "quelvo"},  // past the first block
        {std::string((1 << 20) - 5, 'x') + prefix + "quelvo" + nul, "quelvo"},  // across blocks
        {std::string((1 << 20) - 20, 'x') + prefix + "quelvo" + nul + std::string(1 << 20, 'y') +
             prefix + "quelvo-monitor" + nul,
         ""},
        {prefix + "quelvo", ""},                    // not ended
        {prefix + "Quelvo" + nul, ""},              // not a name of ours
        {prefix + std::string(33, 'q') + nul, ""},  // too long
        {prefix + std::string(32, 'q') + nul, "qqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqq"},
        {"no marker here", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileProgram(dir.Write("prog", c.content)), c.expected) << c.content.substr(0, 40);
        EXPECT_EQ(ProgramInBytes(c.content), c.expected) << c.content.substr(0, 40);
    }
    EXPECT_EQ(FileProgram(dir.File("missing")), "");
    EXPECT_EQ(FileProgram(dir.path().string()), "");  // a folder
}

TEST(Utils, NewerVersionComparesTheFourNumbers) {
    const struct {
        const char* candidate;
        const char* current;
        bool newer;
    } cases[] = {
        {"1.7.0.0", "1.6.0.0", true},
        {"1.6.0.1", "1.6.0.0", true},
        {"2.0.0.0", "1.65535.65535.65535", true},
        {"1.10.0.0", "1.9.0.0", true},  // as numbers, not as text
        {"1.9.0.0", "1.10.0.0", false},
        {"1.6.0.0", "1.6.0.0", false},
        {"01.6.0.0", "1.6.0.0", false},  // the same numbers
        {"1.4.0.0", "1.6.0.0", false},
        {"1.7.0.0", "", true},  // a running executable without a version
        {"", "1.6.0.0", false},
        {"1.7.0", "1.6.0.0", false},
        {"1.7.0.0.1", "1.6.0.0", false},
        {"1.70000.0.0", "1.6.0.0", false},
        {"<html>", "1.6.0.0", false},
        {"1.7.0.0", "x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NewerVersion(c.candidate, c.current), c.newer)
            << c.candidate << " / " << c.current;
    }
}

TEST(Utils, FileCreationTimeIsLocalAndFailsForMissingFiles) {
    TempDir dir;
    const std::string file = dir.Write("f", "x");
    // The file system's own clock, not this process's: made within the second of its last
    // change, at most.
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    const TDateTime created = FileCreationTime(file);
    EXPECT_LE(TDateTime::FromTimeT(st.st_mtime - 1), created);
    EXPECT_LE(created, TDateTime::FromTimeT(st.st_mtime, 999));
    EXPECT_THROW(FileCreationTime(dir.File("missing")), std::system_error);
}

}  // namespace
}  // namespace quelvo
