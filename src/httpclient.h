#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>

#include <deque>
#include <memory>
#include <utility>

class QIODevice;
class QTimer;

// A request line and the header values the caller sets itself; the client adds the rest.
class HttpRequestHeader {
public:
    HttpRequestHeader(const QString& method, const QString& path, int majorVersion = 1,
                      int minorVersion = 1);

    void setValue(const QString& key, const QString& value);

    QString method() const { return requestMethod; }
    QString path() const { return requestPath; }
    int majorVersion() const { return major; }
    int minorVersion() const { return minor; }
    QList<QPair<QString, QString>> values() const { return fields; }

private:
    QString requestMethod;
    QString requestPath;
    int major;
    int minor;
    QList<QPair<QString, QString>> fields;
};

// A Content-Range header's value as HTTP has it ("bytes 100-199/1000", "bytes 100-199/*").
struct ContentRange {
    qint64 first = -1;
    qint64 last = -1;
    qint64 complete = -1; // -1: "*", the complete length is unknown
};
// False for anything else (another unit, an unsatisfied range "*/1000", last before first, a
// complete length not beyond last).
bool parseContentRange(const QByteArray& value, ContentRange* range);

// A web server: its host, its port, and whether it is reached over TLS.
struct WebServer {
    QString host;
    quint16 port;
    bool secure;
};

// The bytes a second that clients may receive together (the lanes of one download): each takes
// what it receives, and one whose next piece would overdraw the budget waits, its transfer
// paused, until the budget has refilled. It holds no more than a tenth of a second's bytes while
// nobody takes them, so that no burst carries an average past the rate.
class ReceiveBudget : public QObject {
    Q_OBJECT

public:
    explicit ReceiveBudget(QObject* parent = nullptr);
    // 0: no limit. A change holds at once, for the transfers under way too.
    void setRate(qint64 bytesPerSecond);
    qint64 rate() const { return bytesPerSecond; }
    // Milliseconds until a piece may be taken (0: now).
    qint64 wait();
    void take(qint64 bytes);

signals:
    void rateChanged();

private:
    void refill();

    qint64 bytesPerSecond = 0;
    double available = 0;
    QElapsedTimer clock;
    qint64 lastRefill = 0; // nanoseconds on the clock
};

// The launcher's HTTP client. Requests are queued and run one after the other on one host;
// done() comes once, after the last of them or after the first failure, which drops the rest.
// A reply is a reply whatever its status: a 404 or a 301 is read like a 200, and redirects are
// never followed. Only a failure to get a whole reply counts as an error. The body of the last
// request stays in memory until it is read, or goes to the device given with it as it arrives.
//
// It runs on libcurl, driven by the event loop of the thread it lives on: the bytes of a reply
// reach it as libcurl reads them, and every limit is checked on them there. A limit ends the
// request and closes its connection before the call that found it returns, whatever the server
// is in the middle of sending, so that what a reply may cost in memory is its limits, never what
// a fast server could send meanwhile. Requests follow the application's proxy settings (Qt's
// proxy factory) and, over TLS, trust the authorities of Qt's default configuration.
class HttpClient : public QObject {
    Q_OBJECT

public:
    // The codes a failed request ends with, as the update report writes them.
    enum Error {
        NoError = 0,
        UnknownError = 1,
        HostNotFound = 2,
        ConnectionRefused = 3,
        UnexpectedClose = 4,
        InvalidResponseHeader = 5,
        WrongContentLength = 6,
        Aborted = 7,
        AuthenticationRequiredError = 8,
        ProxyAuthenticationRequiredError = 9,
        TooSlow = 10
    };
    Q_ENUM(Error)

    // Over TLS, the server's certificate must be valid for its name and come from an authority
    // the system trusts: any TLS error fails the request.
    enum ConnectionMode { ConnectionModeHttp, ConnectionModeHttps };

    // A reply's status line and headers together, unless set otherwise: far above what a web
    // server sends, far below what would weigh on the memory.
    static constexpr qint64 kDefaultMaxHeaderSize = qint64(64) << 10;

    explicit HttpClient(QObject* parent = nullptr);
    HttpClient(const QString& host, quint16 port = 80, QObject* parent = nullptr);
    explicit HttpClient(const WebServer& server, QObject* parent = nullptr);
    ~HttpClient() override;

    // These apply to the requests queued after them.
    void setHost(const QString& host, quint16 port = 80);
    void setHost(const QString& host, ConnectionMode mode, quint16 port);
    // The most body bytes a reply may have (0: no limit). A longer announced length fails the
    // request before its body is read, a body that grows past it fails as it does; both with
    // WrongContentLength.
    void setMaxBodySize(qint64 bytes) { maxBody = bytes; }
    // The most bytes a reply's status line and headers may have; past it the request fails with
    // InvalidResponseHeader. libcurl bounds them on its own as well (300 KiB, and 100 KiB for
    // one line), so 0 leaves only its bound.
    void setMaxHeaderSize(qint64 bytes) { maxHeader = bytes; }
    // A request is given up, as Aborted, this long after it started (0: never), or this long
    // without a byte of its reply, header or body (0: never).
    void setTimeLimit(int milliseconds) { timeLimit = milliseconds; }
    void setIdleLimit(int milliseconds) { idleLimit = milliseconds; }
    // A request whose body brings fewer than `bytes` in any window of this many milliseconds of
    // its life is given up as TooSlow (0: never). A server that trickles keeps the idle limit at
    // bay byte by byte; this one it cannot. Timed by the client itself, to the millisecond, on
    // every piece as it comes: libcurl's own low-speed limit looks at an average once a second.
    void setMinimumSpeed(qint64 bytes, int windowMilliseconds) {
        minimumBytes = bytes;
        minimumWindow = windowMilliseconds;
    }
    // The most body bytes a second this client receives (0: no limit), at once, the running
    // request's too. libcurl's own limit is not changed safely during a transfer: the client
    // pauses its transfer itself. A request held back this way is neither idle nor too slow.
    void setMaxReceiveSpeed(qint64 bytesPerSecond);
    // A limit shared with other clients instead: together they keep to the budget's rate.
    void setReceiveBudget(ReceiveBudget* shared);

    // Both return the request's number, counted from 1. With a device, the body is written to it
    // as it arrives and is never held whole; whether the device took it is the device's to tell.
    int request(const HttpRequestHeader& header);
    int get(const QString& path, QIODevice* to = nullptr);
    // A request of the caller's own header whose body goes to the device (a Range request).
    int request(const HttpRequestHeader& header, QIODevice* to);

    Error error() const { return lastError; }
    QString errorString() const { return lastErrorString; }
    // Status of the last reply whose header came; 0 when none did.
    int statusCode() const { return status; }
    qint64 bytesAvailable() const { return body.size(); }
    QByteArray readAll();
    // Body bytes of the last request read from the network, kept or handed to its device.
    qint64 bytesReceived() const { return received; }
    // A header of the last reply whose header came (Content-Range...); empty when it had none.
    QByteArray responseHeader(const QByteArray& name) const;
    // Whether a request is under way or still being wound down: a transfer, or a socket that
    // libcurl watches for one. The idle connections kept for the next request do not count.
    bool active() const;

public slots:
    // Ends the running request and drops the queued ones; done(true) follows with Aborted.
    void abort();

signals:
    // Body bytes of the running request so far, and the length its reply announced (0: none).
    void dataReadProgress(int done, int total);
    // The reply's status and headers came, before any of its body reaches its device.
    void headerReceived(int status);
    void done(bool error);

private:
    struct Pending {
        QByteArray method;
        QString host;
        quint16 port;
        bool secure;
        QString path;
        QList<QPair<QByteArray, QByteArray>> values;
        QIODevice* device;
        qint64 limit;
        qint64 headerLimit;
        int timeLimit;
        int idleLimit;
        qint64 minimumBytes;
        int minimumWindow;
    };
    class Engine;
    struct Transfer;

    Pending pendingFor(const QByteArray& method, const QString& path, QIODevice* to) const;
    int enqueue(Pending pending);
    void startNext();
    // The request as libcurl takes it: address, method, headers, proxy and trust.
    void describeRequest(Transfer& transfer, const Pending& pending);
    void trustQtsAuthorities(Transfer& transfer);
    void startLimits(const Pending& pending);
    // What libcurl hands over of the running reply; false refuses it, which ends the transfer.
    bool takeHeaderLine(Transfer& transfer, const char* data, size_t size);
    bool takeBody(Transfer& transfer, const char* data, size_t size);
    // Whether the budget has no room for the next piece now: the transfer then waits for it.
    bool holdsBack();
    void onHoldOver();
    // Milliseconds of the running request's life, the time it was held back left out.
    qint64 activeElapsed() const;
    bool pastTimeLimit(Transfer& transfer);
    void refuse(Transfer& transfer, Error code, const QString& text);
    void transferEnded(Transfer& transfer, int result);
    Error errorOf(const Transfer& transfer, int result) const;
    void dropCurrent();
    void fail(Error code, const QString& text);
    void onTimeLimit();
    void onIdleLimit();
    void onSpeedCheck();

    std::unique_ptr<Engine> engine;
    QString hostName;
    quint16 hostPort = 80;
    bool hostSecure = false;
    qint64 maxBody = 0;
    qint64 maxHeader = kDefaultMaxHeaderSize;
    int timeLimit = 0;
    int idleLimit = 0;
    qint64 minimumBytes = 0;
    int minimumWindow = 0;
    QTimer* requestTimer;
    QTimer* speedTimer;
    QElapsedTimer sinceStart;
    // The running request's body as it came: (milliseconds since its start, bytes so far), only
    // as far back as its last `minimumBytes` bytes.
    std::deque<std::pair<qint64, qint64>> arrivals;
    qint64 currentMinimumBytes = 0;
    int currentMinimumWindow = 0;
    QTimer* idleTimer;
    QPointer<ReceiveBudget> budget;
    ReceiveBudget* ownBudget = nullptr;
    QTimer* holdTimer;
    bool held = false;
    QElapsedTimer heldSince;
    qint64 heldTotal = 0;
    QElapsedTimer sinceLastByte;
    int currentIdleLimit = 0;
    QList<Pending> queue;
    std::unique_ptr<Transfer> current;
    bool startScheduled = false;
    int lastId = 0;
    QByteArray body;
    qint64 received = 0;
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> replyHeaders;
    Error lastError = NoError;
    QString lastErrorString;
};
