#include "cli/TMonitorCli.h"

#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <ostream>

#include <atomic>
#include <charconv>

#include "certificates/CertificateAccess.h"
#include "certificates/TCertificateStore.h"
#include "cli/THeadlessMonitor.h"
#include "common/ConsultaSequencial.h"
#include "common/LocalDoAplicativo.h"
#include "common/ProfileFile.h"
#include "common/TFolderLock.h"
#include "common/TServidores.h"
#include "common/Utils.h"
#include "common/Version.h"
#include "dfe/TTrustAnchors.h"
#include "monitor/TCadastroEmpresa.h"
#include "monitor/TConsultasParam.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "site/TProxySettings.h"
#include "site/TUsuarioLogin.h"

namespace quelvo {

namespace {

// The parsed command line: the command and its values.
struct Command {
    std::string name;                            // "--certificados", ...
    std::vector<std::string> values;             // positional values of the command
    std::map<std::string, std::string> options;  // "--senha" -> value, "--sim" -> ""
};

// How many values each command and option takes.
const std::map<std::string, size_t> kCommands = {
    {"--versao", 0},   {"--ajuda", 0}, {"--certificados", 0}, {"--importar-certificado", 1},
    {"--login", 2},    {"--ciclo", 0}, {"--continuo", 0},     {"--cadastrar", 4},
    {"--empresas", 0}, {"--modo", 1},  {"--cadeias", 0},      {"--simultaneas", 1}};
const std::map<std::string, size_t> kOptions = {{"--pasta", 1}, {"--senha", 1}, {"--sim", 0}};

// Other spellings of two commands.
const std::map<std::string, std::string> kAliases = {
    {"--help", "--ajuda"}, {"-h", "--ajuda"}, {"--version", "--versao"}};

// The value of --simultaneas: a whole number from 1 to 32, written in decimal digits alone.
std::optional<int> Simultaneas(const std::string& text) {
    int n = 0;
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc{} || p != text.data() + text.size() || n < 1 ||
        n > kConsultasSimultaneasMaximo) {
        return std::nullopt;
    }
    return n;
}

// The commands that only read the application folder: a folder that does not exist is a
// mistake in the command line, never a new empty folder.
bool OnlyReads(const std::string& command) {
    return command.empty() || command == "--ciclo" || command == "--continuo" ||
           command == "--empresas" || command == "--certificados" || command == "--cadeias";
}

// The word that, in the place of a password, reads it from standard input.
constexpr const char* kFromInput = "-";

std::atomic<bool> gStop{false};

std::optional<Command> Parse(const std::vector<std::string>& args) {
    Command cmd;
    for (size_t i = 0; i < args.size(); ++i) {
        const auto alias = kAliases.find(args[i]);
        const std::string& a = alias == kAliases.end() ? args[i] : alias->second;
        if (auto o = kOptions.find(a); o != kOptions.end()) {
            if (i + o->second >= args.size() || cmd.options.count(a)) {
                return std::nullopt;
            }
            cmd.options[a] = o->second ? args[++i] : "";
        } else if (auto c = kCommands.find(a); c != kCommands.end()) {
            if (!cmd.name.empty() || i + c->second >= args.size()) {
                return std::nullopt;
            }
            cmd.name = a;
            for (size_t k = 0; k < c->second; ++k) {
                cmd.values.push_back(args[++i]);
            }
        } else {
            return std::nullopt;
        }
    }
    return cmd;
}

}  // namespace

void TMonitorCli::PrintUsage(std::ostream& to) const {
    to << "Uso: quelvo-monitor [--pasta PASTA] COMANDO\n"
          "\n"
          "Comandos:\n"
          "  --importar-certificado ARQUIVO --senha -\n"
          "                  importa um certificado digital PKCS#12 (.pfx ou .p12) e mostra\n"
          "                  o seu número de série na última linha\n"
          "  --ciclo         (também sem comando) carrega o aplicativo, faz o login com o usuário\n"
          "                  guardado e executa um ciclo de consultas e envios; saída 3 quando o\n"
          "                  login falha\n"
          "  --continuo      o mesmo, repetido a cada intervalo até SIGINT ou SIGTERM\n"
          "                  (no Windows, Ctrl+C, Ctrl+Break ou o fechamento da janela)\n"
          "  --cadastrar CNPJ UF SERIE - [--sim]\n"
          "                  cadastra uma empresa (faz a consulta de teste); sem --sim\n"
          "                  só mostra o que cadastraria; saída 4 quando recusada\n"
          "  --empresas      lista as empresas com a situação que o último ciclo deixou (e o\n"
          "                  horário da próxima consulta de uma empresa em espera)\n"
          "  --modo sequencial|nsu\n"
          "                  guarda o modo de consulta: sequencial (até 50 documentos por\n"
          "                  consulta, a partir do último NSU lido; o padrão) ou nsu (um\n"
          "                  documento por consulta, do mais novo para o mais antigo, até 19\n"
          "                  consultas por hora)\n"
          "  --simultaneas N\n"
          "                  guarda quantas empresas um ciclo consulta ao mesmo tempo (1 a 32;\n"
          "                  o padrão é 8)\n"
          "  --certificados  lista os certificados (série, titular, vencimento e, para os que\n"
          "                  estão num token ou cartão, o nome do token)\n"
          "  --cadeias       lista as autoridades certificadoras em que a conexão com o serviço\n"
          "                  nacional confia além das do sistema: as raízes da ICP-Brasil\n"
          "                  embutidas e as da pasta ac-confiaveis (titular, vencimento,\n"
          "                  SHA-256, origem)\n"
          "  --login USUARIO -\n"
          "                  guarda o usuário e a senha do site e faz o login (saída 3 quando\n"
          "                  o site não aceita)\n"
          "  --versao, --version\n"
          "                  mostra a versão\n"
          "  --ajuda, --help, -h\n"
          "                  mostra este texto\n"
          "\n"
          "  --pasta PASTA   pasta do aplicativo (padrão: a pasta do executável; para o\n"
          "                  programa instalado pelo pacote, ~/.local/share/quelvo); os\n"
          "                  comandos que só leem (--ciclo, --continuo, --empresas,\n"
          "                  --certificados, --cadeias) recusam uma pasta que não existe\n"
          "                  (saída 2)\n"
          "\n"
          "Senhas: \"-\" no lugar de uma senha a lê da entrada padrão (uma linha, sem eco no\n"
          "terminal), e ela não aparece no ps nem no histórico do shell. A senha escrita no\n"
          "lugar do \"-\" também é aceita, mas fica visível para os outros usuários.\n";
}

int TMonitorCli::Run(const std::vector<std::string>& args) {
    auto cmd = Parse(args);
    if (!cmd) {
        PrintUsage(err_);
        return kExitUsage;
    }
    if (auto p = cmd->options.find("--pasta"); p != cmd->options.end()) {
        SetApplicationDir(p->second);
    }
    const bool hasPassword = cmd->options.count("--senha") > 0;
    const bool hasSim = cmd->options.count("--sim") > 0;
    if (hasPassword != (cmd->name == "--importar-certificado") ||
        (hasSim && cmd->name != "--cadastrar") ||
        (cmd->name == "--modo" && cmd->values[0] != "sequencial" && cmd->values[0] != "nsu") ||
        (cmd->name == "--simultaneas" && !Simultaneas(cmd->values[0]))) {
        PrintUsage(err_);
        return kExitUsage;
    }
    if (cmd->name == "--versao") {
        out_ << ProgramVersion() << "\n";
        return kExitOk;
    }
    if (cmd->name == "--ajuda") {
        PrintUsage(out_);
        return kExitOk;
    }
    if (OnlyReads(cmd->name) && cmd->options.count("--pasta") > 0) {
        std::error_code ec;
        if (!std::filesystem::is_directory(platform::PathOf(ApplicationDir()), ec)) {
            err_ << "A pasta " << cmd->options.at("--pasta") << " não existe.\n";
            return kExitUsage;
        }
    }
    // Passwords given as "-" come from standard input, never from the command line.
    std::string* password = nullptr;
    if (cmd->name == "--login") {
        password = &cmd->values[1];
    } else if (cmd->name == "--cadastrar") {
        password = &cmd->values[3];
    } else if (hasPassword) {
        password = &cmd->options.at("--senha");
    }
    if (cmd->name == "--cadeias") {
        // Only reads: served also while another program holds the folder.
        try {
            return ListAnchors();
        } catch (const std::exception& e) {
            err_ << e.what() << "\n";
            return kExitFailure;
        }
    }
    if (password && *password == kFromInput) {
        const auto read =
            ReadPassword(cmd->name == "--login" ? "Senha do site: " : "Senha do certificado: ");
        if (!read) {
            err_ << "Nenhuma senha foi lida da entrada padrão.\n";
            return kExitUsage;
        }
        *password = *read;
    }
    try {
        // One program at a time on a folder's files, for the whole run.
        CriarPastaDoAplicativo(ApplicationDir());
        const auto lock = TFolderLock::TryAcquire(ApplicationDir(), "quelvo-monitor");
        if (!lock) {
            err_ << "A pasta " << ApplicationDir() << " está em uso ("
                 << TFolderLock::Describe(TFolderLock::CurrentHolder(ApplicationDir()))
                 << "): nada foi feito.\n";
            return kExitFailure;
        }
        if (cmd->name == "--importar-certificado") {
            return ImportCertificate(cmd->values[0], cmd->options.at("--senha"));
        }
        if (cmd->name == "--login") {
            return Login(cmd->values[0], cmd->values[1]);
        }
        if (cmd->name == "--certificados") {
            return ListCertificates();
        }
        if (cmd->name == "--cadastrar") {
            return Register(cmd->values, hasSim);
        }
        if (cmd->name == "--empresas") {
            return ListCompanies();
        }
        if (cmd->name == "--modo") {
            return SetMode(cmd->values[0] == "sequencial");
        }
        if (cmd->name == "--simultaneas") {
            return SetSimultaneous(*Simultaneas(cmd->values[0]));
        }
        return Monitor(cmd->name == "--continuo");
    } catch (const std::exception& e) {
        err_ << e.what() << "\n";
        return kExitFailure;
    }
}

std::optional<std::string> TMonitorCli::ReadPassword(const std::string& prompt) {
    const bool terminal = in_.rdbuf() == std::cin.rdbuf() && platform::InputIsTerminal();
    std::string line;
    bool read = false;
    if (terminal) {
        // Echo off before the prompt shows: what is typed after it is never flushed away.
        const platform::EchoOff quiet;
        err_ << prompt << std::flush;
        read = static_cast<bool>(std::getline(in_, line));
        err_ << "\n";
    } else {
        read = static_cast<bool>(std::getline(in_, line));
    }
    if (!read && line.empty()) {
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

int TMonitorCli::ImportCertificate(const std::string& file, const std::string& password) {
    TCertificateStore store = TCertificateStore::Default();
    const TCertificate cert = store.Import(file, password);
    out_ << "Certificado importado: " << cert.SimpleName() << ", vence em "
         << FormatShortDate(cert.NotAfter()) << "\n"
         << cert.SerialNumber() << "\n";
    return kExitOk;
}

int TMonitorCli::Login(const std::string& usuario, const std::string& senha) {
    // As the login dialog does when it closes: the two texts are stored, then checked.
    TProfileFile config(ApplicationDir() + "Config.dat");
    config.WriteString("Config", "Usuario", usuario);
    config.WriteString("Config", "Senha", senha);
    TConsultasParam param;
    TProxySettings::Cancelar(config, param.Proxy);
    TUsuarioLogin login(param.Proxy.Get(), TServidores::Current());
    const TLoginResult result = login.Login(usuario, senha);
    if (result.info) {
        out_ << *result.info << "\n";
    }
    return result.outcome == TLoginResult::Outcome::LoggedIn ? kExitOk : kExitLoginFailed;
}

int TMonitorCli::Monitor(bool continuous) {
    if (continuous) {
        // From the start: a request to end that comes while loading or logging in ends the run
        // as cleanly as one that comes during a cycle.
        gStop = false;
        platform::OnStopRequest(gStop);
    }
    THeadlessMonitor monitor(ApplicationDir(), out_, err_);
    if (!monitor.Carregar()) {
        monitor.Salvar();
        return kExitFailure;
    }
    if (!monitor.Login()) {
        monitor.Salvar();
        return kExitLoginFailed;
    }
    if (continuous) {
        monitor.Continuo(gStop);
    } else {
        monitor.Ciclo();
    }
    monitor.ListarEmpresas();
    monitor.Salvar();
    // A cycle that could not record what it handled did not do its job.
    return monitor.Param().ErroGravacao.Get().empty() ? kExitOk : kExitFailure;
}

int TMonitorCli::Register(const std::vector<std::string>& values, bool yes) {
    THeadlessMonitor monitor(ApplicationDir(), out_, err_);
    if (!monitor.Carregar()) {
        return kExitFailure;
    }
    TCadastroEmpresa cadastro(monitor.Param(), monitor.Schedule().Ambiente());
    const TCadastroResultado r =
        cadastro.Confirmar(TCadastroEntrada{values[0], values[1], values[2], values[3]},
                           [yes](const std::string&) { return yes; });
    using Tipo = TCadastroResultado::Tipo;
    const std::string summary =
        r.cnpj + "\t" + r.uf + "\t" + r.nome + "\t" + r.serie + "\t" + r.vencimento + "\n";
    switch (r.tipo) {
        case Tipo::Desistiu:
            out_ << "Cadastraria (use --sim para cadastrar):\n" << summary;
            return kExitOk;
        case Tipo::Cadastrado:
            monitor.Param().Empresas.Salvar(ApplicationDir() + "Empresas2.dat");
            out_ << "Empresa cadastrada:\n" << summary;
            return kExitOk;
        default:
            err_ << r.mensagem << "\n";
            return kExitRefused;
    }
}

int TMonitorCli::ListCompanies() {
    THeadlessMonitor monitor(ApplicationDir(), out_, err_);
    if (!monitor.Carregar()) {
        return kExitFailure;
    }
    monitor.SituacoesSalvas();
    monitor.ListarEmpresas();
    return kExitOk;
}

int TMonitorCli::SetMode(bool sequencial) {
    TProfileFile config(ApplicationDir() + "Config.dat");
    GravarConsultaSequencial(config, sequencial);
    out_ << (sequencial ? "Modo de consulta: sequencial (até 50 documentos por consulta).\n"
                        : "Modo de consulta: nsu (um documento por consulta).\n");
    return kExitOk;
}

int TMonitorCli::SetSimultaneous(int simultaneas) {
    TProfileFile config(ApplicationDir() + "Config.dat");
    GravarConsultasSimultaneas(config, simultaneas);
    out_ << "Empresas consultadas ao mesmo tempo: " << simultaneas << ".\n";
    return kExitOk;
}

int TMonitorCli::ListCertificates() {
    std::string tokenProblem;
    for (const auto& choice : CertificateChoices(TCertificateStore::Default(), &tokenProblem)) {
        out_ << choice.Serie << "\t" << choice.Titular << "\t"
             << FormatShortDate(choice.Vencimento);
        if (!choice.Token.empty()) {
            out_ << "\ttoken " << choice.Token;
        }
        out_ << "\n";
    }
    if (!tokenProblem.empty()) {
        err_ << "Os tokens e cartões não foram consultados: " << tokenProblem << "\n";
    }
    return kExitOk;
}

int TMonitorCli::ListAnchors() {
    const TTrustAnchors anchors = TTrustAnchors::Load(ApplicationDir() + "ac-confiaveis/");
    out_ << "Titular\tVencimento\tSHA-256\tOrigem\n";
    for (const auto& a : anchors.Anchors()) {
        out_ << a.certificate.SimpleName() << "\t" << FormatShortDate(a.certificate.NotAfter())
             << "\t" << Sha256Fingerprint(a.certificate.Get()) << "\t"
             << (a.embutida ? "embutida no aplicativo (" + a.arquivo + ")" : a.arquivo) << "\n";
    }
    for (const auto& p : anchors.Problems()) {
        out_ << "Não lido: " << p.arquivo << " (" << p.motivo << ")\n";
    }
    return kExitOk;
}

}  // namespace quelvo
