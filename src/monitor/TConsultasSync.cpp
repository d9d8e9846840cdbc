#include "monitor/TConsultasSync.h"

#include "monitor/TConsultas.h"

namespace quelvo {

void TConsultasSync::Synchronize(const std::function<void()>& call) {
    std::lock_guard lock(mutex_);
    call();
}

void TConsultasSync::InicioRodada(TConsultas& worker) {
    Synchronize([&] {
        param_.Executando = true;
        worker.Ativo = param_.Ativo;
    });
}

void TConsultasSync::AtualizaProgresso(TConsultas& worker) {
    Synchronize([&] {
        param_.Progresso = worker.Progresso;
        worker.Ativo = param_.Ativo;
    });
}

void TConsultasSync::AtualizaLista() {
    Synchronize([&] {
        if (param_.AtualizarLista) {
            param_.AtualizarLista();
        }
    });
}

void TConsultasSync::EscreveLog(const std::string& line) {
    Synchronize([&] { OnLog(Memo.Append(line)); });
}

void TConsultasSync::FimRodada() {
    Synchronize([&] {
        param_.Executando = false;
        param_.SalvarListas(appDir_);
    });
}

void TConsultasSync::MostraNota(const std::string& de, const std::string& para) {
    Synchronize([&] { OnNota(de, para); });
}

}  // namespace quelvo
