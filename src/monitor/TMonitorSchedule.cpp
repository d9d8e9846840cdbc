#include "monitor/TMonitorSchedule.h"

#include <filesystem>

#include "certificates/CertificateAccess.h"
#include "platform/Paths.h"

namespace quelvo {

TMonitorSchedule::TMonitorSchedule(TConsultasParam& param, IConsultasSync& sync,
                                   TConsultasAmbiente ambiente, Clock clock)
    : param_(param), sync_(sync), ambiente_(std::move(ambiente)), clock_(std::move(clock)) {}

TMonitorSchedule::~TMonitorSchedule() {
    if (HasRunningWorkers()) {
        sync_.Encerrar();
    }
    WaitForWorkers();
}

std::string TMonitorSchedule::IntervalLabel() const {
    return "Empresas que o sistema irá verificar a cada " + std::to_string(minutos_) + " minutos";
}

void TMonitorSchedule::AtualizarVencimentos() {
    const TDateTime today = clock_().DateOnly();
    for (const auto& empresa : param_.Empresas.Itens()) {
        try {
            const TDateTime expiry =
                CertificateExpiry(ambiente_.store, empresa->CertificadoDigital());
            empresa->SetVencimento(FormatShortDate(expiry));
            // Valid through the whole day on which it expires.
            if (today > expiry.DateOnly()) {
                empresa->SetStatus(kEstadoErro, "Certificado vencido");
            } else {
                empresa->SetStatus(kEstadoEsperando, "Esperando...");
            }
        } catch (const std::exception& e) {
            empresa->SetStatus(kEstadoErro, e.what());
        }
        if (EntreEmpresas) {
            EntreEmpresas();
        }
    }
}

bool TMonitorSchedule::Tick() {
    AtualizarVencimentos();
    if (param_.AtualizarLista) {
        param_.AtualizarLista();
    }
    ReapWorkers();
    if (param_.Executando) {
        return false;
    }
    // A created worker counts as running at once, so no second one starts before its first call.
    param_.Executando = true;
    try {
        auto worker = std::make_unique<TConsultas>(param_, sync_, ambiente_);
        workers_.reserve(workers_.size() + 1);
        worker->Start();
        workers_.push_back(std::move(worker));
    } catch (...) {
        param_.Executando = false;  // no thread, no cycle
        throw;
    }
    return true;
}

std::optional<std::string> TMonitorSchedule::VerificarAgora() {
    if (param_.Executando) {
        return std::string(kJaVerificando);
    }
    Tick();
    return std::nullopt;
}

bool TMonitorSchedule::VerificarUltimos3Meses(const std::function<void(bool)>& setAtivado,
                                              const std::function<void()>& waitWhileRunning) {
    if (param_.Executando) {
        setAtivado(false);
        waitWhileRunning();
    }
    if (param_.Executando) {
        return false;
    }
    setAtivado(true);
    // The sequential mode starts over from each company's oldest document too (the service
    // keeps about 90 days). A failure here raises before anything is emptied.
    ambiente_.ultimosNsu->ZerarTodos();
    param_.Consultados.Clear();
    param_.ConsultadosNums.Clear();
    std::error_code ec;
    std::filesystem::remove(platform::PathOf(ambiente_.appDir + "Consultados.dat"), ec);
    std::filesystem::remove(platform::PathOf(ambiente_.appDir + "ConsultadosNums.dat"), ec);
    VerificarAgora();
    return true;
}

bool TMonitorSchedule::LimparTemp(const std::function<bool(const std::string&)>& confirm,
                                  const std::function<void(const std::string&)>& informar) {
    if (param_.Executando) {
        informar(kLimparDuranteCiclo);
        return false;
    }
    if (!confirm(kConfirmaLimpar)) {
        return false;
    }
    // A cycle may have started while the question was open.
    if (param_.Executando) {
        informar(kLimparDuranteCiclo);
        return false;
    }
    param_.Consultados.ClearAndRemoveFile(ambiente_.appDir + "Consultados.dat");
    param_.ConsultadosNums.ClearAndRemoveFile(ambiente_.appDir + "ConsultadosNums.dat");
    return true;
}

std::string TMonitorSchedule::StatusPanel0() const {
    if (param_.Executando) {
        const int turnos = param_.TurnosEmCurso;
        std::string texto = "Buscando " + std::to_string(param_.Progresso.load());
        if (turnos > 1) {
            texto += " (" + std::to_string(turnos) + " empresas)";
        }
        return texto;
    }
    return "Esperando " + std::to_string(minutos_) + " minutos ...      ";
}

std::string TMonitorSchedule::StatusPanel1() const {
    if (param_.Executando) {
        return param_.StatusTexto.Get();
    }
    // Seen-lists that could not be saved stop every upload: that stays in sight until a save
    // works again.
    return param_.ErroGravacao.Get();
}

void TMonitorSchedule::ReapWorkers() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if ((*it)->Finished()) {
            (*it)->Join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

bool TMonitorSchedule::HasRunningWorkers() const {
    for (const auto& w : workers_) {
        if (!w->Finished()) {
            return true;
        }
    }
    return false;
}

void TMonitorSchedule::WaitForWorkers() {
    for (auto& w : workers_) {
        w->Join();
    }
    workers_.clear();
}

}  // namespace quelvo
