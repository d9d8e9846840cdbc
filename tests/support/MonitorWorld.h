#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "TSiteStandIn.h"
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

// The whole outside world of a cycle: the national service and the site stood in for on loopback,
// a logged-in user with a numeric identity, and companies registered with their certificates.
class MonitorWorld : public DfeWorld {
public:
    MonitorWorld() : sync(param, AppDir()) {
        UseSite(site.HostPort());
        site.AddUser("ana@empresa.com", "segredo", "4242");
        param.Usuario.Set("ana@empresa.com");
        param.Ativo = true;
    }

    void Register(const Company& c, const std::string& cnpjText, const std::string& uf = "SP") {
        param.Empresas.Inserir(cnpjText, uf, c.name, c.serial, c.senha, "");
    }

    TMonitorSchedule& Schedule() {
        if (!schedule) {
            schedule =
                std::make_unique<TMonitorSchedule>(param, sync, TConsultasAmbiente::Of(AppDir()));
        }
        return *schedule;
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

    standin::TSiteStandIn site;
    TConsultasParam param;
    RecordingSync sync;
    std::unique_ptr<TMonitorSchedule> schedule;
};

}  // namespace quelvo::test
