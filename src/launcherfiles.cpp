#include "launcherfiles.h"

#include "buildoptions.h"
#include "sha256.h"

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

// The part of a game folder's record names that tells one folder from another.
QString gameFolderRecord(const QString& dir, const QString& client, const QString& gameFolder,
                         const char* extension) {
    const QByteArray which = Sha256::of(QFileInfo(gameFolder).absoluteFilePath().toUtf8()).left(16);
    return dir + QStringLiteral("/gamefiles-") + client + u'-' + QString::fromLatin1(which) +
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

QString socket(const QString& dir) {
#ifdef Q_OS_UNIX
    if (vestrahal::kPackaged) {
        const QString path = in(dir, "VestrahalLauncher.socket");
        if (QFile::encodeName(path).size() <= kLongestSocketPath)
            return path;
    }
#else
    Q_UNUSED(dir)
#endif
    return {};
}

QString gameFilesIndex(const QString& dir, const QString& client, const QString& gameFolder) {
    return gameFolderRecord(dir, client, gameFolder, ".index");
}

QString gameFilesSequence(const QString& dir, const QString& client, const QString& gameFolder) {
    return gameFolderRecord(dir, client, gameFolder, ".sequence");
}

} // namespace launcherfiles
