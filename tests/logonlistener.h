#pragma once

#include "closedport.h"

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

    QTcpServer server;
    int connections = 0;
    int closed = 0;
    QByteArray received;
};
