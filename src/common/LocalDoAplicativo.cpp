#include "common/LocalDoAplicativo.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "common/TFileDescriptor.h"

namespace quelvo {

const char* const kPastaDosProgramas = QUELVO_PASTA_DOS_PROGRAMAS;

namespace {

namespace fs = std::filesystem;

std::string ComBarra(std::string dir) {
    if (dir.empty() || dir.back() != '/') {
        dir += '/';
    }
    return dir;
}

// A path with its links resolved as far as it exists, so that "/bin/x" and "/usr/bin/x" on a
// merged /usr, or a path with "..", compare equal.
fs::path Resolvido(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) {
        p = fs::absolute(path).lexically_normal();
    }
    return p;
}

// The user's home folder: $HOME, else the password database's entry.
std::string PastaPessoal() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    throw std::runtime_error(
        "Não foi possível saber a pasta pessoal do usuário (HOME não está definido): use "
        "--pasta para dizer onde ficam os arquivos do aplicativo.");
}

// "$XDG_DATA_HOME", or "~/.local/share" when it is unset or not an absolute path (a relative
// one is to be ignored).
std::string PastaDeDados() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    return (fs::path(PastaPessoal()) / ".local" / "share").string();
}

// Whether the folder is the user's home folder or lies inside it ("/" is nobody's home).
bool NaPastaPessoal(const fs::path& pasta) {
    fs::path casa;
    try {
        casa = Resolvido(PastaPessoal());
    } catch (const std::runtime_error&) {
        return false;
    }
    const fs::path alvo = Resolvido(pasta.string());
    if (casa == casa.root_path()) {
        return false;
    }
    auto a = alvo.begin();
    for (auto c = casa.begin(); c != casa.end(); ++c, ++a) {
        if (c->empty()) {
            continue;  // a trailing "/"
        }
        if (a == alvo.end() || *a != *c) {
            return false;
        }
    }
    return true;
}

// Takes the group's and the other users' permissions off the folder when it is the user's own;
// the owner's own stay as they are. Another user's folder is not the program's business, and
// neither is a folder of the system that root owns outside its home: root may be running a copy
// that lies in a folder every user relies on (one built for /usr/bin and copied to
// /usr/local/bin keeps its files beside itself). Checked and changed through one open
// descriptor, so a folder swapped in between is never the one changed.
void SoDoDono(const fs::path& pasta) {
    TFileDescriptor fd(::open(pasta.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || st.st_uid != ::geteuid() ||
        (st.st_mode & 07077) == 0 || (st.st_uid == 0 && !NaPastaPessoal(pasta))) {
        return;
    }
    ::fchmod(fd.get(), st.st_mode & 0700);  // a refusal leaves it as it was
}

}  // namespace

bool CopiaInstalada(const std::string& executavel, const std::string& pastaDosProgramas) {
    if (executavel.empty() || pastaDosProgramas.empty()) {
        return false;
    }
    return Resolvido(executavel).parent_path() == Resolvido(pastaDosProgramas);
}

TLocalDoAplicativo LocalDoAplicativo(const std::string& executavel,
                                     const std::string& pastaEscolhida,
                                     const std::string& pastaDosProgramas) {
    TLocalDoAplicativo local;
    local.instalada = CopiaInstalada(executavel, pastaDosProgramas);
    if (!pastaEscolhida.empty()) {
        local.pasta = ComBarra(fs::absolute(pastaEscolhida).lexically_normal().string());
    } else if (local.instalada) {
        local.pasta = ComBarra((fs::path(PastaDeDados()) / "quelvo").lexically_normal().string());
    } else if (executavel.empty()) {
        local.pasta = ComBarra(fs::current_path().string());
    } else {
        local.pasta = ComBarra(fs::path(executavel).parent_path().string());
    }
    return local;
}

void CriarPastaDoAplicativo(const std::string& pasta) {
    fs::path alvo = fs::absolute(pasta).lexically_normal();
    if (alvo.filename().empty()) {
        alvo = alvo.parent_path();  // the trailing "/"
    }
    std::vector<fs::path> faltam;
    for (fs::path p = alvo; !p.empty() && p != p.root_path(); p = p.parent_path()) {
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0) {
            break;
        }
        faltam.push_back(p);
    }
    for (auto it = faltam.rbegin(); it != faltam.rend(); ++it) {
        if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) {
            throw std::runtime_error("Não foi possível criar a pasta do aplicativo " +
                                     alvo.string() + ": " + std::strerror(errno) + ".");
        }
    }
    std::error_code ec;
    if (!fs::is_directory(alvo, ec)) {
        throw std::runtime_error("A pasta do aplicativo " + alvo.string() + " não é uma pasta.");
    }
    SoDoDono(alvo);
}

}  // namespace quelvo
