#pragma once

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

// A logon server on loopback that counts its visitors and records what they sent before going.
class LogonListener : public QObject {
public:
    LogonListener() {
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* visitor = server.nextPendingConnection()) {
                ++connections;
                connect(visitor, &QTcpSocket::readyRead, this,
                        [this, visitor] { received += visitor->readAll(); });
                connect(visitor, &QTcpSocket::disconnected, this, [this, visitor] {
                    ++closed;
                    visitor->deleteLater();
                });
            }
        });
    }
    QByteArray hostText() const { return "127.0.0.1:" + QByteArray::number(server.serverPort()); }

    // A port nothing listens on: taken from the system, then given back.
    static quint16 closedPort() {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost))
            return 0;
        const quint16 port = probe.serverPort();
        probe.close();
        return port;
    }

    QTcpServer server;
    int connections = 0;
    int closed = 0;
    QByteArray received;
};
