#include "monitor/TConsultasSync.h"

#include "monitor/TConsultas.h"

namespace quelvo {

void TConsultasSync::Synchronize(const std::function<void()>& call) {
    std::lock_guard lock(mutex_);
    call();
}

void TConsultasSync::Encerrar() {
    encerrando_ = true;
    param_.Ativo = false;
}

// Once the program is ending, each call does only what the worker itself needs, on the worker's
// thread: its Ativo goes off (the cycle stops at its next step) and Executando is cleared at the
// end. Nothing is shown, nothing is saved: the close handler saves.

void TConsultasSync::InicioRodada(TConsultas& worker) {
    if (Encerrando()) {
        worker.Ativo = false;
        return;
    }
    Synchronize([&] {
        param_.Executando = true;
        worker.Ativo = param_.Ativo.load();
    });
}

// Both fields are atomic: the hand-over needs no trip to the program's thread, which a walk
// over recorded NSUs would otherwise make at every step (and every running turn at once).
void TConsultasSync::AtualizaProgresso(TConsultas& worker) {
    if (Encerrando()) {
        worker.Ativo = false;
        return;
    }
    param_.Progresso = worker.Progresso;
    worker.Ativo = param_.Ativo.load();
}

void TConsultasSync::AtualizaLista() {
    if (Encerrando()) {
        return;
    }
    Synchronize([&] {
        if (param_.AtualizarLista) {
            param_.AtualizarLista();
        }
    });
}

void TConsultasSync::EscreveLog(const std::string& line) {
    if (Encerrando()) {
        return;
    }
    Synchronize([&] { OnLog(Memo.Append(line)); });
}

void TConsultasSync::FimRodada() {
    if (!Encerrando()) {
        bool chegou = false;
        try {
            Synchronize([&] {
                chegou = true;
                OnFimRodada();
                param_.Executando = false;
                param_.SalvarListas(appDir_);
            });
        } catch (...) {
            // A call that never reached the program still ends this cycle; one that did has
            // cleared the flag there, and a new cycle may already have set it again.
            if (!chegou) {
                param_.Executando = false;
            }
            throw;
        }
    }
    // A call the ending program did not run still ends the cycle.
    if (Encerrando()) {
        param_.Executando = false;
    }
}

void TConsultasSync::MostraNota(const std::string& de, const std::string& para) {
    if (Encerrando()) {
        return;
    }
    Synchronize([&] { OnNota(de, para); });
}

}  // namespace quelvo
