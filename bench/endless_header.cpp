// A server that never ends its answer, against plain QNetworkAccessManager and against the
// launcher's HttpClient, side by side (figures reported, never asserted):
//   header  an endless header (a 16 KiB header line after another, as fast as the client reads),
//           the request given a 1 s time limit;
//   body    a 200 answer whose body never ends, as fast as the client reads, given the version
//           check's 1 KiB body limit.
// Each client runs in a process of its own, against a server in another, so that each peak is
// that client's alone. Printed per case: the client's peak resident memory (its kernel high-water
// mark, taken once the server has seen the connection closed), when the client gave the request
// up (ms after it sent it), how long after that the server saw the connection closed, and how
// many bytes the server had sent by then. A connection still open 120 s after the request is
// reported as such.
//   endless_header                         runs the four cases
//   endless_header serve header|body       the server: prints its port, then "closed NS SENT",
//                                          or "open SENT" when it gives up
//   endless_header client qnam|ours header|body PORT
//                                          a client: prints "start NS", "decided NS", and
//                                          "peak_kib KIB" once told "quit" on its standard input
#include "httpclient.h"

#include <QCoreApplication>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

constexpr int kTimeLimitMs = 1000;
constexpr qint64 kBodyLimit = 1024;
constexpr int kGiveUpMs = 120000;

qint64 nowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

qint64 peakKib() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

void say(const QByteArray& line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int serve(const QByteArray& mode) {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 1;
    say(QByteArray::number(server.serverPort()));
    qint64 sent = 0;
    const QByteArray piece =
        mode == "header" ? "X-Filler: " + QByteArray(16384, 'a') + "\r\n" : QByteArray(16384, 'b');
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        if (!socket)
            return;
        server.close();
        const auto feed = [socket, &piece] {
            while (socket->state() == QAbstractSocket::ConnectedState &&
                   socket->bytesToWrite() < 262144)
                socket->write(piece);
        };
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, mode, feed] {
            const QByteArray request = socket->readAll();
            if (!request.contains("\r\n\r\n") || socket->property("answered").toBool())
                return;
            socket->setProperty("answered", true);
            socket->write(mode == "header" ? "HTTP/1.1 200 OK\r\n"
                                           : "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n");
            feed();
        });
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [&sent, feed](qint64 bytes) {
            sent += bytes;
            feed();
        });
        const auto closed = [socket, &sent] {
            if (socket->property("reported").toBool())
                return;
            socket->setProperty("reported", true);
            say("closed " + QByteArray::number(nowNs()) + ' ' + QByteArray::number(sent));
            QCoreApplication::quit();
        };
        QObject::connect(socket, &QTcpSocket::disconnected, socket, closed);
        QObject::connect(socket, &QTcpSocket::errorOccurred, socket, closed);
    });
    // Still open by then: reported as such, the server's own close not taken for the client's.
    QTimer::singleShot(kGiveUpMs, &server, [&server, &sent] {
        for (QTcpSocket* socket : server.findChildren<QTcpSocket*>())
            socket->setProperty("reported", true);
        say("open " + QByteArray::number(sent));
        QCoreApplication::exit(2);
    });
    return QCoreApplication::exec();
}

int client(const QByteArray& kind, const QByteArray& mode, quint16 port) {
    const bool header = mode == "header";
    // "quit" on the standard input: the peak is read once the connection is known closed.
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &input, [] {
        say("peak_kib " + QByteArray::number(peakKib()));
        QCoreApplication::quit();
    });
    const auto decided = [] { say("decided " + QByteArray::number(nowNs())); };

    QNetworkAccessManager manager;
    HttpClient http(QStringLiteral("127.0.0.1"), port);
    QTimer limit;
    limit.setSingleShot(true);
    if (kind == "qnam") {
        // The usual way to give a QNetworkReply limits: a timer, and a look at what came.
        manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port)));
        request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
        say("start " + QByteArray::number(nowNs()));
        QNetworkReply* reply = manager.get(request);
        if (header) {
            QObject::connect(&limit, &QTimer::timeout, reply, [reply, decided] {
                decided();
                reply->abort();
            });
            limit.start(kTimeLimitMs);
        } else {
            QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                             [reply, decided](qint64 received) {
                                 if (received > kBodyLimit && reply->isRunning()) {
                                     decided();
                                     reply->abort();
                                 }
                             });
        }
    } else {
        if (header)
            http.setTimeLimit(kTimeLimitMs);
        else
            http.setMaxBodySize(kBodyLimit);
        QObject::connect(&http, &HttpClient::done, &http, decided);
        say("start " + QByteArray::number(nowNs()));
        http.get(QStringLiteral("/"));
    }
    return QCoreApplication::exec();
}

struct Figures {
    qint64 start = 0;
    qint64 decided = 0;
    qint64 closed = 0;
    qint64 sent = 0;
    qint64 peakKib = 0;
};

QByteArray valueOf(const QByteArray& output, const QByteArray& key) {
    for (const QByteArray& line : output.split('\n')) {
        if (line.startsWith(key + ' '))
            return line.mid(key.size() + 1).trimmed();
    }
    return {};
}

Figures run(const QString& self, const QString& kind, const QString& mode) {
    Figures figures;
    QProcess server;
    server.start(self, {QStringLiteral("serve"), mode});
    if (!server.waitForReadyRead(10000))
        return figures;
    const QByteArray port = server.readLine().trimmed();
    QProcess client;
    client.start(self, {QStringLiteral("client"), kind, mode, QString::fromLatin1(port)});
    server.waitForFinished(kGiveUpMs + 10000);
    const QByteArray closed = server.readAll();
    client.write("quit\n");
    client.closeWriteChannel();
    if (!client.waitForFinished(10000))
        client.kill();
    const QByteArray said = client.readAll();
    figures.start = valueOf(said, "start").toLongLong();
    figures.decided = valueOf(said, "decided").toLongLong();
    figures.peakKib = valueOf(said, "peak_kib").toLongLong();
    const QList<QByteArray> words = valueOf(closed, "closed").split(' ');
    figures.closed = words.value(0).toLongLong();
    figures.sent =
        figures.closed ? words.value(1).toLongLong() : valueOf(closed, "open").toLongLong();
    return figures;
}

int compare(const QString& self) {
    QTextStream out(stdout);
    out << "case                  client       peak MiB  decided ms     closed +ms  sent MiB\n";
    for (const QString& mode : {QStringLiteral("header"), QStringLiteral("body")}) {
        for (const QString& kind : {QStringLiteral("qnam"), QStringLiteral("ours")}) {
            const Figures f = run(self, kind, mode);
            const QString name = mode == QLatin1String("header")
                                     ? QStringLiteral("endless header, 1 s")
                                     : QStringLiteral("endless body, 1 KiB");
            out << name.leftJustified(22)
                << (kind == QLatin1String("qnam") ? QStringLiteral("QNAM")
                                                  : QStringLiteral("HttpClient"))
                       .leftJustified(12)
                << QString::number(f.peakKib / 1024.0, 'f', 1).rightJustified(9)
                << (f.decided ? QString::number((f.decided - f.start) / 1e6, 'f', 1)
                              : QStringLiteral("never"))
                       .rightJustified(12)
                << (f.closed && f.decided ? QString::number((f.closed - f.decided) / 1e6, 'f', 1)
                                          : QStringLiteral("open at 120 s"))
                       .rightJustified(15)
                << QString::number(f.sent / 1048576.0, 'f', 1).rightJustified(10) << '\n';
            out.flush();
        }
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("serve"))
        return serve(args[2].toLatin1());
    if (args.size() == 5 && args[1] == QLatin1String("client"))
        return client(args[2].toLatin1(), args[3].toLatin1(), quint16(args[4].toUInt()));
    return compare(QCoreApplication::applicationFilePath());
}
