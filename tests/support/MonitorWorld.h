#pragma once

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "TSiteStandIn.h"
#include "common/ConsultaSequencial.h"
#include "common/DateTime.h"
#include "common/ProfileFile.h"
#include "monitor/TConsultasSync.h"
#include "monitor/TMonitorSchedule.h"
#include "support/DfeWorld.h"

namespace quelvo::test {

// Synchronised calls that record what the worker showed, with hooks for the tests.
class RecordingSync : public TConsultasSync {
public:
    using TConsultasSync::TConsultasSync;

    std::vector<std::string> logs;
    std::vector<std::pair<std::string, std::string>> notes;
    std::vector<int> progress;
    std::function<void(TConsultas&)> onProgress;  // before the shared state is updated
    std::function<void()> onList;

    void AtualizaProgresso(TConsultas& worker) override {
        if (onProgress) {
            onProgress(worker);
        }
        TConsultasSync::AtualizaProgresso(worker);
        progress.push_back(param_.Progresso);
    }
    void AtualizaLista() override {
        if (onList) {
            onList();
        }
        TConsultasSync::AtualizaLista();
    }

protected:
    void OnLog(const std::vector<std::string>& lines) override {
        for (const auto& l : lines) {
            // Without the "dd/mm/yyyy hh:mm:ss " that opens a log text.
            const bool dated = l.size() > 20 && l[2] == '/' && l[5] == '/' && l[13] == ':';
            logs.push_back(dated ? l.substr(20) : l);
        }
    }
    void OnNota(const std::string& de, const std::string& para) override {
        notes.emplace_back(de, para);
    }
};

// A wall clock that stands still until the test moves it. It starts at a fixed instant of local
// time (08/12/2026 10:00:00, a Tuesday), so that what a test sees does not depend on when it runs:
// a rest that ends on another day, for one, is a case a test sets up on purpose.
class TestClock {
public:
    using time_point = std::chrono::system_clock::time_point;
    TestClock() : TestClock(Local(2026, 12, 8, 10, 0, 0)) {}
    explicit TestClock(time_point start) : ms_(ToMs(start)) {}
    time_point Now() const { return time_point(std::chrono::milliseconds(ms_.load())); }
    void Advance(std::chrono::milliseconds by) { ms_ += by.count(); }
    void Set(time_point t) { ms_ = ToMs(t); }
    // The same instant as the programs' local date and time.
    TDateTime DateTime() const {
        const long long ms = ms_.load();
        return TDateTime::FromTimeT(static_cast<std::time_t>(ms / 1000),
                                    static_cast<int>(ms % 1000));
    }

    // An instant given in local time.
    static time_point Local(int y, int mo, int d, int h, int mi, int s) {
        std::tm tm{};
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
        tm.tm_hour = h;
        tm.tm_min = mi;
        tm.tm_sec = s;
        tm.tm_isdst = -1;
        return std::chrono::system_clock::from_time_t(std::mktime(&tm));
    }

private:
    static long long ToMs(time_point t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    }
    std::atomic<long long> ms_;
};

// The whole outside world of a cycle: the national service and the site stood in for on loopback,
// a logged-in user with a numeric identity, and companies registered with their certificates.
// The schedule's expiry check, the worker's rests and (once UseUsageRules is called) the service's
// usage rules read `clock`.
class MonitorWorld : public DfeWorld {
public:
    // The folder runs the one-NSU walk, one company at a time, unless a test says otherwise
    // (UseDefaultQuerySettings): most behaviour tests follow one company's walk in order.
    MonitorWorld() : sync(param, AppDir()) {
        UseSite(site.HostPort());
        site.AddUser("ana@empresa.com", "segredo", "4242");
        param.Usuario.Set("ana@empresa.com");
        param.Ativo = true;
        SetQuerySettings(false, 1);
    }

    void SetQuerySettings(bool sequencial, int simultaneas) {
        TProfileFile config(dir.File("Config.dat"));
        GravarConsultaSequencial(config, sequencial);
        GravarConsultasSimultaneas(config, simultaneas);
    }
    // The settings of a folder that never chose them: sequential mode, several turns at once.
    void UseDefaultQuerySettings() {
        TProfileFile config(dir.File("Config.dat"));
        config.WriteString("Config", "ConsultaSequencial", "");
        config.WriteString("Config", "ConsultasSimultaneas", "");
    }

    void Register(const Company& c, const std::string& cnpjText, const std::string& uf = "SP") {
        param.Empresas.Inserir(cnpjText, uf, c.name, c.serial, c.senha, "");
    }

    // The application folder's environment, on the world's clock.
    TConsultasAmbiente Ambiente() {
        TConsultasAmbiente ambiente = TConsultasAmbiente::Of(AppDir());
        ambiente.relogio = [this] { return clock.Now(); };
        ambiente.maximoPendentes = maximoPendentes;
        return ambiente;
    }

    // The world's clock as a schedule reads it.
    TMonitorSchedule::Clock DateClock() {
        return [this] { return clock.DateTime(); };
    }

    TMonitorSchedule& Schedule() {
        if (!schedule) {
            schedule = std::make_unique<TMonitorSchedule>(param, sync, Ambiente(), DateClock());
        }
        return *schedule;
    }

    // The stand-in applies the national service's usage rules, with a real hour on the world's
    // clock.
    void UseUsageRules() {
        service.EnforceUsageRules(std::chrono::hours(1));
        service.SetClock([this] { return clock.Now(); });
    }

    // One tick and the cycle it starts.
    void Cycle() {
        Schedule().Tick();
        Schedule().WaitForWorkers();
    }

    // consNSU values the service received for a party, in order (as numbers).
    std::vector<long long> QueriedNsus(const std::string& cnpj) const {
        std::vector<long long> out;
        for (const auto& q : service.Queries()) {
            if (q.cnpj == cnpj) {
                out.push_back(std::stoll(q.nsu.empty() ? "0" : q.nsu));
            }
        }
        return out;
    }

    TestClock clock;
    size_t maximoPendentes = TEnviosPendentes::kMaximoPorCnpj;
    standin::TSiteStandIn site;
    TConsultasParam param;
    RecordingSync sync;
    std::unique_ptr<TMonitorSchedule> schedule;
};

}  // namespace quelvo::test
