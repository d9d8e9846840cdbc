#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "TStandInServer.h"
#include "TestPki.h"

namespace quelvo::standin {

// The documents the stand-in serves, written as the national service writes them.
struct ResumoNFe {
    std::string chNFe;
    std::string cnpjEmitente;
    std::string xNome;
    std::string ie;
    std::string dhEmi = "2026-11-03T10:15:30-03:00";
    std::string tpNF = "1";
    std::string vNF = "1500.00";
    std::string digVal = "vPc0gU6Wz0aYcx2o9yYQd6xk3ZQ=";
    std::string dhRecbto = "2026-11-03T10:16:02-03:00";
    std::string nProt = "135260000000001";
    std::string cSitNFe = "1";
};
std::string ResNFeXml(const ResumoNFe& r);
std::string ResEventoXml(const std::string& chNFe, const std::string& cnpj,
                         const std::string& tpEvento = "210210",
                         const std::string& xEvento = "Ciencia da Operacao");
std::string NfeProcXml(const ResumoNFe& r, const std::string& cnpjDestinatario,
                       const std::string& cStat = "100");
std::string ProcEventoNFeXml(const std::string& chNFe, const std::string& cnpj);
// gzip, then base64: a docZip's content.
std::string DocZipContent(const std::string& xml);

// A stand-in of the national DF-e distribution service on 127.0.0.1: HTTPS that refuses a
// handshake without a client certificate from the test authority, reads each distDFeInt, records
// which certificate each request presented, and answers from a table of documents per CNPJ:
// consNSU of an existing NSU gives 138 with that one docZip, of a missing one 137; distNSU gives
// the documents after ultNSU (up to 50); every answer carries ultNSU and maxNSU. A request whose
// versao is not "1.01" is refused as the service's schema check does (cStat 215).
//
// With EnforceUsageRules it also applies the service's usage rules per CNPJ, each broken rule
// answering 656 "Consumo Indevido" (its reason in xMotivo, the ultNSU last returned in sequence,
// maxNSU 0) and blocking the CNPJ for an hour:
// - at most 20 consNSU queries in any hour;
// - no distNSU within an hour of a distNSU answer 137 or one whose ultNSU equals maxNSU;
// - a distNSU continues from the ultNSU returned last (0 starts the sequence over);
// - every query during a block is refused and starts the hour again; once a block is over the
//   CNPJ starts afresh (its sequence forgotten).
// The hour and the clock are the test's to choose.
class TDfeStandIn {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr const char* kMotivoSemDocumentos =
        "Rejeicao: Consumo Indevido. Deve ser aguardado 1 hora para efetuar nova solicitação caso "
        "não existam mais documentos a serem pesquisados. Tente apos 1 hora";
    static constexpr const char* kMotivoForaDeSequencia =
        "Rejeicao: Consumo Indevido. Deve ser utilizado o ultNSU nas solicitações subsequentes. "
        "Tente apos 1 hora";
    static constexpr const char* kMotivoLimiteConsultas =
        "Rejeicao: Consumo Indevido. Ultrapassado o limite de 20 consultas por hora "
        "(consNSU/consChNFe). Tente apos 1 hora";
    static constexpr int kConsultasPorHora = 20;

    // How the usage rules went: every query, those answered 656, and those among them that came
    // while the CNPJ was already blocked.
    struct Usage {
        int queries = 0;
        int consumoIndevido = 0;
        int duringBlock = 0;
    };

    // What the stand-in does for one query.
    struct Script {
        // Slow answers "nothing found" after `delay`; Held answers so once the test calls
        // Release().
        enum class Kind {
            Status,
            SoapFault,
            HtmlPage,
            EmptyBody,
            CorruptDocZip,
            Slow,
            ZeroByte,
            Held
        };
        Kind kind = Kind::Status;
        int cStat = 656;
        std::string xMotivo = "Rejeicao: Consumo Indevido";
        std::chrono::milliseconds delay{0};
    };
    // One request as the stand-in understood it.
    struct Query {
        std::string cnpj;
        std::string nsu;     // consNSU, as sent (15 digits); "" for distNSU
        std::string ultNSU;  // distNSU, as sent
        std::string versao;
        std::string tpAmb;
        std::string cUFAutor;
        std::string certificateSerial;
        int connection = 0;
        std::string soapAction;
        std::string contentType;
        bool consumoIndevido = false;  // refused with 656 by the usage rules
        // When it arrived: with answers delayed, two queries that arrive closer than the delay
        // were in flight at the same time.
        std::chrono::steady_clock::time_point arrived;
    };

    explicit TDfeStandIn(const testpki::TestPki& pki, int port = 0);

    TStandInServer& Server() { return *server_; }
    std::string HostPort() const { return server_->HostPort(); }

    // A document of a party (CNPJ digits) under an NSU.
    void AddDocument(const std::string& cnpj, long long nsu, const std::string& xml,
                     const std::string& schema = "resNFe_v1.01.xsd");
    // The highest NSU the service reports for a party (defaults to its highest document).
    void SetMaxNsu(const std::string& cnpj, long long maxNsu);
    // What to do for a query of that party and NSU (consNSU), in place of the table, once or
    // always.
    void ScriptQuery(const std::string& cnpj, long long nsu, Script script, bool always = false);

    // Lets the answers of the Held scripts set so far go, whether their query came already or
    // comes later (a Held script set afterwards holds again).
    void Release() { ++releases_; }

    // Every answer waits this long first (a slow service).
    void SetDelay(std::chrono::milliseconds delay) {
        std::lock_guard lock(mutex_);
        delay_ = delay;
    }

    // Applies the usage rules from now on, with this length of an hour.
    void EnforceUsageRules(std::chrono::milliseconds hour = std::chrono::hours(1));
    // The clock the usage rules read (the system's by default).
    void SetClock(Clock clock);
    Usage UsageOf(const std::string& cnpj) const;

    std::vector<Query> Queries() const;
    void ClearQueries();

    // The answer envelope the stand-in wraps retDistDFeInt in.
    static std::string Envelope(const std::string& retDistDFeInt);

private:
    Response Handle(const Request& req);
    std::string Answer(const std::string& cnpj, int cStat, const std::string& xMotivo,
                       long long ultNsu, long long maxNsu,
                       const std::vector<std::pair<long long, std::string>>& docZips) const;

    struct Doc {
        std::string xml;
        std::string schema;
    };
    struct Party {
        std::map<long long, Doc> docs;
        std::optional<long long> maxNsu;
        // Usage rules.
        std::deque<std::chrono::system_clock::time_point> consNsu;  // accepted, last hour
        std::optional<std::chrono::system_clock::time_point> blockedUntil;
        std::string blockReason;
        std::optional<std::chrono::system_clock::time_point> distRestUntil;
        std::optional<long long> lastUltNsu;
        Usage usage;
    };
    // The usage rules for one query; the 656 answer when it breaks one (or comes during a block).
    std::optional<std::string> CheckUsage(Party& party, bool cons, long long nsu);
    std::string Refuse(Party& party, std::chrono::system_clock::time_point now,
                       const std::string& reason);
    mutable std::mutex mutex_;
    std::map<std::string, Party> parties_;
    struct Scripted {
        Script script;
        bool always = false;
        int releases = 0;  // the Release() calls before it was set
    };
    std::map<std::pair<std::string, long long>, Scripted> scripts_;
    std::vector<Query> queries_;
    std::chrono::milliseconds delay_{0};
    std::optional<std::chrono::milliseconds> hour_;
    Clock clock_ = [] { return std::chrono::system_clock::now(); };
    std::atomic<int> releases_{0};
    std::unique_ptr<TStandInServer> server_;
};

}  // namespace quelvo::standin
