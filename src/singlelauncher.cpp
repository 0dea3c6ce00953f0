#include "singlelauncher.h"

#include "launcherfiles.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

// How long a launcher that is not the folder's waits to tell the one that is: the other one
// answers from its event loop, and a busy one must not keep the new one around.
constexpr int kAskMilliseconds = 3000;
const QByteArray kRaise = "raise\n";

} // namespace

SingleLauncher::SingleLauncher(const QString& folder, QObject* parent)
    : QObject(parent)
    , folder(folder)
    , lock(launcherfiles::lock(folder)) {
    // Only a lock whose process is gone is stale: an update may well run for many minutes. On a
    // local disk the age is never what decides (a lock of this computer is stale once its process
    // is gone, and one whose process runs is held by the system's lock on the file); it decides
    // for a lock written from another computer into a folder on a shared drive, whose process
    // cannot be seen from here: by age, that launcher's lock would be taken in mid-update.
    lock.setStaleLockTime(0);
}

SingleLauncher::~SingleLauncher() {
    if (server)
        server->close();
    lock.unlock();
}

QString SingleLauncher::serverName(const QString& folder) {
    return launcherfiles::windowSocket(folder);
}

bool SingleLauncher::claim() {
    // A package's folder for the player is made at the first start.
    QDir().mkpath(folder);
    if (lock.tryLock(0)) {
        listen();
        return true;
    }
    if (lock.error() == QLockFile::LockFailedError) {
        askOwnerToRaise();
        return false;
    }
    // No lock can be made here (a folder that cannot be written): there is nothing a second
    // launcher could break that this one can change, and the update says why it cannot run.
    return true;
}

void SingleLauncher::listen() {
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = serverName(folder);
    if (!server->listen(name)) {
        // Left by a launcher that was killed: the lock is ours, so the name is too.
        QLocalServer::removeServer(name);
        server->listen(name);
    }
    connect(server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains(kRaise.trimmed()))
                    emit raiseRequested();
                socket->disconnectFromServer();
            });
        }
    });
}

void SingleLauncher::askOwnerToRaise() const {
    QLocalSocket socket;
    socket.connectToServer(serverName(folder));
    if (!socket.waitForConnected(kAskMilliseconds))
        return;
    socket.write(kRaise);
    socket.waitForBytesWritten(kAskMilliseconds);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(kAskMilliseconds);
}
