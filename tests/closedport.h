#pragma once

#include <QHostAddress>
#include <QTcpServer>

// A port that was free a moment ago and has no listener now: connecting to it is refused.
inline quint16 closedPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
