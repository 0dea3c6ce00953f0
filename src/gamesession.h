#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>

#include <memory>

class QFileInfo;
class RunnerOutput;

// One start of the game: the folder made ready for the chosen realm, then the game program
// started (through the build's runner, if it names one) and watched until it ends. Every game
// it started reports here, an earlier one still running included; they all end with the session.
class GameSession : public QObject {
    Q_OBJECT

public:
    explicit GameSession(QObject* parent = nullptr);
    // Ends every game still running, and tells nobody: the launcher is going.
    ~GameSession() override;

    // Writes the realm's realmlist, after the top-level realmlist and the cache are gone. False
    // when the realmlist cannot be written: nothing is started then.
    bool prepare(const QString& folder, const QByteArray& host);
    // Starts `program` (a path in the game folder), in that folder. Either started() or failed()
    // follows.
    void start(const QString& program);

    // Whether a game this session started is still running.
    bool isRunning() const;
    // The process id of the game started last, 0 when none runs.
    qint64 processId() const;

    // A game that ends sooner than this after its start never reached the player: it could not
    // run (a runner without 32-bit support, a missing library) and is reported as such. Only
    // then is what a runner printed of any use.
    static constexpr int kDefaultQuickExitLimit = 10000;
    void setQuickExitLimit(int milliseconds) { quickExitLimit = milliseconds; }
    // Where such a game, and a runner that cannot be found, are noted: the launcher's errors.log.
    void setReportFile(const QString& path) { reportFile = path; }
    // One dated line at the end of a report file, as the game's own lines are written.
    static void note(const QString& reportFile, const QString& line);

signals:
    void started();
    void failed(QProcess::ProcessError error);
    // The game ended with its exit code, after this many milliseconds.
    void ended(int exitCode, qint64 milliseconds);
    // What the player must be told instead of the usual texts, until the next start: right after
    // failed() for a runner that cannot be found, right after ended() for a game that ended
    // within the quick-exit limit (with the runner's reason when it gave one). errors.log has a
    // line saying so.
    void notice(const QString& text);

private:
    // The game started before this one goes once it has ended, if it has not already.
    void letEarlierGameGo();
    // A runner that cannot be found, or one given no game: failed() (and why) instead of a start.
    bool cannotStart(const QString& runner, const QString& runnerPath,
                     const QFileInfo& gameProgram);
    // The game's output goes nowhere; a runner's error output is read for its reasons, and kept
    // in what is returned (null without a runner).
    std::shared_ptr<RunnerOutput> keepOutputAway(QProcess* process, bool throughRunner);
    void onEnded(const QString& program, int exitCode, qint64 milliseconds, bool runnerLacks32Bit);
    // One dated line in errors.log.
    void note(const QString& line) { note(reportFile, line); }

    QProcess* game = nullptr;
    int quickExitLimit = kDefaultQuickExitLimit;
    QString reportFile;
};
