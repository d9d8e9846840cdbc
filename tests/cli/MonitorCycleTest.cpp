#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string_view>
#include <thread>

#include "common/MainSettings.h"
#include "monitor/TConsultasParam.h"
#include "monitor/TEnviosPendentes.h"
#include "monitor/TSeenList.h"
#include "monitor/TUltimosNSU.h"
#include "support/Documentos.h"
#include "support/MonitorWorld.h"
#include "support/RecordingMessageBoxes.h"

namespace quelvo {
namespace {

using test::MonitorWorld;

struct Result {
    int code;
    std::string out;
    std::string err;
};

// Starts quelvo-monitor in the world's folder with these arguments: `input` on its standard
// input, its standard output and error into "saida.txt" and "erros.txt" of the folder, and
// `environment` ("NAME=value") in place of the same variables of this process.
pid_t Spawn(MonitorWorld& w, const std::vector<std::string>& args, const std::string& input = "",
            const std::vector<std::string>& environment = {}) {
    const std::string inFile = w.dir.Write("entrada.txt", input);
    const std::string outFile = w.dir.File("saida.txt");
    const std::string errFile = w.dir.File("erros.txt");
    // Everything the child needs is made before the fork: the child only opens files and execs.
    std::vector<std::string> all = {QUELVO_MONITOR, "--pasta", w.AppDir()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> env = environment;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view variable(*e);
        const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& given) {
            return variable.substr(0, variable.find('=') + 1) ==
                   std::string_view(given).substr(0, given.find('=') + 1);
        });
        if (!replaced) {
            env.emplace_back(*e);
        }
    }
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open(inFile.c_str(), O_RDONLY);
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
            ::dup2(err, 2) < 0) {
            ::_exit(127);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

// Waits for the program's end; one that has not ended within a minute is killed (and its status
// says so), so that a program that hangs fails the test instead of holding it until ctest's
// time-out.
int WaitFor(pid_t pid) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            ADD_FAILURE() << "quelvo-monitor did not end within a minute";
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status;
}

// Runs quelvo-monitor to its end; standard output and error apart.
Result Monitor(MonitorWorld& w, const std::vector<std::string>& args,
               const std::string& input = "") {
    const int status = WaitFor(Spawn(w, args, input));
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, w.dir.Read("saida.txt"),
            w.dir.Read("erros.txt")};
}

// Waits for a condition on what a running program did, within `limit`.
bool Until(const std::function<bool()>& done,
           std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void StoreLogin(MonitorWorld& w) {
    TProfileFile config(w.dir.File("Config.dat"));
    config.WriteString("Config", "Usuario", "ana@empresa.com");
    config.WriteString("Config", "Senha", "segredo");
}

// The stored login, company A registered, and one new invoice summary for it; its key.
std::string OneNewSummary(MonitorWorld& w) {
    StoreLogin(w);
    w.Register(w.a, w.a.cnpj);
    w.param.Empresas.Salvar(w.dir.File("Empresas2.dat"));
    standin::ResumoNFe r;
    r.chNFe = "35261160746948000112550010000000011000000011";
    r.cnpjEmitente = "60746948000112";
    w.service.AddDocument(w.a.cnpj, 1, standin::ResNFeXml(r));
    return r.chNFe;
}

TEST(MonitorCycle, RegisterThenRunCycles) {
    MonitorWorld w;
    StoreLogin(w);
    for (int n = 1; n <= 3; ++n) {
        standin::ResumoNFe r;
        r.chNFe = "352611607469480001125500100000000" + std::to_string(n) + "1000000001";
        r.cnpjEmitente = "60746948000112";
        r.xNome = n == 3 ? "PADARIA S\xc3\x83O JO\xc3\x83O & CIA" : "FORNECEDOR";
        w.service.AddDocument(w.a.cnpj, n, standin::ResNFeXml(r));
    }

    auto r = Monitor(w, {"--cadastrar", "11.222.333/0001-81", "SP", w.a.serial, w.a.senha});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Cadastraria"), std::string::npos) << r.out;
    r = Monitor(w, {"--cadastrar", "11.222.333/0001-81", "ZZ", w.a.serial, w.a.senha, "--sim"});
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.err, "É necessário escolher a UF.\n");
    // The bare digits, the password from standard input: stored with the dialog's mask.
    r = Monitor(w, {"--cadastrar", "11222333000181", "SP", w.a.serial, "-", "--sim"},
                w.a.senha + "\n");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Empresa cadastrada:\n11.222.333/0001-81\tSP\tEMPRESA A LTDA\t"),
              std::string::npos)
        << r.out;
    EXPECT_NE(w.dir.Read("Empresas2.dat").find("<CNPJ>11.222.333/0001-81</CNPJ>"),
              std::string::npos);
    // The same number in either spelling is refused.
    for (const char* cnpj : {"11.222.333/0001-81", "11222333000181"}) {
        r = Monitor(w, {"--cadastrar", cnpj, "SP", w.a.serial, w.a.senha, "--sim"});
        EXPECT_EQ(r.code, 4) << cnpj;
        EXPECT_EQ(r.err, "CNPJ já cadastrado\n") << cnpj;
    }

    r = Monitor(w, {"--ciclo"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Verificando NFes emitidas para o CNPJ: 11.222.333/0001-81"),
              std::string::npos)
        << r.out;
    EXPECT_NE(
        r.out.find("Nova nota: De: PADARIA S\xc3\x83O JO\xc3\x83O & CIA Para: 11222333000181"),
        std::string::npos);
    EXPECT_NE(r.out.find("11.222.333/0001-81\tSP\tEMPRESA A LTDA\t"), std::string::npos);
    EXPECT_NE(r.out.find("\t3 novas notas foi inseridas\n"), std::string::npos) << r.out;
    EXPECT_EQ(w.site.Uploads().size(), 3u);
    // Saved as the close handler does.
    const std::string config = w.dir.Read("Config.dat");
    EXPECT_NE(config.find("N30Minutos1=1\r\nN60Minutos1=0"), std::string::npos) << config;
    EXPECT_EQ(w.dir.Read("ConsultadosNums.dat"),
              w.a.cnpj + "3\r\n" + w.a.cnpj + "2\r\n" + w.a.cnpj + "1\r\n");

    // The second cycle finds nothing new.
    r = Monitor(w, {});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("O servidor nacional da fazenda não tem novas notas"), std::string::npos);
    EXPECT_EQ(w.site.Uploads().size(), 3u);

    // The listing shows what the last cycle left.
    r = Monitor(w, {"--empresas"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("11.222.333/0001-81\tSP\tEMPRESA A LTDA\t"), std::string::npos);
    EXPECT_NE(r.out.find("\tNenhuma nova nota foi encontrada até "), std::string::npos) << r.out;

    // A refused login: exit 3, nothing queried.
    w.dir.Write("Config.dat", "[Config]\r\nUsuario=ana@empresa.com\r\nSenha=errada\r\n");
    const size_t queries = w.service.Queries().size();
    r = Monitor(w, {"--ciclo"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(w.service.Queries().size(), queries);
}

// A company blocked by the national service stays untouched across runs of the program, and the
// listing says until when; the query mode is a stored setting.
TEST(MonitorCycle, RestsAcrossRunsListingAndQueryMode) {
    MonitorWorld w;
    StoreLogin(w);
    w.service.EnforceUsageRules(std::chrono::hours(1));
    const auto expired =
        w.AddCompany("VENCIDA LTDA", "60746948000112", "v", false, testpki::Validity::Expired());
    w.Register(w.a, w.a.cnpj);
    w.Register(w.b, w.b.cnpj);
    w.Register(expired, expired.cnpj);
    w.param.Empresas.Salvar(w.dir.File("Empresas2.dat"));
    for (int n = 1; n <= 25; ++n) {
        standin::ResumoNFe r;
        r.chNFe = "3526116074694800011255001" + std::to_string(100000000 + n) + "1000000001";
        r.cnpjEmitente = "60746948000112";
        r.xNome = "FORNECEDOR";
        w.service.AddDocument(w.a.cnpj, n, standin::ResNFeXml(r));
    }
    // Another program used up the CNPJ's hour: the service blocks it at NSU 20.
    w.service.ScriptQuery(w.a.cnpj, 20,
                          {standin::TDfeStandIn::Script::Kind::Status, 656,
                           standin::TDfeStandIn::kMotivoLimiteConsultas});

    auto r = Monitor(w, {"--ciclo"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Consumo indevido para o CNPJ: " + w.a.cnpj + " (656 - "),
              std::string::npos)
        << r.out;
    EXPECT_EQ(w.QueriedNsus(w.a.cnpj), (std::vector<long long>{0, 25, 24, 23, 22, 21, 20}));

    // Another run: not a single query for the blocked CNPJ.
    r = Monitor(w, {"--ciclo"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(w.QueriedNsus(w.a.cnpj).size(), 7u);
    EXPECT_EQ(w.service.UsageOf(w.a.cnpj).duringBlock, 0);

    r = Monitor(w, {"--empresas"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find(w.a.cnpj + "\tSP\tEMPRESA A LTDA\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\tConsumo indevido: nova consulta após "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\tNenhuma nova nota foi encontrada até "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\tVENCIDA LTDA\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\tCertificado vencido\n"), std::string::npos) << r.out;

    for (const auto& [modo, value] :
         std::vector<std::pair<std::string, std::string>>{{"nsu", "0"}, {"sequencial", "1"}}) {
        r = Monitor(w, {"--modo", modo});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_NE(w.dir.Read("Config.dat").find("ConsultaSequencial=" + value + "\r\n"),
                  std::string::npos);
    }
    EXPECT_EQ(Monitor(w, {"--modo", "rapido"}).code, 2);
    EXPECT_EQ(Monitor(w, {"--modo"}).code, 2);

    // The sequential mode asks with distNSU.
    w.service.ClearQueries();
    r = Monitor(w, {"--ciclo"});
    EXPECT_EQ(r.code, 0) << r.err;
    const auto queries = w.service.Queries();
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0].cnpj, w.b.cnpj);
    EXPECT_EQ(queries[0].ultNSU, "000000000000000");
    EXPECT_EQ(TUltimosNSU(w.AppDir()).Ler(w.b.cnpj), 0);
}

TEST(MonitorCycle, EachLogEntryIsOnePlainLine) {
    // What the journal or a pipe gets: a site answer with a line break and a terminal's escape
    // sequence stays on its entry's line, without the control characters.
    MonitorWorld w;
    const std::string chNFe = OneNewSummary(w);
    w.site.ScriptUpload(chNFe, standin::Response{200, "", {}, "Recusada\r\nlinha 2\x1b[2J"});
    const auto run = Monitor(w, {"--ciclo"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(
        run.out.find(" Erro ao inserir a chave " + chNFe + " Descrição: Recusada linha 2[2J\n"),
        std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find_first_of("\r\x1b"), std::string::npos) << run.out;
}

TEST(MonitorCycle, WhatItKeepsIsReadableByItsOwnerOnly) {
    // A portable folder unpacked 0755 and a umask that lets everyone read: once the program has
    // started on it, no other user reads the folder or anything the cycle wrote in it.
    MonitorWorld w;
    const std::string chNFe = OneNewSummary(w);
    const test::Umask umask(022);
    ::chmod(w.AppDir().c_str(), 0755);
    std::set<std::string> antes;
    for (const auto& e : std::filesystem::recursive_directory_iterator(w.AppDir())) {
        antes.insert(e.path().string());
    }
    // In the user's home, as a portable folder is (root leaves its folders elsewhere alone).
    const int status = WaitFor(Spawn(w, {"--ciclo"}, "", {"HOME=" + w.dir.path().string()}));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << w.dir.Read("erros.txt");
    ASSERT_EQ(w.site.Uploads().size(), 1u);
    EXPECT_EQ(test::ModeOf(w.AppDir()), "700");
    std::set<std::string> novos;
    for (const auto& e : std::filesystem::recursive_directory_iterator(w.AppDir())) {
        const std::string nome = e.path().filename().string();
        if (e.is_regular_file() && antes.count(e.path().string()) == 0 && nome != "entrada.txt") {
            novos.insert(nome);
            EXPECT_EQ(test::ModeOf(e.path().string()), "600") << nome;
        }
    }
    // Both seen-lists among them: the whole-file save and the appends of the turn.
    EXPECT_EQ(novos.count("ConsultadosNums.dat"), 1u);
    EXPECT_EQ(novos.count("Consultados.dat"), 1u);
    EXPECT_NE(w.dir.Read("Consultados.dat").find(chNFe), std::string::npos);
}

// "--continuo" ends on SIGTERM (the service manager) and on SIGINT (Ctrl+C) alike: whether the
// request comes while the program still logs in, during a cycle or between cycles, it saves and
// exits 0, ended by itself rather than by the signal, and starts no query after the request.
TEST(MonitorCycle, ContinuousEndsCleanlyOnSigtermAndSigint) {
    enum class Moment { LoggingIn, InACycle, BetweenCycles };
    const struct {
        const char* what;
        int signal;
        Moment moment;
    } cases[] = {
        {"SIGTERM while logging in", SIGTERM, Moment::LoggingIn},
        {"SIGTERM during a query", SIGTERM, Moment::InACycle},
        {"SIGTERM between cycles", SIGTERM, Moment::BetweenCycles},
        {"SIGINT during a query", SIGINT, Moment::InACycle},
        {"SIGINT between cycles", SIGINT, Moment::BetweenCycles},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MonitorWorld w;
        StoreLogin(w);
        w.Register(w.a, w.a.cnpj);
        w.param.Empresas.Salvar(w.dir.File("Empresas2.dat"));
        // The site or the service takes its time to answer: the signal comes meanwhile.
        if (c.moment == Moment::LoggingIn) {
            w.site.Script("/usuario/comandos.aspx?t=login&usuario=ana@empresa.com&senha=segredo",
                          standin::Response{200, "", {}, "OK", std::chrono::milliseconds(700)});
        } else if (c.moment == Moment::InACycle) {
            w.service.SetDelay(std::chrono::milliseconds(700));
        }
        const pid_t pid = Spawn(w, {"--continuo"});
        const bool reached = Until([&] {
            switch (c.moment) {
                case Moment::LoggingIn:
                    return !w.site.Requests().empty();
                case Moment::InACycle:
                    return !w.service.Queries().empty();
                case Moment::BetweenCycles:
                    break;
            }
            return w.dir.Read("saida.txt").find("Esperando 30 minutos") != std::string::npos;
        });
        const size_t queries = w.service.Queries().size();
        ::kill(pid, c.signal);
        const int status = WaitFor(pid);
        ASSERT_TRUE(reached);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal itself";
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(queries, c.moment == Moment::LoggingIn ? 0u : 1u);
        EXPECT_EQ(w.service.Queries().size(), queries);  // nothing asked after the request
        EXPECT_NE(w.dir.Read("Config.dat").find("N60Minutos1=0"), std::string::npos);  // saved
    }
}

TEST(MonitorCycle, ACycleThatCannotRecordUploadsNothingAndSaysSo) {
    MonitorWorld w;
    OneNewSummary(w);
    // The seen-lists cannot be replaced (as in a folder made read-only, or on a full disk).
    std::filesystem::create_directory(w.dir.File("ConsultadosNums.dat"));
    const auto run = Monitor(w, {"--ciclo"});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(w.site.Uploads().empty());
    EXPECT_TRUE(w.service.Queries().empty());
    EXPECT_EQ(run.err.rfind("Não foi possível gravar as listas de notas já enviadas (" +
                                w.dir.File("ConsultadosNums.dat"),
                            0),
              0u)
        << run.err;
    EXPECT_NE(run.out.find("Não foi possível gravar as listas"), std::string::npos) << run.out;
}

// The leftovers of an interrupted write in the folder: ".<name>.XXXXXX".
std::vector<std::string> Temporaries(const MonitorWorld& w) {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(w.dir.path())) {
        const std::string name = entry.path().filename().string();
        if (name.front() == '.') {
            out.push_back(name);
        }
    }
    return out;
}

// The keys the site accepted as new ("OK"), in order.
std::vector<std::string> Accepted(const MonitorWorld& w) {
    std::vector<std::string> out;
    for (const auto& u : w.site.Uploads()) {
        if (u.answer == "OK") {
            out.push_back(u.chNFe);
        }
    }
    return out;
}

// The LD_PRELOAD value that adds the crash shim to what this process preloads itself.
std::string WithCrashShim() {
    const char* preloaded = std::getenv("LD_PRELOAD");
    return "LD_PRELOAD=" + std::string(QUELVO_TEST_CRASH_SHIM) +
           (preloaded ? std::string(":") + preloaded : "");
}

// Killed in the middle of a write, the program loses nothing. Each round ends quelvo-monitor at
// a chosen rename onto a kept file: the new content complete in its temporary file, the kept
// file not yet replaced (the moment a crash or a power cut costs most). A round shows that it
// worked until then (queries made) and that the kill landed inside that write (its temporary
// file is there); whatever it left, every file loads, and the next start clears the leftovers.
// The points are chosen where the state moves on, in both query modes: in sequential mode after
// the summaries read were written down as pending and before the stored ultNSU moves past them,
// and the other way round. Once a run goes to its end, every summary is at the site, accepted
// exactly once, and nothing waits any more.
TEST(MonitorCycle, KilledInTheMiddleOfAWriteLosesNothing) {
    struct Kill {
        const char* file;
        int nth;              // the nth rename onto that file in the round's run
        bool append = false;  // the nth opening for appending, killed in the middle of the write
    };
    const struct {
        const char* modo;
        int summariesOfA;
        std::vector<Kill> kills;
    } cases[] = {
        {"nsu",
         5,
         {
             {"Descansos.dat", 4, true},  // during A's walk, while the next query is counted
             {"Consultados.dat", 2},      // between the two seen-lists, after A's turn
             {"ConsultadosNums.dat", 3},  // after B's turn
             {"Config.dat", 1},           // the save at the end of the run
         }},
        {"sequencial",
         120,  // three answers of 50, 50 and 20 summaries
         {
             // The first answer's summaries being written as pending.
             {"EnviosPendentes.dat", 1, true},
             // Written as pending, the ultNSU being moved.
             {"UltimosNSU.dat", 1, true},
             // The second answer's uploads done, not yet cleared.
             {"EnviosPendentes.dat", 2},
             // A has read everything: its rest being written.
             {"Descansos.dat", 1, true},
             {"ConsultadosNums.dat", 3},  // after B's turn
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.modo);
        MonitorWorld w;
        StoreLogin(w);
        w.Register(w.a, w.a.cnpj);
        w.Register(w.b, w.b.cnpj);
        w.param.Empresas.Salvar(w.dir.File("Empresas2.dat"));
        std::set<std::string> all;
        for (int n = 1; n <= c.summariesOfA; ++n) {
            w.service.AddDocument(w.a.cnpj, n, standin::ResNFeXml(test::Resumo(n)));
            all.insert(test::Chave(n));
        }
        for (int n = 1; n <= 3; ++n) {
            w.service.AddDocument(w.b.cnpj, n, standin::ResNFeXml(test::Resumo(1000 + n)));
            all.insert(test::Chave(1000 + n));
        }
        ASSERT_EQ(Monitor(w, {"--modo", c.modo}).code, 0);

        for (const auto& kill : c.kills) {
            const std::string at = std::string(kill.file) + ":" + std::to_string(kill.nth);
            SCOPED_TRACE(at);
            const size_t queries = w.service.Queries().size();
            const std::string variable =
                kill.append ? "QUELVO_TEST_KILL_AT_APPEND=" : "QUELVO_TEST_KILL_AT_RENAME=";
            const int status = WaitFor(Spawn(w, {"--ciclo"}, "", {WithCrashShim(), variable + at}));
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
                << "the run ended before that write: " << w.dir.Read("saida.txt");
            EXPECT_GT(w.service.Queries().size(), queries) << "nothing done before the kill";
            const auto left = Temporaries(w);
            if (kill.append) {
                // The file ends with a line cut short; the round's start cleared any leftover.
                const std::string bytes = w.dir.Read(kill.file);
                ASSERT_FALSE(bytes.empty());
                EXPECT_NE(bytes.back(), '\n');
                EXPECT_TRUE(left.empty());
            } else {
                // The kill's own leftover only: the round's start cleared the one before.
                ASSERT_EQ(left.size(), 1u);
                EXPECT_EQ(left[0].rfind(std::string(".") + kill.file + ".", 0), 0u) << left[0];
            }
            if (std::string(c.modo) == "sequencial" && kill.file == std::string("UltimosNSU.dat")) {
                // The summaries read are on disk before the ultNSU moves past them: those of the
                // first answer the site has not taken yet are all pending.
                EXPECT_EQ(TUltimosNSU(w.AppDir()).Ler(w.a.cnpj), 0);
                const auto accepted = Accepted(w);
                const auto taken =
                    std::count_if(accepted.begin(), accepted.end(), [](const auto& k) {
                        for (int n = 1; n <= 50; ++n) {
                            if (k == test::Chave(n)) {
                                return true;
                            }
                        }
                        return false;
                    });
                EXPECT_EQ(
                    TEnviosPendentes(w.AppDir()).Quantos(w.a.cnpj) + static_cast<size_t>(taken),
                    50u);
            }

            // What the kill left loads whole.
            test::ScopedMessageBoxes boxes;
            TConsultasParam back;
            back.Empresas.Carregar(w.dir.File("Empresas2.dat"));
            EXPECT_EQ(back.Empresas.Quantidade(), 2);
            EXPECT_TRUE(boxes->All().empty());
            // (Read as they are: the leftover stays for the program's next start to clear.)
            for (const char* file : {"Consultados.dat", "ConsultadosNums.dat"}) {
                if (std::filesystem::exists(w.dir.File(file))) {
                    EXPECT_NO_THROW(TSeenList().LoadFromFile(w.dir.File(file))) << file;
                }
            }
            EXPECT_EQ(TProfileFile(w.dir.File("Config.dat")).ReadString("Config", "Senha"),
                      "segredo");
            for (const char* file : {"UltimosNSU.dat", "EnviosPendentes.dat", "Descansos.dat"}) {
                EXPECT_TRUE(w.dir.Named(std::string(file) + ".danificado").empty()) << file;
            }
        }

        // A run to its end (a second one finds nothing more to do).
        for (int run = 0; run < 2; ++run) {
            const auto r = Monitor(w, {"--ciclo"});
            EXPECT_EQ(r.code, 0) << r.err;
        }
        const auto accepted = Accepted(w);
        EXPECT_EQ(std::set<std::string>(accepted.begin(), accepted.end()), all);
        EXPECT_EQ(accepted.size(), all.size());
        EXPECT_EQ(TEnviosPendentes(w.AppDir()).Quantos(w.a.cnpj), 0u);
        EXPECT_TRUE(Temporaries(w).empty());
        TConsultasParam back;
        back.CarregarListas(w.AppDir());
        for (const auto* list : {&back.Consultados, &back.ConsultadosNums}) {
            const auto entries = list->Entries();
            EXPECT_EQ(std::set<std::string>(entries.begin(), entries.end()).size(), entries.size())
                << "an entry recorded twice";
        }
    }
}

// What of the folder's files is on the disk, kept by the crash shim in a folder of its own: a
// program that ended cleanly left it all there.
class DurableCopies {
public:
    explicit DurableCopies(const MonitorWorld& w) : w_(w) {
        for (const auto& entry : std::filesystem::directory_iterator(w.dir.path())) {
            if (entry.is_regular_file()) {
                std::filesystem::copy_file(entry.path(), dir_.path() / entry.path().filename());
            }
        }
    }
    std::string Variable() const { return "QUELVO_TEST_DURABLE_DIR=" + dir_.path().string(); }

    // The power cut: every file of the folder goes back to what had reached the disk (nothing,
    // for a file never flushed), but those in `written`, which the kernel happened to write.
    void PowerCut(const std::set<std::string>& written) const {
        for (const auto& entry : std::filesystem::directory_iterator(w_.dir.path())) {
            const std::string name = entry.path().filename().string();
            if (!entry.is_regular_file() || written.count(name) > 0 ||
                name.find(".txt") != std::string::npos) {
                continue;  // (the test's own files: "saida.txt", ...)
            }
            const auto copy = dir_.path() / name;
            if (std::filesystem::exists(copy)) {
                std::filesystem::copy_file(copy, entry.path(),
                                           std::filesystem::copy_options::overwrite_existing);
            } else {
                std::filesystem::remove(entry.path());
            }
        }
    }

private:
    const MonitorWorld& w_;
    test::TempDir dir_;
};

// How many consNSU of the CNPJ the budget in "Descansos.dat" counts.
size_t CountedQueries(const MonitorWorld& w, const std::string& cnpj) {
    if (!std::filesystem::exists(w.dir.File("Descansos.dat"))) {
        return 0;
    }
    size_t n = 0;
    std::stringstream lines(w.dir.Read("Descansos.dat"));
    for (std::string line; std::getline(lines, line);) {
        const size_t campo = line.rfind(';');
        if (line.rfind(cnpj + ";", 0) == 0 && campo != std::string::npos &&
            campo + 2 < line.size()) {
            n = static_cast<size_t>(std::count(line.begin() + campo, line.end(), ',')) + 1;
        }
    }
    return n;
}

// A power cut keeps what was flushed and, of what was only written, whatever the kernel happened
// to write: anything a later write or request depends on must be flushed before it. In sequential
// mode the summaries read are on the disk before the stored ultNSU moves past them (the cut comes
// just after that move reached the disk); in the one-NSU walk, before a query goes out, the query
// is counted in the budget on the disk and what the site took is recorded there (the cut comes
// while that query is in flight). Every summary then reaches the site exactly once.
TEST(MonitorCycle, APowerCutKeepsWhatALaterWriteDependsOn) {
    for (const bool sequencial : {true, false}) {
        SCOPED_TRACE(sequencial ? "sequencial" : "nsu");
        MonitorWorld w;
        StoreLogin(w);
        w.SetQuerySettings(sequencial, 1);
        w.Register(w.a, w.a.cnpj);
        w.param.Empresas.Salvar(w.dir.File("Empresas2.dat"));
        const int summaries = sequencial ? 120 : 8;  // three answers of 50, 50 and 20
        std::set<std::string> all;
        for (int n = 1; n <= summaries; ++n) {
            w.service.AddDocument(w.a.cnpj, n, standin::ResNFeXml(test::Resumo(n)));
            all.insert(test::Chave(n));
        }
        const DurableCopies durable(w);
        if (sequencial) {
            const int status = WaitFor(Spawn(w, {"--ciclo"}, "",
                                             {WithCrashShim(), durable.Variable(),
                                              "QUELVO_TEST_KILL_AFTER_APPEND=UltimosNSU.dat:1"}));
            ASSERT_TRUE(WIFSIGNALED(status)) << w.dir.Read("saida.txt");
            durable.PowerCut({"UltimosNSU.dat"});
            ASSERT_EQ(TUltimosNSU(w.AppDir()).Ler(w.a.cnpj), 50);
            // The first answer's summaries: none at the site yet, so all of them wait.
            EXPECT_TRUE(Accepted(w).empty());
            EXPECT_EQ(TEnviosPendentes(w.AppDir()).Quantos(w.a.cnpj), 50u);
        } else {
            // The walk goes from NSU 8 down: 0, 8, 7, 6 answered and uploaded, 5 in flight.
            w.service.ScriptQuery(
                w.a.cnpj, 5,
                standin::TDfeStandIn::Script{standin::TDfeStandIn::Script::Kind::Held});
            const pid_t pid = Spawn(w, {"--ciclo"}, "", {WithCrashShim(), durable.Variable()});
            const auto queries = [&] { return w.service.Queries().size(); };
            const bool reached = Until([&] { return queries() == 5; });
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            w.service.Release();
            ASSERT_TRUE(reached) << queries();
            durable.PowerCut({});
            EXPECT_GE(CountedQueries(w, w.a.cnpj), 5u);
            const auto accepted = Accepted(w);
            ASSERT_EQ(accepted.size(), 3u);
            TSeenList consultados;
            if (std::filesystem::exists(w.dir.File("Consultados.dat"))) {
                consultados.LoadFromFile(w.dir.File("Consultados.dat"));
            }
            for (const auto& chave : accepted) {
                EXPECT_TRUE(consultados.Contains(chave)) << chave;
            }
        }

        for (int run = 0; run < 2; ++run) {
            const auto r = Monitor(w, {"--ciclo"});
            EXPECT_EQ(r.code, 0) << r.err;
        }
        const auto accepted = Accepted(w);
        EXPECT_EQ(std::set<std::string>(accepted.begin(), accepted.end()), all);
        EXPECT_EQ(accepted.size(), all.size()) << "a summary sent twice";
        EXPECT_EQ(w.site.Uploads().size(), all.size()) << "a summary sent twice";
    }
}

// A cycle whose turns cannot all have a thread (a limit of tasks) goes on with those that started,
// or on its own thread when none did, and says why; every company is handled and the program
// ends normally.
TEST(MonitorCycle, TurnsThatCannotStartLeaveTheCycleToTheOthers) {
    const struct {
        int failFrom;  // the first turn whose thread the system refuses
        const char* said;
    } cases[] = {
        {3, "o ciclo continua com 2 consultas ao mesmo tempo."},
        {1, "o ciclo continua com 1 consulta de cada vez."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failFrom);
        MonitorWorld w;
        StoreLogin(w);
        w.SetQuerySettings(true, 4);
        const char* cnpjs[] = {"11222333000181", "45997418000153", "33000167000101",
                               "60746948000112", "07526557000100", "33592510000154"};
        std::set<std::string> all;
        for (int i = 0; i < static_cast<int>(std::size(cnpjs)); ++i) {
            w.Register(w.a, cnpjs[i]);  // one certificate may serve several companies
            w.service.AddDocument(cnpjs[i], 1, standin::ResNFeXml(test::Resumo(i + 1)));
            all.insert(test::Chave(i + 1));
        }
        w.param.Empresas.Salvar(w.dir.File("Empresas2.dat"));
        const int status = WaitFor(
            Spawn(w, {"--ciclo"}, "",
                  {WithCrashShim(), "QUELVO_TEST_FAIL_THREADS=" + std::to_string(c.failFrom)}));
        const std::string out = w.dir.Read("saida.txt");
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n" << out;
        EXPECT_EQ(WEXITSTATUS(status), 0) << out;
        EXPECT_NE(out.find("Não foi possível iniciar mais consultas ao mesmo tempo ("),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find(c.said), std::string::npos) << out;
        const auto accepted = Accepted(w);
        EXPECT_EQ(std::set<std::string>(accepted.begin(), accepted.end()), all);
    }
}

// Every upload the site took is on disk before the next request: a SIGKILL while an upload is
// in flight repeats that one upload and no other, in both query modes.
TEST(MonitorCycle, AnUploadTheSiteTookSurvivesAKill) {
    for (const bool sequencial : {false, true}) {
        MonitorWorld w;
        StoreLogin(w);
        w.SetQuerySettings(sequencial, 1);
        w.Register(w.a, w.a.cnpj);
        w.param.Empresas.Salvar(w.dir.File("Empresas2.dat"));
        std::vector<std::string> chaves;
        for (int n = 1; n <= 8; ++n) {
            standin::ResumoNFe r;
            r.chNFe = "3526116074694800011255001" + std::to_string(100000000 + n) + "1000000001";
            r.cnpjEmitente = "60746948000112";
            w.service.AddDocument(w.a.cnpj, n, standin::ResNFeXml(r));
            chaves.push_back(r.chNFe);
        }
        // The site takes the fifth upload and never answers it.
        const std::string presa = chaves[4];
        w.site.ScriptUpload(presa, standin::Response{200, "", {}, "OK", std::chrono::minutes(5)});
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::freopen(w.dir.File("saida.txt").c_str(), "w", stdout);
            ::execl(QUELVO_MONITOR, QUELVO_MONITOR, "--pasta", w.AppDir().c_str(), "--ciclo",
                    nullptr);
            ::_exit(127);
        }
        const auto chegou = [&] {
            for (const auto& u : w.site.Uploads()) {
                if (u.chNFe == presa) {
                    return true;
                }
            }
            return false;
        };
        const auto ate = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!chegou() && std::chrono::steady_clock::now() < ate) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ASSERT_TRUE(chegou()) << sequencial;
        // The walk goes from NSU 8 down, the sequential reading from 1 up.
        const auto antes = w.site.Uploads();
        ASSERT_EQ(antes.size(), sequencial ? 5u : 4u) << sequencial;
        // The answered uploads are in both seen-lists on disk.
        TSeenList nums, consultados;
        nums.LoadFromFile(w.dir.File("ConsultadosNums.dat"));
        consultados.LoadFromFile(w.dir.File("Consultados.dat"));
        for (size_t i = 0; i + 1 < antes.size(); ++i) {
            EXPECT_TRUE(consultados.Contains(antes[i].chNFe)) << sequencial << " " << i;
        }
        EXPECT_EQ(nums.Count(), antes.size() - 1) << sequencial;
        EXPECT_FALSE(consultados.Contains(presa)) << sequencial;

        // The next run: the one in flight again, and the three never sent; nothing else.
        w.site.ClearScripts();
        EXPECT_EQ(Monitor(w, {"--ciclo"}).code, 0);
        std::map<std::string, int> vezes;
        for (const auto& u : w.site.Uploads()) {
            ++vezes[u.chNFe];
        }
        for (const auto& chave : chaves) {
            EXPECT_EQ(vezes[chave], chave == presa ? 2 : 1) << sequencial << " " << chave;
        }
    }
}

// SIGTERM with several turns in flight, none of them reporting progress (idle companies of the
// one-NSU mode): each turn ends within its query, no company after them starts, and the program
// saves and exits 0.
TEST(MonitorCycle, SigtermStopsEveryTurnInFlight) {
    MonitorWorld w;
    StoreLogin(w);
    w.SetQuerySettings(false, 4);
    w.service.SetDelay(std::chrono::milliseconds(300));
    const char* cnpjs[] = {"11222333000181", "45997418000153", "33000167000101", "60746948000112",
                           "07526557000100", "00000000000191", "33592510000154", "61186680000174",
                           "02558157000162", "60701190000104", "17167412000113", "04252011000110"};
    for (const char* cnpj : cnpjs) {
        w.Register(w.a, cnpj);  // one certificate may serve several companies
    }
    w.param.Empresas.Salvar(w.dir.File("Empresas2.dat"));
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen(w.dir.File("saida.txt").c_str(), "w", stdout);
        ::execl(QUELVO_MONITOR, QUELVO_MONITOR, "--pasta", w.AppDir().c_str(), "--continuo",
                nullptr);
        ::_exit(127);
    }
    const auto ate = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (w.service.Queries().size() < 4 && std::chrono::steady_clock::now() < ate) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const size_t aoSinal = w.service.Queries().size();
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_GE(aoSinal, 4u);
    EXPECT_LE(w.service.Queries().size(), aoSinal + 4);  // at most the queries in flight
    EXPECT_LT(w.service.Queries().size(), std::size(cnpjs));
    TSeenList nums;
    nums.LoadFromFile(w.dir.File("ConsultadosNums.dat"));  // saved whole, readable
}

}  // namespace
}  // namespace quelvo
