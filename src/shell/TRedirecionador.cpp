#include "shell/TRedirecionador.h"

#include <QPointer>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

namespace quelvo {

namespace {

// Bytes that cannot stand in a header line or an address are written %XX; everything else goes
// as the user typed it.
QByteArray ParaLocation(const std::string& endereco) {
    QByteArray out;
    for (const unsigned char c : endereco) {
        if (c <= 0x20 || c >= 0x7F) {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The owner of the socket with these ends in one of the kernel's TCP tables; nothing when absent.
std::optional<uid_t> DonoNaTabela(const char* arquivo, const std::string& local,
                                  const std::string& remoto) {
    std::ifstream tabela(arquivo);
    std::string linha;
    std::getline(tabela, linha);  // the heading
    while (std::getline(tabela, linha)) {
        std::istringstream campos(linha);
        std::string sl, loc, rem, st, filas, tm, retr;
        uid_t uid = 0;
        if ((campos >> sl >> loc >> rem >> st >> filas >> tm >> retr >> uid) && loc == local &&
            rem == remoto) {
            return uid;
        }
    }
    return std::nullopt;
}

// The user that owns the client end of a loopback connection; nothing when it is not found. The
// token travels on the browser's command line, which other users can read: only this user's
// processes may use it.
std::optional<uid_t> DonoDoCliente(quint16 portaCliente, quint16 portaServidor) {
    char porta[8];
    std::snprintf(porta, sizeof porta, ":%04X", portaCliente);
    char servidor[8];
    std::snprintf(servidor, sizeof servidor, ":%04X", portaServidor);
    if (auto uid = DonoNaTabela("/proc/net/tcp", std::string("0100007F") + porta,
                                std::string("0100007F") + servidor)) {
        return uid;
    }
    // A dual-stack client reaches 127.0.0.1 as ::ffff:127.0.0.1.
    const std::string mapeado = "0000000000000000FFFF00000100007F";
    return DonoNaTabela("/proc/net/tcp6", mapeado + porta, mapeado + servidor);
}

}  // namespace

TRedirecionador::TRedirecionador(QObject* parent) : QObject(parent) {
    connect(&server_, &QTcpServer::newConnection, this, &TRedirecionador::Atender);
}

std::string TRedirecionador::Publicar(const std::string& destino) {
    if (!server_.isListening() && !server_.listen(QHostAddress::LocalHost, 0)) {
        return {};
    }
    const auto agora = std::chrono::steady_clock::now();
    for (auto it = destinos_.begin(); it != destinos_.end();) {
        it = it->second.ate < agora ? destinos_.erase(it) : std::next(it);
    }
    quint32 bits[4];
    QRandomGenerator::system()->fillRange(bits);
    char token[33];
    std::snprintf(token, sizeof token, "%08x%08x%08x%08x", bits[0], bits[1], bits[2], bits[3]);
    destinos_[token] = Destino{destino, agora + kValidade};
    return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + "/" + token;
}

void TRedirecionador::Atender() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        socket->setParent(this);
        if (DonoDoCliente(socket->peerPort(), server_.serverPort()) != ::getuid()) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // A peer that sends nothing useful is dropped after a few seconds.
        QTimer::singleShot(5000, socket, [socket] { socket->abort(); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            QByteArray pedido = socket->property("pedido").toByteArray() + socket->readAll();
            if (pedido.size() > kMaxPedido) {
                socket->abort();
                return;
            }
            if (!pedido.contains("\r\n\r\n")) {
                socket->setProperty("pedido", pedido);
                return;
            }
            socket->write(Resposta(pedido));
            socket->disconnectFromHost();
        });
    }
}

QByteArray TRedirecionador::Resposta(const QByteArray& pedido) {
    // "GET /<token> HTTP/1.1"
    const QList<QByteArray> partes = pedido.left(pedido.indexOf("\r\n")).split(' ');
    std::string token;
    if (partes.size() == 3 && partes[0] == "GET" && partes[1].startsWith('/')) {
        token = partes[1].mid(1).toStdString();
    }
    const auto it = destinos_.find(token);
    if (it == destinos_.end() || it->second.ate < std::chrono::steady_clock::now()) {
        return "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    }
    const QByteArray location = ParaLocation(it->second.endereco);
    destinos_.erase(it);
    return "HTTP/1.1 302 Found\r\nLocation: " + location +
           "\r\nCache-Control: no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

}  // namespace quelvo
