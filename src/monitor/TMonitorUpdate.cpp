#include "monitor/TMonitorUpdate.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/LocalDoAplicativo.h"
#include "common/SafeFile.h"
#include "common/TextTrim.h"
#include "common/Utils.h"
#include "monitor/EUpdateRefused.h"
#include "monitor/TReleaseSignature.h"
#include "site/TTravonHttp.h"

extern char** environ;

namespace quelvo {

namespace {

namespace fs = std::filesystem;

// The site answers four decimal numbers joined by points; anything else (an error page) is no
// version to download.
bool TextoDeVersao(std::string_view v) {
    int partes = 0;
    const char* p = v.data();
    const char* fim = v.data() + v.size();
    while (p < fim) {
        unsigned n = 0;
        const auto [q, ec] = std::from_chars(p, fim, n);
        if (ec != std::errc{} || n > 0xFFFF) {
            return false;
        }
        ++partes;
        p = q;
        if (p < fim) {
            if (*p != '.') {
                return false;
            }
            ++p;
        }
    }
    return partes == 4 && v.back() != '.';
}

// Blanks and control characters off both ends.
std::string SemBordas(std::string_view s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') {
        ++b;
    }
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') {
        --e;
    }
    return std::string(s.substr(b, e - b));
}

// The identity of an ELF file: magic, class, byte order, type and machine; empty when it is no
// ELF or cannot be read.
std::string IdentidadeElf(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::array<char, 20> h{};
    if (!f.read(h.data(), h.size()) || h[0] != 0x7f || h[1] != 'E' || h[2] != 'L' || h[3] != 'F') {
        return {};
    }
    // e_type (16..17) must say an executable or a position-independent one; its byte order is
    // the file's (h[5]: 1 little, 2 big).
    const unsigned tipo =
        h[5] == 1 ? static_cast<unsigned char>(h[16]) : static_cast<unsigned char>(h[17]);
    if (tipo != 2 && tipo != 3) {
        return {};
    }
    return std::string{h[4], h[5], h[18], h[19]};
}

// Reads an unsigned field of `n` bytes at `pos` in the file's byte order.
bool Campo(std::ifstream& f, uint64_t pos, int n, bool bigEndian, uint64_t& valor) {
    unsigned char b[8] = {};
    f.clear();
    f.seekg(static_cast<std::streamoff>(pos));
    if (!f.read(reinterpret_cast<char*>(b), n)) {
        return false;
    }
    valor = 0;
    for (int i = 0; i < n; ++i) {
        valor |= static_cast<uint64_t>(b[bigEndian ? n - 1 - i : i]) << (8 * i);
    }
    return true;
}

// Whether the file holds everything its ELF headers point at: the program header table, the
// section header table and every segment's bytes. A download cut anywhere is short of one.
bool ElfCompleto(const std::string& path) {
    std::error_code ec;
    const uint64_t tamanho = fs::file_size(path, ec);
    std::ifstream f(path, std::ios::binary);
    unsigned char ident[6] = {};
    if (ec || !f.read(reinterpret_cast<char*>(ident), sizeof ident)) {
        return false;
    }
    const bool de64 = ident[4] == 2;
    const bool big = ident[5] == 2;
    const int w = de64 ? 8 : 4;  // the width of an address or offset
    uint64_t phoff = 0, shoff = 0, phentsize = 0, phnum = 0, shentsize = 0, shnum = 0;
    if (!Campo(f, de64 ? 32 : 28, w, big, phoff) || !Campo(f, de64 ? 40 : 32, w, big, shoff) ||
        !Campo(f, de64 ? 54 : 42, 2, big, phentsize) || !Campo(f, de64 ? 56 : 44, 2, big, phnum) ||
        !Campo(f, de64 ? 58 : 46, 2, big, shentsize) || !Campo(f, de64 ? 60 : 48, 2, big, shnum)) {
        return false;
    }
    uint64_t fim = std::max(phoff + phnum * phentsize, shoff + shnum * shentsize);
    if (fim > tamanho) {
        return false;
    }
    for (uint64_t i = 0; i < phnum; ++i) {
        uint64_t offset = 0, filesz = 0;
        const uint64_t ph = phoff + i * phentsize;
        if (!Campo(f, ph + (de64 ? 8 : 4), w, big, offset) ||
            !Campo(f, ph + (de64 ? 32 : 16), w, big, filesz)) {
            return false;
        }
        fim = std::max(fim, offset + filesz);
    }
    return fim <= tamanho;
}

// A path between single quotes for the shell.
std::string Aspas(const std::string& s) {
    if (s.find_first_of("\n\r") != std::string::npos || s.find('\0') != std::string::npos) {
        throw std::runtime_error("Caminho impróprio para o script de atualização: " + s);
    }
    std::string out = "'";
    for (const char c : s) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

}  // namespace

TMonitorUpdate::TMonitorUpdate(std::string appDir, std::string executavel, pid_t processo)
    : AppDir(std::move(appDir)),
      Executavel(std::move(executavel)),
      Processo(processo),
      ChavePublica(TReleaseSignature::ChaveDoPrograma()),
      Ligada(!CopiaInstalada(Executavel)) {}

TMonitorUpdate::~TMonitorUpdate() {
    std::lock_guard lock(mutex_);
    for (auto& v : verificacoes_) {
        v->thread.join();
    }
}

void TMonitorUpdate::Reaproveitar() {
    for (auto it = verificacoes_.begin(); it != verificacoes_.end();) {
        if ((*it)->terminou) {
            (*it)->thread.join();
            it = verificacoes_.erase(it);
        } else {
            ++it;
        }
    }
}

void TMonitorUpdate::IniciarVerificacao(const TTravonHttpProxy& proxy) {
    if (!Ligada) {
        return;
    }
    std::lock_guard lock(mutex_);
    Reaproveitar();
    auto v = std::make_unique<Verificacao>();
    Verificacao* p = v.get();
    verificacoes_.reserve(verificacoes_.size() + 1);
    v->thread = std::thread([this, proxy, p] {
        Verificar(proxy);
        p->terminou = true;
    });
    verificacoes_.push_back(std::move(v));
}

bool TMonitorUpdate::Verificando() const {
    std::lock_guard lock(mutex_);
    for (const auto& v : verificacoes_) {
        if (!v->terminou) {
            return true;
        }
    }
    return false;
}

void TMonitorUpdate::Verificar(const TTravonHttpProxy& proxy) const {
    if (!Ligada) {
        return;
    }
    std::string aviso;
    try {
        VerificarOuFalhar(proxy, aviso);
    } catch (...) {
        // The site unreachable, an error status, a file that cannot be written: the next
        // check is four hours away.
    }
    Avisar(aviso);
}

void TMonitorUpdate::VerificarOuFalhar(const TTravonHttpProxy& proxy, std::string& aviso) const {
    // A download left waiting by an earlier check, or by an older version of this program that
    // kept unsigned ones, stays only while it may still be installed.
    const std::string baixado = AppDir + kBaixado;
    PendenteInstalavel(aviso);

    const std::string site = "http://" + TServidores::Load(AppDir).Site;
    TTravonHttp http;
    http.Proxy = proxy;
    const std::string versaoSite = SemBordas(http.GetText(site + "/app/Quelvo.aspx"));
    if (!TextoDeVersao(versaoSite) || versaoSite == FileVersion(Executavel)) {
        return;
    }
    if (FileExists(baixado) && versaoSite == FileVersion(baixado)) {
        return;  // already waiting for the next start
    }
    // A build without a release key would only download to delete.
    try {
        TReleaseSignature::ConferirChave(ChavePublica);
    } catch (const EUpdateRefused& e) {
        aviso =
            "Atualização " + versaoSite + " disponível no site não foi baixada: " + e.what() + ".";
        return;
    }
    const std::string baixando = AppDir + kBaixando;
    TTravonHttp download;
    download.Proxy = proxy;
    download.ConnectTimeout = 900000;
    download.GetFile(site + "/app/Quelvo.exe", baixando);
    // A download that came short of what the site announced, that this machine cannot run, that
    // is not signed with our release key or not of the version announced is never offered.
    try {
        std::error_code ec;
        const std::string anunciado = download.ResponseHeader("Content-Length");
        const auto tamanho = fs::file_size(baixando, ec);
        if (ec || (!anunciado.empty() && anunciado != std::to_string(tamanho))) {
            throw EUpdateRefused("o arquivo veio incompleto");
        }
        Conferir(baixando);
        const std::string versaoBaixada = FileVersion(baixando);
        if (versaoBaixada != versaoSite) {
            throw EUpdateRefused("o arquivo é da versão " + versaoBaixada + ", não da anunciada");
        }
    } catch (const EUpdateRefused& e) {
        std::error_code ec;
        fs::remove(baixando, ec);
        aviso = "Atualização " + versaoSite +
                " baixada do site foi recusada e apagada: " + e.what() + ".";
        return;
    }
    // The executable keeps its permissions when the download takes its place.
    struct stat atual {};
    if (::stat(Executavel.c_str(), &atual) == 0) {
        ::chmod(baixando.c_str(), atual.st_mode & 07777);
    }
    std::lock_guard lock(arquivos_);
    std::error_code ec;
    fs::remove(baixado, ec);
    fs::rename(baixando, baixado);
}

bool TMonitorUpdate::ExecutavelDestaMaquina(const std::string& path) const {
    const std::string desta = IdentidadeElf(Executavel);
    return !desta.empty() && IdentidadeElf(path) == desta && ElfCompleto(path) &&
           !FileVersion(path).empty();
}

void TMonitorUpdate::Conferir(const std::string& path) const {
    if (!ExecutavelDestaMaquina(path)) {
        throw EUpdateRefused("o arquivo não é um executável completo desta máquina com versão");
    }
    TReleaseSignature::ConferirArquivo(path, ChavePublica, TTravonHttp::kMaxFileBytes);
}

bool TMonitorUpdate::PendenteInstalavel(std::string& aviso) const {
    const std::string baixado = AppDir + kBaixado;
    std::lock_guard lock(arquivos_);
    if (!FileExists(baixado)) {
        return false;
    }
    try {
        Conferir(baixado);
        return true;
    } catch (const EUpdateRefused& e) {
        const std::string versao = FileVersion(baixado);
        std::error_code ec;
        fs::remove(baixado, ec);
        aviso = "Atualização " + (versao.empty() ? std::string() : versao + " ") +
                "baixada antes foi apagada sem ser instalada: " + e.what() + ".";
        return false;
    }
}

void TMonitorUpdate::Avisar(const std::string& texto) const {
    if (texto.empty() || !EscreveLog) {
        return;
    }
    try {
        const TDateTime agora = TDateTime::Now();
        EscreveLog(FormatShortDate(agora) + " " + FormatLongTime(agora) + " " + texto);
    } catch (...) {
        // A program that is ending takes no more lines.
    }
}

bool TMonitorUpdate::MayOfferUpdate(const TDateTime& hoje) const {
    try {
        const std::string arquivo = AppDir + kNaoAtualizar;
        if (!FileExists(arquivo)) {
            return true;
        }
        const auto dia = ParseShortDate(Trim(LoadTextFile(arquivo)));
        return !(dia && *dia == hoje.DateOnly());
    } catch (...) {
        return true;
    }
}

std::string TMonitorUpdate::Script() const {
    const std::string baixado = AppDir + kBaixado;
    return "#!/bin/sh\n"
           "# Instala a versão baixada do Quelvo: espera o programa terminar, põe o arquivo\n"
           "# baixado no lugar do executável e o abre de novo. Se a troca falhar, abre a versão\n"
           "# que já estava lá.\n"
           "pid=" +
           std::to_string(Processo) +
           "\n"
           "n=0\n"
           "while kill -0 \"$pid\" 2>/dev/null && [ \"$n\" -lt 100 ]; do\n"
           "  n=$((n + 1))\n"
           "  sleep 0.1\n"
           "done\n"
           "if kill -0 \"$pid\" 2>/dev/null; then\n"
           "  kill -9 \"$pid\" 2>/dev/null\n"
           "  sleep 1\n"
           "fi\n"
           "mv -f " +
           Aspas(baixado) + " " + Aspas(Executavel) +
           "\n"
           "cd " +
           Aspas(AppDir) + " || exit 1\n" + "exec " + Aspas(Executavel) +
           " </dev/null >/dev/null 2>&1\n";
}

bool TMonitorUpdate::OfferUpdate(
    const std::function<std::optional<bool>(const std::string&)>& confirm,
    const TDateTime& hoje) const {
    if (!Ligada) {
        return false;
    }
    try {
        const std::string baixado = AppDir + kBaixado;
        if (!FileExists(baixado) || FileVersion(baixado) == FileVersion(Executavel)) {
            return false;
        }
        // Verified again: the file may have changed on disk since its download, and once more
        // after the answer, which may have taken hours.
        std::string aviso;
        if (!PendenteInstalavel(aviso)) {
            Avisar(aviso);
            return false;
        }
        if (!MayOfferUpdate(hoje)) {
            return false;
        }
        const std::optional<bool> resposta = confirm(kPergunta);
        if (resposta != true) {
            if (resposta == false) {
                SaveTextFile(AppDir + kNaoAtualizar, FormatShortDate(hoje));
            }
            return false;
        }
        if (!PendenteInstalavel(aviso)) {
            Avisar(aviso);
            return false;
        }
        const std::string script = AppDir + kScript;
        WriteFileAtomic(script, Script(), 0700);
        // Detached from this program (a session of its own, no terminal), which ends now.
        posix_spawnattr_t attr;
        posix_spawn_file_actions_t acoes;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
        posix_spawn_file_actions_init(&acoes);
        for (const int fd : {0, 1, 2}) {
            posix_spawn_file_actions_addopen(&acoes, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                             0);
        }
        std::string sh = "/bin/sh";
        std::string arg = script;
        char* argv[] = {sh.data(), arg.data(), nullptr};
        pid_t pid = 0;
        const int erro = posix_spawn(&pid, sh.c_str(), &acoes, &attr, argv, environ);
        posix_spawn_file_actions_destroy(&acoes);
        posix_spawnattr_destroy(&attr);
        return erro == 0;
    } catch (...) {
        return false;
    }
}

}  // namespace quelvo
