#include "gamefolder.h"

#include "config.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace gamefolder {

void removeTopLevelRealmlist(const QString& folder) {
    QFile::remove(folder + QStringLiteral("/realmlist.wtf"));
}

QStringList sweepCache(const QString& folder) {
    const QString cache = folder + QStringLiteral("/Cache");
    // Without its own Cache folder the walk would start in the game folder itself.
    if (!QFileInfo(cache).isDir())
        return {};
    const QStringList patterns{QStringLiteral("*.wdb"), QStringLiteral("*.wcf"),
                               QStringLiteral("*.tbl"), QStringLiteral("*.adb")};
    QStringList found;
    QDirIterator it(QFileInfo(cache).absoluteFilePath(), patterns, QDir::Files | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    QStringList removed;
    for (const QString& path : std::as_const(found)) {
        if (QFile::remove(path))
            removed << path;
    }
    return removed;
}

bool writeRealmlist(const QString& folder, const QByteArray& host) {
    QFile file(folder + QStringLiteral("/Data/frFR/realmlist.wtf"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // Writable by its owner, so that the next start can rewrite it; readable by all, writable by
    // nobody else, who could otherwise send the player to another logon server.
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser |
                        QFile::ReadGroup | QFile::ReadOther);
    if (host == kEmptyRealmHost)
        return true;
    // The client reads the line raw: no line end, no quotes, no terminating zero.
    const QByteArray line = QByteArray("set realmlist ") + host;
    return file.write(line) == line.size() && file.flush();
}

QString executableFor(bool wotlk, int realm) {
    if (wotlk || realm == 1)
        return QStringLiteral("/Wow.exe");
    return QStringLiteral("/brontavale.exe");
}

GameCommand gameCommand(const QString& runner, const QString& executable) {
    if (runner.isEmpty())
        return {executable, {}};
    return {runner, {executable}};
}

} // namespace gamefolder
