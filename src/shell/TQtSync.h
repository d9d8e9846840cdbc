#pragma once

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <functional>
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

protected:
    void Synchronize(const std::function<void()>& call) override;
    void OnLog(const std::vector<std::string>& lines) override;
    void OnNota(const std::string& de, const std::string& para) override;

private:
    QPointer<QObject> janela_;
    LogHook onLog_;
    NotaHook onNota_;
    std::mutex mutex_;
    std::condition_variable cv_;
};

}  // namespace quelvo
