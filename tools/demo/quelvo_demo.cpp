// The demo: Quelvo doing its whole job against stand-ins of the Travon site and of the national
// DF-e service on loopback. It makes a demo application folder, starts both stand-ins with demo
// certificates and documents, then drives quelvo-monitor as a user would: imports the
// certificates, logs in, registers two companies, runs one cycle that uploads the new invoice
// summaries and a second one that finds nothing new.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "TDfeStandIn.h"
#include "TSiteStandIn.h"
#include "TestPki.h"
#include "certificates/TCertificate.h"

namespace {

using namespace quelvo;
namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

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

std::string Chave(int n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "3526116074694800011255001%09d1%09d", n, n);
    return buf;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "Uso: quelvo-demo CAMINHO-DO-QUELVO-MONITOR PASTA-DA-DEMO\n";
        return 2;
    }
    const std::string monitor = fs::absolute(argv[1]).string();
    const fs::path root = fs::absolute(argv[2]);
    const fs::path app = root / "app";
    const fs::path certs = root / "certificados-demo";
    std::error_code ec;
    fs::remove_all(root, ec);
    fs::create_directories(app / "ac-confiaveis");
    fs::create_directories(certs);

    Heading("Preparando a demonstração");
    const testpki::TestPki pki;
    Write(app / "ac-confiaveis" / "ac-raiz-demo.pem", testpki::CertPem(pki.Root()));
    const auto a = pki.IssueECnpj("PADARIA CONCEICAO LTDA", "11222333000181");
    const auto b = pki.IssueECnpj("COMERCIO DE PECAS ACME S A", "45997418000153");
    Write(certs / "padaria.pfx", pki.Pkcs12(a, "1234", false));
    Write(certs / "acme.pfx", pki.Pkcs12(b, "abcd", true));

    standin::TSiteStandIn site;
    site.AddUser("demo@quelvo.local", "demo123", "1001");
    standin::TDfeStandIn service(pki);
    // As the national service does: 20 consNSU an hour per CNPJ, an hour between distNSU once
    // there is nothing more, distNSU in sequence; 656 otherwise.
    service.EnforceUsageRules();
    struct Doc {
        int nsu;
        const char* issuer;
        const char* amount;
    };
    // The bakery receives summaries (accents and "&" in the issuers' names), a full invoice and
    // an event; the parts dealer two summaries.
    const Doc bakery[] = {{1, "MOINHO S\xc3\x83O JO\xc3\x83O & FILHOS LTDA", "1500.00"},
                          {2, "LATIC\xc3\x8dNIOS BOA VIS\xc3\x83O S/A", "832.45"},
                          {4, "EMBALAGENS A&B COM\xc3\x89RCIO LTDA", "0.50"}};
    for (const auto& d : bakery) {
        standin::ResumoNFe r;
        r.chNFe = Chave(d.nsu);
        r.cnpjEmitente = "60746948000112";
        r.xNome = d.issuer;
        r.ie = "110042490114";
        r.vNF = d.amount;
        service.AddDocument("11222333000181", d.nsu, standin::ResNFeXml(r));
    }
    standin::ResumoNFe full;
    full.chNFe = Chave(3);
    full.cnpjEmitente = "33000167000101";
    full.xNome = "DISTRIBUIDORA DE FARINHA LTDA";
    service.AddDocument("11222333000181", 3, standin::NfeProcXml(full, "11222333000181"),
                        "procNFe_v3.10.xsd");
    service.AddDocument("11222333000181", 5, standin::ResEventoXml(Chave(1), "60746948000112"),
                        "resEvento_v1.00.xsd");
    for (int n = 1; n <= 2; ++n) {
        standin::ResumoNFe r;
        r.chNFe = Chave(100 + n);
        r.cnpjEmitente = "60746948000112";
        r.xNome = n == 1 ? "A\xc3\x87O & FERRO IND\xc3\x9aSTRIA LTDA" : "PNEUS DO SUL LTDA";
        service.AddDocument("45997418000153", n, standin::ResNFeXml(r));
    }
    Write(app / "Servidores.ini", "[Servidores]\r\nSite=" + site.HostPort() + "\r\nSiteChaves=" +
                                      site.HostPort() + "\r\nDFeProducao=" + service.HostPort() +
                                      "\r\nDFeHomologacao=" + service.HostPort() + "\r\n");
    std::cout << "Site (stand-in):            http://" << site.HostPort() << "\n"
              << "Serviço DF-e (stand-in):    https://" << service.HostPort()
              << "/NFeDistribuicaoDFe/NFeDistribuicaoDFe.asmx\n";

    int failures = 0;
    Heading("Importando os certificados digitais das empresas");
    failures +=
        Run(monitor, app,
            {"--importar-certificado", (certs / "padaria.pfx").string(), "--senha", "1234"}) != 0;
    failures +=
        Run(monitor, app,
            {"--importar-certificado", (certs / "acme.pfx").string(), "--senha", "abcd"}) != 0;
    Run(monitor, app, {"--certificados"});

    Heading("Login no site");
    failures += Run(monitor, app, {"--login", "demo@quelvo.local", "demo123"}) != 0;

    Heading("Cadastro das duas empresas (com a consulta de teste ao serviço nacional)");
    failures += Run(monitor, app,
                    {"--cadastrar", "11.222.333/0001-81", "SP", SerialNumberOf(a.cert.get()),
                     "1234", "--sim"}) != 0;
    failures += Run(monitor, app,
                    {"--cadastrar", "45.997.418/0001-53", "RS", SerialNumberOf(b.cert.get()),
                     "abcd", "--sim"}) != 0;

    Heading("Primeiro ciclo: as notas novas vão para o site");
    failures += Run(monitor, app, {"--ciclo"}) != 0;
    std::cout << "\nO site recebeu " << site.Uploads().size() << " chaves:\n";
    for (const auto& u : site.Uploads()) {
        std::cout << "  " << u.chNFe << " -> " << u.answer << "\n";
    }

    Heading("Segundo ciclo: nada de novo");
    const size_t before = site.Uploads().size();
    failures += Run(monitor, app, {"--ciclo"}) != 0;
    std::cout << "\nChaves enviadas neste ciclo: " << site.Uploads().size() - before << "\n";

    Heading("Modo sequencial: até 50 documentos por consulta, depois uma hora de espera");
    failures += Run(monitor, app, {"--modo", "sequencial"}) != 0;
    const size_t queries = service.Queries().size();
    failures += Run(monitor, app, {"--ciclo"}) != 0;
    std::cout << "\nConsultas ao serviço nacional neste ciclo: "
              << service.Queries().size() - queries << "\n";
    failures += Run(monitor, app, {"--empresas"}) != 0;

    site.Server().Stop();
    service.Server().Stop();
    Heading(failures == 0 ? "Demonstração concluída" : "Demonstração concluída com falhas");
    std::cout
        << "Pasta do aplicativo da demonstração: " << app.string() << "\n"
        << "(Config.dat, Empresas2.dat, Consultados.dat, ConsultadosNums.dat, Descansos.dat,\n"
           " UltimosNSU.dat, certificados/)\n";
    return failures == 0 ? 0 : 1;
}
