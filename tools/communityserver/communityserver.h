#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

// A stand-in for the community's web server, on loopback: it serves a folder laid out like the
// community's site, and can be told to answer one path in a chosen, possibly broken, way.
// Every request it receives is recorded, headers included, for the tests to look at.
class CommunityServer : public QTcpServer {
    Q_OBJECT
public:
    struct Request {
        QByteArray method;
        QByteArray target; // as sent: a path, or a whole URL when the server is used as a proxy
        QByteArray path;   // the path part of the target
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray header(const QByteArray& name) const;
    };

    // How a path is answered instead of from the folder.
    struct Reply {
        enum Mode {
            Complete,        // status, headers and the whole body
            NoContentLength, // the body, then the connection closed, with no length announced
            CutShort,        // announces the whole body, sends cutAfter bytes, closes
            Silent,          // reads the request and never answers
            Raw,             // sends the body as it is, status line and headers included, closes
            Held,            // answers like Complete once releaseHeld() is called
            Trickle,         // announces the whole body and sends trickleBytes every 50 ms
            Endless,         // announces nothing and sends the body again and again, forever
            EndlessHeader,   // a status line, then header lines of the body's bytes, forever
            Stalls           // announces the whole body, sends cutAfter bytes, then nothing
        };
        int status = 200;
        QByteArray contentType = "text/plain";
        QByteArray body;
        Mode mode = Complete;
        qint64 cutAfter = 0;
        qint64 trickleBytes = 1;
    };

    explicit CommunityServer(QObject* parent = nullptr);

    // Listens on 127.0.0.1; port 0 lets the system pick one.
    bool start(quint16 port = 0);
    QString root() const { return rootDir; }
    void setRoot(const QString& dir) { rootDir = dir; }
    void setReply(const QByteArray& path, const Reply& reply) { replies.insert(path, reply); }
    void clearReply(const QByteArray& path) { replies.remove(path); }
    void clearReplies() { replies.clear(); }
    // Answers a path only after a while, so that what comes before the answer can be seen.
    void setDelay(const QByteArray& path, int milliseconds) { delays.insert(path, milliseconds); }
    // Answers the requests that wait on a Held reply, like Complete with their reply's body.
    void releaseHeld();

    // With a certificate, the server answers CONNECT as a proxy does and then speaks TLS in the
    // tunnel with that certificate: https addresses reach it through it as a proxy. Without
    // one (the default), CONNECT is refused.
    // A target ("host:port" as CONNECT names it) may be given a certificate of its own.
    void setTls(const QList<QSslCertificate>& chain, const QSslKey& key,
                const QByteArray& target = {});
    void clearTls() { tls.clear(); }
    // Closes every connection, so that the next request starts anew (and shakes hands again).
    void dropConnections();

    const QList<Request>& requests() const { return received; }
    QList<Request> requestsFor(const QByteArray& path) const;
    void clearRequests() { received.clear(); }

signals:
    void requestReceived(const CommunityServer::Request& request);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void onNewConnection();
    void openTunnel(QTcpSocket* socket, const QByteArray& target);
    void serve(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Request& request);
    void answerNow(QTcpSocket* socket, const Request& request);
    void answerWith(QTcpSocket* socket, const Request& request, const Reply& reply);
    static bool keepsAlive(const Request& request);
    void answerFromFolder(QTcpSocket* socket, const Request& request, bool keepAlive);

    QString rootDir;
    QHash<QByteArray, Reply> replies;
    QHash<QByteArray, int> delays;
    QList<Request> received;
    QList<QPair<QPointer<QTcpSocket>, Request>> held;
    QHash<QByteArray, QPair<QList<QSslCertificate>, QSslKey>> tls; // "" for every target
};
