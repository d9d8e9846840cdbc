#include "cli/THeadlessMonitor.h"

#include <chrono>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <thread>

#include "certificates/CertificateAccess.h"
#include "common/ConsultaSequencial.h"
#include "common/ProfileFile.h"
#include "common/TServidores.h"
#include "common/Utils.h"
#include "monitor/MigracaoEmpresas.h"
#include "site/TProxySettings.h"
#include "site/TUsuarioLogin.h"

namespace quelvo {

THeadlessMonitor::THeadlessMonitor(const std::string& appDir, std::ostream& out, std::ostream& err)
    : appDir_(appDir),
      out_(out),
      err_(err),
      config_(appDir + "Config.dat"),
      sync_(param_, appDir, out),
      ambiente_(TConsultasAmbiente::Of(appDir)) {
    schedule_ = std::make_unique<TMonitorSchedule>(param_, sync_, ambiente_);
}

THeadlessMonitor::~THeadlessMonitor() {
    schedule_->WaitForWorkers();
}

bool THeadlessMonitor::Carregar() {
    param_.CarregarListas(appDir_);
    settings_ = TMainSettings::Read(config_);
    schedule_->SetInterval(settings_);
    EnsureDir(appDir_ + "temp");
    TProxySettings::Cancelar(config_, param_.Proxy);
    param_.Empresas.Carregar(appDir_ + "Empresas2.dat");
    try {
        MigracaoEmpresas(param_.Empresas, appDir_);
    } catch (const std::exception& e) {
        err_ << e.what() << "\n";
        return false;
    }
    return true;
}

bool THeadlessMonitor::Login() {
    TUsuarioLogin login(param_.Proxy.Get(), TServidores::Load(appDir_));
    const TLoginResult result =
        login.Login(config_.ReadString("Config", "Usuario"), config_.ReadString("Config", "Senha"));
    param_.AplicarLogin(result);
    if (result.info) {
        out_ << *result.info << "\n";
    }
    if (result.outcome == TLoginResult::Outcome::Nothing) {
        out_ << "Usuário e senha do site não informados: use --login USUARIO -.\n";
    }
    return result.outcome == TLoginResult::Outcome::LoggedIn;
}

void THeadlessMonitor::Ciclo() {
    schedule_->Tick();
    schedule_->WaitForWorkers();
    AvisarErroGravacao();
}

bool THeadlessMonitor::AvisarErroGravacao() {
    const std::string erro = param_.ErroGravacao.Get();
    if (!erro.empty()) {
        err_ << erro << "\n";
        err_.flush();
    }
    return !erro.empty();
}

void THeadlessMonitor::Continuo(const std::atomic<bool>& stop) {
    using namespace std::chrono;
    while (!stop) {
        schedule_->Tick();
        while (param_.Executando && !stop) {
            std::this_thread::sleep_for(milliseconds(100));
        }
        if (stop) {
            // The cycle stops at the end of its current NSU step.
            param_.Ativo = false;
            schedule_->WaitForWorkers();
            break;
        }
        schedule_->WaitForWorkers();
        AvisarErroGravacao();
        // So that "--empresas" shows what this cycle did while the program keeps running.
        try {
            param_.Empresas.Salvar(appDir_ + "Empresas2.dat");
        } catch (const std::exception& e) {
            err_ << e.what() << "\n";
        }
        const auto next = steady_clock::now() + minutes(schedule_->Minutos());
        out_ << schedule_->StatusPanel0() << "\n";
        out_.flush();
        while (!stop && steady_clock::now() < next) {
            std::this_thread::sleep_for(milliseconds(100));
        }
    }
}

void THeadlessMonitor::Salvar() {
    // Each file on its own: one that cannot be written never keeps the others from their save.
    std::string erros;
    for (const auto& salvar : std::initializer_list<std::function<void()>>{
             [&] { settings_.Write(config_); },
             [&] { param_.Empresas.Salvar(appDir_ + "Empresas2.dat"); },
             [&] { param_.SalvarListas(appDir_); }}) {
        try {
            salvar();
        } catch (const std::exception& e) {
            erros += (erros.empty() ? "" : "\n") + std::string(e.what());
        }
    }
    if (!erros.empty()) {
        throw std::runtime_error(erros);
    }
}

void THeadlessMonitor::ListarEmpresas() {
    out_ << "CNPJ\tUF\tNome\tVencimento\tSituacao\n";
    for (const auto& e : param_.Empresas.Itens()) {
        out_ << e->CNPJ() << "\t" << e->UF() << "\t" << e->Nome() << "\t" << e->Vencimento() << "\t"
             << e->Situacao() << "\n";
    }
    out_.flush();
}

void THeadlessMonitor::SituacoesSalvas() {
    const auto salvas = TConsultasEmpresas::SituacoesGravadas(appDir_ + "Empresas2.dat");
    const TDateTime hoje = TDateTime::Now().DateOnly();
    const auto agora = ambiente_.relogio();
    const bool sequencial = LerConsultaSequencial(TProfileFile(appDir_ + "Config.dat"));
    for (const auto& empresa : param_.Empresas.Itens()) {
        try {
            const TDateTime expiry =
                CertificateExpiry(ambiente_.store, empresa->CertificadoDigital());
            empresa->SetVencimento(FormatShortDate(expiry));
            if (hoje > expiry.DateOnly()) {
                empresa->SetStatus(kEstadoErro, "Certificado vencido");
                continue;
            }
        } catch (const std::exception& e) {
            empresa->SetStatus(kEstadoErro, e.what());
            continue;
        }
        try {
            const std::string cnpj = OnlyDigits(empresa->CNPJ());
            if (const auto d = ambiente_.descansos->Ativo(cnpj, agora, ambiente_.descanso)) {
                empresa->SetStatus(
                    d->cStat == kCStatConsumoIndevido ? kEstadoErro : kEstadoEsperando,
                    TDescansos::Texto(*d, agora));
                continue;
            }
            // The budget of one-document queries holds back only the one-NSU walk.
            const auto limite =
                sequencial ? std::nullopt
                           : ambiente_.descansos->LimiteAtingido(cnpj, agora, ambiente_.descanso);
            if (limite) {
                empresa->SetStatus(kEstadoEsperando, TDescansos::Texto(*limite, agora));
                continue;
            }
        } catch (const std::exception& e) {
            empresa->SetStatus(kEstadoErro, e.what());
            continue;
        }
        for (const auto& [cnpj, situacao] : salvas) {
            if (cnpj == empresa->CNPJ()) {
                empresa->SetStatus(kEstadoEsperando, situacao);
                break;
            }
        }
    }
}

}  // namespace quelvo
