#include "localchannel.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#include <qt_windows.h>
#else
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN

namespace {

// An overlapped operation's buffer and state must outlive it: cancelled, it is waited for before
// they go.
void cancelAndWait(HANDLE pipe, OVERLAPPED* pending) {
    CancelIoEx(pipe, pending);
    DWORD ignored = 0;
    GetOverlappedResult(pipe, pending, &ignored, TRUE);
}

} // namespace

struct LocalPeer::Connection {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    // The read under way: its buffer and its state stay put until it is over or cancelled.
    OVERLAPPED reading{};
    HANDLE readEvent = nullptr;
    char buffer[4096];
    QWinEventNotifier* readDone = nullptr;
    bool readPending = false;

    ~Connection() {
        // Possibly from inside its own signal: it goes once that is over.
        if (readDone) {
            readDone->setEnabled(false);
            readDone->deleteLater();
        }
        if (pipe != INVALID_HANDLE_VALUE) {
            if (readPending)
                cancelAndWait(pipe, &reading);
            CloseHandle(pipe);
        }
        if (readEvent)
            CloseHandle(readEvent);
    }
};

struct LocalListener::Server {
    std::wstring name;
    // The instance that waits for the next client.
    HANDLE pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED connecting{};
    HANDLE event = nullptr;
    QWinEventNotifier* notifier = nullptr;
    bool first = true;

    bool waitForClient() {
        pipe = CreateNamedPipeW(
            name.c_str(),
            PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
            PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE)
            return false;
        first = false;
        connecting = OVERLAPPED{};
        connecting.hEvent = event;
        ResetEvent(event);
        if (!ConnectNamedPipe(pipe, &connecting)) {
            const DWORD error = GetLastError();
            if (error == ERROR_PIPE_CONNECTED) {
                // A client came between the two calls: told as any other.
                SetEvent(event);
            } else if (error != ERROR_IO_PENDING) {
                CloseHandle(pipe);
                pipe = INVALID_HANDLE_VALUE;
                return false;
            }
        }
        return true;
    }

    ~Server() {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
        if (pipe != INVALID_HANDLE_VALUE) {
            cancelAndWait(pipe, &connecting);
            CloseHandle(pipe);
        }
        if (event)
            CloseHandle(event);
    }
};

LocalPeer::LocalPeer(std::unique_ptr<Connection> made, QObject* parent)
    : QObject(parent)
    , connection(std::move(made)) {
    connection->readEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    connection->readDone = new QWinEventNotifier(connection->readEvent);
    const auto startRead = [this] {
        Connection& c = *connection;
        c.reading = OVERLAPPED{};
        c.reading.hEvent = c.readEvent;
        ResetEvent(c.readEvent);
        c.readPending = true;
        // Done at once or later: the event says so either way.
        if (!ReadFile(c.pipe, c.buffer, sizeof c.buffer, nullptr, &c.reading) &&
            GetLastError() != ERROR_IO_PENDING) {
            c.readPending = false;
            return false;
        }
        return true;
    };
    connect(connection->readDone, &QWinEventNotifier::activated, this, [this, startRead] {
        Connection& c = *connection;
        DWORD count = 0;
        const bool done = GetOverlappedResult(c.pipe, &c.reading, &count, FALSE);
        c.readPending = false;
        if (!done && GetLastError() != ERROR_MORE_DATA) {
            lost();
            return;
        }
        received(QByteArray(c.buffer, qsizetype(count)));
        if (connection && connection->pipe != INVALID_HANDLE_VALUE && !startRead())
            lost();
    });
    if (!startRead())
        QMetaObject::invokeMethod(this, &LocalPeer::lost, Qt::QueuedConnection);
}

void LocalPeer::send(const QByteArray& line) {
    if (!isOpen())
        return;
    const QByteArray bytes = line + '\n';
    OVERLAPPED writing{};
    writing.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    // A few hundred bytes into the pipe's buffer: done at once, or once the client reads.
    const bool sent =
        WriteFile(connection->pipe, bytes.constData(), DWORD(bytes.size()), nullptr, &writing) ||
        (GetLastError() == ERROR_IO_PENDING &&
         GetOverlappedResult(connection->pipe, &writing, &written, TRUE));
    CloseHandle(writing.hEvent);
    if (!sent)
        lost();
}

void LocalPeer::close() {
    if (!isOpen())
        return;
    // Closing the server's end would throw away what the client has not read yet.
    FlushFileBuffers(connection->pipe);
    connection.reset();
}

bool LocalPeer::isOpen() const {
    return connection && connection->pipe != INVALID_HANDLE_VALUE;
}

LocalListener::LocalListener(QObject* parent)
    : QObject(parent) {}

bool LocalListener::listen(const QString& name) {
    close();
    auto made = std::make_unique<Server>();
    const QString full = name.startsWith(QLatin1String("\\\\.\\pipe\\"))
                             ? name
                             : QStringLiteral("\\\\.\\pipe\\") + name;
    made->name = full.toStdWString();
    made->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!made->event || !made->waitForClient())
        return false;
    made->notifier = new QWinEventNotifier(made->event);
    connect(made->notifier, &QWinEventNotifier::activated, this, &LocalListener::accept);
    server = std::move(made);
    return true;
}

void LocalListener::accept() {
    Server& s = *server;
    DWORD ignored = 0;
    auto connection = std::make_unique<LocalPeer::Connection>();
    if (GetOverlappedResult(s.pipe, &s.connecting, &ignored, FALSE)) {
        connection->pipe = s.pipe;
    } else {
        CloseHandle(s.pipe);
    }
    s.pipe = INVALID_HANDLE_VALUE;
    // The next client has an instance to connect to before this one is told of.
    if (!s.waitForClient())
        s.notifier->setEnabled(false);
    if (connection->pipe != INVALID_HANDLE_VALUE)
        emit connected(new LocalPeer(std::move(connection), this));
}

void LocalListener::close() {
    server.reset();
}

#else

struct LocalPeer::Connection {
    int socket = -1;
    QSocketNotifier* readable = nullptr;

    ~Connection() {
        // Possibly from inside its own signal: it goes once that is over.
        if (readable) {
            readable->setEnabled(false);
            readable->deleteLater();
        }
        if (socket >= 0)
            ::close(socket);
    }
};

struct LocalListener::Server {
    int socket = -1;
    QByteArray path;
    QSocketNotifier* notifier = nullptr;

    ~Server() {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
        if (socket >= 0) {
            ::close(socket);
            ::unlink(path.constData());
        }
    }
};

LocalPeer::LocalPeer(std::unique_ptr<Connection> made, QObject* parent)
    : QObject(parent)
    , connection(std::move(made)) {
    connection->readable = new QSocketNotifier(qintptr(connection->socket), QSocketNotifier::Read);
    connect(connection->readable, &QSocketNotifier::activated, this, [this] {
        char buffer[4096];
        while (connection) {
            const ssize_t count = ::read(connection->socket, buffer, sizeof buffer);
            if (count > 0) {
                received(QByteArray(buffer, qsizetype(count)));
            } else if (count < 0 && errno == EINTR) {
                continue;
            } else {
                if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                    lost();
                return;
            }
        }
    });
}

void LocalPeer::send(const QByteArray& line) {
    if (!isOpen())
        return;
    QByteArray bytes = line + '\n';
    while (!bytes.isEmpty()) {
        // A peer that went must not end the watcher with SIGPIPE.
        const ssize_t count =
            ::send(connection->socket, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR)
            continue;
        // A few hundred bytes never fill a local socket's buffer: a full one is a client that
        // reads nothing, and is let go.
        if (count <= 0) {
            lost();
            return;
        }
        bytes.remove(0, qsizetype(count));
    }
}

void LocalPeer::close() {
    // What was sent is in the system's buffer already: the client reads it after the close.
    connection.reset();
}

bool LocalPeer::isOpen() const {
    return connection && connection->socket >= 0;
}

LocalListener::LocalListener(QObject* parent)
    : QObject(parent) {}

bool LocalListener::listen(const QString& name) {
    close();
    auto made = std::make_unique<Server>();
    made->path =
        QFile::encodeName(name.startsWith(QLatin1Char('/'))
                              ? name
                              : QDir::cleanPath(QDir::tempPath()) + QLatin1Char('/') + name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (made->path.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, made->path.constData(), size_t(made->path.size()));
    // Left by a watcher that was killed: the caller's lock makes the name this one's. Only a
    // socket is taken away, never a file someone put there.
    struct stat left;
    if (::lstat(made->path.constData(), &left) == 0) {
        if (!S_ISSOCK(left.st_mode))
            return false;
        ::unlink(made->path.constData());
    }
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket < 0)
        return false;
    // The current user's alone from its very first moment: others can neither connect nor ask
    // the watcher anything.
    const mode_t mask = ::umask(077);
    const bool bound =
        ::bind(socket, reinterpret_cast<const sockaddr*>(&address), socklen_t(sizeof address)) == 0;
    ::umask(mask);
    if (!bound) {
        ::close(socket);
        return false;
    }
    made->socket = socket;
    if (::listen(socket, 16) != 0)
        return false;
    made->notifier = new QSocketNotifier(qintptr(socket), QSocketNotifier::Read);
    connect(made->notifier, &QSocketNotifier::activated, this, &LocalListener::accept);
    server = std::move(made);
    return true;
}

void LocalListener::accept() {
    for (;;) {
        const int client =
            ::accept4(server->socket, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        auto connection = std::make_unique<LocalPeer::Connection>();
        connection->socket = client;
        emit connected(new LocalPeer(std::move(connection), this));
        if (!server)
            return;
    }
}

void LocalListener::close() {
    server.reset();
}

#endif

LocalPeer::~LocalPeer() = default;

LocalListener::~LocalListener() = default;

void LocalPeer::received(const QByteArray& bytes) {
    pending += bytes;
    qsizetype end;
    while (connection && (end = pending.indexOf('\n')) >= 0) {
        const QByteArray line = pending.left(end);
        pending.remove(0, end + 1);
        emit lineReceived(line);
    }
    if (pending.size() > kLongestLine)
        lost();
}

void LocalPeer::lost() {
    if (!connection)
        return;
    connection.reset();
    pending.clear();
    emit disconnected();
}
