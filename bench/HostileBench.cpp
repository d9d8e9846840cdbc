// Answers a hostile or broken national server could send, and what they cost:
// - an answer of 32,000 small docZip items, parsed (goal: at most 1 s);
// - 1.6 MB of "&amp;" through the answer's entity decoding and the reader's (goal: at most 1 s
//   each);
// - a whole `quelvo-monitor --ciclo` whose first answer holds one docZip of about 1 MB that
//   inflates to 1 GiB: the cycle must end normally, the process's peak memory under 200 MB;
// - the same cycle with an answer of 32 MB, just below the limit (peak memory).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "TDfeStandIn.h"
#include "TSiteStandIn.h"
#include "TStandInServer.h"
#include "TestPki.h"
#include "dfe/Compression.h"
#include "dfe/TRetDistDFeInt.h"
#include "dfe/XmlText.h"

namespace {

using namespace quelvo;

std::string Ret(int cStat, const std::string& maxNsu, const std::string& docZips) {
    return "<retDistDFeInt xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.01\"><tpAmb>1"
           "</tpAmb><verAplic>1.7.6</verAplic><cStat>" +
           std::to_string(cStat) +
           "</cStat><xMotivo>Documento localizado</xMotivo><dhResp>2026-12-10T12:00:00-03:00"
           "</dhResp><ultNSU>" +
           maxNsu + "</ultNSU><maxNSU>" + maxNsu + "</maxNSU>" + docZips + "</retDistDFeInt>";
}

// The answer as the transport hands it over, parsed as the call template does.
TRetDistDFeInt Parse(const std::string& raw) {
    TRetDistDFeInt ret;
    ret.Leitor.Arquivo = ElementContent(DecodeText(raw, true, true), "nfeDistDFeInteresseResult");
    ret.LerXml();
    return ret;
}

void BM_ParseAnswerWith32000DocZips(benchmark::State& state) {
    standin::ResumoNFe r;
    r.chNFe = "35261111222333000181550010000000011000000011";
    r.cnpjEmitente = "60746948000112";
    r.xNome = "FORNECEDOR";
    const std::string content = standin::DocZipContent(standin::ResNFeXml(r));
    std::string lote;
    for (int i = 1; i <= 32000; ++i) {
        lote += "<docZip NSU=\"" + std::to_string(i) + "\" schema=\"resNFe_v1.01.xsd\">" + content +
                "</docZip>";
    }
    const std::string raw = standin::TDfeStandIn::Envelope(Ret(138, "32000", lote));
    for (auto _ : state) {
        const TRetDistDFeInt ret = Parse(raw);
        if (ret.docZip.size() != 32000) {
            state.SkipWithError("wrong item count");
        }
    }
    state.SetLabel(std::to_string(raw.size() / 1024) + " KiB, goal: at most 1 s");
}
BENCHMARK(BM_ParseAnswerWith32000DocZips)->Unit(benchmark::kMillisecond)->Iterations(3);

const std::string& Ampersands() {
    static const std::string text = [] {
        std::string s;
        for (int i = 0; i < 1600 * 1024 / 5; ++i) {
            s += "&amp;";
        }
        return s;
    }();
    return text;
}

void BM_AnswerEntityDecoding1_6MB(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeText(Ampersands(), true, true));
    }
    state.SetLabel("goal: at most 1 s");
}
BENCHMARK(BM_AnswerEntityDecoding1_6MB)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReaderEntityDecoding1_6MB(benchmark::State& state) {
    const std::string text = Ampersands() + "&#x41;" + Ampersands();
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeEntities(text));
    }
    state.SetLabel("3.2 MB, goal: at most 1 s");
}
BENCHMARK(BM_ReaderEntityDecoding1_6MB)->Unit(benchmark::kMillisecond)->Iterations(3);

// A gzip member of `size` zero bytes, deflated without ever holding them.
std::string ZeroBomb(size_t size) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    const std::vector<unsigned char> zeros(1 << 20, 0);
    std::vector<unsigned char> buffer(1 << 16);
    uLong crc = crc32(0L, Z_NULL, 0);
    for (size_t done = 0; done <= size;) {
        const size_t n = std::min(zeros.size(), size - done);
        const bool last = done + n == size;
        z.next_in = const_cast<unsigned char*>(zeros.data());
        z.avail_in = static_cast<uInt>(n);
        crc = crc32(crc, zeros.data(), static_cast<uInt>(n));
        do {
            z.next_out = buffer.data();
            z.avail_out = static_cast<uInt>(buffer.size());
            deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            out.append(reinterpret_cast<char*>(buffer.data()), buffer.size() - z.avail_out);
        } while (z.avail_out == 0);
        done += n;
        if (last) {
            break;
        }
    }
    deflateEnd(&z);
    for (uint32_t v : {static_cast<uint32_t>(crc), static_cast<uint32_t>(size)}) {
        for (int i = 0; i < 4; ++i) {
            out += static_cast<char>((v >> (8 * i)) & 0xFF);
        }
    }
    return out;
}

void Write(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

// Runs quelvo-monitor with the folder and arguments; its exit status, output and peak memory.
struct Run {
    int status = -1;
    std::string out;
    long peakKiB = 0;
};
Run Monitor(const std::filesystem::path& app, const std::vector<std::string>& args) {
    const auto outFile = app / "saida.txt";
    std::fflush(nullptr);  // nothing of ours may be written again by the child
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<std::string> all = {QUELVO_MONITOR, "--pasta", app.string()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::freopen(outFile.c_str(), "w", stdout);
        std::freopen(outFile.c_str(), "a", stderr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Run run;
    rusage usage{};
    int status = 0;
    wait4(pid, &status, 0, &usage);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakKiB = usage.ru_maxrss;
    std::ifstream in(outFile);
    std::stringstream text;
    text << in.rdbuf();
    run.out = text.str();
    return run;
}

// One `quelvo-monitor --ciclo` of one company whose first answer is `answer`; prints the exit
// status, the cycle's peak memory and the company's status after its turn.
void CycleAgainst(const std::string& what, const std::string& answer) {
    const testpki::TestPki pki;
    standin::TSiteStandIn site;
    site.AddUser("bench@quelvo.local", "segredo", "4242");
    std::atomic<bool> armed{false};
    const std::string nothing = standin::TDfeStandIn::Envelope(Ret(137, "0", ""));
    const auto server = pki.IssueServer();
    standin::TStandInServer::Tls tls;
    tls.certificatePem = pki.ChainPem(server.cert.get());
    tls.keyPem = testpki::KeyPem(server.key.get());
    tls.clientCaPem = testpki::CertPem(pki.Root()) + testpki::CertPem(pki.Intermediate());
    standin::TStandInServer service(
        [&](const standin::Request&) {
            return standin::Response{200, "", {}, armed ? answer : nothing};
        },
        tls);

    const auto app = std::filesystem::temp_directory_path() /
                     ("quelvo-hostile-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(app / "ac-confiaveis");
    Write(app / "ac-confiaveis" / "raiz.pem", testpki::CertPem(pki.Root()));
    Write(app / "Servidores.ini", "[Servidores]\r\nSite=" + site.HostPort() +
                                      "\r\nSiteChaves=" + site.HostPort() +
                                      "\r\nDFeProducao=" + service.HostPort() + "\r\n");
    const auto company = pki.IssueECnpj("EMPRESA HOSTIL", "11222333000181");
    Write(app / "empresa.pfx", pki.Pkcs12(company, "1234", false));
    const Run imported =
        Monitor(app, {"--importar-certificado", (app / "empresa.pfx").string(), "--senha", "1234"});
    std::string serial = imported.out.substr(0, imported.out.size() - 1);
    serial = serial.substr(serial.rfind('\n') + 1);
    const int login = Monitor(app, {"--login", "bench@quelvo.local", "segredo"}).status;
    const int registered =
        Monitor(app, {"--cadastrar", "11222333000181", "SP", serial, "1234", "--sim"}).status;
    armed = true;
    const Run cycle = Monitor(app, {"--ciclo"});

    std::printf("quelvo-monitor --ciclo, first answer: %s\n", what.c_str());
    std::printf("  import %d, login %d, registration %d, cycle exit %d\n", imported.status, login,
                registered, cycle.status);
    std::printf("  peak memory of the cycle: %.1f MB (goal: under 200 MB)\n",
                static_cast<double>(cycle.peakKiB) / 1024.0);
    // The company list the cycle printed last: the company's status after its turn, on one line.
    const size_t line = cycle.out.rfind("11.222.333/0001-81\t");
    std::string status =
        line == std::string::npos ? cycle.out : cycle.out.substr(line);  // the last company listed
    for (size_t at = status.find("\r\n"); at != std::string::npos; at = status.find("\r\n")) {
        status.replace(at, 2, " ");
    }
    while (!status.empty() && status.back() == '\n') {
        status.pop_back();
    }
    if (status.size() > 300) {
        status = status.substr(0, 300) + "...";
    }
    std::printf("  company status after the cycle: %s\n\n", status.c_str());
    std::error_code ec;
    std::filesystem::remove_all(app, ec);
}

void CycleAgainstADecompressionBomb() {
    const std::string bomb = EncodeBase64(ZeroBomb(size_t{1} << 30));
    CycleAgainst(
        "one docZip of " + std::to_string(bomb.size() / 1024) + " KiB that inflates to 1 GiB",
        standin::TDfeStandIn::Envelope(
            Ret(138, "1", "<docZip NSU=\"1\" schema=\"resNFe_v1.01.xsd\">" + bomb + "</docZip>")));
}

void CycleAgainstTheLargestAnswer() {
    // Just below the answer's limit: every copy the reading makes counts.
    const std::string padding = "<pad>" + std::string((32 << 20) - 4096, 'a') + "</pad>";
    CycleAgainst("an answer of 32 MB, just below the limit",
                 standin::TDfeStandIn::Envelope(Ret(137, "0", padding)));
}

}  // namespace

int main(int argc, char** argv) {
    CycleAgainstADecompressionBomb();
    CycleAgainstTheLargestAnswer();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
