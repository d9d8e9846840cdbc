#include "shell/TQtSync.h"

#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <stdexcept>

namespace quelvo {

// One call on its way to the window's thread.
struct TQtSync::Chamada {
    bool rodando = false;
    std::atomic<bool> feita{false};
    bool abandonada = false;
    std::exception_ptr erro;
};

namespace {

// A call that the window's thread serves at once comes back within microseconds: a caller that
// waits alone looks for it this long before it sleeps (going to sleep and waking costs more
// than the call). Callers that wait together would only take the processor from that thread.
constexpr auto kEsperaAtiva = std::chrono::microseconds(50);

// How long a log line may wait for others before the window shows them: well under what a reader
// notices, and long enough to gather the blocks of the turns running side by side.
constexpr auto kAtrasoDoLog = std::chrono::milliseconds(100);

}  // namespace

TQtSync::TQtSync(TConsultasParam& param, std::string appDir, QObject* janela, LogHook onLog,
                 NotaHook onNota)
    : TConsultasSync(param, std::move(appDir)),
      janela_(janela),
      onLog_(std::move(onLog)),
      onNota_(std::move(onNota)) {}

void TQtSync::Encerrar() {
    {
        std::lock_guard lock(mutex_);
        TConsultasSync::Encerrar();
    }
    cv_.notify_all();
}

void TQtSync::Synchronize(const std::function<void()>& call) {
    if (janela_.isNull()) {
        throw std::runtime_error("A janela do programa não existe mais.");
    }
    if (QThread::currentThread() == janela_->thread()) {
        call();
        return;
    }
    std::unique_lock lock(mutex_);
    Esperar(lock, PostarLocked(call, false));
}

void TQtSync::AtualizaLista() {
    if (Encerrando()) {
        return;
    }
    if (janela_.isNull() || QThread::currentThread() == janela_->thread()) {
        TConsultasSync::AtualizaLista();
        return;
    }
    const std::function<void()> call = [this] {
        if (param_.AtualizarLista) {
            param_.AtualizarLista();
        }
    };
    std::unique_lock lock(mutex_);
    auto pendente = listaPendente_.lock();
    if (!pendente || pendente->rodando || pendente->feita) {
        pendente = PostarLocked(call, true);
    }
    Esperar(lock, pendente);
}

std::shared_ptr<TQtSync::Chamada> TQtSync::PostarLocked(const std::function<void()>& call,
                                                        bool lista) {
    auto chamada = std::make_shared<Chamada>();
    const bool posted = QMetaObject::invokeMethod(
        janela_.data(),
        [this, chamada, &call] {
            {
                std::lock_guard lock(mutex_);
                if (listaPendente_.lock() == chamada) {
                    listaPendente_.reset();  // changes from now on need a refresh of their own
                }
                if (chamada->abandonada || Encerrando()) {
                    chamada->feita = true;
                    cv_.notify_all();
                    return;
                }
                chamada->rodando = true;
            }
            try {
                call();
            } catch (...) {
                chamada->erro = std::current_exception();
            }
            {
                std::lock_guard lock(mutex_);
                chamada->rodando = false;
                chamada->feita = true;
            }
            cv_.notify_all();
        },
        Qt::QueuedConnection);
    if (!posted) {
        throw std::runtime_error("A janela do programa não existe mais.");
    }
    if (lista) {
        listaPendente_ = chamada;
    }
    return chamada;
}

void TQtSync::Esperar(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Chamada>& chamada) {
    struct Contagem {
        std::atomic<int>& n;
        bool sozinha;
        explicit Contagem(std::atomic<int>& c) : n(c), sozinha(++c == 1) {}
        ~Contagem() { --n; }
    } contagem(emEspera_);
    if (contagem.sozinha) {
        lock.unlock();
        const auto ate = std::chrono::steady_clock::now() + kEsperaAtiva;
        while (!chamada->feita.load(std::memory_order_acquire) &&
               std::chrono::steady_clock::now() < ate) {
        }
        lock.lock();
    }
    // A call already running on the window's thread is always waited for: it holds references
    // to the frame of the caller that queued it.
    cv_.wait(lock, [&] { return chamada->feita || (Encerrando() && !chamada->rodando); });
    if (!chamada->feita) {
        chamada->abandonada = true;
        return;
    }
    if (chamada->erro) {
        std::rethrow_exception(chamada->erro);
    }
}

void TQtSync::OnLog(const std::vector<std::string>& lines) {
    logPendente_.insert(logPendente_.end(), lines.begin(), lines.end());
    if (janela_ == nullptr) {
        MostrarLog();
    } else if (!logAgendado_) {
        logAgendado_ = true;
        QTimer::singleShot(kAtrasoDoLog, janela_, [this] { MostrarLog(); });
    }
}

void TQtSync::OnFimRodada() {
    MostrarLog();
}

void TQtSync::MostrarLog() {
    logAgendado_ = false;
    std::vector<std::string> linhas;
    linhas.swap(logPendente_);
    if (!linhas.empty() && onLog_) {
        onLog_(linhas);
    }
}

void TQtSync::OnNota(const std::string& de, const std::string& para) {
    if (onNota_) {
        onNota_(de, para);
    }
}

}  // namespace quelvo
