#include "closedport.h"
#include "communityserver.h"
#include "hostandport.h"
#include "httpclient.h"
#include "offlinenames.h"
#include "testfiles.h"
#include "testsupport.h"
#include "underwine.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

constexpr int kTimeout = 30000;

QByteArray bytes(qint64 size) {
    return content("body", size);
}

// A server that never ends what it sends: a header line after line for ever, as fast as the
// client reads or one line at a time, a header cut off and then silence, a body for ever or byte
// by byte, or a header and then silence. It tells when the client closes the connection, and how
// much it could send until then.
class HostileServer : public QTcpServer {
public:
    enum Mode {
        EndlessHeader,
        TrickleHeader,
        StalledHeader,
        EndlessBody,
        TrickleBody,
        StalledBody
    };

    explicit HostileServer(Mode mode)
        : mode(mode) {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                peer = socket;
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    request += socket->readAll();
                    if (!answering && request.contains("\r\n\r\n")) {
                        answering = true;
                        answer(socket);
                    }
                });
                connect(socket, &QTcpSocket::bytesWritten, socket, [this, socket](qint64 bytes) {
                    sent += bytes;
                    keepSending(socket);
                });
                connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                    closed = true;
                    socket->deleteLater();
                });
            }
        });
    }

    bool closedByClient() const { return closed; }
    bool connected() const { return !peer.isNull(); }
    qint64 bytesSent() const { return sent; }

private:
    void answer(QTcpSocket* socket) {
        send(socket, "HTTP/1.1 200 OK\r\n");
        const bool headerEnds = mode == EndlessBody || mode == TrickleBody || mode == StalledBody;
        if (headerEnds)
            send(socket, mode == EndlessBody ? "Content-Type: text/plain\r\n\r\n"
                                             : "Content-Length: 1000000\r\n\r\n0123");
        else if (mode == StalledHeader)
            send(socket, "Content-Type: text/pl");
        if (mode == TrickleBody || mode == TrickleHeader) {
            auto* trickle = new QTimer(socket);
            const QByteArray piece = mode == TrickleBody ? "x" : "X-Filler: a\r\n";
            connect(trickle, &QTimer::timeout, socket,
                    [this, socket, piece] { send(socket, piece); });
            trickle->start(20);
        }
        keepSending(socket);
    }
    void keepSending(QTcpSocket* socket) {
        if (!answering || closed || socket->bytesToWrite() > 65536)
            return;
        if (mode == EndlessHeader)
            send(socket, "X-Filler: " + QByteArray(16384, 'a') + "\r\n");
        else if (mode == EndlessBody)
            send(socket, QByteArray(16384, 'b'));
    }
    void send(QTcpSocket* socket, const QByteArray& data) {
        if (socket->state() == QAbstractSocket::ConnectedState)
            socket->write(data);
    }

    Mode mode;
    QPointer<QTcpSocket> peer;
    QByteArray request;
    bool answering = false;
    bool closed = false;
    qint64 sent = 0;
};

enum class Route { Direct, UnknownHost, RefusedPort, ThroughProxy, RefusedProxy, UnknownProxy };

} // namespace

Q_DECLARE_METATYPE(CommunityServer::Reply)
Q_DECLARE_METATYPE(CommunityServer::Reply::Mode)
Q_DECLARE_METATYPE(Route)
Q_DECLARE_METATYPE(HostileServer::Mode)

class HttpClientTest : public QObject {
    Q_OBJECT

    // A client on the in-process server, reached the way the row says.
    std::unique_ptr<HttpClient> client(Route route) {
        switch (route) {
        case Route::Direct:
            return std::make_unique<HttpClient>("127.0.0.1", server.serverPort());
        case Route::UnknownHost:
            return std::make_unique<HttpClient>("vestrahal.invalid", 80);
        case Route::RefusedPort:
            return std::make_unique<HttpClient>("127.0.0.1", closedPort());
        case Route::ThroughProxy:
            QNetworkProxy::setApplicationProxy(
                QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", server.serverPort()));
            return std::make_unique<HttpClient>("vestrahal.invalid", 80);
        case Route::RefusedProxy:
            QNetworkProxy::setApplicationProxy(
                QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", closedPort()));
            return std::make_unique<HttpClient>("vestrahal.invalid", 80);
        case Route::UnknownProxy:
            QNetworkProxy::setApplicationProxy(
                QNetworkProxy(QNetworkProxy::HttpProxy, "proxy.invalid", 3128));
            return std::make_unique<HttpClient>("vestrahal.invalid", 80);
        }
        return nullptr;
    }

private slots:
    void initTestCase() { QVERIFY2(server.start(), qPrintable(server.errorString())); }

    void init() {
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        server.clearRequests();
        server.clearReplies();
        clearRefusedNameLookups();
    }

    void requestsRunInOrderAndDoneComesOnce() {
        server.setReply("/first", {200, "text/plain", "un"});
        server.setReply("/second", {200, "text/plain", "deux"});
        HttpClient http("127.0.0.1", server.serverPort());
        QSignalSpy done(&http, &HttpClient::done);
        QCOMPARE(http.get("/first"), 1);
        QCOMPARE(http.get("/second"), 2);
        // Nothing leaves before the event loop runs: signals connected now lose nothing.
        QVERIFY(server.requests().isEmpty());

        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, kTimeout);
        QCOMPARE(done.first().first().toBool(), false);
        // done() came after the last request only.
        QCOMPARE(server.requests().size(), 2);
        QCOMPARE(server.requests().at(0).path, QByteArray("/first"));
        QCOMPARE(server.requests().at(1).path, QByteArray("/second"));
        QCOMPARE(http.bytesAvailable(), 4);
        QCOMPARE(http.readAll(), QByteArray("deux"));
        QCOMPARE(http.bytesAvailable(), 0);
        QCOMPARE(http.error(), HttpClient::NoError);
        // Both went over one kept connection, which stays for the next request only.
        QCOMPARE(server.findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly).size(), 1);
        QVERIFY(!http.active());
    }

    void explicitHeaderValuesAreSent() {
        server.setReply("/launcher/version.php", {200, "text/plain", "1.0"});
        HttpClient http("127.0.0.1", server.serverPort());
        HttpRequestHeader header("GET", "/launcher/version.php", 1, 1);
        header.setValue("Host", "vestrahal.invalid");
        header.setValue("host", "vestrahal.example");
        http.request(header);
        http.get("/launcher/version.php");
        QSignalSpy done(&http, &HttpClient::done);
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, kTimeout);

        const auto requests = server.requestsFor("/launcher/version.php");
        QCOMPARE(requests.size(), 2);
        for (const auto& request : requests) {
            QCOMPARE(request.method, QByteArray("GET"));
            QCOMPARE(request.target, QByteArray("/launcher/version.php"));
        }
        // A value set twice is one header with the last value.
        QCOMPARE(requests.at(0).header("Host"), QByteArray("vestrahal.example"));
        QCOMPARE(requests.at(1).header("Host"),
                 QByteArray("127.0.0.1:") + QByteArray::number(server.serverPort()));
    }

    void everyStatusIsAReply_data() {
        QTest::addColumn<CommunityServer::Reply>("reply");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("200") << CommunityServer::Reply{200, "text/plain", "1.4"} << 200
                             << QByteArray("1.4");
        QTest::newRow("404 page") << CommunityServer::Reply{404, "text/html", "<h1>absent</h1>"}
                                  << 404 << QByteArray("<h1>absent</h1>");
        QTest::newRow("500 page") << CommunityServer::Reply{500, "text/html", "<h1>panne</h1>"}
                                  << 500 << QByteArray("<h1>panne</h1>");
        QTest::newRow("403 empty")
            << CommunityServer::Reply{403, "text/html", ""} << 403 << QByteArray();
        const QByteArray elsewhere = "/elsewhere";
        QTest::newRow("redirect not followed")
            << CommunityServer::Reply{0, "",
                                      "HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\n"
                                      "Content-Length: 5\r\nConnection: close\r\n\r\nmoved",
                                      CommunityServer::Reply::Raw}
            << 302 << QByteArray("moved");
        QTest::newRow("no length, body until close")
            << CommunityServer::Reply{200, "text/plain", "jusqu'au bout",
                                      CommunityServer::Reply::NoContentLength}
            << 200 << QByteArray("jusqu'au bout");
    }
    void everyStatusIsAReply() {
        QFETCH(CommunityServer::Reply, reply);
        server.setReply("/version", reply);
        server.setReply("/elsewhere", {200, "text/plain", "ailleurs"});
        HttpClient http("127.0.0.1", server.serverPort());
        QSignalSpy done(&http, &HttpClient::done);
        http.get("/version");
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, kTimeout);
        QCOMPARE(done.first().first().toBool(), false);
        QCOMPARE(http.error(), HttpClient::NoError);
        QTEST(http.statusCode(), "status");
        QTEST(http.readAll(), "body");
        QVERIFY(server.requestsFor("/elsewhere").isEmpty());
    }

    void failures_data() {
        QTest::addColumn<Route>("route");
        QTest::addColumn<CommunityServer::Reply>("reply");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("status");
        const CommunityServer::Reply fine{200, "text/plain", "ok"};
        QTest::newRow("host not found") << Route::UnknownHost << fine << 2 << 0;
        QTest::newRow("connection refused") << Route::RefusedPort << fine << 3 << 0;
        QTest::newRow("proxy not found") << Route::UnknownProxy << fine << 2 << 0;
        QTest::newRow("proxy refused") << Route::RefusedProxy << fine << 3 << 0;
        QTest::newRow("closed before any header")
            << Route::Direct << CommunityServer::Reply{0, "", "", CommunityServer::Reply::Raw} << 4
            << 0;
        QTest::newRow("body cut short")
            << Route::Direct
            << CommunityServer::Reply{200, "application/octet-stream", bytes(100000),
                                      CommunityServer::Reply::CutShort, 40000}
            << 6 << 200;
        QTest::newRow("error page cut short")
            << Route::Direct
            << CommunityServer::Reply{404, "text/html", bytes(5000),
                                      CommunityServer::Reply::CutShort, 10}
            << 6 << 404;
        QTest::newRow("chunked body cut short")
            << Route::Direct
            << CommunityServer::Reply{0, "",
                                      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                      "10\r\n0123456789",
                                      CommunityServer::Reply::Raw}
            << 4 << 200;
        QTest::newRow("a status line that is none")
            << Route::Direct
            << CommunityServer::Reply{0, "", "HTTP/1.1 abc\r\n\r\n", CommunityServer::Reply::Raw}
            << 5 << 0;
        QTest::newRow("a header line that never ends")
            << Route::Direct
            << CommunityServer::Reply{0, "",
                                      "HTTP/1.1 200 OK\r\nX-Filler: " + QByteArray(200000, 'a'),
                                      CommunityServer::Reply::Raw}
            << 5 << 0;
        QTest::newRow("authentication required")
            << Route::Direct
            << CommunityServer::Reply{0, "",
                                      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic "
                                      "realm=\"v\"\r\nContent-Length: 0\r\n\r\n",
                                      CommunityServer::Reply::Raw}
            << 8 << 401;
        QTest::newRow("proxy authentication required")
            << Route::ThroughProxy
            << CommunityServer::Reply{0, "",
                                      "HTTP/1.1 407 Proxy Authentication Required\r\n"
                                      "Proxy-Authenticate: Basic realm=\"v\"\r\n"
                                      "Content-Length: 0\r\n\r\n",
                                      CommunityServer::Reply::Raw}
            << 9 << 407;
    }
    void failures() {
        QFETCH(Route, route);
        if (route == Route::UnknownHost || route == Route::UnknownProxy)
            VESTRAHAL_SKIP_WITHOUT_OFFLINE_NAMES();
        QFETCH(CommunityServer::Reply, reply);
        server.setReply("/fichier", reply);
        server.setReply("/ensuite", {200, "text/plain", "ensuite"});
        const auto http = client(route);
        QSignalSpy done(http.get(), &HttpClient::done);
        http->get("/fichier");
        http->get("/ensuite");
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, kTimeout);
        QCOMPARE(done.first().first().toBool(), true);
        QTEST(int(http->error()), "code");
        QTEST(http->statusCode(), "status");
        QVERIFY(!http->errorString().isEmpty());

        // The failure dropped the queued request: the next one queued runs straight away.
        if (route == Route::Direct || route == Route::ThroughProxy) {
            server.setReply("/fichier", {200, "text/plain", "ok"});
            http->get("/fichier");
            QTRY_COMPARE_WITH_TIMEOUT(done.size(), 2, kTimeout);
            QCOMPARE(done.last().first().toBool(), false);
            QVERIFY(server.requestsFor("/ensuite").isEmpty());
        }
        if (route == Route::UnknownHost)
            QVERIFY(refusedNameLookups().contains("vestrahal.invalid"));
        if (route == Route::UnknownProxy)
            QVERIFY(refusedNameLookups().contains("proxy.invalid"));
    }

    void abortEndsTheRequestAndDropsTheRest() {
        server.setReply("/lent", {200, "text/plain", {}, CommunityServer::Reply::Silent});
        server.setReply("/ensuite", {200, "text/plain", "ensuite"});
        HttpClient http("127.0.0.1", server.serverPort());
        QSignalSpy done(&http, &HttpClient::done);
        http.get("/lent");
        http.get("/ensuite");
        QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor("/lent").isEmpty(), kTimeout);
        QVERIFY(done.isEmpty());

        http.abort();
        QCOMPARE(done.size(), 1);
        QCOMPARE(done.first().first().toBool(), true);
        QCOMPARE(http.error(), HttpClient::Aborted);
        QCOMPARE(http.statusCode(), 0);

        http.get("/ensuite");
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 2, kTimeout);
        QCOMPARE(server.requestsFor("/ensuite").size(), 1);
        QCOMPARE(http.readAll(), QByteArray("ensuite"));
    }

    void abortBeforeTheStartDropsEverything() {
        server.setReply("/ensuite", {200, "text/plain", "ensuite"});
        HttpClient http("127.0.0.1", server.serverPort());
        QSignalSpy done(&http, &HttpClient::done);
        http.get("/jamais");
        http.abort();
        QCOMPARE(done.size(), 1);
        QCOMPARE(http.error(), HttpClient::Aborted);
        http.get("/ensuite");
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 2, kTimeout);
        QVERIFY(server.requestsFor("/jamais").isEmpty());
    }

    void progress_data() {
        QTest::addColumn<CommunityServer::Reply::Mode>("mode");
        QTest::addColumn<bool>("announced");
        QTest::newRow("with a length") << CommunityServer::Reply::Complete << true;
        QTest::newRow("without a length") << CommunityServer::Reply::NoContentLength << false;
    }
    void progress() {
        QFETCH(CommunityServer::Reply::Mode, mode);
        QFETCH(bool, announced);
        const QByteArray body = bytes(3 * 1024 * 1024 + 17);
        server.setReply("/gros", {200, "application/octet-stream", body, mode});
        HttpClient http("127.0.0.1", server.serverPort());
        QSignalSpy progress(&http, &HttpClient::dataReadProgress);
        QSignalSpy done(&http, &HttpClient::done);
        http.get("/gros");
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, kTimeout);
        QCOMPARE(done.first().first().toBool(), false);
        QCOMPARE(http.readAll(), body);

        QVERIFY(!progress.isEmpty());
        int previous = 0;
        for (const auto& report : progress) {
            const int received = report.at(0).toInt();
            QVERIFY(received >= previous);
            previous = received;
            QCOMPARE(report.at(1).toInt(), announced ? int(body.size()) : 0);
        }
        QCOMPARE(previous, int(body.size()));
    }

    // A body goes whole to memory or to a device, never past the client's limit.
    void bodyLimitAndDevice_data() {
        using Reply = CommunityServer::Reply;
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<bool>("toDevice");
        QTest::addColumn<int>("code");
        const QByteArray body = bytes(300000);
        QTest::newRow("exactly the limit, in memory")
            << Reply{200, "application/octet-stream", body} << qint64(300000) << false << 0;
        QTest::newRow("exactly the limit, to a device")
            << Reply{200, "application/octet-stream", body} << qint64(300000) << true << 0;
        QTest::newRow("no length, to a device")
            << Reply{200, "application/octet-stream", body, Reply::NoContentLength} << qint64(0)
            << true << 0;
        QTest::newRow("announced one byte over")
            << Reply{200, "application/octet-stream", body} << qint64(299999) << true << 6;
        QTest::newRow("no length, grows past it")
            << Reply{200, "application/octet-stream", body, Reply::NoContentLength}
            << qint64(100000) << false << 6;
        QTest::newRow("never ends, to a device")
            << Reply{200, "application/octet-stream", body, Reply::Endless} << qint64(2000000)
            << true << 6;
    }
    void bodyLimitAndDevice() {
        QFETCH(CommunityServer::Reply, reply);
        QFETCH(qint64, limit);
        QFETCH(bool, toDevice);
        QFETCH(int, code);
        server.setReply("/corps", reply);
        HttpClient http("127.0.0.1", server.serverPort());
        http.setMaxBodySize(limit);
        QBuffer device;
        QVERIFY(device.open(QIODevice::WriteOnly));
        QSignalSpy done(&http, &HttpClient::done);
        http.get("/corps", toDevice ? &device : nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, kTimeout);
        QCOMPARE(int(http.error()), code);
        QCOMPARE(done.first().first().toBool(), code != 0);
        const QByteArray kept = http.readAll();
        if (code == 0) {
            QCOMPARE(toDevice ? device.data() : kept, reply.body);
            QCOMPARE(http.bytesReceived(), qint64(reply.body.size()));
        }
        // Whatever went where, the body stayed in one place and within the limit.
        QVERIFY(toDevice ? kept.isEmpty() : device.data().isEmpty());
        QVERIFY(limit == 0 || http.bytesReceived() <= limit);
        if (reply.mode == CommunityServer::Reply::Complete && code != 0)
            QCOMPARE(http.bytesReceived(), qint64(0));
    }

    // Every limit ends the request and its connection, whatever the reply is in the middle of:
    // the server sees the close, nothing of the request is left, and what the server could send
    // until then is bounded by the limit and the sockets' own buffers, not by how fast it sends.
    void limitsCloseTheConnection_data() {
        QTest::addColumn<HostileServer::Mode>("mode");
        QTest::addColumn<int>("timeLimit");
        QTest::addColumn<int>("idleLimit");
        QTest::addColumn<qint64>("maxBody");
        QTest::addColumn<int>("code");
        // The header limit is the client's own, whatever else is set.
        QTest::newRow("endless header, header limit")
            << HostileServer::EndlessHeader << 0 << 0 << qint64(0) << 5;
        QTest::newRow("endless header, time limit")
            << HostileServer::EndlessHeader << 1000 << 0 << qint64(0) << 5;
        QTest::newRow("endless header, idle limit")
            << HostileServer::EndlessHeader << 0 << 1000 << qint64(0) << 5;
        QTest::newRow("header that trickles, time limit")
            << HostileServer::TrickleHeader << 1000 << 0 << qint64(0) << 7;
        QTest::newRow("header that stalls, idle limit")
            << HostileServer::StalledHeader << 0 << 1000 << qint64(0) << 7;
        QTest::newRow("body that trickles, time limit")
            << HostileServer::TrickleBody << 1000 << 0 << qint64(0) << 7;
        QTest::newRow("body that stalls, idle limit")
            << HostileServer::StalledBody << 0 << 1000 << qint64(0) << 7;
        QTest::newRow("endless body, time limit")
            << HostileServer::EndlessBody << 1000 << 0 << qint64(0) << 7;
        QTest::newRow("endless body, body limit")
            << HostileServer::EndlessBody << 0 << 0 << qint64(3000000) << 6;
        QTest::newRow("endless body, version limit")
            << HostileServer::EndlessBody << 0 << 0 << qint64(1024) << 6;
    }
    void limitsCloseTheConnection() {
        QFETCH(HostileServer::Mode, mode);
        QFETCH(int, timeLimit);
        QFETCH(int, idleLimit);
        QFETCH(qint64, maxBody);
        QFETCH(int, code);
        HostileServer hostile(mode);
        QVERIFY(hostile.isListening());
        HttpClient http("127.0.0.1", hostile.serverPort());
        http.setTimeLimit(timeLimit);
        http.setIdleLimit(idleLimit);
        http.setMaxBodySize(maxBody);
        QSignalSpy done(&http, &HttpClient::done);
        http.get("/sans-fin");
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, kTimeout);
        QCOMPARE(done.first().first().toBool(), true);
        QCOMPARE(int(http.error()), code);
        QVERIFY(maxBody == 0 || http.bytesReceived() <= maxBody);
        const bool headerCame = mode == HostileServer::EndlessBody ||
                                mode == HostileServer::TrickleBody ||
                                mode == HostileServer::StalledBody;
        QCOMPARE(http.statusCode(), headerCame ? 200 : 0);
        // Closed before the call that found the limit returned: no transfer and no socket left.
        QVERIFY(!http.active());

        QTRY_VERIFY_WITH_TIMEOUT(hostile.closedByClient(), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!hostile.connected(), kTimeout);
        QCOMPARE(done.size(), 1);
        if (mode == HostileServer::EndlessBody && maxBody > 0)
            QVERIFY2(hostile.bytesSent() < maxBody + (qint64(32) << 20),
                     qPrintable(QString::number(hostile.bytesSent())));
    }

    // A reply whose body brings less than the minimum in a window is given up as too slow
    // (code 10), whether its bytes trickle in, stop, or never get past the header; the idle
    // limit, which every trickled byte resets, does not see it.
    void minimumSpeed_data() {
        QTest::addColumn<HostileServer::Mode>("mode");
        QTest::newRow("body that trickles") << HostileServer::TrickleBody;
        QTest::newRow("header that trickles") << HostileServer::TrickleHeader;
        QTest::newRow("body that stalls") << HostileServer::StalledBody;
    }
    void minimumSpeed() {
        QFETCH(HostileServer::Mode, mode);
        HostileServer hostile(mode);
        HttpClient http("127.0.0.1", hostile.serverPort());
        http.setIdleLimit(5000);
        http.setMinimumSpeed(1000, 500);
        QSignalSpy done(&http, &HttpClient::done);
        http.get("/lent");
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, kTimeout);
        QCOMPARE(int(http.error()), int(HttpClient::TooSlow));
        QVERIFY(!http.active());
        QTRY_VERIFY_WITH_TIMEOUT(hostile.closedByClient(), kTimeout);
    }

    // The receive speed limit, one client's own or a budget shared by several, set before the
    // request or once its header came: the bodies come whole, never faster than the limit allows
    // (a piece and what the budget keeps aside), and a transfer held back by it is neither idle
    // nor too slow, however strict those limits.
    void receiveSpeedLimit_data() {
        QTest::addColumn<int>("clients");
        QTest::addColumn<bool>("shared");
        QTest::addColumn<bool>("duringTheTransfer");
        QTest::newRow("one client") << 1 << false << false;
        QTest::newRow("one client, limit set once the header came") << 1 << false << true;
        QTest::newRow("four clients sharing a budget") << 4 << true << false;
        QTest::newRow("four clients, budget set once the headers came") << 4 << true << true;
    }
    void receiveSpeedLimit() {
        QFETCH(int, clients);
        QFETCH(bool, shared);
        QFETCH(bool, duringTheTransfer);
        constexpr qint64 kRate = qint64(1) << 20;
        constexpr qint64 kTotal = qint64(2) << 20;
        const QByteArray body = bytes(kTotal / clients);
        server.setReply("/limite", {200, "application/octet-stream", body});
        ReceiveBudget budget;
        std::vector<std::unique_ptr<HttpClient>> http;
        std::vector<std::unique_ptr<QSignalSpy>> done;
        QElapsedTimer elapsed;
        elapsed.start();
        for (int i = 0; i < clients; ++i) {
            http.push_back(std::make_unique<HttpClient>("127.0.0.1", server.serverPort()));
            HttpClient* client = http.back().get();
            client->setIdleLimit(200);
            client->setMinimumSpeed(64 << 10, 200);
            const auto limit = [client, shared, &budget] {
                if (shared) {
                    budget.setRate(kRate);
                    client->setReceiveBudget(&budget);
                } else {
                    client->setMaxReceiveSpeed(kRate);
                }
            };
            if (duringTheTransfer)
                connect(client, &HttpClient::headerReceived, client, limit);
            else
                limit();
            done.push_back(std::make_unique<QSignalSpy>(client, &HttpClient::done));
            client->get("/limite");
        }
        for (int i = 0; i < clients; ++i) {
            QTRY_COMPARE_WITH_TIMEOUT(done.at(i)->size(), 1, kTimeout);
            QVERIFY2(!done.at(i)->first().first().toBool(), qPrintable(http.at(i)->errorString()));
            QCOMPARE(http.at(i)->readAll(), body);
        }
        // Beyond the rate: at most a piece of each client (a whole one when the limit came after
        // the first, a sixteenth of a second's otherwise) and the tenth of a second the budget
        // keeps.
        const qint64 piece = duringTheTransfer ? 256 << 10 : kRate / 16;
        const qint64 allowance = clients * piece + kRate / 10;
        QVERIFY2(elapsed.elapsed() >= (kTotal - allowance) * 1000 / kRate,
                 qPrintable(QString::number(elapsed.elapsed())));
    }

    // A reply's status line and headers, the blank line after them included, are held to the
    // client's header limit to the byte.
    void headerLimit_data() {
        QTest::addColumn<qint64>("margin");
        QTest::addColumn<int>("code");
        QTest::newRow("exactly the limit") << qint64(0) << 0;
        QTest::newRow("one byte over") << qint64(-1) << 5;
    }
    void headerLimit() {
        QFETCH(qint64, margin);
        const QByteArray header = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n"
                                  "X-Filler: " +
                                  QByteArray(3000, 'f') + "\r\n\r\n";
        server.setReply("/entete", {0, "", header + "ok", CommunityServer::Reply::Raw});
        HttpClient http("127.0.0.1", server.serverPort());
        http.setMaxHeaderSize(header.size() + margin);
        QSignalSpy done(&http, &HttpClient::done);
        http.get("/entete");
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, kTimeout);
        QTEST(int(http.error()), "code");
        QCOMPARE(http.readAll(), margin < 0 ? QByteArray() : QByteArray("ok"));
        QCOMPARE(http.statusCode(), margin < 0 ? 0 : 200);
    }

    // Over TLS, a certificate that does not hold for the name, or that comes from an authority
    // nobody trusts, fails the request: nothing is read from such a server.
    void tls_data() {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<int>("code");
        QTest::newRow("trusted, for the name") << "server" << 0;
        QTest::newRow("trusted, for another name") << "wrongname" << 1;
        QTest::newRow("for the name, from an unknown authority") << "untrusted" << 1;
    }
    void tls() {
        QFETCH(QString, certificate);
        QFETCH(int, code);
        if (runningUnderWine())
            QSKIP("Wine's crypt32 cannot import the PKCS #12 key that Qt's Schannel backend makes "
                  "for the tests' server (GnuTLS: Decryption has failed), its PFXImportCertStore "
                  "through GnuTLS: "
                  "https://gitlab.winehq.org/wine/wine/-/blob/wine-8.0/dlls/crypt32/unixlib.c");
        trustTestAuthority();
        server.setTls(testChain(qPrintable(certificate)), testKey(qPrintable(certificate)));
        server.setReply("/launcher/version.php", {200, "text/plain", "1.4"});
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", server.serverPort()));
        HttpClient http;
        http.setHost("www.vestrahal.test", HttpClient::ConnectionModeHttps, 443);
        QSignalSpy done(&http, &HttpClient::done);
        http.get("/launcher/version.php");
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, kTimeout);
        server.clearTls();
        QCOMPARE(int(http.error()), code);
        QCOMPARE(http.readAll(), code ? QByteArray() : QByteArray("1.4"));
        QCOMPARE(server.requestsFor("/launcher/version.php").size(), code ? 0 : 1);
        QCOMPARE(server.requests().value(0).target, QByteArray("www.vestrahal.test:443"));
    }

    // The one reading of "host:port" that the community's web host and the realms' logon hosts
    // share. A host given back without a port uses the default one (80 here).
    void parseHostAndPort_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host"); // empty: refused
        QTest::addColumn<int>("port");
        QTest::newRow("name") << "vestrahal.fr"
                              << "vestrahal.fr" << 80;
        QTest::newRow("name and port") << "www.vestrahal.fr:8080"
                                       << "www.vestrahal.fr" << 8080;
        QTest::newRow("highest port") << "h:65535"
                                      << "h" << 65535;
        // Its last group is not a port.
        QTest::newRow("IPv6, bare") << "2001:db8::1"
                                    << "2001:db8::1" << 80;
        QTest::newRow("IPv6 loopback, bare") << "::1"
                                             << "::1" << 80;
        QTest::newRow("IPv6 in brackets, no port") << "[::1]"
                                                   << "::1" << 80;
        QTest::newRow("IPv6 in brackets, port") << "[2001:DB8:0::1]:3725"
                                                << "2001:db8::1" << 3725;
        const auto refused = [](const char* name, const char* text) {
            QTest::newRow(name) << QString::fromLatin1(text) << QString() << 0;
        };
        refused("nothing", "");
        refused("port without host", ":80");
        refused("colon without port", "h:");
        refused("port zero", "h:0");
        refused("port over 65535", "h:65536");
        refused("port that wraps to 80 in 32 bits", "h:4294967376");
        refused("port not a number", "h:http");
        refused("port with a sign", "h:+80");
        refused("port after a space", "h: 80");
        refused("unclosed bracket", "[::1:80");
        refused("text after the bracket", "[::1]80");
        refused("colon without port after the bracket", "[::1]:");
        refused("name in brackets", "[vestrahal.fr]:80");
        refused("IPv4 in brackets", "[127.0.0.1]:80");
        refused("several colons, not IPv6", "h:80:81");
    }
    void parseHostAndPort() {
        QFETCH(QString, text);
        QFETCH(QString, host);
        const auto parsed = ::parseHostAndPort(text, 80);
        QCOMPARE(bool(parsed), !host.isEmpty());
        if (!parsed)
            return;
        QCOMPARE(parsed->host, host);
        QTEST(int(parsed->port), "port");
    }

private:
    CommunityServer server;
};

QTEST_GUILESS_MAIN(HttpClientTest)
#include "tst_httpclient.moc"
