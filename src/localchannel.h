#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

// A local server and its connections, line by line, with Qt Core and the system's own sockets
// (Unix) or named pipes (Windows): the watcher that holds the game keeps nothing of Qt Network
// in its memory. Its clients are the window's QLocalSocket: the names are QLocalServer's.
class LocalPeer : public QObject {
    Q_OBJECT

public:
    ~LocalPeer() override;

    // One line, its end added. Nothing is sent once the peer has gone.
    void send(const QByteArray& line);
    // Ends the connection; what was sent is still read by the other end.
    void close();
    bool isOpen() const;

    // The longest line a peer may send: a client that goes beyond is cut off, never kept.
    static constexpr qsizetype kLongestLine = 64 * 1024;

signals:
    void lineReceived(const QByteArray& line);
    // The other end went, or the connection was cut off; once.
    void disconnected();

private:
    friend class LocalListener;
    struct Connection;
    explicit LocalPeer(std::unique_ptr<Connection> connection, QObject* parent);
    void received(const QByteArray& bytes);
    void lost();

    std::unique_ptr<Connection> connection;
    QByteArray pending;
};

class LocalListener : public QObject {
    Q_OBJECT

public:
    explicit LocalListener(QObject* parent = nullptr);
    ~LocalListener() override;

    // Listens under `name`, as QLocalServer::listen would: a path on Unix when it starts with
    // "/", else a name in the temporary folder; a pipe's name on Windows. Only the current user
    // may connect. A name left by a process that is gone is taken over: the caller holds the
    // lock that makes the name its own.
    bool listen(const QString& name);
    void close();

signals:
    // A client connected; the peer is a child of the listener until it is deleted.
    void connected(LocalPeer* peer);

private:
    struct Server;
    void accept();
    std::unique_ptr<Server> server;
};
