#include "playedgame.h"

#include "buildoptions.h"
#include "config.h"
#include "gamesession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QSaveFile>

namespace {

// How long a window waits for the watcher it started to listen. A watcher is there within tens
// of milliseconds; one that is not by then never got the game, which the window holds instead.
constexpr int kHandoverMilliseconds = 10000;
constexpr int kRetryMilliseconds = 10;
// A watcher answers from an idle event loop.
constexpr int kAnswerMilliseconds = 3000;

// One line from a watcher, waited for.
QJsonObject answerOf(QLocalSocket& socket) {
    while (!socket.canReadLine() && socket.waitForReadyRead(kAnswerMilliseconds)) {
    }
    return gamewatch::parse(socket.readLine().trimmed());
}

} // namespace

PlayedGame::PlayedGame(QObject* parent)
    : QObject(parent)
    , games(new GameSession(this)) {
    connect(games, &GameSession::started, this, &PlayedGame::started);
    connect(games, &GameSession::failed, this, &PlayedGame::failed);
    connect(games, &GameSession::ended, this, &PlayedGame::ended);
    connect(games, &GameSession::notice, this, &PlayedGame::notice);
    handoverDeadline.setSingleShot(true);
    connect(&handoverDeadline, &QTimer::timeout, this, [this] {
        if (!requestSent) {
            fallBack();
            return;
        }
        // The watcher has the request and says nothing: it may have started the game, which is
        // never started twice.
        handingOver = false;
        link->abort();
        emit failed(QProcess::Timedout);
    });
}

PlayedGame::~PlayedGame() = default;

void PlayedGame::setReportFile(const QString& path) {
    reportFile = path;
    games->setReportFile(path);
}

PlayedGame::FolderGame PlayedGame::joinFolderGame(const QString& launcherFolder) {
    auto* folderLink = new QLocalSocket(this);
    folderLink->connectToServer(gamewatch::serverName(launcherFolder));
    if (!folderLink->waitForConnected(kAnswerMilliseconds)) {
        delete folderLink;
        return FolderGame::None;
    }
    folderLink->write(gamewatch::line(QStringLiteral("hello")) + '\n');
    const QJsonObject answer = answerOf(*folderLink);
    const QString type = gamewatch::typeOf(answer);
    if (type == QLatin1String("ended")) {
        lastEnd = gamewatch::gameEnd(answer);
        // Closed, the line tells the watcher that the window has heard: it may go.
        delete folderLink;
        return FolderGame::Ended;
    }
    if (type != QLatin1String("playing")) {
        delete folderLink;
        return FolderGame::None;
    }
    link = folderLink;
    connect(link, &QLocalSocket::readyRead, this, &PlayedGame::readWatcher);
    connect(link, &QLocalSocket::disconnected, this, [this] {
        // A watcher that went without a word (killed): the game may go on, but nobody can tell
        // this window when it ends. The window is the folder's again rather than shut for good.
        link->deleteLater();
        link = nullptr;
        folderGameRunning = false;
        lastEnd = gamewatch::GameEnd{};
        lastEnd.realm = -1;
        emit folderGameEnded(lastEnd);
    });
    folderGameRunning = true;
    // An answer that came with the first one.
    QMetaObject::invokeMethod(this, &PlayedGame::readWatcher, Qt::QueuedConnection);
    return FolderGame::Running;
}

void PlayedGame::start(const QString& gameProgram, int realm) {
    program = gameProgram;
    const QString watcher = watcherProgram();
    if (watcher.isEmpty()) {
        games->start(program);
        return;
    }
    // In the launcher's folder, which the watcher takes as its own; its output is nobody's.
    QProcess starter;
    starter.setProgram(watcher);
    starter.setWorkingDirectory(Config::launcherFolder());
    starter.setStandardOutputFile(QProcess::nullDevice());
    starter.setStandardErrorFile(QProcess::nullDevice());
    qint64 watcherId = 0;
    if (!starter.startDetached(&watcherId)) {
        games->start(program);
        return;
    }
    request.program = QFileInfo(program).absoluteFilePath();
    request.reportFile = QFileInfo(reportFile).absoluteFilePath();
    request.launcher = QCoreApplication::applicationFilePath();
    request.launcherStart = QDir::currentPath();
    request.realm = realm;
    request.window = QCoreApplication::applicationPid();
    request.watcher = watcherId;
    watcherName = gamewatch::serverName(Config::launcherFolder());
    handingOver = true;
    requestSent = false;
    handoverDeadline.start(kHandoverMilliseconds);
    connectToWatcher();
}

void PlayedGame::connectToWatcher() {
    if (!handingOver)
        return;
    if (!link) {
        link = new QLocalSocket(this);
        connect(link, &QLocalSocket::connected, this, [this] {
            requestSent = true;
            link->write(gamewatch::line(QStringLiteral("play"), gamewatch::toJson(request)) + '\n');
        });
        connect(link, &QLocalSocket::errorOccurred, this, [this] {
            // Not listening yet: asked again in a moment, until the deadline.
            if (handingOver && !requestSent && handoverDeadline.isActive())
                QTimer::singleShot(kRetryMilliseconds, this, &PlayedGame::connectToWatcher);
        });
        connect(link, &QLocalSocket::readyRead, this, &PlayedGame::readWatcher);
        connect(link, &QLocalSocket::disconnected, this, [this] {
            if (!handingOver || !requestSent)
                return;
            // The watcher went with the request and without an answer.
            handingOver = false;
            handoverDeadline.stop();
            emit failed(QProcess::Crashed);
        });
    }
    link->abort();
    link->connectToServer(watcherName);
}

void PlayedGame::readWatcher() {
    while (link && link->canReadLine()) {
        const QJsonObject message = gamewatch::parse(link->readLine().trimmed());
        const QString type = gamewatch::typeOf(message);
        if (type == QLatin1String("ended") && !handingOver) {
            lastEnd = gamewatch::gameEnd(message);
            link->disconnect(this);
            link->disconnectFromServer();
            link->deleteLater();
            link = nullptr;
            folderGameRunning = false;
            emit folderGameEnded(lastEnd);
            return;
        }
        if (!handingOver)
            continue;
        if (type == QLatin1String("refused")) {
            // Another watcher of the folder, still saying goodbye: this one is asked again.
            requestSent = false;
            QTimer::singleShot(kRetryMilliseconds, this, &PlayedGame::connectToWatcher);
            return;
        }
        if (type == QLatin1String("started")) {
            handingOver = false;
            handoverDeadline.stop();
            link->disconnect(this);
            link->disconnectFromServer();
            link->deleteLater();
            link = nullptr;
            emit started();
            emit handedOver();
            return;
        }
        if (type == QLatin1String("failed")) {
            handingOver = false;
            handoverDeadline.stop();
            // The runner's notice may follow: read on.
            emit failed(QProcess::ProcessError(message.value(QStringLiteral("error")).toInt()));
            continue;
        }
        if (type == QLatin1String("notice"))
            emit notice(message.value(QStringLiteral("text")).toString());
    }
}

void PlayedGame::fallBack() {
    handingOver = false;
    if (link) {
        link->disconnect(this);
        link->abort();
        link->deleteLater();
        link = nullptr;
    }
    games->start(program);
}

bool PlayedGame::isRunning() const {
    return handingOver || folderGameRunning || games->isRunning();
}

QString PlayedGame::watcherProgram() {
    if (!vestrahal::kGameWatcher)
        return {};
    const QString path = QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                                         QString::fromUtf8(vestrahal::kWatcherFolder) +
                                         QLatin1Char('/') + gamewatch::programName());
    // A launcher that updates itself carries its watcher inside: whatever replaced the launcher,
    // the watcher it starts is its own.
    QFile own(QStringLiteral(":/watcher/") + gamewatch::programName());
    if (!own.open(QIODevice::ReadOnly))
        return QFileInfo(path).isExecutable() ? path : QString();
    const QByteArray bytes = own.readAll();
    QFile current(path);
    if (current.open(QIODevice::ReadOnly) && current.size() == bytes.size() &&
        current.readAll() == bytes && QFileInfo(path).isExecutable())
        return path;
    current.close();
    QSaveFile written(path);
    if (!written.open(QIODevice::WriteOnly) || written.write(bytes) != bytes.size() ||
        !written.commit())
        return {};
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                    QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                    QFile::ExeOther);
    return QFileInfo(path).isExecutable() ? path : QString();
}
