#pragma once

#include "gamewatch.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>

class GameSession;
class QLocalSocket;

// The game as the window sees it. A launcher with a watcher (VestrahalWatcher.exe, see
// gamewatcher.h) hands each game over to a watcher of its own and may then end; one without,
// or whose watcher cannot be started, holds the game in its own process as launchers did before.
// A window that opens while the folder's watcher holds a game hears when it ends.
class PlayedGame : public QObject {
    Q_OBJECT

public:
    explicit PlayedGame(QObject* parent = nullptr);
    ~PlayedGame() override;

    // The session that holds a game in this process.
    GameSession* session() const { return games; }
    void setReportFile(const QString& path);

    // What the folder's watcher says when the window opens.
    enum class FolderGame {
        None,    // no watcher: the folder is the window's
        Running, // its game runs: folderGameEnded() follows
        Ended,   // its game has just ended: this window is the one that comes back
    };
    FolderGame joinFolderGame(const QString& launcherFolder);
    // How the game ended, for FolderGame::Ended.
    const gamewatch::GameEnd& endAtStart() const { return lastEnd; }

    // Starts the game program of a prepared folder for a realm. Either started() or failed()
    // follows; after started(), handedOver() when a watcher holds the game.
    void start(const QString& program, int realm);
    // Whether a game runs: in this process, being handed over, or held by the folder's watcher
    // since before the window opened.
    bool isRunning() const;

    // The watcher this launcher starts: beside it (a package's where the package put it),
    // written from the launcher's own copy first when the file there is another. Empty when
    // there is none to start.
    static QString watcherProgram();

signals:
    void started();
    void failed(QProcess::ProcessError error);
    void ended(int exitCode, qint64 milliseconds);
    void notice(const QString& text);
    // The watcher holds the game: the window's process may end, the game goes on.
    void handedOver();
    // The game the folder's watcher held when the window opened has ended.
    void folderGameEnded(const gamewatch::GameEnd& end);

private:
    void connectToWatcher();
    void readWatcher();
    void fallBack();

    GameSession* games;
    QString reportFile;
    QString program;
    gamewatch::PlayRequest request;
    QString watcherName;
    // The line to the watcher: the one this window started, or the folder's at start.
    QLocalSocket* link = nullptr;
    bool requestSent = false;
    bool handingOver = false;
    bool folderGameRunning = false;
    QTimer handoverDeadline;
    gamewatch::GameEnd lastEnd;
};
