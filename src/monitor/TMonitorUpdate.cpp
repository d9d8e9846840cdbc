#include "monitor/TMonitorUpdate.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "common/LocalDoAplicativo.h"
#include "common/SafeFile.h"
#include "common/TextTrim.h"
#include "common/Utils.h"
#include "common/Version.h"
#include "monitor/EUpdateRefused.h"
#include "monitor/TFormatoExecutavel.h"
#include "monitor/TReleaseSignature.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "site/TTravonHttp.h"

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

// The whole file, opened without following a link put at its name and without waiting on a pipe
// put there; raises EUpdateRefused when it is no regular file or larger than any executable of
// ours.
std::string LerArquivo(const std::string& path) {
    const uint64_t limite = TTravonHttp::kMaxFileBytes + TReleaseSignature::kTamanhoBloco;
    try {
        return platform::ReadRegularFileNoFollow(path, limite);
    } catch (const std::system_error& e) {
        if (e.code() == std::errc::too_many_symbolic_link_levels) {
            throw EUpdateRefused("o arquivo é um link simbólico");
        }
        if (e.code() == std::errc::invalid_argument) {
            throw EUpdateRefused("o arquivo não é um arquivo comum");
        }
        if (e.code() == std::errc::file_too_large) {
            throw EUpdateRefused("o arquivo passa de " +
                                 std::to_string(TTravonHttp::kMaxFileBytes >> 20) + " MB");
        }
        throw EUpdateRefused("o arquivo não pode ser lido");
    }
}

// Whether something is at the path, a link (even one that leads nowhere) included.
bool HaAlgo(const std::string& path) {
    platform::FileInfo info;
    bool link = false;
    std::error_code ec;
    return platform::LinkStatusOf(path, info, link, ec);
}

// Whether a regular file is at the path (not a link, a pipe or a folder).
bool ArquivoComum(const std::string& path) {
    platform::FileInfo info;
    bool link = false;
    std::error_code ec;
    return platform::LinkStatusOf(path, info, link, ec) && !link && info.regular;
}

// Why the folder or the executable at `path` would let someone other than this user change what
// the update installs; "" when nothing does.
std::string Exposto(const std::string& path, bool pasta) {
    const std::string nome = (pasta ? "a pasta " : "o executável ") + path;
    const std::string a = pasta ? "a" : "o";
    switch (platform::ExposureOf(path, pasta)) {
        case platform::Exposure::None:
            return {};
        case platform::Exposure::CannotExamine:
            return nome + " não pode ser examinad" + a;
        case platform::Exposure::WrongKind:
            return nome + (pasta ? " não é uma pasta" : " não é um arquivo comum");
        case platform::Exposure::OtherOwner:
            return nome + " pertence a outro usuário";
        case platform::Exposure::OthersMayWrite:
            return nome + " pode ser alterad" + a + " por outros usuários";
    }
    return nome + " não pode ser examinad" + a;
}

// The reason of a version that is not later than the running one.
std::string NaoEMaisNova(const std::string& versao, const std::string& emUso) {
    return "a versão " + versao + " não é mais nova que a " + emUso + ", em uso";
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

TMonitorUpdate::TMonitorUpdate(std::string appDir, std::string executavel, long processo)
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
    if (!SoDoUsuario(aviso)) {
        return;
    }
    // A download left waiting by an earlier check, or by an older version of this program that
    // kept unsigned ones, stays only while it may still be installed.
    const std::string pendente = PendenteInstalavel(aviso);

    const std::string site = "http://" + TServidores::Load(AppDir).Site;
    TTravonHttp http;
    http.Proxy = proxy;
    const std::string versaoSite = SemBordas(http.GetText(site + "/app/Quelvo.aspx"));
    if (!TextoDeVersao(versaoSite)) {
        return;
    }
    // Only a later version is fetched: anyone between us and the site could announce an old
    // release, whose signature still verifies.
    const std::string emUso = FileVersion(Executavel);
    if (!NewerVersion(versaoSite, emUso)) {
        if (versaoSite != emUso) {
            aviso = "Atualização " + versaoSite +
                    " disponível no site não foi baixada: " + NaoEMaisNova(versaoSite, emUso) + ".";
        }
        return;
    }
    if (pendente == versaoSite) {
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
    // What an interrupted download left, or a link someone put at its name: the download writes
    // a file of its own (and never follows a link there).
    std::error_code ec;
    fs::remove(platform::PathOf(baixando), ec);
    TTravonHttp download;
    download.Proxy = proxy;
    download.ConnectTimeout = 900000;
    download.GetFile(site + "/app/Quelvo.exe", baixando);
    // A download that came short of what the site announced, that this machine cannot run, that
    // is not signed with our release key, not of this program or not of the version announced is
    // never offered.
    try {
        const std::string anunciado = download.ResponseHeader("Content-Length");
        const auto tamanho = fs::file_size(platform::PathOf(baixando), ec);
        if (ec || (!anunciado.empty() && anunciado != std::to_string(tamanho))) {
            throw EUpdateRefused("o arquivo veio incompleto");
        }
        const std::string versaoBaixada = Conferir(baixando);
        if (versaoBaixada != versaoSite) {
            throw EUpdateRefused("o arquivo é da versão " + versaoBaixada + ", não da anunciada");
        }
    } catch (const EUpdateRefused& e) {
        fs::remove(platform::PathOf(baixando), ec);
        aviso = "Atualização " + versaoSite +
                " baixada do site foi recusada e apagada: " + e.what() + ".";
        return;
    }
    // The executable keeps its permissions when the download takes its place.
    platform::CopyPermissions(Executavel, baixando);
    std::lock_guard lock(arquivos_);
    fs::remove(platform::PathOf(CaminhoBaixado()), ec);
    fs::rename(platform::PathOf(baixando), platform::PathOf(CaminhoBaixado()));
}

std::string TMonitorUpdate::Pergunta(const std::string& versao) {
    return "Existe uma atualização desse aplicativo (versão " + versao +
           "), deseja atualizar agora ?";
}

std::string TMonitorUpdate::Conferir(const std::string& path) const {
    const std::string bytes = LerArquivo(path);
    const std::string desta = TFormatoExecutavel::IdentidadeDoArquivo(Executavel);
    if (desta.empty() || TFormatoExecutavel::Identidade(bytes) != desta ||
        !TFormatoExecutavel::Completo(bytes) || VersionInBytes(bytes).empty()) {
        throw EUpdateRefused("o arquivo não é um executável completo desta máquina com versão");
    }
    TReleaseSignature::Conferir(bytes, ChavePublica);
    // What was signed must itself be whole: the block after it is not part of the image.
    if (!TFormatoExecutavel::Completo(
            std::string_view(bytes).substr(0, bytes.size() - TReleaseSignature::kTamanhoBloco))) {
        throw EUpdateRefused("o arquivo não é um executável completo desta máquina com versão");
    }
    // The signature covers the markers: a release of our other program, signed with the same
    // key, is still not this one.
    const std::string programa = ProgramInBytes(bytes);
    const std::string emUso = FileProgram(Executavel);
    if (programa.empty()) {
        throw EUpdateRefused("o arquivo não diz de que programa é");
    }
    if (programa != emUso) {
        throw EUpdateRefused("o arquivo é do programa " + programa + ", não do " +
                             (emUso.empty() ? std::string("que está em uso") : emUso));
    }
    const std::string versao = VersionInBytes(bytes);
    const std::string versaoEmUso = FileVersion(Executavel);
    if (!NewerVersion(versao, versaoEmUso)) {
        throw EUpdateRefused(NaoEMaisNova(versao, versaoEmUso));
    }
    return versao;
}

int TMonitorUpdate::VerificarPelaLinhaDeComando(const std::string& arquivo,
                                                std::ostream& erro) const {
    try {
        Conferir(arquivo);
        return 0;
    } catch (const std::exception& e) {
        erro << "O arquivo " << arquivo << " não pode ser instalado: " << e.what() << ".\n";
    }
    return 1;
}

int TMonitorUpdate::OpcaoVerificar(const std::string& arquivo, std::ostream& erro) {
    try {
        const std::string executavel = RunningExecutable();
        const TMonitorUpdate atualizacao(
            platform::Utf8Of(platform::PathOf(executavel).parent_path()) + "/", executavel,
            platform::ProcessId());
        return atualizacao.VerificarPelaLinhaDeComando(arquivo, erro);
    } catch (const std::exception& e) {
        erro << "O arquivo " << arquivo << " não pode ser instalado: " << e.what() << ".\n";
    }
    return 1;
}

std::string TMonitorUpdate::PendenteInstalavel(std::string& aviso) const {
    std::lock_guard lock(arquivos_);
    if (!HaAlgo(CaminhoBaixado())) {
        return {};
    }
    try {
        return Conferir(CaminhoBaixado());
    } catch (const EUpdateRefused& e) {
        // Its version only when it is a file: a pipe would never answer, a link leads elsewhere.
        const std::string versao =
            ArquivoComum(CaminhoBaixado()) ? FileVersion(CaminhoBaixado()) : std::string();
        std::error_code ec;
        fs::remove(platform::PathOf(CaminhoBaixado()), ec);
        aviso = "Atualização " + (versao.empty() ? std::string() : versao + " ") +
                "baixada antes foi apagada sem ser instalada: " + e.what() + ".";
        return {};
    }
}

bool TMonitorUpdate::SoDoUsuario(std::string& aviso) const {
    std::string motivo = Exposto(AppDir, true);
    if (motivo.empty()) {
        motivo = Exposto(Executavel, false);
    }
    if (!motivo.empty()) {
        aviso = "Atualização automática desligada: " + motivo + ".";
    }
    return motivo.empty();
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
    return "#!/bin/sh\n"
           "# Instala a versão baixada do Quelvo: espera o programa terminar, faz o programa\n"
           "# conferir o arquivo baixado mais uma vez, põe o arquivo no lugar do executável e o\n"
           "# abre de novo. Um arquivo que não passa na conferência é apagado. Se o arquivo for\n"
           "# recusado ou a troca falhar, abre a versão que já estava lá.\n"
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
           "if " +
           Aspas(Executavel) + " " + kOpcaoVerificar + " " + Aspas(CaminhoBaixado()) +
           " >/dev/null 2>&1; then\n"
           "  mv -f " +
           Aspas(CaminhoBaixado()) + " " + Aspas(Executavel) +
           "\n"
           "else\n"
           "  rm -f " +
           Aspas(CaminhoBaixado()) +
           "\n"
           "fi\n"
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
        if (!HaAlgo(CaminhoBaixado())) {
            return false;
        }
        std::string aviso;
        if (!SoDoUsuario(aviso)) {
            Avisar(aviso);
            return false;
        }
        // Verified again: the file may have changed on disk since its download, and once more
        // after the answer, which may have taken hours.
        const std::string versao = PendenteInstalavel(aviso);
        if (versao.empty()) {
            Avisar(aviso);
            return false;
        }
        if (!MayOfferUpdate(hoje)) {
            return false;
        }
        const std::optional<bool> resposta = confirm(Pergunta(versao));
        if (resposta != true) {
            if (resposta == false) {
                SaveTextFile(AppDir + kNaoAtualizar, FormatShortDate(hoje));
            }
            return false;
        }
        // The user accepted that version: another one, however good, waits for the next start.
        const std::string aceita = PendenteInstalavel(aviso);
        if (aceita != versao) {
            Avisar(aviso);
            return false;
        }
        const std::string script = AppDir + kScript;
        WriteFileAtomic(script, Script(), 0700);
        // Detached from this program (a session of its own, no terminal), which ends now.
        return platform::StartDetached({"/bin/sh", script});
    } catch (...) {
        return false;
    }
}

}  // namespace quelvo
