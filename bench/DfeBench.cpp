// The DF-e client against the stand-in of the national service on loopback: 1,000 consNSU queries
// by one client, and the same 1,000 POSTs by the curl command-line program with the same client
// certificate in one invocation (it keeps its connection across the URLs of one invocation).
// Reports queries per second and client CPU per query for both. Then the time to parse an answer
// holding 50 docZip items.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "TDfeStandIn.h"
#include "TestPki.h"
#include "certificates/TCertificateStore.h"
#include "dfe/TNFeClient.h"
#include "dfe/TRetDistDFeInt.h"
#include "dfe/XmlText.h"

namespace {

using namespace quelvo;
using Clock = std::chrono::steady_clock;

double CpuSeconds(const rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Write(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

constexpr int kQueries = 1000;

void CompareWithCurl() {
    const testpki::TestPki pki;
    standin::TDfeStandIn service(pki);
    const auto dir =
        std::filesystem::temp_directory_path() / ("quelvo-dfe-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "ac-confiaveis");
    Write(dir / "ac-confiaveis" / "raiz.pem", testpki::CertPem(pki.Root()));
    const auto issued = pki.IssueECnpj("EMPRESA BENCH", "11222333000181");
    TCertificateStore store((dir / "certificados").string());
    const std::string serial =
        store.ImportBytes(pki.Pkcs12(issued, "1234", false), "1234", "bench.pfx").SerialNumber();

    TNFeClient client;
    auto& c = client.Configuracoes;
    c.Servidores.DFeProducao = service.HostPort();
    c.PastaAcConfiaveis = (dir / "ac-confiaveis").string();
    c.Certificados = TCertificadosConf(store);
    c.Certificados.SetNumeroSerie(serial);
    c.Certificados.SetSenha("1234");
    c.WebServices.Ambiente = TpcnTipoAmbiente::taProducao;
    client.RequestDistribution(35, "11222333000181", "", "0");  // warm-up: certificate, connection

    rusage before{};
    getrusage(RUSAGE_THREAD, &before);
    auto t0 = Clock::now();
    for (int i = 1; i <= kQueries; ++i) {
        client.RequestDistribution(35, "11222333000181", "", std::to_string(i));
    }
    const double ours = std::chrono::duration<double>(Clock::now() - t0).count();
    rusage after{};
    getrusage(RUSAGE_THREAD, &after);
    const double oursCpu = CpuSeconds(after) - CpuSeconds(before);

    // The same POST bodies for curl, written once.
    const std::string envelope = service.Server().Requests().back().body;
    Write(dir / "body.xml", envelope);
    Write(dir / "cert.pem", pki.ChainPem(issued.cert.get()));
    Write(dir / "key.pem", testpki::KeyPem(issued.key.get()));
    std::string config =
        "silent\ncert = \"" + (dir / "cert.pem").string() + "\"\nkey = \"" +
        (dir / "key.pem").string() + "\"\ncacert = \"" +
        (dir / "ac-confiaveis" / "raiz.pem").string() + "\"\ndata-binary = \"@" +
        (dir / "body.xml").string() +
        "\"\nheader = \"Content-Type: application/soap+xml; charset=utf-8\"\n"
        "header = \"SOAPAction: \\\"http://www.portalfiscal.inf.br/nfe/wsdl/NFeDistribuicaoDFe/"
        "nfeDistDFeInteresse\\\"\"\n";
    const std::string url =
        "https://" + service.HostPort() + "/NFeDistribuicaoDFe/NFeDistribuicaoDFe.asmx";
    for (int i = 0; i < kQueries; ++i) {
        config += "url = \"" + url + "\"\noutput = \"/dev/null\"\n";
    }
    Write(dir / "curl.cfg", config);
    const auto connectionsBefore = service.Server().Requests().back().connection;
    t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execlp("curl", "curl", "-K", (dir / "curl.cfg").c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    rusage child{};
    wait4(pid, &status, 0, &child);
    const double theirs = std::chrono::duration<double>(Clock::now() - t0).count();
    const double theirsCpu = CpuSeconds(child);
    const int curlConnections = service.Server().Requests().back().connection - connectionsBefore;

    std::printf("DF-e queries against the stand-in on loopback, %d consNSU each:\n", kQueries);
    std::printf("  quelvo client : %8.1f queries/s, %7.1f us client CPU per query\n",
                kQueries / ours, oursCpu / kQueries * 1e6);
    std::printf(
        "  curl program  : %8.1f queries/s, %7.1f us client CPU per query (exit %d, %d "
        "connection(s))\n",
        kQueries / theirs, theirsCpu / kQueries * 1e6, WEXITSTATUS(status), curlConnections);
    std::printf("  CPU per query, quelvo / curl: %.2f (goal: at most 1.5)\n",
                (oursCpu / kQueries) / (theirsCpu / kQueries));
    std::printf("  connections opened by the quelvo client: %ld\n\n",
                client.Services.Distribution.Transport().ConnectionsOpened());
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

// The answer of a distNSU query holding 50 summaries, as the template hands it to the parser.
std::string Answer50() {
    std::string lote;
    for (int i = 1; i <= 50; ++i) {
        standin::ResumoNFe r;
        char key[64];
        std::snprintf(key, sizeof key, "352611112223330001815500100000%04d1%09d", i, i);
        r.chNFe = key;
        r.cnpjEmitente = "60746948000112";
        r.xNome = "FORNECEDOR NUMERO " + std::to_string(i) + " COMERCIO DE PECAS LTDA";
        r.ie = "110042490114";
        lote += "<docZip NSU=\"" + std::to_string(i) + "\" schema=\"resNFe_v1.01.xsd\">" +
                standin::DocZipContent(standin::ResNFeXml(r)) + "</docZip>";
    }
    return standin::TDfeStandIn::Envelope(
        "<retDistDFeInt xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.01\"><tpAmb>1"
        "</tpAmb><verAplic>1.7.6</verAplic><cStat>138</cStat><xMotivo>Documento localizado"
        "</xMotivo><dhResp>2026-12-10T12:00:00-03:00</dhResp><ultNSU>000000000000050</ultNSU>"
        "<maxNSU>000000000000050</maxNSU><loteDistDFeInt>" +
        lote + "</loteDistDFeInt></retDistDFeInt>");
}

void BM_ParseAnswerWith50DocZips(benchmark::State& state) {
    const std::string raw = Answer50();
    for (auto _ : state) {
        const std::string decoded = DecodeText(raw, true, true);
        TRetDistDFeInt ret;
        ret.Leitor.Arquivo = ElementContent(decoded, "nfeDistDFeInteresseResult");
        ret.LerXml();
        if (ret.docZip.size() != 50) {
            state.SkipWithError("wrong item count");
        }
        benchmark::DoNotOptimize(ret.docZip.back().resNFe.chNFe);
    }
    state.SetLabel(std::to_string(raw.size()) + " bytes");
}
BENCHMARK(BM_ParseAnswerWith50DocZips)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    CompareWithCurl();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
