#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "monitor/IConsultasSync.h"
#include "monitor/TConsultasParam.h"
#include "monitor/TLogMemo.h"

namespace quelvo {

// The six synchronised calls with their fixed effects on the shared state. A program derives from
// it to say how a call reaches its own thread (Synchronize) and how it shows a log line and a new
// invoice. The default Synchronize runs the call at once, one call at a time (the headless
// program has no window thread).
class TConsultasSync : public IConsultasSync {
public:
    TConsultasSync(TConsultasParam& param, std::string appDir)
        : param_(param), appDir_(std::move(appDir)) {}

    void InicioRodada(TConsultas& worker) override;
    void AtualizaProgresso(TConsultas& worker) override;
    void AtualizaLista() override;
    void EscreveLog(const std::string& line) override;
    void FimRodada() override;
    void MostraNota(const std::string& de, const std::string& para) override;
    void Encerrar() override;
    bool Encerrando() const { return encerrando_; }

    // The log memo the calls append to (at most 501 lines).
    TLogMemo Memo;

protected:
    // Runs `call` on the program's thread and returns when it has run; an exception it raises
    // comes back to the caller.
    virtual void Synchronize(const std::function<void()>& call);
    // On the program's thread: the lines a log text added to the memo.
    virtual void OnLog(const std::vector<std::string>& lines) { (void)lines; }
    // On the program's thread, as a cycle ends (before the running flag is cleared).
    virtual void OnFimRodada() {}
    // On the program's thread: a newly accepted invoice.
    virtual void OnNota(const std::string& de, const std::string& para) {
        (void)de;
        (void)para;
    }

    TConsultasParam& param_;

private:
    std::string appDir_;
    std::mutex mutex_;
    std::atomic<bool> encerrando_{false};
};

}  // namespace quelvo
