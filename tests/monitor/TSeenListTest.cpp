#include "monitor/TSeenList.h"

#include <gtest/gtest.h>

#include <string>
#include <system_error>
#include <vector>

#include "support/TempDir.h"

namespace quelvo {
namespace {

using Entries = std::vector<std::string>;
using test::TempDir;

TEST(SeenList, KeepsInsertionOrderAndFindsIgnoringCase) {
    TSeenList list;
    list.Add("35260112345678000195550010000001231000001234");
    list.Add("abc");
    list.Add("Jos\xc3\xa9");
    list.Add("abc");  // duplicates are kept as added
    EXPECT_EQ(list.Entries(), (Entries{"35260112345678000195550010000001231000001234", "abc",
                                       "Jos\xc3\xa9", "abc"}));
    EXPECT_EQ(list.Count(), 4u);
    EXPECT_TRUE(list.Contains("ABC"));
    EXPECT_TRUE(list.Contains("JOS\xc3\x89"));  // É finds é
    EXPECT_FALSE(list.Contains("ab"));
    EXPECT_FALSE(list.Contains("abcd"));
    EXPECT_FALSE(list.Contains(""));
    list.Add("");
    EXPECT_TRUE(list.Contains(""));
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_FALSE(list.Contains("abc"));
}

TEST(SeenList, ManyEntriesStayFindable) {
    TSeenList list;
    for (int i = 0; i < 50000; ++i) {
        list.Add("12345678000195" + std::to_string(i));
    }
    for (int i = 0; i < 50000; i += 997) {
        EXPECT_TRUE(list.Contains("12345678000195" + std::to_string(i))) << i;
    }
    EXPECT_FALSE(list.Contains("1234567800019550000"));
    EXPECT_EQ(list.Entries().back(), "1234567800019549999");
    EXPECT_LE(list.OverheadBytes(), 50000u * 64);
}

TEST(SeenList, LoadsAnyLineEnd) {
    struct Case {
        const char* what;
        std::string file;
        Entries expected;
    };
    const Case cases[] = {
        {"CR LF", "a\r\nb\r\n", {"a", "b"}},
        {"LF", "a\nb\n", {"a", "b"}},
        {"CR", "a\rb\r", {"a", "b"}},
        {"mixed", "a\r\nb\nc\r", {"a", "b", "c"}},
        // What follows the last line break is an append a crash cut short: "11" is no key.
        {"a torn last line", "112223330001815\r\n11", {"112223330001815"}},
        {"empty file", "", {}},
        {"a single CR LF", "\r\n", {""}},
        {"blank line inside", "a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"Windows-1252", "Jo\xe3o\r\n", {"Jo\xc3\xa3o"}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        TSeenList list;
        list.Add("replaced by the load");
        list.LoadFromFile(dir.Write("Consultados.dat", c.file));
        EXPECT_EQ(list.Entries(), c.expected) << c.what;
        EXPECT_FALSE(list.Contains("replaced by the load")) << c.what;
    }
}

TEST(SeenList, SavesEveryEntryWithCrLf) {
    struct Case {
        Entries entries;
        std::string file;
    };
    const Case cases[] = {
        {{}, ""},
        {{""}, "\r\n"},
        {{"1", "2"}, "1\r\n2\r\n"},
        {{"Jo\xc3\xa3o", "\xe2\x98\x83"}, "Jo\xe3o\r\n?\r\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        TSeenList list;
        for (const auto& e : c.entries) {
            list.Add(e);
        }
        list.SaveToFile(dir.File("ConsultadosNums.dat"));
        EXPECT_EQ(dir.Read("ConsultadosNums.dat"), c.file);
    }
}

TEST(SeenList, ItsFileIsReadableByItsOwnerOnly) {
    // The lists tell which invoices each company received: whichever way the file comes to be,
    // a lenient umask leaves no one else a way in.
    const test::Umask umask(0);
    const struct {
        const char* what;
        void (*write)(TSeenList&, const std::string&);
    } cases[] = {
        {"whole-file save", [](TSeenList& l, const std::string& p) { l.SaveToFile(p); }},
        {"append to a missing file",
         [](TSeenList& l, const std::string& p) { l.AddAndAppend("3526", p); }},
    };
    for (const auto& c : cases) {
        TempDir dir;
        TSeenList list;
        list.Add("1");
        c.write(list, dir.File("Consultados.dat"));
        EXPECT_EQ(test::ModeOf(dir.File("Consultados.dat")), "600") << c.what;
    }
}

TEST(SeenList, AMissingFileCannotBeLoaded) {
    TempDir dir;
    TSeenList list;
    EXPECT_THROW(list.LoadFromFile(dir.File("missing.dat")), std::system_error);
}

}  // namespace
}  // namespace quelvo
