#include "gamewatcher.h"

#include "launcherfiles.h"

#include "gamesession.h"
#include "localchannel.h"
#include "processwatch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace {

// How long a new watcher waits for the one of the game before (its window may be pressing
// "Jouer" again right after hearing of the end) to let the folder go.
constexpr int kLockMilliseconds = 5000;
// How long the window that asked for the game may take to end: its lock must be gone before the
// launcher starts again, or the new one would only call the old one to the front.
constexpr int kLeavingMilliseconds = 30000;
// How long windows that heard of the end may stay connected.
constexpr int kToldMilliseconds = 10000;

} // namespace

GameWatcher::GameWatcher(const QString& launcherFolder, QObject* parent)
    : QObject(parent)
    , folder(launcherFolder)
    , lock(launcherfiles::watcherLock(launcherFolder))
    , listener(new LocalListener(this))
    , session(new GameSession(this)) {
    // Only a lock whose process is gone is stale: a game runs for hours.
    lock.setStaleLockTime(0);
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, [this] {
        switch (stage) {
        case Stage::Ending:
            // The window that asked is still there: the launcher starts again all the same.
            startLauncherAgain();
            break;
        case Stage::Returning:
            note(QStringLiteral("%1 did not come back within %2 s after the game")
                     .arg(request.launcher)
                     .arg(kReturnMilliseconds / 1000));
            finish();
            break;
        case Stage::Waiting:
        case Stage::Told:
            finish();
            break;
        default:
            break;
        }
    });
    connect(listener, &LocalListener::connected, this, &GameWatcher::onConnected);
    connect(session, &GameSession::started, this, [this] {
        stage = Stage::Playing;
        if (requester)
            requester->send(
                gamewatch::line(QStringLiteral("started"), {{"pid", session->processId()}}));
    });
    connect(session, &GameSession::failed, this, [this](QProcess::ProcessError error) {
        // A game that fails once it runs ends all the same, and is told then.
        if (stage != Stage::Starting)
            return;
        stage = Stage::Done;
        if (requester)
            requester->send(gamewatch::line(QStringLiteral("failed"), {{"error", int(error)}}));
        // A runner that cannot be found is told right after the failure: both reach the window
        // before the watcher goes.
        QMetaObject::invokeMethod(this, &GameWatcher::finish, Qt::QueuedConnection);
    });
    connect(session, &GameSession::notice, this, [this](const QString& text) {
        if (stage == Stage::Ending) {
            end.notice = text;
            return;
        }
        if (requester)
            requester->send(gamewatch::line(QStringLiteral("notice"), {{"text", text}}));
    });
    connect(session, &GameSession::ended, this, &GameWatcher::onEnded);
}

GameWatcher::~GameWatcher() = default;

bool GameWatcher::start() {
    if (!lock.tryLock(kLockMilliseconds))
        return false;
    if (!listener->listen(gamewatch::serverName(folder))) {
        lock.unlock();
        return false;
    }
    deadline.start(requestWait);
    return true;
}

void GameWatcher::onConnected(LocalPeer* peer) {
    connect(peer, &LocalPeer::lineReceived, this,
            [this, peer](const QByteArray& text) { onLine(peer, text); });
    connect(peer, &LocalPeer::disconnected, this, [this, peer] { onGone(peer); });
}

void GameWatcher::onLine(LocalPeer* peer, const QByteArray& text) {
    const QJsonObject message = gamewatch::parse(text);
    const QString type = gamewatch::typeOf(message);
    const bool running = stage == Stage::Starting || stage == Stage::Playing;
    if (type == QLatin1String("play")) {
        const gamewatch::PlayRequest asked = gamewatch::playRequest(message);
        // One game per watcher, for the window that started this very watcher.
        if (stage != Stage::Waiting || asked.watcher != QCoreApplication::applicationPid()) {
            peer->send(gamewatch::line(QStringLiteral("refused")));
            peer->close();
            onGone(peer);
            return;
        }
        request = asked;
        requester = peer;
        stage = Stage::Starting;
        deadline.stop();
        session->setReportFile(request.reportFile);
        session->start(request.program);
    } else if (type == QLatin1String("hello")) {
        if (stage == Stage::Ending || stage == Stage::Returning || stage == Stage::Told) {
            windows.insert(peer);
            tell(peer);
        } else if (running) {
            windows.insert(peer);
            peer->send(gamewatch::line(QStringLiteral("playing"),
                                       {{"folder", QFileInfo(request.program).absolutePath()}}));
        } else {
            peer->send(gamewatch::line(QStringLiteral("idle")));
        }
    }
}

void GameWatcher::onGone(LocalPeer* peer) {
    windows.remove(peer);
    if (peer == requester)
        requester = nullptr;
    peer->deleteLater();
    if (stage == Stage::Told && windows.isEmpty())
        finish();
}

void GameWatcher::onEnded(int exitCode, qint64 milliseconds) {
    end.exitCode = exitCode;
    end.milliseconds = milliseconds;
    end.realm = request.realm;
    end.notice.clear();
    stage = Stage::Ending;
    // Why the game ended at once is told right after its end, from the same call: it is in by
    // the time the windows hear of it.
    QMetaObject::invokeMethod(this, &GameWatcher::tellEnd, Qt::QueuedConnection);
}

void GameWatcher::tellEnd() {
    if (stage != Stage::Ending)
        return;
    if (!windows.isEmpty()) {
        const QSet<LocalPeer*> told = windows;
        for (LocalPeer* window : told)
            tell(window);
        return;
    }
    // The window that asked for the game usually went long ago; one that is still leaving
    // holds the launcher's lock, and a launcher started now would call it to the front instead.
    if (!waitingFor && request.window > 0) {
        waitingFor = new ProcessWatch(request.window, this);
        connect(waitingFor, &ProcessWatch::ended, this, &GameWatcher::startLauncherAgain);
        deadline.start(kLeavingMilliseconds);
        return;
    }
    startLauncherAgain();
}

void GameWatcher::startLauncherAgain() {
    if (stage != Stage::Ending)
        return;
    if (waitingFor) {
        waitingFor->deleteLater();
        waitingFor = nullptr;
    }
    // A window that opened meanwhile hears of the end instead.
    if (!windows.isEmpty()) {
        const QSet<LocalPeer*> told = windows;
        for (LocalPeer* window : told)
            tell(window);
        return;
    }
    stage = Stage::Returning;
    // The executable as it is now: a launcher updated while the game ran is the one started.
    QProcess launcher;
    launcher.setProgram(request.launcher);
    launcher.setWorkingDirectory(request.launcherStart);
    qint64 launcherId = 0;
    if (!launcher.startDetached(&launcherId)) {
        note(QStringLiteral("%1 could not be started again after the game: %2")
                 .arg(request.launcher, launcher.errorString()));
        finish();
        return;
    }
    // A launcher that cannot show its window ends without a word: noted once, never retried.
    waitingFor = new ProcessWatch(launcherId, this);
    connect(waitingFor, &ProcessWatch::ended, this, [this] {
        if (stage != Stage::Returning)
            return;
        note(QStringLiteral("%1 ended before its window came back after the game")
                 .arg(request.launcher));
        finish();
    });
    deadline.start(kReturnMilliseconds);
}

void GameWatcher::tell(LocalPeer* window) {
    window->send(gamewatch::line(QStringLiteral("ended"), gamewatch::toJson(end)));
    if (stage == Stage::Told)
        return;
    stage = Stage::Told;
    if (waitingFor) {
        waitingFor->deleteLater();
        waitingFor = nullptr;
    }
    deadline.start(kToldMilliseconds);
}

void GameWatcher::note(const QString& line) {
    GameSession::note(request.reportFile, line);
}

void GameWatcher::finish() {
    if (stage == Stage::Done && !listener)
        return;
    stage = Stage::Done;
    deadline.stop();
    if (listener) {
        listener->close();
        listener->deleteLater();
        listener = nullptr;
    }
    for (LocalPeer* window : std::as_const(windows))
        window->close();
    if (requester)
        requester->close();
    // The next watcher of the folder may start as soon as this one is done.
    lock.unlock();
    emit finished();
}
