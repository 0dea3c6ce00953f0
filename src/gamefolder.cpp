#include "gamefolder.h"

#include "config.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace gamefolder {

bool isBelow(const QString& path, const QString& folder) {
    if (folder.isEmpty())
        return false;
    // A volume root ("/", "D:/") already ends with its separator.
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    return path.size() > prefix.size() && path.startsWith(prefix);
}

void removeTopLevelRealmlist(const QString& folder) {
    QFile::remove(folder + QStringLiteral("/realmlist.wtf"));
}

QStringList sweepCache(const QString& folder) {
    const QString cache = folder + QStringLiteral("/Cache");
    const QFileInfo cacheInfo(cache);
    // Without its own Cache folder the walk would start in the game folder itself.
    if (!cacheInfo.isDir())
        return {};
    // A Cache that leads elsewhere (a link, a junction, a folder mounted or linked from outside)
    // would have the sweep delete files that are not the game's: nothing outside the game
    // folder is ever deleted.
    if (cacheInfo.isSymLink() || cacheInfo.isJunction())
        return {};
    const QString realCache = cacheInfo.canonicalFilePath();
    if (!isBelow(realCache, QFileInfo(folder).canonicalFilePath()))
        return {};
    const QStringList patterns{QStringLiteral("*.wdb"), QStringLiteral("*.wcf"),
                               QStringLiteral("*.tbl"), QStringLiteral("*.adb")};
    QStringList found;
    QDirIterator it(realCache, patterns, QDir::Files | QDir::NoSymLinks,
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
    const QString path = folder + QStringLiteral("/Data/frFR/realmlist.wtf");
    const QFileInfo info(path);
    // A link would have the write land in, and change, whatever file it points to: the link
    // itself is replaced by a file of the game's own.
    if ((info.isSymLink() || info.isJunction()) && !QFile::remove(path))
        return false;
    const bool created = !QFileInfo::exists(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // A file the launcher creates is writable by its owner, so that the next start can rewrite
    // it, and by nobody else, who could otherwise send the player to another logon server. The
    // permissions of a file it did not create are the player's.
    if (created)
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser |
                            QFile::WriteUser | QFile::ReadGroup | QFile::ReadOther);
    if (host == kEmptyRealmHost)
        return true;
    // The client reads the line raw: no line end, no quotes, no terminating zero.
    const QByteArray line = QByteArray("set realmlist ") + host;
    return file.write(line) == line.size() && file.flush();
}

GameCommand gameCommand(const QString& runner, const QString& executable) {
    if (runner.isEmpty())
        return {executable, {}};
    return {runner, {executable}};
}

} // namespace gamefolder
