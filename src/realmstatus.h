#pragma once

#include "realmsandprogress.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <functional>
#include <optional>

class QTcpSocket;
class QTimer;

// Tells whether each realm's logon server answers, and how fast, before the player starts the
// game. A check is a bare TCP connection to the logon port, closed as soon as it is made with
// nothing sent: the server's own protocol is never spoken. Widget-free; the window shows what it
// finds.
class RealmStatus : public QObject {
    Q_OBJECT

public:
    static constexpr quint16 kLogonPort = 3724;

    enum class State {
        None,      // not watched, or a host text that names no host: nothing to show
        Unknown,   // watched, no check has ended yet
        Answering, // the last check connected
        Silent,    // the last check failed or ran out of time
    };

    struct Endpoint {
        QString host;
        quint16 port = kLogonPort;
    };
    // The host and port that a realm's host text names ("name", "name:port", an IPv4 address or
    // an IPv6 one, bracketed when it carries a port); nothing when it names no host, so that no
    // connection is ever opened from a text the game itself could not use.
    static std::optional<Endpoint> endpoint(const QByteArray& hostText);
    // What an indicator says about the state, in the player's language ("" for None).
    static QString describe(State state, int milliseconds);

    explicit RealmStatus(QObject* parent = nullptr);
    ~RealmStatus() override;

    // Watches a realm at this host text; an empty text stops watching it. A host that differs
    // from the one watched starts from Unknown and is checked at once.
    void setHost(int realm, const QByteArray& hostText);
    // Checks every watched realm whose check is not already running.
    void checkAll();
    // Checks again every watched realm whose last answer is older than this, or that has none
    // yet and is not being checked: the player comes back to the window and sees the realms as
    // they are now, not as they were up to a minute ago.
    void checkOlderThan(int milliseconds);
    static constexpr int kFreshForMs = 10000;
    // While the game runs, nothing is checked: running checks are dropped and every check that
    // falls due is held until the pause ends.
    void setPaused(bool paused);
    bool isPaused() const { return paused; }
    // Checks that fall due while held wait, as during a pause, and start once released and not
    // paused. The window holds the first ones until it is on screen: its first frame does not
    // wait for connections whose answers come later anyway.
    void setHeld(bool held);
    // The periodic checks run only while this holds (the window is on screen); none by default
    // is "always".
    void setPeriodicCondition(std::function<bool()> condition);

    State state(int realm) const { return realms[realm].state; }
    int milliseconds(int realm) const { return realms[realm].milliseconds; }
    bool isChecking(int realm) const { return !realms[realm].socket.isNull(); }

    // Every 60 s, and at most 3 s for one attempt; the tests shorten both.
    void setInterval(int milliseconds);
    void setAttemptTimeLimit(int milliseconds) { attemptTimeLimit = milliseconds; }

signals:
    void changed(int realm);

protected:
    // Opens the connection of a check. Loopback completes every handshake at once, so the tests
    // stand a host that never answers in here.
    virtual void connectSocket(QTcpSocket* socket, const QString& host, quint16 port);

private:
    struct Realm {
        QByteArray hostText;
        std::optional<Endpoint> target;
        State state = State::None;
        int milliseconds = 0;
        QPointer<QTcpSocket> socket;
        QElapsedTimer clock;
        // When the last check ended; invalid before the first.
        QElapsedTimer answered;
        bool pending = false;
    };

    void start(int realm);
    // Drops the running connection, if any, without a verdict.
    void drop(int realm);
    void finish(int realm, QTcpSocket* socket, bool answered);
    void periodicCheck();
    void startPending();

    std::array<Realm, vestrahal::kRealmCount> realms;
    QTimer* intervalTimer;
    std::function<bool()> periodicCondition;
    int attemptTimeLimit = 3000;
    bool paused = false;
    bool held = false;
};
