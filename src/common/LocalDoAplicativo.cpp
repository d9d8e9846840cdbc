#include "common/LocalDoAplicativo.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Process.h"

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

std::string Absoluta(const std::string& pasta) {
    return platform::Utf8Of(fs::absolute(platform::PathOf(pasta)).lexically_normal());
}

}  // namespace

bool CopiaInstalada(const std::string& executavel, const std::string& pastaDosProgramas) {
    return platform::IsInstalledCopy(executavel, pastaDosProgramas);
}

TLocalDoAplicativo LocalDoAplicativo(const std::string& executavel,
                                     const std::string& pastaEscolhida,
                                     const std::string& pastaDosProgramas) {
    TLocalDoAplicativo local;
    local.instalada = CopiaInstalada(executavel, pastaDosProgramas);
    if (!pastaEscolhida.empty()) {
        local.pasta = ComBarra(Absoluta(pastaEscolhida));
    } else if (local.instalada) {
        local.pasta = ComBarra(platform::InstalledCopyDataFolder());
    } else if (executavel.empty()) {
        local.pasta = ComBarra(platform::Utf8Of(fs::current_path()));
    } else {
        local.pasta = ComBarra(platform::Utf8Of(platform::PathOf(executavel).parent_path()));
    }
    return local;
}

void CriarPastaDoAplicativo(const std::string& pasta) {
    fs::path alvo = fs::absolute(platform::PathOf(pasta)).lexically_normal();
    if (alvo.filename().empty()) {
        alvo = alvo.parent_path();  // the trailing "/"
    }
    const std::string nome = platform::Utf8Of(alvo);
    std::vector<fs::path> faltam;
    for (fs::path p = alvo; !p.empty() && p != p.root_path(); p = p.parent_path()) {
        platform::FileInfo info;
        std::error_code ec;
        if (platform::StatusOf(platform::Utf8Of(p), info, ec)) {
            break;
        }
        faltam.push_back(p);
    }
    for (auto it = faltam.rbegin(); it != faltam.rend(); ++it) {
        if (const std::error_code ec = platform::CreateFolder(platform::Utf8Of(*it))) {
            throw std::runtime_error("Não foi possível criar a pasta do aplicativo " + nome + ": " +
                                     ec.message() + ".");
        }
    }
    std::error_code ec;
    if (!fs::is_directory(alvo, ec)) {
        throw std::runtime_error("A pasta do aplicativo " + nome + " não é uma pasta.");
    }
    // A portable folder is often unpacked readable by everyone: it holds passwords, certificates
    // and the lists of what was seen. Root leaves alone a folder outside its home (a folder of
    // programs it runs a copy from belongs to every user who relies on it).
    platform::MakeFolderOwnerOnly(nome, false);
}

}  // namespace quelvo
