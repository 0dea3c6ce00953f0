#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// What the window and the watcher that holds the game while it runs say to each other, and the
// names they find each other by. The watcher is a process of its own (VestrahalWatcher.exe), so
// that the launcher keeps next to nothing in memory while the player plays.
//
// Each message is one line of compact JSON with its "type":
//   play     window -> watcher   start this game and hold it (a PlayRequest)
//   started  watcher -> window   the game runs, with its "pid": the window's process may end
//   refused  watcher -> window   not the watcher this window started (one still ending): ask again
//   failed   watcher -> window   the game could not be started ("error", QProcess's)
//   notice   watcher -> window   what the player must be told instead of the usual text
//   hello    window -> watcher   a window of the folder opened: tell it about the game
//   playing  watcher -> window   the game still runs, in "folder"; an "ended" follows
//   ended    watcher -> window   the game ended (a GameEnd): the window is ready again
//   idle     watcher -> window   no game yet: the window is the folder's as usual
namespace gamewatch {

// The name a watcher listens under for the windows of a launcher folder (its lock:
// launcherfiles::watcherLock).
QString serverName(const QString& launcherFolder);

// The watcher's program file.
QString programName();

struct PlayRequest {
    QString program;       // the game program, a whole path
    QString reportFile;    // the launcher's errors.log, a whole path
    QString launcher;      // the launcher's executable, started again when the game ends
    QString launcherStart; // the folder the launcher was started in, where it starts again
    int realm = 0;         // checked again in the window that comes back
    qint64 window = 0;     // the asking window's process: the launcher comes back once it is gone
    qint64 watcher = 0;    // the watcher the window started: any other refuses the request
};

struct GameEnd {
    int exitCode = 0;
    qint64 milliseconds = 0;
    // The quick-exit or runner text for the status line; empty for a game that was played.
    QString notice;
    int realm = 0;
};

// One message as a line, without its end, and back. A line that is no JSON object reads as an
// object without a type.
QByteArray line(const QString& type, QJsonObject fields = {});
QJsonObject parse(const QByteArray& line);
QString typeOf(const QJsonObject& message);

QJsonObject toJson(const PlayRequest& request);
PlayRequest playRequest(const QJsonObject& message);
QJsonObject toJson(const GameEnd& end);
GameEnd gameEnd(const QJsonObject& message);

} // namespace gamewatch
