// The DF-e client against the stand-in of the national service in the same process: 1,000
// consNSU queries by one client over one TLS connection (mutual TLS with the company's
// certificate), and the client's CPU per query. A plain program (no benchmark library), so that
// the same source runs natively and, cross-built, under Wine: tools/windows/dfe-bench.sh compares
// the two.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "TDfeStandIn.h"
#include "TestPki.h"
#include "certificates/TCertificateStore.h"
#include "dfe/TNFeClient.h"
#include "platform/Paths.h"
#include "platform/Process.h"

int main(int argc, char** argv) {
    using namespace quelvo;
    const int queries = argc > 1 ? std::stoi(argv[1]) : 1000;
    const testpki::TestPki pki;
    standin::TDfeStandIn service(pki);
    const auto dir = std::filesystem::temp_directory_path() /
                     ("quelvo-dfe-client-bench-" + std::to_string(platform::ProcessId()));
    std::filesystem::create_directories(dir / "ac-confiaveis");
    std::ofstream(dir / "ac-confiaveis" / "raiz.pem", std::ios::binary)
        << testpki::CertPem(pki.Root());
    const auto issued = pki.IssueECnpj("EMPRESA BENCH", "11222333000181");
    TCertificateStore store(platform::Utf8Of(dir / "certificados"), "");
    const std::string serial =
        store.ImportBytes(pki.Pkcs12(issued, "1234", false), "1234", "bench.pfx").SerialNumber();

    TNFeClient client;
    auto& c = client.Configuracoes;
    c.Servidores.DFeProducao = service.HostPort();
    c.PastaAcConfiaveis = platform::Utf8Of(dir / "ac-confiaveis");
    c.Certificados = TCertificadosConf(store);
    c.Certificados.SetNumeroSerie(serial);
    c.Certificados.SetSenha("1234");
    c.WebServices.Ambiente = TpcnTipoAmbiente::taProducao;
    client.RequestDistribution(35, "11222333000181", "", "0");  // warm-up: certificate, connection

    const double cpu0 = platform::ThreadCpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 1; i <= queries; ++i) {
        client.RequestDistribution(35, "11222333000181", "", std::to_string(i));
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = platform::ThreadCpuSeconds() - cpu0;
    std::printf("%d consNSU queries, one client, one connection (%ld opened):\n", queries,
                client.Services.Distribution.Transport().ConnectionsOpened());
    std::printf("  %8.1f queries/s, %7.1f us client CPU per query\n", queries / wall,
                cpu / queries * 1e6);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
