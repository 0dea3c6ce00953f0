#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>

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
    // Starts `program` (a full path in the game folder). Either started() or failed() follows.
    void start(const QString& program);

    // Whether a game this session started is still running.
    bool isRunning() const;
    // The process id of the game started last, 0 when none runs.
    qint64 processId() const;

signals:
    void started();
    void failed(QProcess::ProcessError error);
    // The game ended with its exit code, after this many milliseconds.
    void ended(int exitCode, qint64 milliseconds);

private:
    QProcess* game = nullptr;
};
