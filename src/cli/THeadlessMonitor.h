#pragma once

#include <atomic>
#include <memory>
#include <ostream>
#include <string>

#include "cli/TConsoleSync.h"
#include "common/MainSettings.h"
#include "common/ProfileFile.h"
#include "monitor/TConsultasParam.h"
#include "monitor/TMonitorSchedule.h"

namespace quelvo {

// What the main window does, without a window: loads the settings, the seen-lists and the
// registry (migration included), logs in, runs the schedule, and saves everything as the close
// handler does.
class THeadlessMonitor {
public:
    THeadlessMonitor(const std::string& appDir, std::ostream& out, std::ostream& err);
    ~THeadlessMonitor();

    // Creation and first showing: settings, seen-lists, proxy, registry and migration. Returns
    // false (with the message on the error stream) when the migration fails.
    bool Carregar();
    // The start-up login with the stored user and password; true when the site said "OK".
    bool Login();
    // One schedule tick and the whole cycle it starts.
    void Ciclo();
    // When the last cycle could not save the seen-lists, says so on the error stream; true then.
    bool AvisarErroGravacao();
    // Ticks every interval until `stop` becomes true; a running cycle is asked to stop and
    // waited for.
    void Continuo(const std::atomic<bool>& stop);
    // The close handler: settings, registry and seen-lists to their files, each tried; raises
    // std::runtime_error with every failure's message.
    void Salvar();
    // Every company with its status columns.
    void ListarEmpresas();
    // The statuses as the last saved cycle left them, for a listing without a cycle: the expiry
    // of every certificate (an expired or missing one shows as the tick shows it), then a rest of
    // the national service with the time the company may be queried again, else the status text
    // saved in "Empresas2.dat".
    void SituacoesSalvas();

    TConsultasParam& Param() { return param_; }
    TMonitorSchedule& Schedule() { return *schedule_; }
    const std::string& AppDir() const { return appDir_; }

private:
    std::string appDir_;
    std::ostream& out_;
    std::ostream& err_;
    TConsultasParam param_;
    TProfileFile config_;
    TMainSettings settings_;
    TConsoleSync sync_;
    TConsultasAmbiente ambiente_;
    std::unique_ptr<TMonitorSchedule> schedule_;
};

}  // namespace quelvo
