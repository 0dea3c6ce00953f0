#include "httpclient.h"

#include <QIODevice>
#include <QMetaObject>
#include <QMutex>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QPointer>
#include <QSet>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <map>
#include <utility>
#include <vector>

namespace {

// What a reply announces is only a hint: the body is never given room beyond this up front.
constexpr qint64 kLargestReservation = qint64(256) << 20;
// libcurl reads a reply in pieces of at most this size and hands each over at once: besides what
// the caller keeps, a reply holds no more than one piece in memory, however fast it comes.
constexpr long kPiece = 256L << 10;
// Under a speed limit, a piece is at most a sixteenth of a second's bytes (and at least this):
// the limit is kept by pausing between pieces, and one piece is what it may be overrun by.
constexpr long kSmallestLimitedPiece = 16L << 10;
// What a budget keeps for those who did not take it: enough to bridge a late timer, too little
// to carry a burst.
constexpr double kBudgetSeconds = 0.1;

int asProgress(qint64 bytes) {
    return int(std::clamp<qint64>(bytes, 0, std::numeric_limits<int>::max()));
}

// libcurl's process-wide set-up, once. Since 7.84 it may run while other threads do (its
// "threadsafe" feature, which Debian's and vcpkg's builds have), so the first client makes it.
void setUpLibcurl() {
    static const CURLcode ready = curl_global_init(CURL_GLOBAL_DEFAULT);
    Q_UNUSED(ready)
}

// The authorities a TLS server's certificate must come from, as PEM for libcurl: the ones Qt's
// default configuration trusts. Qt loads the system's as it needs them, so its list holds only
// what the application added: both are handed over. Made again only when that list changes.
QByteArray trustedAuthorities() {
    static QMutex lock;
    static QList<QSslCertificate> added;
    static QByteArray pem;
    static bool made = false;
    QMutexLocker locker(&lock);
    const QList<QSslCertificate> now = QSslConfiguration::defaultConfiguration().caCertificates();
    if (made && now == added)
        return pem;
    static const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
    added = now;
    made = true;
    pem.clear();
    QSet<QSslCertificate> seen;
    for (const QList<QSslCertificate>& list : {system, added}) {
        for (const QSslCertificate& certificate : list) {
            if (certificate.isNull() || seen.contains(certificate))
                continue;
            seen.insert(certificate);
            pem += certificate.toPem();
        }
    }
    return pem;
}

QByteArray bracketed(const QString& host) {
    // An IPv6 address is written in brackets in an address, before its port.
    return host.contains(QLatin1Char(':')) ? '[' + host.toLatin1() + ']' : host.toLatin1();
}

// The proxy Qt's settings give for the address (the application's proxy or factory, the
// system's settings when asked for), handed to libcurl. libcurl then reads no proxy setting of
// its own from the environment: the launcher follows Qt's, as its news view does.
void useProxyFor(CURL* easy, const QUrl& url, bool secure) {
    QByteArray address;
    QNetworkProxy chosen(QNetworkProxy::NoProxy);
    for (const QNetworkProxy& proxy :
         QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url))) {
        const QNetworkProxy::ProxyType type = proxy.type();
        // A caching proxy takes plain requests only, and an FTP one none of the launcher's.
        if (type == QNetworkProxy::FtpCachingProxy ||
            (type == QNetworkProxy::HttpCachingProxy && secure))
            continue;
        chosen = proxy;
        break;
    }
    const QByteArray where = bracketed(chosen.hostName()) + ':' + QByteArray::number(chosen.port());
    switch (chosen.type()) {
    case QNetworkProxy::HttpProxy:
    case QNetworkProxy::HttpCachingProxy:
        // https goes through it as a tunnel (CONNECT), http as a request for the whole address.
        address = "http://" + where;
        break;
    case QNetworkProxy::Socks5Proxy:
        // The proxy looks the name up, as Qt's SOCKS5 connections have it do.
        address = "socks5h://" + where;
        break;
    default:
        break;
    }
    curl_easy_setopt(easy, CURLOPT_PROXY, address.constData());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
    if (!address.isEmpty() && !chosen.user().isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, chosen.user().toUtf8().constData());
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, chosen.password().toUtf8().constData());
        curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
    }
}

// How a proxy refused a tunnel (the status of its answer to CONNECT), in Qt's terms.
HttpClient::Error tunnelRefusal(long status) {
    switch (status) {
    case 407:
        return HttpClient::ProxyAuthenticationRequiredError;
    case 404:
        return HttpClient::HostNotFound;
    case 503:
        return HttpClient::ConnectionRefused;
    default:
        return HttpClient::UnknownError;
    }
}

bool refusedBySystem(long systemError) {
#ifdef Q_OS_WIN
    constexpr long kWinsockRefused = 10061; // WSAECONNREFUSED
    if (systemError == kWinsockRefused)
        return true;
#endif
    return systemError == ECONNREFUSED;
}

} // namespace

// The running request: its libcurl handle, and what its reply has shown so far.
struct HttpClient::Transfer {
    Transfer() = default;
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    ~Transfer() {
        curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
    }

    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    QByteArray authorities; // read by libcurl where it lies, for as long as the handle lives
    // Null once the request was given up: whatever libcurl hands over after that is refused.
    HttpClient* client = nullptr;
    QIODevice* device = nullptr;
    qint64 limit = 0;
    qint64 headerLimit = 0;
    qint64 headerBytes = 0;
    int lineStatus = 0; // the status line of the reply whose header is being read
    QList<QPair<QByteArray, QByteArray>> lines;
    bool headerDone = false;
    qint64 length = -1; // the body length the reply announced; -1: none
    Error refusal = NoError;
    QString refusalText;
    char message[CURL_ERROR_SIZE] = {};
};

// libcurl's multi interface for one client, driven by the event loop of the client's thread: a
// notifier per socket that libcurl watches, one timer for when libcurl asks to be called back.
// One per client, as the client had its own connections before: its requests reuse its kept
// connections, and nothing of another client's can reach back into it. libcurl must not be
// called again while it runs a callback; what a callback's receiver asks for meanwhile (a
// request given up, a nested event loop) waits until libcurl has returned.
class HttpClient::Engine {
public:
    explicit Engine(HttpClient* owner)
        : client(owner)
        , multi(curl_multi_init()) {
        curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Engine::onSocket);
        curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Engine::onTimer);
        curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &timer,
                         [this] { drive(CURL_SOCKET_TIMEOUT, 0); });
    }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    ~Engine() {
        for (auto& transfer : retired)
            curl_multi_remove_handle(multi, transfer->easy);
        retired.clear();
        // The kept connections are closed here; libcurl says so through onSocket.
        curl_multi_cleanup(multi);
        sockets.clear();
    }

    bool add(CURL* easy) { return curl_multi_add_handle(multi, easy) == CURLM_OK; }

    // Takes a transfer out: at once, which closes a connection left in the middle of a reply
    // before this returns; or, from inside libcurl, as soon as it has returned.
    void release(std::unique_ptr<Transfer> transfer) {
        transfer->client = nullptr;
        if (calls == 0) {
            curl_multi_remove_handle(multi, transfer->easy);
            return;
        }
        retired.push_back(std::move(transfer));
    }

    // The client goes while a frame of this engine is on its stack: the outermost frame deletes
    // the engine on its way out.
    bool outlives() {
        client = nullptr;
        return depth > 0;
    }

    bool insideLibcurl() const { return calls > 0; }

    // A paused transfer goes on. libcurl may hand over the piece it kept before this returns.
    void resume(CURL* easy) {
        ++depth;
        ++calls;
        curl_easy_pause(easy, CURLPAUSE_CONT);
        --calls;
        settle();
        if (--depth == 0 && !client)
            delete this;
    }
    bool busy() const { return !retired.empty() || !sockets.empty(); }
    // A request queued while libcurl ran: started once it has returned.
    void startWhenOut() { startPending = true; }

private:
    struct Watch {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
        int wanted = 0;
    };

    static int onSocket(CURL*, curl_socket_t socket, int what, void* self, void*) {
        auto* engine = static_cast<Engine*>(self);
        if (what == CURL_POLL_REMOVE) {
            engine->sockets.erase(socket);
            return 0;
        }
        Watch& watch = engine->sockets[socket];
        watch.wanted = what;
        engine->watchFor(socket, watch.read, QSocketNotifier::Read, CURL_CSELECT_IN);
        engine->watchFor(socket, watch.write, QSocketNotifier::Write, CURL_CSELECT_OUT);
        return 0;
    }

    void watchFor(curl_socket_t socket, std::unique_ptr<QSocketNotifier>& notifier,
                  QSocketNotifier::Type type, int event) {
        const int wanted = sockets[socket].wanted;
        const bool on = wanted & (type == QSocketNotifier::Read ? CURL_POLL_IN : CURL_POLL_OUT);
        if (on && !notifier) {
            notifier = std::make_unique<QSocketNotifier>(qintptr(socket), type);
            QSocketNotifier* watching = notifier.get();
            QObject::connect(watching, &QSocketNotifier::activated, watching,
                             [this, socket, event, watching] {
                                 if (calls > 0) {
                                     // Reached from a callback's own event loop: libcurl sees
                                     // this socket again once it has returned.
                                     watching->setEnabled(false);
                                     missed = true;
                                     return;
                                 }
                                 drive(socket, event);
                             });
        }
        if (notifier)
            notifier->setEnabled(on);
    }

    static int onTimer(CURLM*, long milliseconds, void* self) {
        auto* engine = static_cast<Engine*>(self);
        if (milliseconds < 0)
            engine->timer.stop();
        else
            engine->timer.start(int(std::min<long>(milliseconds, std::numeric_limits<int>::max())));
        return 0;
    }

    void drive(curl_socket_t socket, int events) {
        if (calls > 0) {
            missed = true;
            return;
        }
        ++depth;
        int running = 0;
        ++calls;
        curl_multi_socket_action(multi, socket, events, &running);
        --calls;
        settle();
        if (--depth == 0 && !client) {
            delete this;
            return;
        }
    }

    // What waited on libcurl's return, then the transfers that ended.
    void settle() {
        for (auto& transfer : retired)
            curl_multi_remove_handle(multi, transfer->easy);
        retired.clear();
        if (missed) {
            missed = false;
            for (auto& [socket, watch] : sockets) {
                if (watch.read)
                    watch.read->setEnabled(watch.wanted & CURL_POLL_IN);
                if (watch.write)
                    watch.write->setEnabled(watch.wanted & CURL_POLL_OUT);
            }
            timer.start(0);
        }
        std::vector<std::pair<CURL*, CURLcode>> ended;
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg == CURLMSG_DONE)
                ended.emplace_back(message->easy_handle, message->data.result);
        }
        for (const auto& [easy, result] : ended) {
            // The receiver of done() may delete the client.
            if (!client)
                return;
            if (client->current && client->current->easy == easy)
                client->transferEnded(*client->current, int(result));
        }
        if (client && startPending) {
            startPending = false;
            if (!client->current && !client->queue.isEmpty())
                client->startNext();
        }
    }

public:
    HttpClient* client;

private:
    CURLM* multi;
    QTimer timer;
    std::map<curl_socket_t, Watch> sockets;
    std::vector<std::unique_ptr<Transfer>> retired;
    int calls = 0; // libcurl calls on the stack, whose callbacks may reach the client's receivers
    int depth = 0; // frames of drive() on the stack
    bool missed = false;
    bool startPending = false;

    friend class HttpClient;
    static size_t onHeader(char* data, size_t, size_t size, void* transfer) {
        auto* t = static_cast<Transfer*>(transfer);
        return t->client && t->client->takeHeaderLine(*t, data, size) ? size : 0;
    }
    static size_t onBody(char* data, size_t, size_t size, void* transfer) {
        auto* t = static_cast<Transfer*>(transfer);
        // libcurl keeps the piece and hands it over again once the transfer goes on.
        if (t->client && t->client->holdsBack())
            return CURL_WRITEFUNC_PAUSE;
        return t->client && t->client->takeBody(*t, data, size) ? size : 0;
    }
};

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

bool parseContentRange(const QByteArray& value, ContentRange* range) {
    // bytes SP first "-" last "/" ( complete / "*" ), digits only, as RFC 9110 14.4 has it.
    const QByteArray text = value.trimmed();
    const auto digits = [](const QByteArray& part, qint64* number) {
        if (part.isEmpty() || part.size() > 18)
            return false;
        for (const char ch : part) {
            if (ch < '0' || ch > '9')
                return false;
        }
        *number = part.toLongLong();
        return true;
    };
    if (!text.startsWith("bytes "))
        return false;
    const QByteArray rest = text.mid(6);
    const qsizetype dash = rest.indexOf('-');
    const qsizetype slash = rest.indexOf('/');
    if (dash < 0 || slash < dash)
        return false;
    ContentRange read;
    if (!digits(rest.left(dash), &read.first) ||
        !digits(rest.mid(dash + 1, slash - dash - 1), &read.last) || read.last < read.first)
        return false;
    const QByteArray complete = rest.mid(slash + 1);
    if (complete != "*" && (!digits(complete, &read.complete) || read.complete <= read.last))
        return false;
    *range = read;
    return true;
}

ReceiveBudget::ReceiveBudget(QObject* parent)
    : QObject(parent) {
    clock.start();
}

void ReceiveBudget::refill() {
    const qint64 now = clock.nsecsElapsed();
    const double ceiling = double(bytesPerSecond) * kBudgetSeconds;
    available =
        std::min(ceiling, available + double(now - lastRefill) * double(bytesPerSecond) / 1e9);
    lastRefill = now;
}

void ReceiveBudget::setRate(qint64 rate) {
    refill();
    bytesPerSecond = std::max<qint64>(0, rate);
    available = std::min(available, double(bytesPerSecond) * kBudgetSeconds);
    emit rateChanged();
}

qint64 ReceiveBudget::wait() {
    if (bytesPerSecond <= 0)
        return 0;
    refill();
    if (available >= 0)
        return 0;
    return qint64(std::ceil(-available * 1000.0 / double(bytesPerSecond)));
}

void ReceiveBudget::take(qint64 bytes) {
    if (bytesPerSecond <= 0)
        return;
    refill();
    available -= double(bytes);
}

HttpClient::HttpClient(QObject* parent)
    : QObject(parent)
    , requestTimer(new QTimer(this))
    , speedTimer(new QTimer(this))
    , idleTimer(new QTimer(this))
    , holdTimer(new QTimer(this)) {
    setUpLibcurl();
    engine = std::make_unique<Engine>(this);
    // The limits are counted in milliseconds, not to the nearest timer slot.
    for (QTimer* timer : {requestTimer, idleTimer, speedTimer, holdTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(requestTimer, &QTimer::timeout, this, &HttpClient::onTimeLimit);
    connect(idleTimer, &QTimer::timeout, this, &HttpClient::onIdleLimit);
    connect(speedTimer, &QTimer::timeout, this, &HttpClient::onSpeedCheck);
    connect(holdTimer, &QTimer::timeout, this, &HttpClient::onHoldOver);
}

void HttpClient::setMaxReceiveSpeed(qint64 bytesPerSecond) {
    if (!ownBudget)
        ownBudget = new ReceiveBudget(this);
    ownBudget->setRate(bytesPerSecond);
    setReceiveBudget(ownBudget);
}

void HttpClient::setReceiveBudget(ReceiveBudget* shared) {
    if (budget == shared)
        return;
    if (budget)
        budget->disconnect(this);
    budget = shared;
    // A new rate may let a held transfer go on at once, or hold it longer.
    if (budget)
        connect(budget, &ReceiveBudget::rateChanged, this, [this] {
            if (held)
                holdTimer->start(0);
        });
    if (held)
        holdTimer->start(0);
}

bool HttpClient::holdsBack() {
    const qint64 wait = budget ? budget->wait() : 0;
    if (wait <= 0)
        return false;
    if (!held) {
        held = true;
        heldSince.start();
    }
    holdTimer->start(int(std::min<qint64>(wait, std::numeric_limits<int>::max())));
    return true;
}

void HttpClient::onHoldOver() {
    if (!held)
        return;
    if (!current) {
        held = false;
        return;
    }
    const qint64 wait = budget ? budget->wait() : 0;
    if (wait > 0) {
        holdTimer->start(int(std::min<qint64>(wait, std::numeric_limits<int>::max())));
        return;
    }
    // libcurl is not called again from inside itself.
    if (engine->insideLibcurl()) {
        holdTimer->start(0);
        return;
    }
    held = false;
    heldTotal += heldSince.elapsed();
    sinceLastByte.start();
    engine->resume(current->easy);
}

qint64 HttpClient::activeElapsed() const {
    return sinceStart.elapsed() - heldTotal - (held ? heldSince.elapsed() : 0);
}

HttpClient::HttpClient(const QString& host, quint16 port, QObject* parent)
    : HttpClient(parent) {
    setHost(host, port);
}

HttpClient::HttpClient(const WebServer& server, QObject* parent)
    : HttpClient(parent) {
    setHost(server.host, server.secure ? ConnectionModeHttps : ConnectionModeHttp, server.port);
}

HttpClient::~HttpClient() {
    queue.clear();
    // A running request's connection is closed, whatever it was in the middle of.
    dropCurrent();
    // Deleted by a receiver of its own signal: libcurl is still on the stack, and the engine
    // goes once it has returned.
    if (engine->outlives())
        static_cast<void>(engine.release());
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

HttpClient::Pending HttpClient::pendingFor(const QByteArray& method, const QString& path,
                                           QIODevice* to) const {
    // The host and the limits as they are set now: a later change is for later requests.
    return {method,  hostName,  hostPort,  hostSecure, path,         {},           to,
            maxBody, maxHeader, timeLimit, idleLimit,  minimumBytes, minimumWindow};
}

int HttpClient::request(const HttpRequestHeader& header, QIODevice* to) {
    Pending pending = pendingFor(header.method().toLatin1(), header.path(), to);
    // The client speaks HTTP/1.1 only, which is what the launcher asks for.
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

bool HttpClient::active() const {
    return current || engine->busy();
}

int HttpClient::get(const QString& path, QIODevice* to) {
    return enqueue(pendingFor("GET", path, to));
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
                if (current)
                    return;
                if (engine->insideLibcurl())
                    engine->startWhenOut();
                else
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
    status = 0;
    replyHeaders.clear();
    lastError = NoError;
    lastErrorString.clear();

    auto transfer = std::make_unique<Transfer>();
    transfer->easy = curl_easy_init();
    if (!transfer->easy) {
        fail(UnknownError, tr("libcurl could not make a request"));
        return;
    }
    transfer->client = this;
    transfer->device = pending.device;
    transfer->limit = pending.limit;
    transfer->headerLimit = pending.headerLimit;
    describeRequest(*transfer, pending);
    if (!engine->add(transfer->easy)) {
        fail(UnknownError, tr("libcurl could not start the request"));
        return;
    }
    current = std::move(transfer);
    startLimits(pending);
}

void HttpClient::describeRequest(Transfer& transfer, const Pending& pending) {
    CURL* easy = transfer.easy;
    // The scheme's own port goes unwritten, as in the address a browser would use.
    const quint16 schemePort = pending.secure ? 443 : 80;
    const QString port =
        pending.port == schemePort ? QString() : QStringLiteral(":%1").arg(pending.port);
    const QString scheme = pending.secure ? QStringLiteral("https://") : QStringLiteral("http://");
    const QUrl url(scheme + QString::fromLatin1(bracketed(pending.host)) + port + pending.path);
    curl_easy_setopt(easy, CURLOPT_URL, url.toEncoded().constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    // The server's answer is what the launcher reads, a redirection included.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.message);
    const qint64 rate = budget ? budget->rate() : 0;
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE,
                     rate > 0 ? long(std::clamp<qint64>(rate / 16, kSmallestLimitedPiece, kPiece))
                              : kPiece);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Engine::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Engine::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    // A proxy's answer to CONNECT is not the server's header.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (pending.method == "HEAD")
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    else if (pending.method != "GET")
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, pending.method.constData());
    // The body is taken as the server sends it, so that its length is the one announced.
    transfer.headers = curl_slist_append(transfer.headers, "Accept-Encoding: identity");
    for (const auto& [key, value] : pending.values)
        transfer.headers = curl_slist_append(transfer.headers, key + ": " + value);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headers);
    useProxyFor(easy, url, pending.secure);
    if (pending.secure)
        trustQtsAuthorities(transfer);
}

void HttpClient::trustQtsAuthorities(Transfer& transfer) {
    CURL* easy = transfer.easy;
    // Exactly the authorities Qt trusts, never a bundle of libcurl's own choosing.
    transfer.authorities = trustedAuthorities();
    curl_blob authorities{const_cast<char*>(transfer.authorities.constData()),
                          size_t(transfer.authorities.size()), CURL_BLOB_NOCOPY};
    curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &authorities);
    curl_easy_setopt(easy, CURLOPT_CAINFO, static_cast<const char*>(nullptr));
    curl_easy_setopt(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    // Windows' own TLS, which libcurl uses there, also asks whether the certificate was
    // revoked: an answer it cannot get does not fail the request, a revocation does.
    curl_easy_setopt(easy, CURLOPT_SSL_OPTIONS, long(CURLSSLOPT_REVOKE_BEST_EFFORT));
}

void HttpClient::startLimits(const Pending& pending) {
    currentIdleLimit = pending.idleLimit;
    sinceLastByte.start();
    if (pending.timeLimit > 0)
        requestTimer->start(pending.timeLimit);
    else
        requestTimer->stop();
    if (currentIdleLimit > 0)
        idleTimer->start(currentIdleLimit);
    else
        idleTimer->stop();
    currentMinimumBytes = pending.minimumBytes;
    currentMinimumWindow = pending.minimumWindow;
    arrivals.clear();
    sinceStart.start();
    held = false;
    heldTotal = 0;
    holdTimer->stop();
    if (currentMinimumBytes > 0 && currentMinimumWindow > 0) {
        arrivals.emplace_back(0, 0);
        speedTimer->start(currentMinimumWindow);
    } else {
        speedTimer->stop();
    }
}

bool HttpClient::takeHeaderLine(Transfer& transfer, const char* data, size_t size) {
    sinceLastByte.start();
    transfer.headerBytes += qint64(size);
    if (transfer.headerLimit > 0 && transfer.headerBytes > transfer.headerLimit) {
        refuse(transfer, InvalidResponseHeader,
               tr("Reply header larger than %1 bytes").arg(transfer.headerLimit));
        return false;
    }
    if (pastTimeLimit(transfer))
        return false;
    // After the body: the trailers of a chunked body, counted and left.
    if (transfer.headerDone)
        return true;
    QByteArray line(data, qsizetype(size));
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.startsWith("HTTP/")) {
        transfer.lineStatus = line.split(' ').value(1).toInt();
        transfer.lines.clear();
        return true;
    }
    if (!line.isEmpty()) {
        if ((line.startsWith(' ') || line.startsWith('\t')) && !transfer.lines.isEmpty()) {
            transfer.lines.last().second += ' ' + line.trimmed();
        } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
            transfer.lines.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        return true;
    }
    // The end of a header; an interim one (100 Continue) is followed by the reply's own.
    if (transfer.lineStatus >= 100 && transfer.lineStatus < 200)
        return true;
    transfer.headerDone = true;
    status = transfer.lineStatus;
    replyHeaders = transfer.lines;
    const QByteArray length = responseHeader("Content-Length");
    bool number = false;
    const qint64 announced = length.toLongLong(&number);
    if (number && announced >= 0 && !responseHeader("Transfer-Encoding").contains("chunked"))
        transfer.length = announced;

    const QPointer<HttpClient> alive(this);
    emit headerReceived(status);
    // The receiver may have given the request up.
    if (!alive || transfer.client != this)
        return false;
    if (transfer.length < 0)
        return true;
    // Refused before a byte of it is read.
    if (transfer.limit > 0 && transfer.length > transfer.limit) {
        refuse(transfer, WrongContentLength, tr("Reply larger than %1 bytes").arg(transfer.limit));
        return false;
    }
    // Room for the whole announced body at once: growing it step by step would need the old and
    // the new copy side by side.
    if (!transfer.device && body.isEmpty() && transfer.length > 0 &&
        transfer.length <= kLargestReservation)
        body.reserve(transfer.length);
    return true;
}

bool HttpClient::takeBody(Transfer& transfer, const char* data, size_t size) {
    sinceLastByte.start();
    const qint64 bytes = qint64(size);
    if (transfer.limit > 0 && received + bytes > transfer.limit) {
        refuse(transfer, WrongContentLength, tr("Reply larger than %1 bytes").arg(transfer.limit));
        return false;
    }
    if (pastTimeLimit(transfer))
        return false;
    received += bytes;
    if (budget)
        budget->take(bytes);
    if (currentMinimumBytes > 0 && !arrivals.empty()) {
        const qint64 now = activeElapsed();
        if (arrivals.back().first == now)
            arrivals.back().second = received;
        else
            arrivals.emplace_back(now, received);
        // What came before the last minimumBytes can no longer make a window too slow.
        while (arrivals.size() > 1 && arrivals.front().second <= received - currentMinimumBytes)
            arrivals.pop_front();
    }
    if (transfer.device)
        transfer.device->write(data, bytes);
    else
        body.append(data, qsizetype(bytes));
    // The device's owner may have given the request up on the way.
    if (transfer.client != this)
        return false;
    const QPointer<HttpClient> alive(this);
    emit dataReadProgress(asProgress(received),
                          transfer.length >= 0 ? asProgress(transfer.length) : 0);
    return alive && transfer.client == this;
}

// A reply that never stops keeps Windows' message queue full of its socket's messages, and the
// time limit's timer fires only once that queue is empty: the reply's own bytes look at the
// clock too.
bool HttpClient::pastTimeLimit(Transfer& transfer) {
    if (!requestTimer->isActive() || sinceStart.elapsed() < requestTimer->interval())
        return false;
    refuse(transfer, Aborted, tr("No whole reply within %1 ms").arg(requestTimer->interval()));
    return true;
}

void HttpClient::refuse(Transfer& transfer, Error code, const QString& text) {
    // libcurl ends the transfer and closes its connection as soon as the callback returns.
    transfer.refusal = code;
    transfer.refusalText = text;
}

void HttpClient::transferEnded(Transfer& transfer, int result) {
    requestTimer->stop();
    idleTimer->stop();
    speedTimer->stop();
    holdTimer->stop();
    held = false;
    const Error code = errorOf(transfer, result);
    QString text = transfer.refusalText;
    if (text.isEmpty() && code != NoError) {
        text = transfer.message[0] ? QString::fromUtf8(transfer.message)
                                   : QString::fromUtf8(curl_easy_strerror(CURLcode(result)));
        if (result == CURLE_OK)
            text = tr("HTTP %1").arg(status);
    }
    engine->release(std::move(current));
    if (code != NoError) {
        fail(code, text);
        return;
    }
    if (queue.isEmpty())
        emit done(false);
    else
        startNext();
}

HttpClient::Error HttpClient::errorOf(const Transfer& transfer, int result) const {
    if (transfer.refusal != NoError)
        return transfer.refusal;
    const CURLcode code = CURLcode(result);
    if (code == CURLE_OK) {
        // Qt's names for these two statuses, kept as the report writes them.
        if (status == 401)
            return AuthenticationRequiredError;
        if (status == 407)
            return ProxyAuthenticationRequiredError;
        return NoError;
    }
    long tunnel = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_HTTP_CONNECTCODE, &tunnel);
    if (tunnel != 0 && tunnel != 200)
        return tunnelRefusal(tunnel);
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return HostNotFound;
    case CURLE_COULDNT_CONNECT: {
        long systemError = 0;
        curl_easy_getinfo(transfer.easy, CURLINFO_OS_ERRNO, &systemError);
        return refusedBySystem(systemError) ? ConnectionRefused : UnknownError;
    }
    case CURLE_PROXY: {
        long why = CURLPX_OK;
        curl_easy_getinfo(transfer.easy, CURLINFO_PROXY_ERROR, &why);
        if (why == CURLPX_RESOLVE_HOST || why == CURLPX_REPLY_HOST_UNREACHABLE)
            return HostNotFound;
        if (why == CURLPX_REPLY_CONNECTION_REFUSED)
            return ConnectionRefused;
        return UnknownError;
    }
    case CURLE_GOT_NOTHING:
        return UnexpectedClose;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        // Closed before the announced body was all there: a cut body, never a complete one.
        if (transfer.headerDone && transfer.length >= 0 && transfer.length != received)
            return WrongContentLength;
        return UnexpectedClose;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_WEIRD_SERVER_REPLY:
        return InvalidResponseHeader;
    case CURLE_OUT_OF_MEMORY:
        // libcurl's own bound on a header line that never ends.
        return transfer.headerDone ? UnknownError : InvalidResponseHeader;
    case CURLE_ABORTED_BY_CALLBACK:
        return Aborted;
    default:
        return UnknownError;
    }
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
    // The timer is not moved at every byte: it looks at the time of the last one when it fires.
    // A transfer held back by the speed limit waits for this client, not for the server.
    const qint64 quiet = held ? 0 : sinceLastByte.elapsed();
    if (quiet < currentIdleLimit) {
        idleTimer->start(int(currentIdleLimit - quiet));
        return;
    }
    dropCurrent();
    fail(Aborted, tr("No byte for %1 ms").arg(currentIdleLimit));
}

void HttpClient::onSpeedCheck() {
    if (!current || arrivals.empty())
        return;
    // The window that ends now began where the bytes still needed would have had to start: the
    // earliest arrival the last minimumBytes hold. Too slow once that is a whole window ago.
    const qint64 now = activeElapsed();
    while (arrivals.size() > 1 && arrivals.front().second <= received - currentMinimumBytes)
        arrivals.pop_front();
    const qint64 due = arrivals.front().first + currentMinimumWindow;
    if (now < due) {
        speedTimer->start(int(due - now));
        return;
    }
    dropCurrent();
    fail(TooSlow,
         tr("less than %1 bytes in %2 ms").arg(currentMinimumBytes).arg(currentMinimumWindow));
}

void HttpClient::dropCurrent() {
    requestTimer->stop();
    idleTimer->stop();
    speedTimer->stop();
    holdTimer->stop();
    held = false;
    // Out of libcurl at once: its connection is closed before this returns.
    if (current)
        engine->release(std::move(current));
}

void HttpClient::abort() {
    const bool running = current || !queue.isEmpty();
    queue.clear();
    dropCurrent();
    if (running)
        fail(Aborted, tr("Request aborted"));
}
