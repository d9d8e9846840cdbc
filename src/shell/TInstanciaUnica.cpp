#include "shell/TInstanciaUnica.h"

#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <thread>

namespace quelvo {

namespace {

constexpr const char* kPedido = "FINALIZAR\n";

// The process and user on the other end of a local socket.
bool Credenciais(qintptr fd, ucred& cred) {
    socklen_t len = sizeof cred;
    return ::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0;
}

// Tries to take the lock until `ate`.
std::unique_ptr<TFolderLock> EsperarTrava(const std::string& appDir,
                                          std::chrono::steady_clock::time_point ate) {
    for (;;) {
        if (auto lock = TFolderLock::TryAcquire(appDir, "quelvo")) {
            return lock;
        }
        if (std::chrono::steady_clock::now() >= ate) {
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// The holder as its lock file says; a holder that has just taken the lock may not have written
// itself yet.
TFolderLock::Holder Dono(const std::string& appDir) {
    TFolderLock::Holder holder = TFolderLock::CurrentHolder(appDir);
    for (int i = 0; i < 20 && holder.program.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        holder = TFolderLock::CurrentHolder(appDir);
    }
    return holder;
}

}  // namespace

QString TInstanciaUnica::NomeDoServidor(const std::string& appDir) {
    const QByteArray hash =
        QCryptographicHash::hash(QByteArray::fromStdString(appDir), QCryptographicHash::Sha256);
    return QStringLiteral("quelvo-%1-%2")
        .arg(::getuid())
        .arg(QString::fromLatin1(hash.toHex().left(32)));
}

TInstanciaUnica::TInstanciaUnica(std::unique_ptr<TFolderLock> lock, const std::string& appDir)
    : lock_(std::move(lock)) {
    // An abstract socket: it goes with the process, however the process ends.
    server_.setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (!server_.listen(NomeDoServidor(appDir))) {
        // A newer copy then cannot ask this one to save; it will end it after its wait.
        std::fprintf(stderr, "quelvo: o pedido de outra cópia não poderá ser atendido (%s).\n",
                     server_.errorString().toLocal8Bit().constData());
    }
    connect(&server_, &QLocalServer::newConnection, this, &TInstanciaUnica::Atender);
}

void TInstanciaUnica::Atender() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        ucred cred{};
        // Only a copy of the same user may ask this one to quit.
        if (!Credenciais(socket->socketDescriptor(), cred) || cred.uid != ::getuid()) {
            socket->abort();
            continue;
        }
        QTimer::singleShot(kEspera, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > 64) {
                    socket->abort();
                }
                return;
            }
            const QByteArray linha = socket->readLine(64);
            socket->disconnectFromServer();
            if (linha == kPedido && finalizar_) {
                // Not inside the socket's handler: the close may show boxes and end the loop.
                QTimer::singleShot(0, this, [this] { finalizar_(); });
            }
        });
    }
}

std::unique_ptr<TInstanciaUnica> TInstanciaUnica::Assumir(const std::string& appDir,
                                                          std::string& motivo,
                                                          std::chrono::milliseconds espera) {
    if (auto lock = TFolderLock::TryAcquire(appDir, "quelvo")) {
        return std::make_unique<TInstanciaUnica>(std::move(lock), appDir);
    }
    const TFolderLock::Holder dono = Dono(appDir);
    if (dono.program != "quelvo") {
        motivo = "A pasta do aplicativo " + appDir + " está em uso (" +
                 TFolderLock::Describe(dono) +
                 "). Finalize esse programa antes de abrir o Quelvo nesta pasta.";
        return nullptr;
    }

    // An older copy of this program: ask it to save and quit.
    pid_t pid = dono.pid;
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(NomeDoServidor(appDir));
    if (socket.waitForConnected(1000)) {
        ucred cred{};
        if (Credenciais(socket.socketDescriptor(), cred) && cred.uid == ::getuid()) {
            pid = cred.pid;
        }
        socket.write(kPedido);
        socket.waitForBytesWritten(1000);
    }
    const auto inicio = std::chrono::steady_clock::now();
    auto lock = EsperarTrava(appDir, inicio + espera);
    // It had its time to save: end it, as the program has always done with a copy that does
    // not close; only while that very copy still holds the folder.
    const TFolderLock::Holder agora = TFolderLock::CurrentHolder(appDir);
    if (!lock && pid > 0 && agora.program == "quelvo" && agora.pid == pid) {
        ::kill(pid, SIGKILL);
        lock = EsperarTrava(appDir, std::chrono::steady_clock::now() + std::chrono::seconds(3));
    }
    if (!lock) {
        motivo = "A pasta do aplicativo " + appDir + " continua em uso (" +
                 TFolderLock::Describe(TFolderLock::CurrentHolder(appDir)) +
                 ") e a cópia anterior do Quelvo não pôde ser finalizada.";
        return nullptr;
    }
    return std::make_unique<TInstanciaUnica>(std::move(lock), appDir);
}

}  // namespace quelvo
