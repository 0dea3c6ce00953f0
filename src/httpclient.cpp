#include "httpclient.h"

#include <QIODevice>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

// What a reply announces is only a hint: the body is never given room beyond this up front.
constexpr qint64 kLargestReservation = qint64(256) << 20;
// A body on its way to a device waits in the network layer no longer than this: a slow disk
// holds the download back instead of filling the memory.
constexpr qint64 kStreamBuffer = qint64(1) << 20;
// The piece a body on its way to a device is handed over in.
constexpr qsizetype kStreamPiece = qsizetype(256) << 10;

int asProgress(qint64 bytes) {
    return int(std::clamp<qint64>(bytes, 0, std::numeric_limits<int>::max()));
}

} // namespace

HttpRequestHeader::HttpRequestHeader(const QString& method, const QString& path, int majorVersion,
                                     int minorVersion)
    : requestMethod(method)
    , requestPath(path)
    , major(majorVersion)
    , minor(minorVersion) {}

void HttpRequestHeader::setValue(const QString& key, const QString& value) {
    for (auto& field : fields) {
        if (field.first.compare(key, Qt::CaseInsensitive) == 0) {
            field.second = value;
            return;
        }
    }
    fields.append({key, value});
}

HostAndPort splitHostAndPort(const QString& text, quint16 defaultPort) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon > 0) {
        bool number = false;
        const uint port = QStringView(text).mid(colon + 1).toUInt(&number);
        if (number && port > 0 && port <= 65535)
            return {text.left(colon), quint16(port)};
    }
    return {text, defaultPort};
}

HttpClient::HttpClient(QObject* parent)
    : QObject(parent)
    , manager(new QNetworkAccessManager(this))
    , requestTimer(new QTimer(this))
    , idleTimer(new QTimer(this)) {
    requestTimer->setSingleShot(true);
    idleTimer->setSingleShot(true);
    connect(requestTimer, &QTimer::timeout, this, &HttpClient::onTimeLimit);
    connect(idleTimer, &QTimer::timeout, this, &HttpClient::onIdleLimit);
    // The server's answer is what the launcher reads, a redirection included.
    manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

HttpClient::HttpClient(const QString& host, quint16 port, QObject* parent)
    : HttpClient(parent) {
    setHost(host, port);
}

HttpClient::~HttpClient() {
    // The reply belongs to the manager, which goes with this object: it must not report back.
    if (current)
        current->disconnect(this);
}

HttpClient::HttpClient(const WebServer& server, QObject* parent)
    : HttpClient(parent) {
    setHost(server.host, server.secure ? ConnectionModeHttps : ConnectionModeHttp, server.port);
}

void HttpClient::setHost(const QString& host, quint16 port) {
    setHost(host, ConnectionModeHttp, port);
}

void HttpClient::setHost(const QString& host, ConnectionMode mode, quint16 port) {
    hostName = host;
    hostPort = port;
    hostSecure = mode == ConnectionModeHttps;
}

int HttpClient::request(const HttpRequestHeader& header) {
    return request(header, nullptr);
}

int HttpClient::request(const HttpRequestHeader& header, QIODevice* to) {
    Pending pending{header.method().toLatin1(),
                    hostName,
                    hostPort,
                    hostSecure,
                    header.path(),
                    {},
                    to,
                    maxBody,
                    timeLimit,
                    idleLimit};
    // The network layer speaks HTTP/1.1 only, which is what the launcher asks for.
    for (const auto& [key, value] : header.values())
        pending.values.append({key.toLatin1(), value.toLatin1()});
    return enqueue(std::move(pending));
}

QByteArray HttpClient::responseHeader(const QByteArray& name) const {
    for (const auto& [key, value] : replyHeaders) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

int HttpClient::get(const QString& path, QIODevice* to) {
    return enqueue(
        {"GET", hostName, hostPort, hostSecure, path, {}, to, maxBody, timeLimit, idleLimit});
}

QByteArray HttpClient::readAll() {
    return std::exchange(body, QByteArray());
}

int HttpClient::enqueue(Pending pending) {
    queue.append(std::move(pending));
    // Nothing goes out before control is back in the event loop, so that the caller can connect
    // to the signals after queueing.
    if (!current && !startScheduled) {
        startScheduled = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                startScheduled = false;
                if (!current)
                    startNext();
            },
            Qt::QueuedConnection);
    }
    return ++lastId;
}

void HttpClient::startNext() {
    if (queue.isEmpty())
        return;
    const Pending pending = queue.takeFirst();
    // What was left unread of the previous reply goes: the body read after done() is the last.
    body.clear();
    received = 0;
    device = pending.device;
    limit = pending.limit;
    status = 0;
    replyHeaders.clear();
    lastError = NoError;
    lastErrorString.clear();

    // The scheme's own port goes unwritten, as in the address a browser would use.
    const quint16 schemePort = pending.secure ? 443 : 80;
    const QString port =
        pending.port == schemePort ? QString() : QStringLiteral(":%1").arg(pending.port);
    const QString scheme = pending.secure ? QStringLiteral("https://") : QStringLiteral("http://");
    QNetworkRequest request(QUrl(scheme + pending.host + port + pending.path));
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    // The body is taken as the server sends it, so that its length is the one announced.
    request.setRawHeader("Accept-Encoding", "identity");
    for (const auto& [key, value] : pending.values)
        request.setRawHeader(key, value);

    current = pending.method == "GET" ? manager->get(request)
                                      : manager->sendCustomRequest(request, pending.method);
    if (device)
        current->setReadBufferSize(kStreamBuffer);
    connect(current, &QNetworkReply::metaDataChanged, this, &HttpClient::onMetaData);
    connect(current, &QNetworkReply::readyRead, this, &HttpClient::onReadyRead);
    connect(current, &QNetworkReply::downloadProgress, this, &HttpClient::onProgress);
    connect(current, &QNetworkReply::finished, this, &HttpClient::onFinished);
    currentIdleLimit = pending.idleLimit;
    if (pending.timeLimit > 0)
        requestTimer->start(pending.timeLimit);
    else
        requestTimer->stop();
    if (currentIdleLimit > 0)
        idleTimer->start(currentIdleLimit);
    else
        idleTimer->stop();
}

void HttpClient::onMetaData() {
    if (currentIdleLimit > 0)
        idleTimer->start(currentIdleLimit);
    const QVariant answered = current->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // Known from the header on: a request aborted later still had this answer.
    status = answered.toInt();
    if (answered.isValid()) {
        replyHeaders = current->rawHeaderPairs();
        emit headerReceived(status);
        // The receiver may have given the request up.
        if (!current)
            return;
    }
    const QVariant length = current->header(QNetworkRequest::ContentLengthHeader);
    if (!answered.isValid() || !length.isValid())
        return;
    const qint64 announced = length.toLongLong();
    // Refused before a byte of it is read.
    if (!withinLimit(announced))
        return;
    // Room for the whole announced body at once: growing it step by step would need the old and
    // the new copy side by side.
    if (!device && body.isEmpty() && announced > 0 && announced <= kLargestReservation)
        body.reserve(announced);
}

void HttpClient::onReadyRead() {
    if (currentIdleLimit > 0)
        idleTimer->start(currentIdleLimit);
    takeBody(current);
}

bool HttpClient::takeBody(QNetworkReply* reply) {
    const qint64 available = reply->bytesAvailable();
    if (available <= 0)
        return true;
    if (!withinLimit(received + available))
        return false;
    if (device) {
        // Through one buffer of the client's, piece by piece: no allocation per piece, and never
        // the whole of what the network layer holds in one more copy.
        if (streamPiece.size() != kStreamPiece)
            streamPiece.resize(kStreamPiece);
        for (qint64 left = available; left > 0;) {
            const qint64 read =
                reply->read(streamPiece.data(), std::min<qint64>(left, streamPiece.size()));
            if (read <= 0)
                break;
            received += read;
            left -= read;
            device->write(streamPiece.constData(), read);
            // The device's owner may have given the request up on the way.
            if (reply != current)
                break;
        }
        return true;
    }
    // Read straight into the room kept for the body: no copy in between.
    const qsizetype kept = body.size();
    body.resize(kept + available);
    const qint64 read = std::max<qint64>(reply->read(body.data() + kept, available), 0);
    body.resize(kept + read);
    received += read;
    return true;
}

bool HttpClient::withinLimit(qint64 bytes) {
    if (limit <= 0 || bytes <= limit)
        return true;
    dropCurrent();
    fail(WrongContentLength, tr("Reply larger than %1 bytes").arg(limit));
    return false;
}

void HttpClient::onProgress(qint64 received, qint64 total) {
    // The network layer reports the final count as the total of a reply without a length; the
    // launcher only moves its bar for a length the server announced.
    const bool announced = current->header(QNetworkRequest::ContentLengthHeader).isValid();
    emit dataReadProgress(asProgress(received), announced ? asProgress(total) : 0);
}

void HttpClient::onFinished() {
    if (!takeBody(current))
        return;
    QNetworkReply* reply = std::exchange(current, nullptr);
    requestTimer->stop();
    idleTimer->stop();
    status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const Error code = errorOf(reply);
    const QString text = reply->errorString();
    reply->disconnect(this);
    reply->deleteLater();

    if (code != NoError) {
        fail(code, text);
        return;
    }
    if (queue.isEmpty())
        emit done(false);
    else
        startNext();
}

HttpClient::Error HttpClient::errorOf(QNetworkReply* reply) const {
    const QNetworkReply::NetworkError error = reply->error();
    if (error == QNetworkReply::NoError)
        return NoError;
    const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    switch (error) {
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ProxyNotFoundError:
        return HostNotFound;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::ProxyConnectionRefusedError:
        return ConnectionRefused;
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError: {
        // Closed before the announced body was all there: a cut body, never a complete one.
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (answered && length.isValid() && length.toLongLong() != received)
            return WrongContentLength;
        return UnexpectedClose;
    }
    case QNetworkReply::OperationCanceledError:
        return Aborted;
    case QNetworkReply::AuthenticationRequiredError:
        return AuthenticationRequiredError;
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return ProxyAuthenticationRequiredError;
    case QNetworkReply::ProtocolFailure:
        return InvalidResponseHeader;
    default:
        break;
    }
    // The network layer names error statuses (404, 500...) as errors: they are the server's
    // answer, whole, and its status tells the rest.
    if (answered && error >= QNetworkReply::ContentAccessDenied &&
        error <= QNetworkReply::UnknownServerError)
        return NoError;
    return UnknownError;
}

void HttpClient::fail(Error code, const QString& text) {
    queue.clear();
    lastError = code;
    lastErrorString = text;
    emit done(true);
}

void HttpClient::onTimeLimit() {
    if (!current)
        return;
    dropCurrent();
    fail(Aborted, tr("No whole reply within %1 ms").arg(requestTimer->interval()));
}

void HttpClient::onIdleLimit() {
    if (!current)
        return;
    dropCurrent();
    fail(Aborted, tr("No byte for %1 ms").arg(idleTimer->interval()));
}

void HttpClient::dropCurrent() {
    requestTimer->stop();
    idleTimer->stop();
    // The reply belongs to the manager: cut off, it reports nothing more and goes when it can.
    if (QNetworkReply* reply = std::exchange(current, nullptr)) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
        manager->clearConnectionCache();
    }
}

void HttpClient::abort() {
    const bool running = current || !queue.isEmpty();
    queue.clear();
    dropCurrent();
    if (running)
        fail(Aborted, tr("Request aborted"));
}
