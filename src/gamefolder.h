#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What the launcher does to a game client's folder before each start of the game.
namespace gamefolder {

// The realmlist at the top of the folder would win over the one the launcher writes.
void removeTopLevelRealmlist(const QString& folder);

// Deletes the client's cached game data below the folder's "Cache" (any depth, any letter case):
// stale caches from another realm make the client misbehave. Returns the files deleted.
// A folder without "Cache" has nothing swept, and neither has one whose "Cache" leads outside it.
QStringList sweepCache(const QString& folder);

// Whether `path` lies below `folder`, both canonical paths with "/" separators; a folder at the
// root of a volume ("/", "D:/") holds everything else on it.
bool isBelow(const QString& path, const QString& folder);

// Writes "set realmlist " and the host, with no line end, into Data/frFR/realmlist.wtf; an empty
// realm (host " ") leaves the file empty. False when the file cannot be written whole.
bool writeRealmlist(const QString& folder, const QByteArray& host);

// How the game is started: the program itself, or a runner (wine for a Linux player) given the
// program's full path as its only argument.
struct GameCommand {
    QString program;
    QStringList arguments;
};
GameCommand gameCommand(const QString& runner, const QString& executable);

// The runner this launcher was built with; empty when the game starts by itself. Defined in a
// unit of its own, gamerunner.cpp, the only one that reads the build's choice.
QString gameRunner();

} // namespace gamefolder
