// The demo: Quelvo doing its whole job against stand-ins of the Travon site and of the national
// DF-e service on loopback. It makes a demo application folder, starts both stand-ins with demo
// certificates and documents, then drives quelvo-monitor as a user would: imports the
// certificates, logs in, registers two companies. On the console it then runs one cycle that
// uploads the new invoice summaries and a second one that finds nothing new; with --janela it
// starts the desktop program on that folder instead and keeps the stand-ins up until it ends.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "TDemoWorld.h"
#include "common/ProfileFile.h"

namespace {

using namespace quelvo;
namespace fs = std::filesystem;

void Heading(const std::string& text) {
    std::cout << "\n\033[1m== " << text << "\033[0m\n" << std::flush;
}

// Runs quelvo-monitor with the arguments, its output going to ours; returns its exit code.
int Run(const std::string& monitor, const fs::path& app, const std::vector<std::string>& args) {
    std::cout << "$ quelvo-monitor --pasta " << app.string();
    for (const auto& a : args) {
        std::cout << " " << (a.find(' ') != std::string::npos ? "'" + a + "'" : a);
    }
    std::cout << "\n" << std::flush;
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<std::string> all = {monitor, "--pasta", app.string()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::cout << "(saída " << code << ")\n" << std::flush;
    return code;
}

// Starts the desktop program from its own copy in the application folder (the program's folder
// is its executable's) and waits for it to end.
int RunWindow(const std::string& quelvo, const fs::path& app) {
    const fs::path copy = app / "quelvo";
    fs::copy_file(quelvo, copy, fs::copy_options::overwrite_existing);
    std::cout << "$ " << copy.string() << "\n" << std::flush;
    const pid_t pid = fork();
    if (pid == 0) {
        execl(copy.c_str(), copy.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string quelvo;
    if (args.size() >= 2 && args[0] == "--janela") {
        quelvo = fs::absolute(args[1]).string();
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() != 2) {
        std::cerr << "Uso: quelvo-demo [--janela CAMINHO-DO-QUELVO] CAMINHO-DO-QUELVO-MONITOR "
                     "PASTA-DA-DEMO\n";
        return 2;
    }
    const std::string monitor = fs::absolute(args[0]).string();

    Heading("Preparando a demonstração");
    demo::TDemoWorld world(fs::absolute(args[1]));
    const fs::path app = world.App();
    std::cout << "Site (stand-in):            http://" << world.Site().HostPort() << "\n"
              << "Serviço DF-e (stand-in):    https://" << world.Service().HostPort()
              << "/NFeDistribuicaoDFe/NFeDistribuicaoDFe.asmx\n";

    int failures = 0;
    Heading("Importando os certificados digitais das empresas");
    for (const auto& e : world.Empresas()) {
        failures +=
            Run(monitor, app, {"--importar-certificado", e.pfx, "--senha", e.senha}) != 0;
    }
    Run(monitor, app, {"--certificados"});

    Heading("Login no site");
    failures +=
        Run(monitor, app, {"--login", demo::TDemoWorld::kUsuario, demo::TDemoWorld::kSenha}) != 0;

    Heading("Cadastro das duas empresas (com a consulta de teste ao serviço nacional)");
    for (const auto& e : world.Empresas()) {
        failures += Run(monitor, app, {"--cadastrar", e.cnpj, e.uf, e.serie, e.senha, "--sim"}) != 0;
    }

    if (!quelvo.empty()) {
        // So the new invoices of the first cycle show their pop-up.
        TProfileFile(app.string() + "/Config.dat")
            .WriteBool("Config", "CheckMostrarNotificacao", true);
        Heading("Quelvo na janela (feche com Configurações > Finalizar Aplicação)");
        failures += RunWindow(quelvo, app) != 0;
    } else {
        Heading("Primeiro ciclo: as notas novas vão para o site (modo sequencial, o padrão: até 50 "
                "documentos por consulta, várias empresas ao mesmo tempo)");
        failures += Run(monitor, app, {"--ciclo"}) != 0;
        std::cout << "\nO site recebeu " << world.Site().Uploads().size() << " chaves:\n";
        for (const auto& u : world.Site().Uploads()) {
            std::cout << "  " << u.chNFe << " -> " << u.answer << "\n";
        }

        Heading("Segundo ciclo: nada de novo (quem leu tudo espera uma hora, como o serviço "
                "nacional pede)");
        const size_t before = world.Site().Uploads().size();
        const size_t queries = world.Service().Queries().size();
        failures += Run(monitor, app, {"--ciclo"}) != 0;
        std::cout << "\nChaves enviadas neste ciclo: " << world.Site().Uploads().size() - before
                  << "\nConsultas ao serviço nacional neste ciclo: "
                  << world.Service().Queries().size() - queries << "\n";
        failures += Run(monitor, app, {"--empresas"}) != 0;
    }

    world.Site().Server().Stop();
    world.Service().Server().Stop();
    Heading(failures == 0 ? "Demonstração concluída" : "Demonstração concluída com falhas");
    std::cout
        << "Pasta do aplicativo da demonstração: " << app.string() << "\n"
        << "(Config.dat, Empresas2.dat, Consultados.dat, ConsultadosNums.dat, Descansos.dat,\n"
           " UltimosNSU.dat, certificados/)\n";
    return failures == 0 ? 0 : 1;
}
