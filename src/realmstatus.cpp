#include "realmstatus.h"

#include "hostandport.h"

#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

using vestrahal::kRealmCount;

namespace {

// Letters, digits and inner hyphens, in labels of at most 63 characters: what a name server and
// the game's own lookup accept. Anything else (spaces, "set realmlist", accented letters) is a
// typing mistake, not a host.
bool isHostName(const QByteArray& name) {
    QByteArray bare = name;
    if (bare.endsWith('.'))
        bare.chop(1);
    if (bare.isEmpty() || bare.size() > 253)
        return false;
    for (const QByteArray& label : bare.split('.')) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith('-') || label.endsWith('-'))
            return false;
        for (const char ch : label) {
            const bool letterOrDigit =
                (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
            if (!letterOrDigit && ch != '-')
                return false;
        }
    }
    return true;
}

} // namespace

std::optional<RealmStatus::Endpoint> RealmStatus::endpoint(const QByteArray& hostText) {
    const auto parsed = parseHostAndPort(QString::fromLatin1(hostText), kLogonPort);
    // An IPv6 address has been checked whole; a name is checked here.
    if (!parsed || (!parsed->host.contains(u':') && !isHostName(parsed->host.toLatin1())))
        return std::nullopt;
    return Endpoint{parsed->host, parsed->port};
}

QString RealmStatus::describe(State state, int milliseconds) {
    switch (state) {
    case State::Answering:
        return QStringLiteral("En ligne (%1 ms)").arg(milliseconds);
    case State::Silent:
        return QStringLiteral("Ne répond pas");
    case State::Unknown:
        return QStringLiteral("Vérification...");
    case State::None:
        break;
    }
    return {};
}

RealmStatus::RealmStatus(QObject* parent)
    : QObject(parent)
    , intervalTimer(new QTimer(this)) {
    connect(intervalTimer, &QTimer::timeout, this, &RealmStatus::periodicCheck);
    intervalTimer->start(60000);
}

RealmStatus::~RealmStatus() {
    // The sockets are children and would go anyway; dropping them first keeps their last
    // signals from reaching a half-destroyed object.
    for (int realm = 0; realm < kRealmCount; ++realm)
        drop(realm);
}

void RealmStatus::setInterval(int milliseconds) {
    intervalTimer->start(milliseconds);
}

void RealmStatus::setPeriodicCondition(std::function<bool()> condition) {
    periodicCondition = std::move(condition);
}

void RealmStatus::setHost(int realm, const QByteArray& hostText) {
    if (realm < 0 || realm >= kRealmCount)
        return;
    Realm& entry = realms[realm];
    if (hostText == entry.hostText)
        return;
    drop(realm);
    entry.hostText = hostText;
    entry.answered.invalidate();
    entry.target = hostText.isEmpty() ? std::nullopt : endpoint(hostText);
    entry.state = entry.target ? State::Unknown : State::None;
    entry.milliseconds = 0;
    entry.pending = false;
    emit changed(realm);
    start(realm);
}

void RealmStatus::checkAll() {
    for (int realm = 0; realm < kRealmCount; ++realm)
        start(realm);
}

void RealmStatus::checkOlderThan(int milliseconds) {
    for (int realm = 0; realm < kRealmCount; ++realm) {
        const QElapsedTimer& answered = realms[realm].answered;
        if (!answered.isValid() || answered.elapsed() >= milliseconds)
            start(realm);
    }
}

void RealmStatus::setPaused(bool pause) {
    if (pause == paused)
        return;
    paused = pause;
    if (paused) {
        for (int realm = 0; realm < kRealmCount; ++realm) {
            if (isChecking(realm)) {
                drop(realm);
                realms[realm].pending = true;
            }
        }
        return;
    }
    startPending();
}

void RealmStatus::setHeld(bool hold) {
    held = hold;
    startPending();
}

void RealmStatus::startPending() {
    for (int realm = 0; realm < kRealmCount; ++realm) {
        if (realms[realm].pending)
            start(realm);
    }
}

void RealmStatus::periodicCheck() {
    if (paused || (periodicCondition && !periodicCondition()))
        return;
    checkAll();
}

void RealmStatus::start(int realm) {
    Realm& entry = realms[realm];
    if (!entry.target || isChecking(realm))
        return;
    if (paused || held) {
        entry.pending = true;
        return;
    }
    entry.pending = false;

    auto* socket = new QTcpSocket(this);
    // The game reaches its logon server directly, so the check does too: a proxy would answer
    // for a server that is down.
    socket->setProxy(QNetworkProxy::NoProxy);
    entry.socket = socket;
    connect(socket, &QTcpSocket::connected, this,
            [this, realm, socket] { finish(realm, socket, true); });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, realm, socket] { finish(realm, socket, false); });
    // The socket is the timer's context: a check that ended before its limit leaves no timer.
    QTimer::singleShot(attemptTimeLimit, socket,
                       [this, realm, socket] { finish(realm, socket, false); });
    entry.clock.start();
    connectSocket(socket, entry.target->host, entry.target->port);
}

void RealmStatus::connectSocket(QTcpSocket* socket, const QString& host, quint16 port) {
    socket->connectToHost(host, port);
}

void RealmStatus::drop(int realm) {
    QTcpSocket* socket = realms[realm].socket;
    realms[realm].socket = nullptr;
    if (!socket)
        return;
    socket->disconnect(this);
    socket->abort();
    // Never deleted here: this may run inside one of the socket's own signals.
    socket->deleteLater();
}

void RealmStatus::finish(int realm, QTcpSocket* socket, bool answered) {
    Realm& entry = realms[realm];
    if (entry.socket != socket)
        return;
    const int elapsed = int(entry.clock.elapsed());
    // Closed at once, nothing sent: the server sees a connection come and go.
    drop(realm);
    entry.answered.start();
    entry.state = answered ? State::Answering : State::Silent;
    entry.milliseconds = answered ? elapsed : 0;
    emit changed(realm);
}
