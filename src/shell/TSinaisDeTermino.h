#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace quelvo {

// SIGTERM, SIGINT and SIGHUP (a session that ends, `kill`, Ctrl+C in a terminal) become a call on
// the window's thread, so the program ends the way "Finalizar Aplicação" does: state saved first.
// The handler only writes a byte to a socket pair; the window's thread reads it.
class TSinaisDeTermino : public QObject {
    Q_OBJECT
public:
    explicit TSinaisDeTermino(std::function<void()> aoTerminar, QObject* parent = nullptr);
    ~TSinaisDeTermino() override;

private:
    std::function<void()> aoTerminar_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace quelvo
