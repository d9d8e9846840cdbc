#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "TSiteStandIn.h"
#include "common/ConsultaSequencial.h"
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

// A wall clock that stands still until the test moves it.
class TestClock {
public:
    using time_point = std::chrono::system_clock::time_point;
    TestClock() : ms_(ToMs(std::chrono::system_clock::now())) {}
    time_point Now() const { return time_point(std::chrono::milliseconds(ms_.load())); }
    void Advance(std::chrono::milliseconds by) { ms_ += by.count(); }

private:
    static long long ToMs(time_point t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    }
    std::atomic<long long> ms_;
};

// The whole outside world of a cycle: the national service and the site stood in for on loopback,
// a logged-in user with a numeric identity, and companies registered with their certificates.
// The worker's rests and (once UseUsageRules is called) the service's usage rules read `clock`.
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

    TMonitorSchedule& Schedule() {
        if (!schedule) {
            schedule = std::make_unique<TMonitorSchedule>(param, sync, Ambiente());
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
