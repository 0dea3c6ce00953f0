// Runs the game-files engine once over a folder against a local web server and prints what
// bench/gamefiles.sh compares:
//   gamefiles_probe PORT PUBLIC_KEY LAUNCHER_DIR GAME_DIR index|hash
// "index" checks by the index (a start), "hash" hashes every file ("Vérifier les fichiers").
// Printed: "checked SECONDS" (from the list received, when the check text comes, to the end),
// "total SECONDS" (from the start), "idle_kib" and "peak_kib" (resident memory before the run and
// its high-water mark), "cpu SECONDS" (user and system time of the whole run), and "ok 1" or
// "ok 0".
#include "gamefiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <cstdio>

#include <sys/resource.h>

namespace {

qint64 statusKib(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 6) {
        std::fprintf(stderr,
                     "usage: gamefiles_probe PORT PUBLIC_KEY LAUNCHER_DIR GAME_DIR index|hash\n");
        return 2;
    }
    GameFiles files;
    files.setServer({QStringLiteral("127.0.0.1"), quint16(args[1].toUInt()), false});
    files.setPublicKey(args[2].toLatin1());
    files.setLauncherFolder(args[3]);
    const qint64 idle = statusKib("VmRSS:");
    QElapsedTimer clock;
    qint64 listReceived = -1;
    QObject::connect(&files, &GameFiles::statusChanged, &files, [&](const QString& text) {
        if (listReceived < 0 && text.startsWith(QString::fromUtf8("Vérification")))
            listReceived = clock.nsecsElapsed();
    });
    bool success = false;
    QObject::connect(&files, &GameFiles::finished, &app, [&](bool ok) {
        success = ok;
        const qint64 end = clock.nsecsElapsed();
        QTextStream out(stdout);
        out << "checked " << double(end - listReceived) / 1e9 << "\n"
            << "total " << double(end) / 1e9 << "\n"
            << "idle_kib " << idle << "\n"
            << "peak_kib " << statusKib("VmHWM:") << "\n"
            << "cpu " << cpuSeconds() << "\n"
            << "ok " << (ok ? 1 : 0) << Qt::endl;
        app.quit();
    });
    clock.start();
    files.start({{QStringLiteral("wotlk"), args[4]}}, args[5] == QLatin1String("hash")
                                                          ? GameFiles::Check::ByHash
                                                          : GameFiles::Check::ByIndex);
    app.exec();
    return success ? 0 : 1;
}
