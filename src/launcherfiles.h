#pragma once

#include <QString>

// Where each of the launcher's own files lives: its settings, errors.log, the release sequence,
// the locks and the sockets of the window and of the game's watcher, and the record it keeps of
// each game folder (the index and the last list applied). One folder holds them all: the player's
// own folder for the program in a package (started from anywhere, it never writes where it was
// started), the folder it is started from otherwise (a portable launcher lives there). Every unit
// asks here, so that no file of the launcher's can land in a working folder by a relative name.
namespace launcherfiles {

// The folder of the launcher's own files, absolute.
QString folder();
// $XDG_DATA_HOME/vestrahal-launcher (~/.local/share/... when the variable is unset): a
// package's folder.
QString playerDataFolder();

// Each file in `dir`, the launcher's folder unless a caller (a test) names another.
QString settings(const QString& dir);
QString report(const QString& dir);
QString releaseSequence(const QString& dir);
QString lock(const QString& dir);
// The lock the game's watcher holds while no window does.
QString watcherLock(const QString& dir);
// What the window and the game's watcher listen on: a file in `dir` in a package, a name made
// from the folder elsewhere (and where that path is too long for a socket).
QString windowSocket(const QString& dir);
QString watcherSocket(const QString& dir);
// A game folder's records, one pair per folder and client, so that a folder chosen again later
// is not judged by another folder's: what is known of its files, and the last list applied to it.
QString gameFilesIndex(const QString& dir, const QString& client, const QString& gameFolder);
QString gameFilesSequence(const QString& dir, const QString& client, const QString& gameFolder);
// The game folders the community's client is being installed into (the game folder itself holds
// nothing of it until its marker comes, last), and the player's download speed limit: files of
// their own, so that launcher.conf keeps the nine lines older launchers read.
QString gameInstalls(const QString& dir);
QString downloadLimit(const QString& dir);

inline QString settings() {
    return settings(folder());
}
inline QString report() {
    return report(folder());
}

} // namespace launcherfiles
