#include "launcherfiles.h"

#include "buildoptions.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace launcherfiles {

namespace {

// A Unix socket's path must fit its address (108 bytes with its end on Linux, 104 on macOS).
constexpr qsizetype kLongestSocketPath = 100;

QString in(const QString& dir, const char* name) {
    return dir + u'/' + QString::fromLatin1(name);
}

// The first `length` hex digits of the SHA-256 of a path, for a name made from it. Qt's hash
// rather than the engine's Sha256 (libcrypto): this unit is part of the watcher, which is Qt
// Core alone so that it stands beside the launcher as one program with no library of its own
// to bring, and a name's few hundred bytes need no fast hash.
QString pathDigest(const QString& path, qsizetype length) {
    return QString::fromLatin1(
        QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(length));
}

// The part of a game folder's record names that tells one folder from another.
QString gameFolderRecord(const QString& dir, const QString& client, const QString& gameFolder,
                         const char* extension) {
    return dir + QStringLiteral("/gamefiles-") + client + u'-' +
           pathDigest(QFileInfo(gameFolder).absoluteFilePath(), 16) +
           QString::fromLatin1(extension);
}

} // namespace

QString folder() {
    return vestrahal::kPackaged ? playerDataFolder() : QDir().absolutePath();
}

QString playerDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1Char('/') + QString::fromLatin1(vestrahal::kDataFolderName);
}

QString settings(const QString& dir) {
    return in(dir, "launcher.conf");
}

QString report(const QString& dir) {
    return in(dir, vestrahal::kReportFileName);
}

QString releaseSequence(const QString& dir) {
    return in(dir, "launcher.sequence");
}

QString lock(const QString& dir) {
    return in(dir, "VestrahalLauncher.lock");
}

QString watcherLock(const QString& dir) {
    return in(dir, "VestrahalWatcher.lock");
}

namespace {

// The same name for every process started for one folder, whatever path reached it. A package
// keeps its socket with its other files; elsewhere, and where that path is too long for a
// socket's address, the name is made from the folder.
QString socketName(const QString& dir, const char* file, const char* prefix) {
    const QFileInfo info(dir);
    const QString canonical = info.canonicalFilePath();
    const QString path = canonical.isEmpty() ? info.absoluteFilePath() : canonical;
#ifdef Q_OS_UNIX
    if (vestrahal::kPackaged) {
        const QString socket = in(path, file);
        if (QFile::encodeName(socket).size() <= kLongestSocketPath)
            return socket;
    }
#else
    Q_UNUSED(file)
#endif
    // Local server names are short on some systems and must not hold path separators.
    return QString::fromLatin1(prefix) + pathDigest(path, 32);
}

} // namespace

QString windowSocket(const QString& dir) {
    return socketName(dir, "VestrahalLauncher.socket", "vestrahal-launcher-");
}

QString watcherSocket(const QString& dir) {
    return socketName(dir, "VestrahalWatcher.socket", "vestrahal-watcher-");
}

QString gameFilesIndex(const QString& dir, const QString& client, const QString& gameFolder) {
    return gameFolderRecord(dir, client, gameFolder, ".index");
}

QString gameFilesSequence(const QString& dir, const QString& client, const QString& gameFolder) {
    return gameFolderRecord(dir, client, gameFolder, ".sequence");
}

} // namespace launcherfiles
