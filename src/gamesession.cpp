#include "gamesession.h"

#include "gamefolder.h"
#include "updatereport.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>

GameSession::GameSession(QObject* parent)
    : QObject(parent) {}

GameSession::~GameSession() {
    // Deleting a process object ends its game; that end is nobody's news any more.
    blockSignals(true);
    const QList<QProcess*> games = findChildren<QProcess*>(Qt::FindDirectChildrenOnly);
    for (QProcess* process : games) {
        process->disconnect(this);
        delete process;
    }
}

bool GameSession::prepare(const QString& folder, const QByteArray& host) {
    gamefolder::removeTopLevelRealmlist(folder);
    gamefolder::sweepCache(folder);
    return gamefolder::writeRealmlist(folder, host);
}

void GameSession::start(const QString& program) {
    if (game) {
        // The earlier game may still run: it goes when it ends, or with the session. Never
        // deleted here, where its own signals may still be on their way.
        QProcess* earlier = game;
        if (earlier->state() == QProcess::NotRunning)
            earlier->deleteLater();
        else
            connect(earlier, &QProcess::finished, earlier, &QObject::deleteLater);
    }
    game = new QProcess(this);
    QProcess* process = game;
    QElapsedTimer clock;
    clock.start();
    connect(process, &QProcess::errorOccurred, this, &GameSession::failed);
    connect(process, &QProcess::started, this, &GameSession::started);
    connect(process, &QProcess::finished, this,
            [this, clock, program](int exitCode) { onEnded(program, exitCode, clock.elapsed()); });
    // What the game prints is of no use to the launcher, and read into memory it would grow
    // for as long as the game runs.
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    // The whole path as the program (or as the runner's only argument), so that a folder with
    // spaces stays one path; the game runs in the launcher's own working directory.
    const QString runner = gamefolder::gameRunner();
    // A runner would start and then fail on a missing game: that is a game that cannot start.
    if (!runner.isEmpty() && !QFileInfo(program).isFile()) {
        emit failed(QProcess::FailedToStart);
        return;
    }
    const gamefolder::GameCommand command = gamefolder::gameCommand(runner, program);
    process->start(command.program, command.arguments, QIODevice::ReadWrite);
}

void GameSession::onEnded(const QString& program, int exitCode, qint64 milliseconds) {
    emit ended(exitCode, milliseconds);
    if (milliseconds >= quickExitLimit)
        return;
    appendUpdateReport(reportFile,
                       QStringLiteral("%1 : %2 ended %3 ms after its start, exit code %4\n")
                           .arg(QDateTime::currentDateTime().toString(Qt::TextDate), program)
                           .arg(milliseconds)
                           .arg(exitCode));
    emit endedAtOnce(exitCode);
}

bool GameSession::isRunning() const {
    const QList<QProcess*> games = findChildren<QProcess*>(Qt::FindDirectChildrenOnly);
    for (const QProcess* process : games) {
        if (process->state() != QProcess::NotRunning)
            return true;
    }
    return false;
}

qint64 GameSession::processId() const {
    return game ? game->processId() : 0;
}
