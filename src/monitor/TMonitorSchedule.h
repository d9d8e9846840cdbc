#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "common/MainSettings.h"
#include "monitor/TConsultas.h"

namespace quelvo {

// The monitoring schedule that both programs drive: the tick (every company's certificate
// expiry, then a cycle when none runs), the interval, "Verificar Agora", "Verificar Últimos 3
// Meses", "Limpar Temp no Computador" and the status-bar texts. Runs on the program's thread.
// It owns the workers it starts: a finished one is joined at the next tick, the rest when the
// schedule goes.
class TMonitorSchedule {
public:
    using Clock = std::function<TDateTime()>;

    static constexpr const char* kJaVerificando = "O sistema já está verificando.";
    static constexpr const char* kConfirmaLimpar =
        "Deseja realmente limpar o TEMP de notas nesse computador ?";
    static constexpr const char* kLimparDuranteCiclo =
        "O sistema está verificando as notas agora. Limpe o TEMP quando a verificação terminar.";

    TMonitorSchedule(TConsultasParam& param, IConsultasSync& sync, TConsultasAmbiente ambiente,
                     Clock clock = &TDateTime::Now);
    TMonitorSchedule(const TMonitorSchedule&) = delete;
    TMonitorSchedule& operator=(const TMonitorSchedule&) = delete;
    ~TMonitorSchedule();

    // The interval from the main window's settings (5 minutes when no entry is checked).
    void SetInterval(const TMainSettings& settings) { minutos_ = settings.IntervalMinutes(); }
    void SetMinutos(int minutos) { minutos_ = minutos; }
    int Minutos() const { return minutos_; }
    std::string IntervalLabel() const;

    // One tick: every company's certificate expiry and status, the list refresh, and a cycle when
    // none is running. Returns whether it started one.
    bool Tick();
    // The expiry pass of the tick alone.
    void AtualizarVencimentos();

    // "Verificar Agora": the text to show when a cycle runs already; otherwise a tick.
    std::optional<std::string> VerificarAgora();
    // "Verificar Últimos 3 Meses". `setAtivado` checks or unchecks "Ativado" (which sets Ativo);
    // `waitWhileRunning` waits, serving the worker's calls, until the cycle ends or the user gives
    // up. Returns whether it emptied the lists, set every stored ultNSU to 0 and started over.
    bool VerificarUltimos3Meses(const std::function<void(bool)>& setAtivado,
                                const std::function<void()>& waitWhileRunning);
    // "Limpar Temp no Computador", after the confirmation. Refused while a cycle runs (its turns
    // record and save the lists meanwhile): `informar` then tells the user, and nothing changes.
    bool LimparTemp(const std::function<bool(const std::string&)>& confirm,
                    const std::function<void(const std::string&)>& informar);

    // Runs between two companies of the expiry pass (the desktop program serves its window
    // there: each lookup opens the certificate store).
    std::function<void()> EntreEmpresas;

    // The status bar: panel 0 and panel 1 (while no cycle runs, the reason the seen-lists could
    // not be saved, if they could not).
    std::string StatusPanel0() const;
    std::string StatusPanel1() const;

    // The folder's environment that every cycle shares: a registration's test query must use the
    // same rest files as the cycles, so that neither overwrites what the other recorded.
    const TConsultasAmbiente& Ambiente() const { return ambiente_; }

    // Joins every worker (the headless program waits for its cycle).
    void WaitForWorkers();
    // Whether a worker has not yet run its last synchronised call.
    bool HasRunningWorkers() const;
    // Joins the finished workers.
    void ReapWorkers();

private:
    TConsultasParam& param_;
    IConsultasSync& sync_;
    TConsultasAmbiente ambiente_;
    Clock clock_;
    int minutos_ = 30;
    std::vector<std::unique_ptr<TConsultas>> workers_;
};

}  // namespace quelvo
