// What accepting a self-update costs: a 30 MB executable of this machine, signed with a key made
// on the spot, checked as the update check does once per download and the offer once per start
// (ELF identity and tables, version and program markers, Ed25519 release signature over the whole
// file, read from disk), and the signature alone over the same bytes in memory. The file is this
// benchmark's own executable, with a later version in its marker, followed by bytes up to 30 MB,
// which the signature covers like code.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "common/SafeFile.h"
#include "common/Version.h"
#include "monitor/TMonitorUpdate.h"
#include "monitor/TReleaseSignature.h"
#include "support/ReleaseKey.h"

// The benchmark stands in for the desktop program, whose releases it checks.
QUELVO_PROGRAM_MARKER("quelvo");

namespace {

using namespace quelvo;

constexpr size_t kTamanho = size_t{30} << 20;

struct Download {
    Download() {
        std::filesystem::create_directories(dir);
        std::string bytes = ReadWholeFile("/proc/self/exe");
        // A later version, the length kept: one higher the last digit that is not a 9.
        const std::string marca = std::string(VersionMarkerPrefix()) + QUELVO_VERSION;
        std::string nova = marca;
        const size_t digito = nova.find_last_of("012345678");
        nova[digito] = static_cast<char>(nova[digito] + 1);
        for (size_t at = bytes.find(marca); at != std::string::npos;
             at = bytes.find(marca, at + marca.size())) {
            bytes.replace(at, marca.size(), nova);
        }
        std::mt19937_64 gerador(20);
        while (bytes.size() < kTamanho - TReleaseSignature::kTamanhoBloco) {
            const uint64_t v = gerador();
            bytes.append(reinterpret_cast<const char*>(&v), sizeof v);
        }
        bytes.resize(kTamanho - TReleaseSignature::kTamanhoBloco);
        assinado = chave.Sign(bytes);
        WriteFileAtomic(arquivo, assinado, 0755);
    }
    ~Download() { std::filesystem::remove_all(dir); }

    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("quelvo-update-bench-" + std::to_string(::getpid()));
    const std::string arquivo = (dir / "QuelvoAtualizado.exe").string();
    test::ReleaseKey chave;
    std::string assinado;
};

Download& Baixado() {
    static Download d;
    return d;
}

// Everything the check and the offer do to accept a download of 30 MB.
void BM_ConferirDownload30MB(benchmark::State& state) {
    Download& d = Baixado();
    TMonitorUpdate atualizacao(d.dir.string() + "/", "/proc/self/exe", ::getpid());
    atualizacao.ChavePublica = d.chave.PublicPem();
    for (auto _ : state) {
        atualizacao.Conferir(d.arquivo);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTamanho));
}

// The Ed25519 verification alone, the bytes already in memory.
void BM_AssinaturaNaMemoria30MB(benchmark::State& state) {
    Download& d = Baixado();
    const std::string publica = d.chave.PublicPem();
    for (auto _ : state) {
        TReleaseSignature::Conferir(d.assinado, publica);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTamanho));
}

BENCHMARK(BM_ConferirDownload30MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AssinaturaNaMemoria30MB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
