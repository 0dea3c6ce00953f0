// Runs the game-files engine once over a folder against a local web server and prints what
// bench/gamefiles.sh and bench/install.sh compare:
//   gamefiles_probe PORT PUBLIC_KEY LAUNCHER_DIR GAME_DIR index|hash|install
//                   [--client wotlk|cataclysm] [--limit BYTES_PER_SECOND]
// "index" checks by the index (a start), "hash" hashes every file ("Vérifier les fichiers"),
// "install" installs the community's client into GAME_DIR as the options' offer does. The client
// is wotlk unless named; --limit sets the download speed limit before the run.
// Printed: "checked SECONDS" (from the list received, when the check text comes, to the end),
// "total SECONDS" (from the start), "idle_kib" and "peak_kib" (resident memory before the run and
// its high-water mark), "cpu SECONDS" (user and system time of the whole run), "lanes N" (objects
// fetched at once), "fetch_seconds SECONDS" and "fetched_bytes N" (from the first fetch text to
// the end, -1 and 0 when nothing was fetched), "window_min_bps" and "window_max_bps" (the least
// and most bytes a second over any 10 s of the fetch, -1 when it took less), "installed 1" when
// the engine said the folder holds the whole client, and "ok 1" or "ok 0".
#include "gamefiles.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>

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

// Bytes fetched over time, a sample every tenth of a second at most: a 2 GiB install keeps a few
// hundred of them, not one per piece received, so the record does not weigh on the peak measured.
class FetchRecord {
public:
    void add(qint64 nanoseconds, qint64 bytes) {
        if (!samples.empty() && nanoseconds - samples.back().first < kSpacing) {
            samples.back().second = bytes;
            return;
        }
        samples.emplace_back(nanoseconds, bytes);
    }
    // The least and most bytes a second over any window of 10 s within the record; -1 when the
    // record is shorter than one window.
    std::pair<double, double> windowSpeeds() const {
        double least = -1;
        double most = -1;
        if (samples.size() < 2 || samples.back().first - samples.front().first < kWindow)
            return {least, most};
        for (const auto& [end, bytes] : samples) {
            if (end - samples.front().first < kWindow)
                continue;
            const double speed = double(bytes - bytesAt(end - kWindow)) / (double(kWindow) / 1e9);
            least = least < 0 ? speed : std::min(least, speed);
            most = std::max(most, speed);
        }
        return {least, most};
    }

private:
    static constexpr qint64 kSpacing = 100'000'000;
    static constexpr qint64 kWindow = 10'000'000'000;

    // Bytes at a moment between two samples, read on the straight line between them.
    double bytesAt(qint64 nanoseconds) const {
        auto after = std::lower_bound(
            samples.begin(), samples.end(), nanoseconds,
            [](const std::pair<qint64, qint64>& sample, qint64 t) { return sample.first < t; });
        if (after == samples.begin())
            return double(after->second);
        const auto before = std::prev(after);
        const double share =
            double(nanoseconds - before->first) / double(after->first - before->first);
        return double(before->second) + share * double(after->second - before->second);
    }

    std::vector<std::pair<qint64, qint64>> samples;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption client(QStringLiteral("client"), QString(), QStringLiteral("client"),
                                    QStringLiteral("wotlk"));
    const QCommandLineOption limit(QStringLiteral("limit"), QString(), QStringLiteral("bytes"),
                                   QStringLiteral("0"));
    parser.addOptions({client, limit});
    const QString mode = parser.parse(app.arguments()) && parser.positionalArguments().size() == 5
                             ? parser.positionalArguments().at(4)
                             : QString();
    if (mode != QLatin1String("index") && mode != QLatin1String("hash") &&
        mode != QLatin1String("install")) {
        std::fprintf(stderr, "usage: gamefiles_probe PORT PUBLIC_KEY LAUNCHER_DIR GAME_DIR "
                             "index|hash|install [--client NAME] [--limit BYTES_PER_SECOND]\n");
        return 2;
    }
    const QStringList args = parser.positionalArguments();
    GameFiles files;
    files.setServer({QStringLiteral("127.0.0.1"), quint16(args[0].toUInt()), false});
    files.setPublicKey(args[1].toLatin1());
    files.setLauncherFolder(args[2]);
    files.setSpeedLimit(parser.value(limit).toLongLong());
    const qint64 idle = statusKib("VmRSS:");
    QElapsedTimer clock;
    qint64 listReceived = -1;
    qint64 fetchStarted = -1;
    qint64 fetched = 0;
    FetchRecord record;
    QObject::connect(&files, &GameFiles::statusChanged, &files, [&](const QString& text) {
        if (listReceived < 0 && text.startsWith(QString::fromUtf8("Vérification")))
            listReceived = clock.nsecsElapsed();
        // An update says so while it fetches, an install says it installs, waiting or not.
        if (fetchStarted < 0 && (text.startsWith(QStringLiteral("Mise à jour des fichiers")) ||
                                 text.startsWith(QStringLiteral("Installation du jeu")))) {
            fetchStarted = clock.nsecsElapsed();
            record.add(fetchStarted, fetched);
        }
    });
    QObject::connect(&files, &GameFiles::progressChanged, &files, [&](qint64 done, qint64) {
        if (fetchStarted < 0)
            return;
        fetched = done;
        record.add(clock.nsecsElapsed(), done);
    });
    const QString game = QDir::cleanPath(QDir(args[3]).absolutePath());
    bool installed = false;
    QObject::connect(&files, &GameFiles::folderInstalled, &files,
                     [&](const QString&, const QString& path) {
                         installed = QDir::cleanPath(QDir(path).absolutePath()) == game;
                     });
    bool success = false;
    const auto report = [&](bool ok) {
        success = ok;
        const qint64 end = clock.nsecsElapsed();
        if (fetchStarted >= 0)
            record.add(end, fetched);
        const auto [least, most] = record.windowSpeeds();
        QTextStream out(stdout);
        out << "checked " << double(end - listReceived) / 1e9 << "\n"
            << "total " << double(end) / 1e9 << "\n"
            << "idle_kib " << idle << "\n"
            << "peak_kib " << statusKib("VmHWM:") << "\n"
            << "cpu " << cpuSeconds() << "\n"
            << "lanes " << GameFiles::kLanes << "\n"
            << "fetch_seconds " << (fetchStarted < 0 ? -1.0 : double(end - fetchStarted) / 1e9)
            << "\n"
            << "fetched_bytes " << fetched << "\n"
            << "window_min_bps " << qint64(least) << "\n"
            << "window_max_bps " << qint64(most) << "\n"
            << "installed " << (installed ? 1 : 0) << "\n"
            << "ok " << (ok ? 1 : 0) << Qt::endl;
        app.quit();
    };
    QObject::connect(&files, &GameFiles::finished, &app, report);
    // A pause is not asked for here: one would be a fault of the run.
    QObject::connect(&files, &GameFiles::paused, &app, [&] { report(false); });
    clock.start();
    GameFiles::Folder folder{parser.value(client), args[3]};
    folder.install = mode == QLatin1String("install");
    files.start({folder}, mode == QLatin1String("hash") ? GameFiles::Check::ByHash
                                                        : GameFiles::Check::ByIndex);
    app.exec();
    return success ? 0 : 1;
}
