#include "monitor/TMonitorUpdate.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "TSiteStandIn.h"
#include "common/LocalDoAplicativo.h"
#include "common/SafeFile.h"
#include "common/TextTrim.h"
#include "common/Utils.h"
#include "common/Version.h"
#include "monitor/TReleaseSignature.h"
#include "support/PeImage.h"
#include "support/ReleaseKey.h"
#include "support/TempDir.h"

namespace quelvo {
namespace {

namespace fs = std::filesystem;
using test::ReleaseKey;
using test::TempDir;

// Our release key (the one the stand-ins of our releases trust), and one that is not ours.
const ReleaseKey& Nossa() {
    return ReleaseKey::DosProgramasDeTeste();
}
const ReleaseKey& Outra() {
    static const ReleaseKey chave;
    return chave;
}

// The bytes with every version marker of `de` made one of `para` (same length).
std::string Remarcado(std::string bytes, const std::string& de, const std::string& para) {
    const std::string marca = "QUELVO-FILEVERSION=" + de;
    const std::string nova = "QUELVO-FILEVERSION=" + para;
    EXPECT_EQ(nova.size(), marca.size());
    for (size_t at = bytes.find(marca); at != std::string::npos;
         at = bytes.find(marca, at + marca.size())) {
        bytes.replace(at, marca.size(), nova);
    }
    return bytes;
}

// A small real executable of this machine with the version marker of `versao` (same length as
// this build's), of the desktop program or, with `monitor`, of the headless one.
std::string Executavel(const std::string& versao, bool outraMaquina = false, bool monitor = false) {
    std::string bytes =
        Remarcado(ReadWholeFile(monitor ? QUELVO_MONITOR_VERSIONED_STUB : QUELVO_VERSIONED_STUB),
                  QUELVO_VERSION, versao);
    if (outraMaquina) {
        bytes[18] = 0x28;  // ARM
        bytes[19] = 0;
    }
    return bytes;
}

// The bytes with the program marker made unreadable (same length).
std::string SemPrograma(std::string bytes) {
    const std::string marca = std::string("QUELVO-PROGRAMA=quelvo") + '\0';
    const size_t at = bytes.find(marca);
    EXPECT_NE(at, std::string::npos);
    bytes.replace(at, marca.size(), std::string("QUELVO-PROGRAMX=quelvo") + '\0');
    return bytes;
}

std::string Assinado(const std::string& bytes) {
    return Nossa().Sign(bytes);
}

// Where the machine code starts in the file: the entry point's offset (a 64-bit little-endian ELF,
// this machine's).
size_t NoCodigo(const std::string& elf) {
    const auto campo = [&](size_t at, int n) {
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) {
            v |= static_cast<uint64_t>(static_cast<unsigned char>(elf.at(at + i))) << (8 * i);
        }
        return v;
    };
    const uint64_t entrada = campo(24, 8);
    for (uint64_t i = 0, phoff = campo(32, 8); i < campo(56, 2); ++i) {
        const uint64_t ph = phoff + i * campo(54, 2);
        const uint64_t offset = campo(ph + 8, 8), vaddr = campo(ph + 16, 8);
        if (campo(ph, 4) == 1 && entrada >= vaddr && entrada < vaddr + campo(ph + 32, 8)) {
            return offset + (entrada - vaddr);
        }
    }
    ADD_FAILURE() << "no entry point";
    return 0;
}

std::string ByteTrocado(std::string bytes, size_t at) {
    bytes.at(at) ^= 0x01;
    return bytes;
}

// A signed file whose block's length field says `tamanho`.
std::string TamanhoDeclarado(std::string assinado, uint32_t tamanho) {
    const size_t campo = assinado.size() - TReleaseSignature::kMarca.size() - 4;
    for (size_t i = 0; i < 4; ++i) {
        assinado[campo + i] = static_cast<char>((tamanho >> (8 * i)) & 0xFF);
    }
    return assinado;
}

// An application folder (with a quote in its name, as a user may have) whose running executable
// is version 1.6.0.0, and the site's stand-in. Its updates trust our key and log here.
struct Mundo {
    Mundo() {
        fs::create_directories(dir.File("pasta d'água"));
        // The user's alone, whatever the umask: the update works only there.
        fs::permissions(dir.File("pasta d'água"), fs::perms(0755));
        app = dir.File("pasta d'água") + "/";
        WriteFileAtomic(app + "Servidores.ini", "[Servidores]\r\nSite=" + site.HostPort() + "\r\n");
        exe = app + "quelvo";
        WriteFileAtomic(exe, Executavel("1.6.0.0"), 0751);
        site.SetVersion("1.6.0.0", "");
    }
    std::unique_ptr<TMonitorUpdate> Atualizacao(pid_t processo = ::getpid()) {
        auto a = std::make_unique<TMonitorUpdate>(app, exe, processo);
        a->ChavePublica = Nossa().PublicPem();
        a->EscreveLog = [this](const std::string& linha) {
            std::lock_guard lock(mutex);
            log.push_back(linha);
        };
        return a;
    }
    int Downloads() const {
        int n = 0;
        for (const auto& r : site.Requests()) {
            n += r.path == "/app/Quelvo.exe";
        }
        return n;
    }
    bool HaBaixado() const {
        return fs::exists(fs::symlink_status(app + TMonitorUpdate::kBaixado));
    }
    std::string Pendente() const {
        return FileExists(app + TMonitorUpdate::kBaixado)
                   ? FileVersion(app + TMonitorUpdate::kBaixado)
                   : "";
    }
    // The log's lines without their date and time ("dd/mm/yyyy hh:mm:ss ").
    std::vector<std::string> Log() {
        std::lock_guard lock(mutex);
        std::vector<std::string> out;
        for (const auto& l : log) {
            EXPECT_EQ(l.find(' ', 11), 19u) << l;
            out.push_back(l.substr(std::min<size_t>(20, l.size())));
        }
        return out;
    }

    TempDir dir;
    standin::TSiteStandIn site;
    std::string app;
    std::string exe;
    std::mutex mutex;
    std::vector<std::string> log;
};

// The log's lines of a refused download, of a refused waiting file and of a version not fetched.
std::string Recusada(const std::string& versao, const std::string& motivo) {
    return "Atualização " + versao + " baixada do site foi recusada e apagada: " + motivo + ".";
}
std::string ApagadaAntes(const std::string& versao, const std::string& motivo) {
    return "Atualização " + versao + " baixada antes foi apagada sem ser instalada: " + motivo +
           ".";
}
std::string NaoBaixada(const std::string& versao, const std::string& motivo) {
    return "Atualização " + versao + " disponível no site não foi baixada: " + motivo + ".";
}
std::string NaoEMaisNova(const std::string& versao) {
    return "a versão " + versao + " não é mais nova que a 1.6.0.0, em uso";
}

TEST(MonitorUpdate, TheCheckKeepsOnlyOurSignedExecutablesForThisMachine) {
    const std::string v17 = Executavel("1.7.0.0");
    const std::string assinado17 = Assinado(v17);
    const std::string semAssinatura = "o arquivo não tem assinatura de lançamento";
    const std::string naoConfere =
        "a assinatura do arquivo não confere com a chave de lançamento deste programa";
    const std::string tamanhoErrado = "o bloco de assinatura do arquivo tem tamanho errado";
    const std::string naoExecutavel =
        "o arquivo não é um executável completo desta máquina com versão";
    const struct {
        const char* what;
        std::string versaoSite;
        std::string arquivo;
        std::string jaPendente;  // a download already waiting ("" none)
        int downloads;
        std::string pendente;  // version waiting afterwards ("" none)
        std::string log;       // the line the check leaves in the log ("" none)
    } casos[] = {
        {"same version", "1.6.0.0", Assinado(Executavel("1.6.0.0")), "", 0, "", ""},
        {"newer", "1.7.0.0\r\n", assinado17, "", 1, "1.7.0.0", ""},
        // Anyone between us and the site could announce an old release: its signature verifies.
        {"lower, never downloaded", " 1.4.0.0 ", Assinado(Executavel("1.4.0.0")), "", 0, "",
         NaoBaixada("1.4.0.0", NaoEMaisNova("1.4.0.0"))},
        {"lower, while a newer one waits", "1.5.0.0", Assinado(Executavel("1.5.0.0")), assinado17,
         0, "1.7.0.0", NaoBaixada("1.5.0.0", NaoEMaisNova("1.5.0.0"))},
        {"an older one waiting", "1.6.0.0", "", Assinado(Executavel("1.5.0.0")), 0, "",
         ApagadaAntes("1.5.0.0", NaoEMaisNova("1.5.0.0"))},
        {"the running version waiting", "1.6.0.0", "", Assinado(Executavel("1.6.0.0")), 0, "",
         ApagadaAntes("1.6.0.0", NaoEMaisNova("1.6.0.0"))},
        {"already downloaded", "1.7.0.0", assinado17, assinado17, 0, "1.7.0.0", ""},
        {"another version than the one waiting", "1.8.0.0", Assinado(Executavel("1.8.0.0")),
         assinado17, 1, "1.8.0.0", ""},
        {"an error page is no version", "<html>Erro</html>", assinado17, "", 0, "", ""},
        {"unsigned", "1.7.0.0", v17, "", 1, "", Recusada("1.7.0.0", semAssinatura)},
        {"signed with another key", "1.7.0.0", Outra().Sign(v17), "", 1, "",
         Recusada("1.7.0.0", naoConfere)},
        {"a byte of the code changed after signing", "1.7.0.0",
         ByteTrocado(assinado17, NoCodigo(assinado17) + 4), "", 1, "",
         Recusada("1.7.0.0", naoConfere)},
        {"the version marker changed after signing", "1.8.0.0",
         Remarcado(assinado17, "1.7.0.0", "1.8.0.0"), "", 1, "", Recusada("1.8.0.0", naoConfere)},
        {"a byte of the signature changed", "1.7.0.0", ByteTrocado(assinado17, v17.size() + 20), "",
         1, "", Recusada("1.7.0.0", naoConfere)},
        {"a block that says 65 bytes of signature", "1.7.0.0", TamanhoDeclarado(assinado17, 65), "",
         1, "", Recusada("1.7.0.0", tamanhoErrado)},
        {"a block with a signature one byte short", "1.7.0.0",
         assinado17.substr(0, v17.size() + 16) + assinado17.substr(v17.size() + 17), "", 1, "",
         Recusada("1.7.0.0", tamanhoErrado)},
        {"a block with a signature one byte long", "1.7.0.0",
         TamanhoDeclarado(
             assinado17.substr(0, v17.size() + 80) + "x" + assinado17.substr(v17.size() + 80), 65),
         "", 1, "", Recusada("1.7.0.0", tamanhoErrado)},
        {"signed, but not the version announced", "1.8.0.0", assinado17, "", 1, "",
         Recusada("1.8.0.0", "o arquivo é da versão 1.7.0.0, não da anunciada")},
        // Our releases of both programs are signed with the same key.
        {"a signed release of the headless program", "1.7.0.0",
         Assinado(Executavel("1.7.0.0", false, true)), "", 1, "",
         Recusada("1.7.0.0", "o arquivo é do programa quelvo-monitor, não do quelvo")},
        {"a signed release that does not say which program it is", "1.7.0.0",
         Assinado(SemPrograma(v17)), "", 1, "",
         Recusada("1.7.0.0", "o arquivo não diz de que programa é")},
        {"another machine's executable", "1.7.0.0", Assinado(Executavel("1.7.0.0", true)), "", 1,
         "", Recusada("1.7.0.0", naoExecutavel)},
        {"a Windows executable", "1.7.0.0", Assinado("MZ\x90" + std::string(600, '\0')), "", 1, "",
         Recusada("1.7.0.0", naoExecutavel)},
        {"an executable without a version marker", "1.7.0.0", Assinado(v17.substr(0, 200)), "", 1,
         "", Recusada("1.7.0.0", naoExecutavel)},
    };
    for (const auto& c : casos) {
        Mundo m;
        m.site.SetVersion(c.versaoSite, c.arquivo);
        if (!c.jaPendente.empty()) {
            WriteFileAtomic(m.app + TMonitorUpdate::kBaixado, c.jaPendente, 0755);
        }
        m.Atualizacao()->Verificar({});
        EXPECT_EQ(m.Downloads(), c.downloads) << c.what;
        EXPECT_EQ(m.Pendente(), c.pendente) << c.what;
        EXPECT_FALSE(FileExists(m.app + TMonitorUpdate::kBaixando))
            << c.what << ": a refused download stays behind";
        EXPECT_EQ(m.Log(),
                  c.log.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.log})
            << c.what;
        if (!c.pendente.empty() && c.downloads > 0) {
            struct stat st {};
            ASSERT_EQ(::stat((m.app + TMonitorUpdate::kBaixado).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0751u) << c.what << ": the executable's permissions";
        }
    }
}

// The running program decides which executables are of its machine: a Windows program takes a
// signed Windows release of itself, and refuses this machine's.
TEST(MonitorUpdate, AWindowsProgramTakesWindowsReleasesOnly) {
    const auto windows = [](const std::string& versao, const char* programa) {
        return test::PeImage(std::string(VersionMarkerPrefix()) + versao + '\0' +
                             "QUELVO-PROGRAMA=" + programa + '\0');
    };
    const struct {
        const char* what;
        std::string arquivo;
        std::string pendente;
        std::string log;
    } casos[] = {
        {"a signed Windows release", Assinado(windows("1.7.0.0", "quelvo")), "1.7.0.0", ""},
        {"a Windows release cut short", Assinado(windows("1.7.0.0", "quelvo").substr(0, 0x3FF)), "",
         Recusada("1.7.0.0", "o arquivo não é um executável completo desta máquina com versão")},
        {"a Linux release", Assinado(Executavel("1.7.0.0")), "",
         Recusada("1.7.0.0", "o arquivo não é um executável completo desta máquina com versão")},
        {"the headless program's Windows release", Assinado(windows("1.7.0.0", "quelvo-monitor")),
         "", Recusada("1.7.0.0", "o arquivo é do programa quelvo-monitor, não do quelvo")},
    };
    for (const auto& c : casos) {
        Mundo m;
        WriteFileAtomic(m.exe, windows("1.6.0.0", "quelvo"), 0751);
        m.site.SetVersion("1.7.0.0", c.arquivo);
        m.Atualizacao()->Verificar({});
        EXPECT_EQ(m.Pendente(), c.pendente) << c.what;
        EXPECT_EQ(m.Log(),
                  c.log.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.log})
            << c.what;
    }
}

TEST(MonitorUpdate, AnUnsignedDownloadOfAnOlderVersionIsDeletedAtTheNextCheck) {
    const struct {
        const char* what;
        std::string versaoSite;
        int downloads;
        std::string pendente;
    } casos[] = {
        // Before, it counted as the site's version already downloaded.
        {"the site's version", "1.7.0.0", 1, "1.7.0.0"},
        {"the site unreachable", "", 0, ""},
    };
    for (const auto& c : casos) {
        Mundo m;
        WriteFileAtomic(m.app + TMonitorUpdate::kBaixado, Executavel("1.7.0.0"), 0755);
        m.site.SetVersion(c.versaoSite, Assinado(Executavel("1.7.0.0")));
        if (c.versaoSite.empty()) {
            m.site.Server().Stop();
        }
        m.Atualizacao()->Verificar({});
        EXPECT_EQ(m.Downloads(), c.downloads) << c.what;
        EXPECT_EQ(m.Pendente(), c.pendente) << c.what;
        EXPECT_EQ(m.Log(),
                  std::vector<std::string>{
                      "Atualização 1.7.0.0 baixada antes foi apagada sem ser instalada: "
                      "o arquivo não tem assinatura de lançamento."})
            << c.what;
    }
}

TEST(MonitorUpdate, ABuildWithoutAReleaseKeyRefusesEverythingAndSaysWhyOncePerCheck) {
    const std::string semChave =
        "este programa foi compilado sem chave pública de lançamento e não aceita atualizações.";
    Mundo m;
    m.site.SetVersion("1.7.0.0", Assinado(Executavel("1.7.0.0")));
    // Even a file of ours that waits is not kept.
    WriteFileAtomic(m.app + TMonitorUpdate::kBaixado, Assinado(Executavel("1.5.0.0")), 0755);
    auto atualizacao = m.Atualizacao();
    atualizacao->ChavePublica = "";
    atualizacao->Verificar({});
    EXPECT_EQ(m.Downloads(), 0) << "nothing is downloaded to be deleted";
    EXPECT_EQ(m.Pendente(), "");
    EXPECT_EQ(m.Log(), std::vector<std::string>{
                           "Atualização 1.7.0.0 disponível no site não foi baixada: " + semChave});
    atualizacao->Verificar({});
    EXPECT_EQ(m.Log().size(), 2u) << "once per check";

    // Nothing to refuse, nothing said.
    m.site.SetVersion("1.6.0.0", "");
    atualizacao->Verificar({});
    EXPECT_EQ(m.Log().size(), 2u);

    // A file put there by other means is not offered either.
    WriteFileAtomic(m.app + TMonitorUpdate::kBaixado, Assinado(Executavel("1.7.0.0")), 0755);
    int perguntas = 0;
    EXPECT_FALSE(atualizacao->OfferUpdate(
        [&](const std::string&) {
            ++perguntas;
            return false;
        },
        TDateTime::FromDate(2026, 12, 10)));
    EXPECT_EQ(perguntas, 0);
    EXPECT_EQ(m.Pendente(), "");
    EXPECT_EQ(m.Log().back(),
              "Atualização 1.7.0.0 baixada antes foi apagada sem ser instalada: " + semChave);
}

TEST(MonitorUpdate, AnInterruptedDownloadLeavesNothingPending) {
    Mundo m;
    const std::string novo = Assinado(Executavel("1.7.0.0"));
    m.site.Script("/app/Quelvo.exe",
                  standin::Response{200, "", {}, novo, {}, false, novo.size() / 2});
    m.site.SetVersion("1.7.0.0", novo);
    m.Atualizacao()->Verificar({});
    EXPECT_EQ(m.Downloads(), 1);
    EXPECT_EQ(m.Pendente(), "");
    // Nor does an unreachable site.
    m.site.Server().Stop();
    m.Atualizacao()->Verificar({});
    EXPECT_EQ(m.Pendente(), "");
}

TEST(MonitorUpdate, TheCheckRunsOnItsOwnThread) {
    Mundo m;
    m.site.SetVersion("1.7.0.0", Assinado(Executavel("1.7.0.0")));
    auto atualizacao = m.Atualizacao();
    atualizacao->IniciarVerificacao({});
    const auto ate = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (atualizacao->Verificando() && std::chrono::steady_clock::now() < ate) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(atualizacao->Verificando());
    EXPECT_EQ(m.Pendente(), "1.7.0.0");
}

TEST(MonitorUpdate, TheOfferAndWhenItIsMade) {
    const TDateTime hoje = TDateTime::FromDate(2026, 12, 10);
    const std::string assinado17 = Assinado(Executavel("1.7.0.0"));
    enum class Como { Arquivo, Link, Pipe };
    const struct {
        const char* what;
        std::string pendente;  // the waiting file ("" none)
        Como como;             // put there as a file, or a link to a file of those bytes, or a pipe
        const char* naoAtualizar;  // "Não Atualizar.txt" (nullptr: none)
        bool pergunta;
        std::string log;  // why the file was deleted without an offer ("" it was not)
    } casos[] = {
        {"nothing downloaded", "", Como::Arquivo, nullptr, false, ""},
        {"a newer one", assinado17, Como::Arquivo, nullptr, true, ""},
        {"declined today", assinado17, Como::Arquivo, "10/12/2026\r\n", false, ""},
        {"declined yesterday", assinado17, Como::Arquivo, "09/12/2026\r\n", true, ""},
        {"a file that is not a date", assinado17, Como::Arquivo, "amanhã\r\n", true, ""},
        {"the running version", Assinado(Executavel("1.6.0.0")), Como::Arquivo, nullptr, false,
         ApagadaAntes("1.6.0.0", NaoEMaisNova("1.6.0.0"))},
        {"an older one", Assinado(Executavel("1.5.0.0")), Como::Arquivo, nullptr, false,
         ApagadaAntes("1.5.0.0", NaoEMaisNova("1.5.0.0"))},
        {"the headless program's", Assinado(Executavel("1.7.0.0", false, true)), Como::Arquivo,
         nullptr, false,
         ApagadaAntes("1.7.0.0", "o arquivo é do programa quelvo-monitor, não do quelvo")},
        {"not for this machine", Assinado(Executavel("1.7.0.0", true)), Como::Arquivo, nullptr,
         false,
         ApagadaAntes("1.7.0.0",
                      "o arquivo não é um executável completo desta máquina com versão")},
        {"an unsigned one, from an older version", Executavel("1.7.0.0"), Como::Arquivo, nullptr,
         false, ApagadaAntes("1.7.0.0", "o arquivo não tem assinatura de lançamento")},
        {"changed on disk since its download", ByteTrocado(assinado17, NoCodigo(assinado17)),
         Como::Arquivo, nullptr, false,
         ApagadaAntes("1.7.0.0",
                      "a assinatura do arquivo não confere com a chave de lançamento deste "
                      "programa")},
        // Whoever put the link there chose what it leads to, and may change it after the check.
        {"a link to a signed release", assinado17, Como::Link, nullptr, false,
         "Atualização baixada antes foi apagada sem ser instalada: o arquivo é um link "
         "simbólico."},
        {"a pipe", "", Como::Pipe, nullptr, false,
         "Atualização baixada antes foi apagada sem ser instalada: o arquivo não é um arquivo "
         "comum."},
    };
    for (const auto& c : casos) {
        Mundo m;
        const std::string baixado = m.app + TMonitorUpdate::kBaixado;
        const std::string alvo = m.dir.File("alvo");
        if (c.como == Como::Link) {
            WriteFileAtomic(alvo, c.pendente, 0755);
            fs::create_symlink(alvo, baixado);
        } else if (c.como == Como::Pipe) {
            ASSERT_EQ(::mkfifo(baixado.c_str(), 0600), 0);
        } else if (!c.pendente.empty()) {
            WriteFileAtomic(baixado, c.pendente, 0755);
        }
        if (c.naoAtualizar) {
            WriteFileAtomic(m.app + TMonitorUpdate::kNaoAtualizar, c.naoAtualizar);
        }
        std::vector<std::string> perguntas;
        EXPECT_FALSE(m.Atualizacao()->OfferUpdate(
            [&](const std::string& q) {
                perguntas.push_back(q);
                return false;
            },
            hoje))
            << c.what;
        EXPECT_EQ(perguntas.size(), c.pergunta ? 1u : 0u) << c.what;
        if (c.pergunta) {
            EXPECT_EQ(perguntas[0],
                      "Existe uma atualização desse aplicativo (versão 1.7.0.0), deseja atualizar "
                      "agora ?");
            // Declined: not again on the same day.
            EXPECT_EQ(ReadWholeFile(m.app + TMonitorUpdate::kNaoAtualizar), "10/12/2026\r\n");
            EXPECT_FALSE(m.Atualizacao()->MayOfferUpdate(hoje));
            EXPECT_TRUE(m.Atualizacao()->MayOfferUpdate(TDateTime::FromDate(2026, 12, 11)));
        }
        if (c.log.empty()) {
            EXPECT_TRUE(m.Log().empty()) << c.what;
            EXPECT_EQ(m.HaBaixado(), !c.pendente.empty()) << c.what;
        } else {
            EXPECT_EQ(m.Log(), std::vector<std::string>{c.log}) << c.what;
            EXPECT_FALSE(m.HaBaixado()) << c.what;
        }
        if (c.como == Como::Link) {
            EXPECT_EQ(ReadWholeFile(alvo), c.pendente) << c.what << ": what the link led to";
        }
    }
}

// The update is checked in one moment and installed in another: only a folder and an executable
// that nobody else can change keep what was checked the thing that runs. Elsewhere there is
// neither check nor offer, and the log says why.
TEST(MonitorUpdate, TheUpdateWorksOnlyInAFolderOfTheUserAlone) {
    const uid_t outro = 65534;  // nobody
    const struct {
        const char* what;
        fs::perms pasta;
        fs::perms executavel;
        bool pastaDeOutro;
        bool executavelDeOutro;
        std::string motivo;  // "{pasta}" and "{exe}" stand for the paths
    } casos[] = {
        {"a folder its group may write", fs::perms(0775), fs::perms(0751), false, false,
         "a pasta {pasta} pode ser alterada por outros usuários"},
        {"a folder anyone may write", fs::perms(01777), fs::perms(0751), false, false,
         "a pasta {pasta} pode ser alterada por outros usuários"},
        {"an executable its group may write", fs::perms(0755), fs::perms(0771), false, false,
         "o executável {exe} pode ser alterado por outros usuários"},
        {"an executable anyone may write", fs::perms(0755), fs::perms(0757), false, false,
         "o executável {exe} pode ser alterado por outros usuários"},
        {"another user's folder", fs::perms(0755), fs::perms(0751), true, false,
         "a pasta {pasta} pertence a outro usuário"},
        {"another user's executable", fs::perms(0755), fs::perms(0751), false, true,
         "o executável {exe} pertence a outro usuário"},
    };
    for (const auto& c : casos) {
        Mundo m;
        m.site.SetVersion("1.7.0.0", Assinado(Executavel("1.7.0.0")));
        WriteFileAtomic(m.app + TMonitorUpdate::kBaixado, Assinado(Executavel("1.8.0.0")), 0755);
        fs::permissions(m.app, c.pasta);
        fs::permissions(m.exe, c.executavel);
        if ((c.pastaDeOutro && ::chown(m.app.c_str(), outro, static_cast<gid_t>(-1)) != 0) ||
            (c.executavelDeOutro && ::chown(m.exe.c_str(), outro, static_cast<gid_t>(-1)) != 0)) {
            continue;  // only root can give a file away
        }
        std::string motivo = c.motivo;
        if (const size_t at = motivo.find("{pasta}"); at != std::string::npos) {
            motivo.replace(at, 7, m.app);
        }
        if (const size_t at = motivo.find("{exe}"); at != std::string::npos) {
            motivo.replace(at, 5, m.exe);
        }
        const std::string linha = "Atualização automática desligada: " + motivo + ".";
        auto atualizacao = m.Atualizacao();
        atualizacao->Verificar({});
        EXPECT_TRUE(m.site.Requests().empty()) << c.what;
        EXPECT_EQ(m.Log(), std::vector<std::string>{linha}) << c.what;
        bool perguntou = false;
        EXPECT_FALSE(atualizacao->OfferUpdate(
            [&](const std::string&) {
                perguntou = true;
                return false;
            },
            TDateTime::Now()))
            << c.what;
        EXPECT_FALSE(perguntou) << c.what;
        EXPECT_EQ(m.Log(), (std::vector<std::string>{linha, linha})) << c.what;
        EXPECT_FALSE(FileExists(m.app + TMonitorUpdate::kScript)) << c.what;
        // Left as it is: the folder's owner decides.
        EXPECT_EQ(m.Pendente(), "1.8.0.0") << c.what;
        fs::permissions(m.app, fs::perms(0755));
    }
}

// A link put at the name the download is written to would have the site's answer overwrite the
// file it leads to.
TEST(MonitorUpdate, TheDownloadNeverFollowsALinkAtItsName) {
    Mundo m;
    const std::string vitima = m.dir.Write("vitima", "não pode mudar");
    fs::create_symlink(vitima, m.app + TMonitorUpdate::kBaixando);
    m.site.SetVersion("1.7.0.0", Assinado(Executavel("1.7.0.0")));
    m.Atualizacao()->Verificar({});
    EXPECT_TRUE(m.dir.Read("vitima") == "não pode mudar") << "the file the link led to changed";
    EXPECT_EQ(m.Pendente(), "1.7.0.0");
    EXPECT_TRUE(m.Log().empty());
}

TEST(MonitorUpdate, AnInstalledCopyNeitherChecksNorOffers) {
    Mundo m;
    m.site.SetVersion("1.7.0.0", Assinado(Executavel("1.7.0.0")));
    // A download left from the days of a portable copy on the same folder.
    WriteFileAtomic(m.app + TMonitorUpdate::kBaixado, Assinado(Executavel("1.8.0.0")), 0755);
    // The same folder, run by the copy the package installed: the package manager updates it.
    TMonitorUpdate instalada(m.app, std::string(kPastaDosProgramas) + "/quelvo", ::getpid());
    instalada.ChavePublica = Nossa().PublicPem();
    EXPECT_FALSE(instalada.Ligada);
    instalada.Verificar({});
    instalada.IniciarVerificacao({});
    EXPECT_FALSE(instalada.Verificando());
    EXPECT_TRUE(m.site.Requests().empty());
    bool perguntou = false;
    EXPECT_FALSE(instalada.OfferUpdate(
        [&](const std::string&) {
            perguntou = true;
            return false;
        },
        TDateTime::Now()));
    EXPECT_FALSE(perguntou);
    EXPECT_FALSE(FileExists(m.app + TMonitorUpdate::kNaoAtualizar));

    // The portable copy of that folder checks as before.
    const auto portatil = m.Atualizacao();
    EXPECT_TRUE(portatil->Ligada);
    portatil->Verificar({});
    EXPECT_EQ(m.Downloads(), 1);
    EXPECT_EQ(m.Pendente(), "1.7.0.0");
}

// A process standing in for the program that ends: the installing script waits for it.
class ProgramaQueTermina {
public:
    ProgramaQueTermina() : pid_(::fork()) {
        if (pid_ == 0) {
            ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~ProgramaQueTermina() { Terminar(); }
    pid_t Pid() const { return pid_; }
    void Terminar() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_;
};

// Only a pressed "Não" keeps the offer away for the day: a question closed because the program
// ended (SIGTERM, the tray's exit, a newer copy) is asked again at the next start.
TEST(MonitorUpdate, OnlyANoDeclines) {
    const TDateTime hoje = TDateTime::FromDate(2026, 12, 10);
    const struct {
        const char* what;
        std::optional<bool> resposta;
        bool naoAtualizar;
    } casos[] = {
        {"Não", false, true},
        {"closed with no answer", std::nullopt, false},
    };
    for (const auto& c : casos) {
        Mundo m;
        WriteFileAtomic(m.app + TMonitorUpdate::kBaixado, Assinado(Executavel("1.7.0.0")), 0755);
        int perguntas = 0;
        const auto responder = [&](const std::string&) {
            ++perguntas;
            return c.resposta;
        };
        EXPECT_FALSE(m.Atualizacao()->OfferUpdate(responder, hoje)) << c.what;
        EXPECT_EQ(FileExists(m.app + TMonitorUpdate::kNaoAtualizar), c.naoAtualizar) << c.what;
        // The next start, the same day.
        EXPECT_FALSE(m.Atualizacao()->OfferUpdate(responder, hoje)) << c.what;
        EXPECT_EQ(perguntas, c.naoAtualizar ? 1 : 2) << c.what;
    }
}

TEST(MonitorUpdate, ASignedReleaseIsDownloadedOfferedAndInstalledOnceTheProgramHasEnded) {
    Mundo m;
    m.site.SetVersion("1.7.0.0", Assinado(Executavel("1.7.0.0")));
    m.Atualizacao()->Verificar({});
    ASSERT_EQ(m.Pendente(), "1.7.0.0");
    ProgramaQueTermina programa;
    const auto atualizacao = m.Atualizacao(programa.Pid());
    EXPECT_TRUE(
        atualizacao->OfferUpdate([](const std::string&) { return true; }, TDateTime::Now()));
    EXPECT_FALSE(FileExists(m.app + TMonitorUpdate::kNaoAtualizar));
    const std::string script = ReadWholeFile(m.app + TMonitorUpdate::kScript);
    EXPECT_NE(script.find("pid=" + std::to_string(programa.Pid()) + "\n"), std::string::npos);
    EXPECT_NE(script.find("mv -f '" + m.dir.File("pasta d'\\''água") + "/QuelvoAtualizado.exe' '" +
                          m.dir.File("pasta d'\\''água") + "/quelvo'"),
              std::string::npos)
        << script;
    // While the program runs, nothing is replaced.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(FileVersion(m.exe), "1.6.0.0");
    programa.Terminar();
    const auto ate = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (FileVersion(m.exe) != "1.7.0.0" && std::chrono::steady_clock::now() < ate) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(FileVersion(m.exe), "1.7.0.0");
    EXPECT_FALSE(FileExists(m.app + TMonitorUpdate::kBaixado));
    struct stat st {};
    ASSERT_EQ(::stat(m.exe.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_TRUE(m.Log().empty());
}

TEST(MonitorUpdate, TheFileIsVerifiedAgainAfterTheAnswer) {
    Mundo m;
    const std::string baixado = m.app + TMonitorUpdate::kBaixado;
    WriteFileAtomic(baixado, Assinado(Executavel("1.7.0.0")), 0755);
    ProgramaQueTermina programa;
    // The file changes while the question is on the screen.
    EXPECT_FALSE(m.Atualizacao(programa.Pid())
                     ->OfferUpdate(
                         [&](const std::string&) {
                             const std::string b = ReadWholeFile(baixado);
                             WriteFileAtomic(baixado, ByteTrocado(b, NoCodigo(b)), 0755);
                             return true;
                         },
                         TDateTime::Now()));
    EXPECT_FALSE(FileExists(m.app + TMonitorUpdate::kScript));
    EXPECT_FALSE(FileExists(baixado));
    EXPECT_EQ(m.Log(), std::vector<std::string>{
                           "Atualização 1.7.0.0 baixada antes foi apagada sem ser instalada: a "
                           "assinatura do arquivo não confere com a chave de lançamento deste "
                           "programa."});
}

// The installing script has the program check the file once more right before the move: what
// took the download's place after the answer (the script waits for the program to end) is
// deleted, and the program that was there starts again.
TEST(MonitorUpdate, TheInstallingScriptMovesOnlyAFileThatStillPassesTheCheck) {
    const std::string assinado17 = Assinado(Executavel("1.7.0.0"));
    enum class Como { Arquivo, Link };
    const struct {
        const char* what;
        std::string bytes;
        Como como;
    } casos[] = {
        {"a file changed after the answer", ByteTrocado(assinado17, NoCodigo(assinado17)),
         Como::Arquivo},
        {"an older release, signed", Assinado(Executavel("1.5.0.0")), Como::Arquivo},
        {"the headless program's release, signed", Assinado(Executavel("1.7.0.0", false, true)),
         Como::Arquivo},
        {"a link to a signed release", assinado17, Como::Link},
    };
    for (const auto& c : casos) {
        Mundo m;
        const std::string baixado = m.app + TMonitorUpdate::kBaixado;
        WriteFileAtomic(baixado, assinado17, 0755);
        ProgramaQueTermina programa;
        ASSERT_TRUE(m.Atualizacao(programa.Pid())
                        ->OfferUpdate([](const std::string&) { return true; }, TDateTime::Now()))
            << c.what;
        // The script waits for the program; meanwhile the file is replaced.
        fs::remove(baixado);
        if (c.como == Como::Link) {
            const std::string alvo = m.dir.File("alvo");
            WriteFileAtomic(alvo, c.bytes, 0755);
            fs::create_symlink(alvo, baixado);
        } else {
            WriteFileAtomic(baixado, c.bytes, 0755);
        }
        programa.Terminar();
        const auto ate = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (m.HaBaixado() && std::chrono::steady_clock::now() < ate) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_FALSE(m.HaBaixado()) << c.what << ": the refused file is deleted";
        EXPECT_EQ(FileVersion(m.exe), "1.6.0.0") << c.what;
        EXPECT_EQ(fs::symlink_status(m.exe).type(), fs::file_type::regular) << c.what;
    }
}

// `quelvo --verificar-atualizacao FILE`, as the script runs it: exit 0 for a release of this
// same program later than this one; 1 otherwise, with one line on standard error saying why.
TEST(MonitorUpdate, TheProgramChecksAFileForTheInstallingScript) {
    Mundo m;
    const std::string arquivo = m.app + "novo";
    const struct {
        const char* what;
        std::string bytes;  // "" no file
        int status;
        std::string motivo;
    } casos[] = {
        {"a later release of this program", Assinado(Executavel("1.7.0.0")), 0, ""},
        {"this very version", Assinado(Executavel("1.6.0.0")), 1, NaoEMaisNova("1.6.0.0")},
        {"an older release", Assinado(Executavel("1.5.0.0")), 1, NaoEMaisNova("1.5.0.0")},
        {"the headless program's release", Assinado(Executavel("1.7.0.0", false, true)), 1,
         "o arquivo é do programa quelvo-monitor, não do quelvo"},
        {"signed with another key", Outra().Sign(Executavel("1.7.0.0")), 1,
         "a assinatura do arquivo não confere com a chave de lançamento deste programa"},
        {"no file", "", 1, "o arquivo não pode ser lido"},
    };
    for (const auto& c : casos) {
        std::error_code ec;
        fs::remove(arquivo, ec);
        if (!c.bytes.empty()) {
            WriteFileAtomic(arquivo, c.bytes, 0755);
        }
        const std::string erros = m.dir.File("erros");
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(erros.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(fd, 2);
            ::execl(m.exe.c_str(), m.exe.c_str(), TMonitorUpdate::kOpcaoVerificar, arquivo.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = -1;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status)) << c.what;
        EXPECT_EQ(WEXITSTATUS(status), c.status) << c.what;
        EXPECT_EQ(ReadWholeFile(erros),
                  c.motivo.empty()
                      ? ""
                      : "O arquivo " + arquivo + " não pode ser instalado: " + c.motivo + ".\n")
            << c.what;
    }
}

}  // namespace
}  // namespace quelvo
