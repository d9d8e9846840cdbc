#include "common/LocalDoAplicativo.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "support/TempDir.h"

namespace quelvo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Sets (or, with nothing, unsets) an environment variable for the life of the object.
class Ambiente {
public:
    Ambiente(const char* nome, const std::optional<std::string>& valor) : nome_(nome) {
        if (const char* antes = std::getenv(nome)) {
            antes_ = antes;
        }
        Por(valor);
    }
    Ambiente(const Ambiente&) = delete;
    Ambiente& operator=(const Ambiente&) = delete;
    ~Ambiente() { Por(antes_); }

private:
    void Por(const std::optional<std::string>& valor) {
        if (valor) {
            ::setenv(nome_, valor->c_str(), 1);
        } else {
            ::unsetenv(nome_);
        }
    }
    const char* nome_;
    std::optional<std::string> antes_;
};

mode_t Modo(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(LocalDoAplicativo, InstalledPlaceOwnFolderOrTheFolderNamed) {
    TempDir t;
    const std::string raiz = t.path().string();
    // The package's folder of programs (writable here, as /usr/bin is for root: that never
    // makes it the application folder), a merged-/usr link to it, and a portable folder.
    const std::string bin = raiz + "/usr/bin";
    fs::create_directories(bin);
    fs::create_directories(raiz + "/Quelvo");
    fs::create_directories(raiz + "/outro/usr/bin");
    fs::create_directory_symlink("usr/bin", raiz + "/bin");
    const std::optional<std::string> nada;
    const struct {
        const char* what;
        std::string executavel;
        std::optional<std::string> xdg;
        std::optional<std::string> home;
        std::string pasta;  // --pasta ("" none)
        std::string esperada;
        bool instalada;
    } casos[] = {
        {"installed, XDG_DATA_HOME set", bin + "/quelvo", raiz + "/dados", raiz + "/casa", "",
         raiz + "/dados/quelvo/", true},
        {"installed, XDG_DATA_HOME unset", bin + "/quelvo-monitor", nada, raiz + "/casa", "",
         raiz + "/casa/.local/share/quelvo/", true},
        {"installed, XDG_DATA_HOME empty", bin + "/quelvo", "", raiz + "/casa", "",
         raiz + "/casa/.local/share/quelvo/", true},
        {"installed, XDG_DATA_HOME relative (ignored)", bin + "/quelvo", "dados", raiz + "/casa",
         "", raiz + "/casa/.local/share/quelvo/", true},
        {"installed, run through a path with ..", bin + "/../bin/quelvo", raiz + "/dados",
         raiz + "/casa", "", raiz + "/dados/quelvo/", true},
        {"installed, run through a link to the folder", raiz + "/bin/quelvo", raiz + "/dados",
         raiz + "/casa", "", raiz + "/dados/quelvo/", true},
        {"installed, --pasta names another", bin + "/quelvo-monitor", raiz + "/dados",
         raiz + "/casa", raiz + "/escritorio", raiz + "/escritorio/", true},
        {"portable folder", raiz + "/Quelvo/quelvo", raiz + "/dados", raiz + "/casa", "",
         raiz + "/Quelvo/", false},
        {"a folder that only ends like the package's", raiz + "/outro/usr/bin/quelvo",
         raiz + "/dados", raiz + "/casa", "", raiz + "/outro/usr/bin/", false},
        {"portable folder, --pasta names another", raiz + "/Quelvo/quelvo-monitor", raiz + "/dados",
         raiz + "/casa", raiz + "/escritorio/", raiz + "/escritorio/", false},
    };
    for (const auto& c : casos) {
        const Ambiente xdg("XDG_DATA_HOME", c.xdg);
        const Ambiente home("HOME", c.home);
        const TLocalDoAplicativo local = LocalDoAplicativo(c.executavel, c.pasta, bin);
        EXPECT_EQ(local.pasta, c.esperada) << c.what;
        EXPECT_EQ(local.instalada, c.instalada) << c.what;
        EXPECT_EQ(CopiaInstalada(c.executavel, bin), c.instalada) << c.what;
    }

    // Without HOME, the password database says where the home folder is.
    const Ambiente xdg("XDG_DATA_HOME", nada);
    const Ambiente home("HOME", nada);
    const passwd* pw = ::getpwuid(::getuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(LocalDoAplicativo(bin + "/quelvo", "", bin).pasta,
              (fs::path(pw->pw_dir) / ".local/share/quelvo/").lexically_normal().string());
}

TEST(LocalDoAplicativo, TheFolderIsMadeForItsOwnerOnly) {
    TempDir t;
    const mode_t antes = ::umask(022);
    fs::create_directories(t.File("casa"));
    ::chmod(t.File("casa").c_str(), 0755);
    const std::string pasta = t.File("casa") + "/.local/share/quelvo/";
    CriarPastaDoAplicativo(pasta);
    EXPECT_EQ(Modo(t.File("casa/.local")), 0700u);
    EXPECT_EQ(Modo(t.File("casa/.local/share")), 0700u);
    EXPECT_EQ(Modo(t.File("casa/.local/share/quelvo")), 0700u);
    EXPECT_EQ(Modo(t.File("casa")), 0755u) << "an existing folder is left as it is";
    CriarPastaDoAplicativo(pasta);  // a second start finds it
    EXPECT_EQ(Modo(t.File("casa/.local/share/quelvo")), 0700u);
    ::umask(antes);

    // A file where a folder should be: said, not ignored.
    t.Write("arquivo", "x");
    try {
        CriarPastaDoAplicativo(t.File("arquivo") + "/quelvo/");
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Não foi possível criar a pasta do aplicativo " +
                                                  t.File("arquivo") + "/quelvo: ",
                                              0),
                  0u)
            << e.what();
    }
}

TEST(LocalDoAplicativo, AnExistingFolderOfTheUserBecomesItsOwnersAlone) {
    // A portable folder unpacked with the usual modes in the user's home, or made there by hand:
    // the others' permissions go at the start, the owner's stay as they are.
    const struct {
        mode_t antes;
        const char* depois;
    } casos[] = {
        {0755, "700"},  {0750, "700"}, {0711, "700"}, {0777, "700"},
        {02770, "700"}, {0700, "700"}, {0500, "500"},
    };
    for (const auto& c : casos) {
        TempDir t;
        const Ambiente home("HOME", t.path().string());
        const std::string pasta = t.File("Quelvo");
        fs::create_directory(pasta);
        ::chmod(pasta.c_str(), c.antes);
        CriarPastaDoAplicativo(pasta + "/");
        EXPECT_EQ(test::ModeOf(pasta), c.depois) << "was " << std::oct << c.antes;
        ::chmod(pasta.c_str(), 0700);
    }
}

TEST(LocalDoAplicativo, FoldersThatAreNotTheUsersOwnAreUsedAsTheyAre) {
    // Root runs the program on the folder of the system unit's user, or anyone on a shared one;
    // or root runs a copy that lies in a folder of programs every user relies on (one built for
    // /usr/bin, copied to /usr/local/bin, keeps its files beside itself). Their permissions are
    // not the program's business, and the start goes on.
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can hand a folder to another user here";
    }
    TempDir t;
    const Ambiente home("HOME", t.File("root"));
    fs::create_directory(t.File("root"));
    const struct {
        const char* what;
        const char* pasta;
        uid_t dono;
        const char* depois;
    } casos[] = {
        {"another user's folder", "alheia", 65534, "755"},
        {"root's folder outside its home", "usr/local/bin", 0, "755"},
        {"root's folder inside its home (its portable copy)", "root/Quelvo", 0, "700"},
    };
    for (const auto& c : casos) {
        const std::string pasta = t.File(c.pasta);
        fs::create_directories(pasta);
        ::chmod(pasta.c_str(), 0755);
        ASSERT_EQ(::chown(pasta.c_str(), c.dono, c.dono), 0);
        EXPECT_NO_THROW(CriarPastaDoAplicativo(pasta)) << c.what;
        EXPECT_EQ(test::ModeOf(pasta), c.depois) << c.what;
    }
}

}  // namespace
}  // namespace quelvo
