#include "common/ProfileFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/ErrorOf.h"
#include "support/TempDir.h"

namespace quelvo {
namespace {

using test::TempDir;

struct ReadCase {
    const char* what;
    std::string file;
    const char* section;
    const char* key;
    std::string expected;  // with default "DEF"
};

TEST(ProfileFile, ReadsFollowTheProfileRules) {
    const ReadCase cases[] = {
        {"plain value", "[Config]\r\nUsuario=ana\r\n", "Config", "Usuario", "ana"},
        {"section and key in other case", "[config]\r\nUSUARIO=ana\r\n", "CONFIG", "usuario",
         "ana"},
        {"text after the first equals sign", "[A]\r\nk=b=c\r\n", "A", "k", "b=c"},
        {"blanks around name and value", "[ A ]\r\n  k  =   x y  \r\n", "A", "k", "x y"},
        {"one pair of double quotes", "[A]\r\nk= \"x\" \r\n", "A", "k", "x"},
        {"one pair of single quotes", "[A]\r\nk='x'\r\n", "A", "k", "x"},
        {"only one pair of quotes", "[A]\r\nk=\"'x'\"\r\n", "A", "k", "'x'"},
        {"unmatched quotes stay", "[A]\r\nk=\"x'\r\n", "A", "k", "\"x'"},
        {"empty value", "[A]\r\nk=\r\n", "A", "k", ""},
        {"missing key", "[A]\r\nj=1\r\n", "A", "k", "DEF"},
        {"missing section", "[B]\r\nk=1\r\n", "A", "k", "DEF"},
        {"key of another section", "[B]\r\nk=1\r\n[A]\r\nj=2\r\n", "A", "k", "DEF"},
        {"first key wins", "[A]\r\nk=1\r\nk=2\r\n", "A", "k", "1"},
        {"LF line ends", "[A]\nk=1\n", "A", "k", "1"},
        {"Windows-1252 bytes", "[A]\r\nk=Jo\xe3o\r\n", "A", "k", "Jo\xc3\xa3o"},
        {"cut at 2047 characters", "[A]\r\nk=" + std::string(3000, 'v') + "\r\n", "A", "k",
         std::string(2047, 'v')},
    };
    for (const auto& c : cases) {
        TempDir dir;
        TProfileFile ini(dir.Write("Config.dat", c.file));
        EXPECT_EQ(ini.ReadString(c.section, c.key, "DEF"), c.expected) << c.what;
    }
}

TEST(ProfileFile, MissingFileGivesDefaults) {
    TempDir dir;
    TProfileFile ini(dir.File("Config.dat"));
    EXPECT_EQ(ini.ReadString("Config", "Usuario", ""), "");
    EXPECT_TRUE(ini.ReadBool("Config", "IniciarJuntoComoWindows", true));
    EXPECT_FALSE(std::filesystem::exists(dir.File("Config.dat")));
}

TEST(ProfileFile, BooleansReadAsWholeNumbers) {
    struct Case {
        const char* value;
        bool def;
        bool expected;
    };
    const Case cases[] = {
        {"1", false, true},
        {"0", true, false},
        {"2", false, true},
        {"-1", false, true},
        {"0x1", false, true},
        {"0X1", false, true},
        {"$1", false, true},
        {"$0", true, false},
        {"0x0", true, false},
        {"sim", false, false},
        {"sim", true, true},
        {"", true, true},
        {"1a", false, false},
        {"0x", true, true},
        {"$FFFFFFFF", false, true},
        {" 1 ", false, true},
        {"99999999999", false, false},
    };
    for (const auto& c : cases) {
        TempDir dir;
        TProfileFile ini(
            dir.Write("Config.dat", std::string("[Config]\r\nN5Minutos1=") + c.value + "\r\n"));
        EXPECT_EQ(ini.ReadBool("Config", "N5Minutos1", c.def), c.expected)
            << "value '" << c.value << "' default " << c.def;
    }
}

TEST(ProfileFile, WritesReplaceAppendOrAddSection) {
    TempDir dir;
    const std::string path = dir.Write("Config.dat",
                                       "[Config]\r\nUsuario=ana\r\nSenha=1\r\n\r\n"
                                       "[Outra]\r\nx=1\r\n");
    TProfileFile ini(path);
    ini.WriteString("config", "SENHA", "nova");         // replaced where it stands
    ini.WriteBool("Config", "N5Minutos1", true);        // appended to its section
    ini.WriteString("Proxy", "Servidor", "proxy.lan");  // new section at the end
    EXPECT_EQ(dir.Read("Config.dat"),
              "[Config]\r\nUsuario=ana\r\nSenha=nova\r\nN5Minutos1=1\r\n\r\n"
              "[Outra]\r\nx=1\r\n"
              "[Proxy]\r\nServidor=proxy.lan\r\n");
    EXPECT_EQ(ini.ReadString("Config", "Senha"), "nova");
}

TEST(ProfileFile, FirstWriteCreatesTheFileInWindows1252OwnerOnly) {
    TempDir dir;
    TProfileFile ini(dir.File("Config.dat"));
    ini.WriteString("Config", "Usuario", "Jos\xc3\xa9 \xe2\x82\xac \xe2\x98\x83");
    EXPECT_EQ(dir.Read("Config.dat"), "[Config]\r\nUsuario=Jos\xe9 \x80 ?\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("Config.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(ProfileFile, EveryWriteReachesTheFileAtOnce) {
    TempDir dir;
    TProfileFile writer(dir.File("Config.dat"));
    TProfileFile reader(dir.File("Config.dat"));
    writer.WriteString("Proxy", "Porta", "8080");
    EXPECT_EQ(reader.ReadString("Proxy", "Porta"), "8080");
    writer.WriteString("Proxy", "Porta", "3128");
    EXPECT_EQ(reader.ReadString("Proxy", "Porta"), "3128");
}

TEST(ProfileFile, FailedWriteNamesTheFullPath) {
    TempDir dir;
    dir.Write("arquivo", "not a folder");
    const std::string path = dir.File("arquivo") + "/Config.dat";
    TProfileFile ini(path);
    try {
        ini.WriteBool("Config", "N5Minutos1", true);
        FAIL() << "the write should fail";
    } catch (const EProfileWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
}

// Runs `f` in a child process that has no power to read other users' files (root drops to
// "nobody"); the child's exit status.
int WithoutPrivileges(const std::function<int()>& f) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(99);
        }
        ::_exit(f());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

TEST(ProfileFile, UnreadableFileIsNeverRebuiltFromNothing) {
    const std::string stored = "[Config]\r\nUsuario=ana\r\nSenha=s\r\n[Proxy]\r\nServidor=p\r\n";
    // A file the program may not read: reads give the defaults, a write fails with the
    // settings file's message and leaves the file as it was.
    TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    const std::string path = dir.Write("Config.dat", stored);
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    EXPECT_EQ(WithoutPrivileges([&] {
                  TProfileFile ini(path);
                  if (ini.ReadString("Config", "Usuario", "DEF") != "DEF") {
                      return 1;
                  }
                  try {
                      ini.WriteBool("Config", "N5Minutos1", true);
                  } catch (const EProfileWriteError& e) {
                      return std::string(e.what()) == "Unable to write to " + path ? 0 : 2;
                  }
                  return 3;
              }),
              0);
    EXPECT_EQ(dir.Read("Config.dat"), stored);

    // Names that are there but hold no readable file: a link to itself, a folder.
    for (const auto& make : std::vector<std::function<void(const std::string&)>>{
             [](const std::string& p) { std::filesystem::create_symlink(p, p); },
             [](const std::string& p) { std::filesystem::create_directory(p); }}) {
        TempDir other;
        const std::string p = other.File("Config.dat");
        make(p);
        TProfileFile ini(p);
        EXPECT_EQ(ini.ReadString("Config", "Usuario", "DEF"), "DEF");
        EXPECT_EQ(
            test::ErrorOf<EProfileWriteError>([&] { ini.WriteString("Config", "Usuario", "x"); }),
            "Unable to write to " + p);
    }
}

TEST(ProfileFile, WrittenTextsNeverSpanLines) {
    struct Case {
        const char* what;
        std::string section, key, value;
        std::string file;  // after the write, starting from "[Config]\r\nSenha=old\r\n"
    };
    const Case cases[] = {
        {"a value that would add a section and a key", "Config", "Senha",
         "abc\r\n[Config]\r\nUsuario=x", "[Config]\r\nSenha=abc[Config]Usuario=x\r\n"},
        {"a pasted password with its line end", "Config", "Senha", "segredo\n",
         "[Config]\r\nSenha=segredo\r\n"},
        {"a lone CR", "Config", "Senha", "a\rb", "[Config]\r\nSenha=ab\r\n"},
        {"a key name with a line break", "Config", "Usu\r\nario", "ana",
         "[Config]\r\nSenha=old\r\nUsuario=ana\r\n"},
        {"a section name with a line break", "Pro\nxy", "Porta", "8080",
         "[Config]\r\nSenha=old\r\n[Proxy]\r\nPorta=8080\r\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        TProfileFile ini(dir.Write("Config.dat", "[Config]\r\nSenha=old\r\n"));
        ini.WriteString(c.section, c.key, c.value);
        EXPECT_EQ(dir.Read("Config.dat"), c.file) << c.what;
    }
}

TEST(ProfileFile, RelativePathBecomesFull) {
    TProfileFile ini("Config.dat");
    EXPECT_TRUE(std::filesystem::path(ini.FileName()).is_absolute());
}

}  // namespace
}  // namespace quelvo
