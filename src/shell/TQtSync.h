#pragma once

#include <QObject>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "monitor/TConsultasSync.h"

namespace quelvo {

// The worker's six calls in the desktop program: each is queued to the window's thread and the
// worker waits until it has run there (an exception it raised comes back to the worker). The wait
// ends also when the program is ending: a queued call that has not started by then never runs,
// so neither thread ever waits for the other at exit.
class TQtSync : public TConsultasSync {
public:
    using LogHook = std::function<void(const std::vector<std::string>&)>;
    using NotaHook = std::function<void(const std::string&, const std::string&)>;

    // `janela` is the object whose thread runs the calls (the main window).
    TQtSync(TConsultasParam& param, std::string appDir, QObject* janela, LogHook onLog,
            NotaHook onNota);

    void Encerrar() override;
    // Several turns refresh the list at once: a refresh already queued and not begun yet shows
    // this caller's change too, so the caller waits for that one instead of queuing another.
    void AtualizaLista() override;

protected:
    void Synchronize(const std::function<void()>& call) override;
    void OnLog(const std::vector<std::string>& lines) override;
    void OnNota(const std::string& de, const std::string& para) override;
    void OnFimRodada() override;

private:
    struct Chamada;
    // Queues the call to the window's thread (as the pending list refresh when `lista`); runs
    // under `mutex_`.
    std::shared_ptr<Chamada> PostarLocked(const std::function<void()>& call, bool lista);
    // Waits until the call has run (or will never run: the program is ending).
    void Esperar(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Chamada>& chamada);

    QPointer<QObject> janela_;
    LogHook onLog_;
    NotaHook onNota_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::weak_ptr<Chamada> listaPendente_;
    // Log lines on their way to the window (its thread only): they are shown together at most
    // kAtrasoDoLog after the first of them, and all of them as the cycle ends, so that the memo
    // lays out its text once for the turns of several companies.
    void MostrarLog();
    std::vector<std::string> logPendente_;
    bool logAgendado_ = false;
    // Calls waiting for the window's thread: a caller spins briefly only when it waits alone.
    std::atomic<int> emEspera_{0};
};

}  // namespace quelvo
