#pragma once

#include "gamewatch.h"

#include <QLockFile>
#include <QObject>
#include <QSet>
#include <QTimer>

class GameSession;
class LocalListener;
class LocalPeer;
class ProcessWatch;

// The watcher's whole work, in a process of its own while the game runs: the window asks it to
// start the game and ends; it holds the game, and when the game ends it tells the folder's
// window, or starts the launcher again and tells the window that comes back. It wakes only for
// those events. It holds the folder's watcher lock from before the game starts until a window
// has heard how the game ended, so that the folder always has a launcher that knows.
class GameWatcher : public QObject {
    Q_OBJECT

public:
    // The launcher's folder: where its lock, its socket and errors.log are.
    explicit GameWatcher(const QString& launcherFolder, QObject* parent = nullptr);
    ~GameWatcher() override;

    // Takes the folder's watcher lock and listens; false when another watcher holds it.
    bool start();

    // How long a watcher waits for the window that started it to ask for a game, and for the
    // launcher it starts again to open its window.
    static constexpr int kRequestMilliseconds = 30000;
    static constexpr int kReturnMilliseconds = 120000;
    // Before start(): a watcher that nobody asks leaves sooner.
    void setRequestWait(int milliseconds) { requestWait = milliseconds; }

signals:
    // Nothing is left to do: the process may end.
    void finished();

private:
    enum class Stage { Waiting, Starting, Playing, Ending, Returning, Told, Done };

    void onConnected(LocalPeer* peer);
    void onLine(LocalPeer* peer, const QByteArray& text);
    void onGone(LocalPeer* peer);
    void onEnded(int exitCode, qint64 milliseconds);
    // The game's end to the windows that know of it, or to a launcher started again.
    void tellEnd();
    void startLauncherAgain();
    void tell(LocalPeer* window);
    void note(const QString& line);
    void finish();

    QString folder;
    QLockFile lock;
    LocalListener* listener;
    GameSession* session;
    Stage stage = Stage::Waiting;
    gamewatch::PlayRequest request;
    gamewatch::GameEnd end;
    // The window that asked for the game, until it goes.
    LocalPeer* requester = nullptr;
    // The windows that said hello: they hear how the game ended.
    QSet<LocalPeer*> windows;
    ProcessWatch* waitingFor = nullptr;
    QTimer deadline;
    int requestWait = kRequestMilliseconds;
};
