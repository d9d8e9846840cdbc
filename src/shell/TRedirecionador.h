#pragma once

#include <QObject>
#include <QTcpServer>

#include <chrono>
#include <map>
#include <string>

namespace quelvo {

// A one-time redirect on 127.0.0.1 for addresses that carry the user's password ("Ver as
// Notas"): the browser is started with a local address holding only a random token, and gets the
// real address from the 302 answer. So the password never stands on a command line, where every
// user of the machine could read it for as long as the browser runs. Each token serves once and
// lapses after two minutes, and only connections of this user's processes are answered.
class TRedirecionador : public QObject {
    Q_OBJECT
public:
    explicit TRedirecionador(QObject* parent = nullptr);

    // The local address that redirects once to `destino`; empty when no local port could be
    // opened.
    std::string Publicar(const std::string& destino);

    static constexpr std::chrono::seconds kValidade{120};
    static constexpr int kMaxPedido = 8192;

private:
    void Atender();
    QByteArray Resposta(const QByteArray& pedido);

    QTcpServer server_;
    struct Destino {
        std::string endereco;
        std::chrono::steady_clock::time_point ate;
    };
    std::map<std::string, Destino> destinos_;
};

}  // namespace quelvo
