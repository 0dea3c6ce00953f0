#include "communityserver.h"

#include <QFile>
#include <QFileInfo>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace {

QByteArray contentTypeOf(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("php") || suffix == QLatin1String("html"))
        return "text/html; charset=utf-8";
    if (suffix == QLatin1String("css"))
        return "text/css";
    if (suffix == QLatin1String("js"))
        return "text/javascript";
    if (suffix == QLatin1String("png"))
        return "image/png";
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return "image/jpeg";
    if (suffix == QLatin1String("ico"))
        return "image/x-icon";
    if (suffix == QLatin1String("txt"))
        return "text/plain; charset=iso-8859-1";
    return "application/octet-stream";
}

QByteArray reasonOf(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

QByteArray head(int status, const QByteArray& contentType, qint64 length, bool keepAlive) {
    QByteArray text = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonOf(status) + "\r\n";
    text += "Content-Type: " + contentType + "\r\n";
    if (length >= 0)
        text += "Content-Length: " + QByteArray::number(length) + "\r\n";
    text += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    return text + "\r\n";
}

} // namespace

QByteArray CommunityServer::Request::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

CommunityServer::CommunityServer(QObject* parent)
    : QTcpServer(parent) {
    connect(this, &QTcpServer::newConnection, this, &CommunityServer::onNewConnection);
}

bool CommunityServer::start(quint16 port) {
    return listen(QHostAddress::LocalHost, port);
}

QList<CommunityServer::Request> CommunityServer::requestsFor(const QByteArray& path) const {
    QList<Request> found;
    for (const Request& request : received) {
        if (request.path == path)
            found.append(request);
    }
    return found;
}

void CommunityServer::setTls(const QList<QSslCertificate>& chain, const QSslKey& key,
                             const QByteArray& target) {
    tls.insert(target, {chain, key});
}

void CommunityServer::dropConnections() {
    held.clear();
    for (QTcpSocket* socket : findChildren<QTcpSocket*>())
        socket->abort();
}

void CommunityServer::incomingConnection(qintptr descriptor) {
    // Every connection can become a TLS tunnel: it starts as plain TCP either way.
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    addPendingConnection(socket);
}

void CommunityServer::openTunnel(QTcpSocket* socket, const QByteArray& target) {
    auto* secure = qobject_cast<QSslSocket*>(socket);
    const auto identity = tls.value(target, tls.value({}));
    if (!secure || identity.first.isEmpty()) {
        socket->write("HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n"
                      "Connection: close\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    socket->write("HTTP/1.1 200 Connection established\r\n\r\n");
    socket->flush();
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(identity.first);
    configuration.setPrivateKey(identity.second);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    secure->setSslConfiguration(configuration);
    secure->startServerEncryption();
}

void CommunityServer::onNewConnection() {
    while (QTcpSocket* socket = nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
    }
}

void CommunityServer::serve(QTcpSocket* socket) {
    // Requests may arrive split or several at once on a kept-alive connection: the bytes not
    // yet answered wait in the socket's own property.
    QByteArray pending = socket->property("pending").toByteArray() + socket->readAll();
    for (;;) {
        const qsizetype end = pending.indexOf("\r\n\r\n");
        if (end < 0)
            break;
        const QList<QByteArray> lines = pending.left(end).split('\n');
        Request request;
        const QList<QByteArray> words = lines.value(0).trimmed().split(' ');
        request.method = words.value(0);
        request.target = words.value(1);
        qint64 bodyLength = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        bodyLength = request.header("Content-Length").toLongLong();
        if (pending.size() < end + 4 + bodyLength)
            break;
        pending.remove(0, end + 4 + bodyLength);
        const QUrl url = QUrl::fromEncoded(request.target);
        request.path = request.target.startsWith('/') ? request.target.split('?').value(0)
                                                      : url.path(QUrl::FullyEncoded).toLatin1();
        received.append(request);
        emit requestReceived(request);
        if (request.method == "CONNECT") {
            openTunnel(socket, request.target);
            socket->setProperty("pending", pending);
            return;
        }
        answer(socket, request);
        if (socket->state() != QAbstractSocket::ConnectedState)
            return;
    }
    socket->setProperty("pending", pending);
}

void CommunityServer::answer(QTcpSocket* socket, const Request& request) {
    const int delay = delays.value(request.path, 0);
    if (delay > 0)
        QTimer::singleShot(delay, socket, [this, socket, request] { answerNow(socket, request); });
    else
        answerNow(socket, request);
}

void CommunityServer::answerNow(QTcpSocket* socket, const Request& request) {
    const auto found = replies.constFind(request.path);
    if (found == replies.constEnd())
        answerFromFolder(socket, request, keepsAlive(request));
    else
        answerWith(socket, request, *found);
}

bool CommunityServer::keepsAlive(const Request& request) {
    return request.header("Connection").toLower() != "close" &&
           request.header("Proxy-Connection").toLower() != "close";
}

void CommunityServer::answerWith(QTcpSocket* socket, const Request& request, const Reply& reply) {
    const bool keepAlive = keepsAlive(request);
    switch (reply.mode) {
    case Reply::Held:
        held.append({socket, request});
        break;
    case Reply::Complete:
        socket->write(head(reply.status, reply.contentType, reply.body.size(), keepAlive));
        socket->write(reply.body);
        if (!keepAlive)
            socket->disconnectFromHost();
        break;
    case Reply::NoContentLength:
        socket->write(head(reply.status, reply.contentType, -1, false));
        socket->write(reply.body);
        socket->disconnectFromHost();
        break;
    case Reply::CutShort:
        socket->write(head(reply.status, reply.contentType, reply.body.size(), false));
        socket->write(reply.body.left(reply.cutAfter));
        socket->disconnectFromHost();
        break;
    case Reply::Silent:
        break;
    case Reply::Raw:
        socket->write(reply.body);
        socket->disconnectFromHost();
        break;
    case Reply::Trickle: {
        socket->write(head(reply.status, reply.contentType, reply.body.size(), keepAlive));
        auto* pace = new QTimer(socket);
        connect(pace, &QTimer::timeout, socket,
                [socket, pace, body = reply.body, step = reply.trickleBytes,
                 sent = qint64(0)]() mutable {
                    if (sent >= body.size()) {
                        pace->stop();
                        return;
                    }
                    socket->write(body.mid(sent, step));
                    sent += step;
                });
        pace->start(50);
        break;
    }
    case Reply::Endless:
    case Reply::EndlessHeader: {
        const bool header = reply.mode == Reply::EndlessHeader;
        socket->write(header ? QByteArray("HTTP/1.1 200 OK\r\n")
                             : head(reply.status, reply.contentType, -1, false));
        const QByteArray piece = header ? "X-Filler: " + reply.body + "\r\n" : reply.body;
        auto* pace = new QTimer(socket);
        // Only as fast as the client takes it: the server's own memory stays small.
        connect(pace, &QTimer::timeout, socket, [socket, piece] {
            if (socket->bytesToWrite() < (qint64(1) << 20))
                socket->write(piece);
        });
        pace->start(5);
        break;
    }
    case Reply::Stalls:
        socket->write(head(reply.status, reply.contentType, reply.body.size(), keepAlive));
        socket->write(reply.body.left(reply.cutAfter));
        break;
    }
}

void CommunityServer::releaseHeld() {
    const auto waiting = std::exchange(held, {});
    for (const auto& [socket, request] : waiting) {
        if (!socket)
            continue;
        Reply reply = replies.value(request.path);
        reply.mode = Reply::Complete;
        answerWith(socket, request, reply);
    }
}

void CommunityServer::answerFromFolder(QTcpSocket* socket, const Request& request, bool keepAlive) {
    const QString relative = QUrl::fromPercentEncoding(request.path);
    QFile file(rootDir + relative);
    // Only what lies below the folder: a path that climbs out of it is not found.
    const bool inside = !relative.contains(QLatin1String("/..")) && relative.startsWith('/');
    if (!inside || !QFileInfo(file.fileName()).isFile() || !file.open(QIODevice::ReadOnly)) {
        const QByteArray body = "<html><body><h1>404</h1></body></html>";
        socket->write(head(404, "text/html; charset=utf-8", body.size(), keepAlive));
        socket->write(request.method == "HEAD" ? QByteArray() : body);
        return;
    }
    QByteArray body = file.readAll();
    // The pages name the server the way the launcher asked for it, so that their absolute links
    // work whatever host and port the launcher was built for.
    if (relative.endsWith(QLatin1String(".php")))
        body.replace("@HOST@", request.header("Host"));
    socket->write(head(200, contentTypeOf(relative), body.size(), keepAlive));
    if (request.method != "HEAD")
        socket->write(body);
    if (!keepAlive)
        socket->disconnectFromHost();
}
