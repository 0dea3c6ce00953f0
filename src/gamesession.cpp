#include "gamesession.h"

#include "gamefolder.h"
#include "launcherfiles.h"
#include "runnerdiagnosis.h"
#include "updatereport.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>

#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

GameSession::GameSession(QObject* parent)
    : QObject(parent)
    , reportFile(launcherfiles::report()) {}

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
    letEarlierGameGo();
    game = new QProcess(this);
    QProcess* process = game;
    // The game starts in its own folder, as from its own shortcut: a client reads its data
    // relative to it. The launcher's own files never depend on the game's folder.
    const QFileInfo gameProgram(program);
    const QString wholePath = gameProgram.absoluteFilePath();
    process->setWorkingDirectory(gameProgram.absolutePath());
    const QString runner = gamefolder::gameRunner();
    const QString runnerPath = runnerdiagnosis::locate(runner);
    if (cannotStart(runner, runnerPath, gameProgram))
        return;
    QElapsedTimer clock;
    clock.start();
    const std::shared_ptr<RunnerOutput> runnerOutput = keepOutputAway(process, !runner.isEmpty());
    connect(process, &QProcess::errorOccurred, this, &GameSession::failed);
    connect(process, &QProcess::started, this, &GameSession::started);
    connect(process, &QProcess::finished, this,
            [this, process, clock, wholePath, runnerOutput](int exitCode) {
                const qint64 milliseconds = clock.elapsed();
                if (runnerOutput && !runnerOutput->lacks32BitSupport())
                    runnerOutput->read(process->readAllStandardError());
                // The runner's own words and an error code: the game never ran, however long
                // the runner took to say so.
                onEnded(wholePath, exitCode, milliseconds,
                        runnerOutput && runnerOutput->lacks32BitSupport() && exitCode != 0);
            });
    // The whole path as the program (or as the runner's only argument), so that a folder with
    // spaces stays one path.
    const gamefolder::GameCommand command =
        gamefolder::gameCommand(runner.isEmpty() ? QString() : runnerPath, wholePath);
    process->start(command.program, command.arguments, QIODevice::ReadWrite);
}

void GameSession::letEarlierGameGo() {
    if (!game)
        return;
    // The earlier game may still run: it goes when it ends, or with the session. Never deleted
    // here, where its own signals may still be on their way.
    QProcess* earlier = game;
    if (earlier->state() == QProcess::NotRunning)
        earlier->deleteLater();
    else
        connect(earlier, &QProcess::finished, earlier, &QObject::deleteLater);
}

bool GameSession::cannotStart(const QString& runner, const QString& runnerPath,
                              const QFileInfo& gameProgram) {
    if (!runner.isEmpty() && runnerPath.isEmpty()) {
        note(runnerdiagnosis::missingRunnerNote(runner, gameProgram.absoluteFilePath()));
        emit failed(QProcess::FailedToStart);
        emit notice(runnerdiagnosis::missingRunnerNotice(runner));
        return true;
    }
    // A runner would start and then fail on a missing game: that is a game that cannot start.
    if (!runner.isEmpty() && !gameProgram.isFile()) {
        emit failed(QProcess::FailedToStart);
        return true;
    }
    return false;
}

std::shared_ptr<RunnerOutput> GameSession::keepOutputAway(QProcess* process, bool throughRunner) {
    // What the game prints is of no use to the launcher, and read into memory it would grow
    // for as long as the game runs. A runner's error output is read for its reasons not to run
    // the game, and only until it gives one: on a player's first start Wine makes its prefix
    // first, which takes longer than the quick-exit window, and only then says it cannot run a
    // 32-bit program.
    process->setStandardOutputFile(QProcess::nullDevice());
    if (!throughRunner) {
        process->setStandardErrorFile(QProcess::nullDevice());
        return {};
    }
    auto runnerOutput = std::make_shared<RunnerOutput>();
#ifdef Q_OS_UNIX
    // The launcher that reads the runner's error output may go before the game (killed): the
    // runner's next words must not end the game with SIGPIPE.
    process->setChildProcessModifier([] { ::signal(SIGPIPE, SIG_IGN); });
#endif
    // Taken from the process's buffer as it comes, read or not: left there, it would grow for
    // as long as the game runs.
    connect(process, &QProcess::readyReadStandardError, this, [process, runnerOutput] {
        const QByteArray bytes = process->readAllStandardError();
        if (!runnerOutput->lacks32BitSupport())
            runnerOutput->read(bytes);
    });
    return runnerOutput;
}

void GameSession::onEnded(const QString& program, int exitCode, qint64 milliseconds,
                          bool runnerLacks32Bit) {
    emit ended(exitCode, milliseconds);
    if (milliseconds >= quickExitLimit && !runnerLacks32Bit)
        return;
    QString line = QStringLiteral("%1 ended %2 ms after its start, exit code %3")
                       .arg(program)
                       .arg(milliseconds)
                       .arg(exitCode);
    if (runnerLacks32Bit)
        line += QStringLiteral(": ") + runnerdiagnosis::no32BitNote(gamefolder::gameRunner());
    note(line);
    emit notice(runnerLacks32Bit
                    ? runnerdiagnosis::no32BitNotice()
                    : QStringLiteral("Le jeu s'est arrêté aussitôt (code %1).").arg(exitCode));
}

void GameSession::note(const QString& reportFile, const QString& line) {
    appendUpdateReport(
        reportFile,
        QStringLiteral("%1 : %2\n").arg(QDateTime::currentDateTime().toString(Qt::TextDate), line));
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
