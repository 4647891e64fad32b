#include "SingleInstance.h"

#include <QDir>
#include <QLocalSocket>

#include <cstdlib>
#include <unistd.h>

#include "Paths.h"

namespace orvex {

namespace {

constexpr int handOverLimitMs = 2000;
constexpr qint64 longestMessage = 4096;

} // namespace

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), name_(std::move(name)) {}

// In the user's private runtime folder where there is one, so that no other user can take
// the name first; otherwise in the temporary folder, relocated like every fixed location.
QString SingleInstance::defaultName() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder =
        runtime != nullptr && runtime[0] == '/' ? runtime : Paths::relocate(QDir::tempPath().toStdString());
    Paths::ensureDir(folder);
    return QString::fromStdString(folder) + QStringLiteral("/net.orvex.app-%1").arg(::getuid());
}

bool SingleInstance::handOver(const QString& message) {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(handOverLimitMs)) return false;
    socket.write(message.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(handOverLimitMs)) return false;
    // The running instance closes once it has read the line, so the message is not lost to
    // an exit that comes too early.
    socket.waitForDisconnected(handOverLimitMs);
    return true;
}

bool SingleInstance::listen(std::function<void(const QString& message)> received) {
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        // A socket left by a crashed instance: nobody answers on it, so it may go.
        QLocalServer::removeServer(name_);
        if (!server_->listen(name_)) return false;
    }
    QObject::connect(server_.get(), &QLocalServer::newConnection, this, [this, received] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, received] {
                if (!socket->canReadLine()) {
                    if (socket->bytesAvailable() > longestMessage) socket->abort();
                    return;
                }
                QString message = QString::fromUtf8(socket->readLine(longestMessage).trimmed());
                socket->disconnectFromServer();
                received(message);
            });
        }
    });
    return true;
}

} // namespace orvex
