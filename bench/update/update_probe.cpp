// Drives the self-update benchmark: one local community server offers a new launcher of the
// chosen size, and the real launcher (run from a player's folder, as a player runs it) and curl
// download it from that same server, in turn, BENCH_RUNS times each.
//
//   time    from the moment the server has read the download request to the moment the new
//           executable is in place (launcher: the file under the launcher's name has the whole
//           size and the backup exists; curl: curl has exited with the whole file written).
//   idle    the launcher's resident memory just before it asks for the download: its news page
//           loaded, its version check waiting on the server.
//   peak    the launcher's peak resident memory from then until the new file is in place (the
//           kernel's high-water mark, reset at the idle sample). Main process only: the news
//           view's helper processes take no part in the download.
// Before each run, what earlier runs wrote is flushed to the disk (sync), so that no run pays
// for another's writes. The launcher's new file reaches the disk before it takes the launcher's
// name (the update must survive a crash); curl's file need not.
#include "communityserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

const QByteArray kVersionPath = "/launcher/version.php";
// The Linux launcher's own address, beside the Windows one.
const QByteArray kDownloadPath = "/launcher/download/linux-x86_64/VestrahalLauncher.exe";

QTextStream out(stdout);

// Waits in the event loop, looking every millisecond, until the condition holds.
template <typename Condition> bool waitUntil(Condition condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (condition() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    tick.start(1);
    if (!condition())
        loop.exec();
    return condition();
}

double statusMiB(qint64 pid, const QByteArray& key) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return -1;
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double minimum(const QList<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

struct Options {
    quint16 port = 0;
    QString site;
    QString launcher;
    QString work;
    qint64 bodyBytes = 0;
    int runs = 0;
    int hold = 3000;
};

class Bench {
public:
    explicit Bench(const Options& options)
        : options(options)
        , player(options.work + "/player") {
        // The new launcher: the built one, filled up to the chosen size. It stays an executable
        // of this platform, which is all the launcher checks.
        QFile built(options.launcher);
        built.open(QIODevice::ReadOnly);
        body = built.readAll();
        const qsizetype start = body.size();
        body.resize(std::max<qint64>(options.bodyBytes, start));
        QRandomGenerator filler(7);
        for (qsizetype i = start; i + 4 <= body.size(); i += 4) {
            const quint32 word = filler.generate();
            memcpy(body.data() + i, &word, 4);
        }

        server.setRoot(options.site);
        server.setReply(kVersionPath, {200, "text/plain", "2.0.0"});
        // The version answer waits, so that the launcher is seen idle before it downloads.
        server.setDelay(kVersionPath, options.hold);
        server.setReply(kDownloadPath, {200, "application/octet-stream", body});
        QObject::connect(&server, &CommunityServer::requestReceived, &server,
                         [this](const CommunityServer::Request& request) {
                             if (request.path == kDownloadPath)
                                 requested.restart();
                             else if (request.path == kVersionPath)
                                 ++versionRequests;
                         });
    }

    bool start() {
        if (!server.start(options.port)) {
            out << "cannot listen on 127.0.0.1:" << options.port << ": " << server.errorString()
                << Qt::endl;
            return false;
        }
        return true;
    }

    bool launcherRun() {
        QDir(player).removeRecursively();
        QDir().mkpath(player);
        const QString exe = player + "/VestrahalLauncher.exe";
        QFile::copy(options.launcher, exe);
        QFile conf(player + "/launcher.conf");
        conf.open(QIODevice::WriteOnly);
        conf.write("0\n\n0\n\n0\n |0\n |0\n |0\n1.0.0\n");
        conf.close();
        requested.invalidate();
        versionRequests = 0;

        QProcess launcher;
        launcher.setWorkingDirectory(player);
        launcher.setStandardOutputFile(QProcess::nullDevice());
        launcher.setStandardErrorFile(options.work + "/launcher.err");
        launcher.start(exe, {});
        if (!launcher.waitForStarted()) {
            out << "the launcher did not start: " << launcher.errorString() << Qt::endl;
            return false;
        }
        const qint64 pid = launcher.processId();
        // The second version request comes once the first answer is in: the launcher idles.
        if (!waitUntil([this] { return versionRequests >= 2; }, 60000)) {
            out << "the launcher never asked for its version twice" << Qt::endl;
            return false;
        }
        const double idle = statusMiB(pid, "VmRSS");
        QFile clearRefs(QStringLiteral("/proc/%1/clear_refs").arg(pid));
        const bool reset = clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
        clearRefs.close();

        const auto inPlace = [&] {
            return QFileInfo(exe).size() == body.size() && QFileInfo::exists(exe + ".bak");
        };
        const bool installed = waitUntil(inPlace, 120000);
        const double ms = requested.isValid() ? requested.nsecsElapsed() / 1e6 : -1;
        const double peak = statusMiB(pid, "VmHWM");
        launcher.terminate();
        if (!launcher.waitForFinished(10000))
            launcher.kill();
        launcher.waitForFinished();
        if (!installed || !requested.isValid()) {
            out << "the new launcher never took the old one's place" << Qt::endl;
            return false;
        }
        QFile written(exe);
        written.open(QIODevice::ReadOnly);
        if (written.readAll() != body) {
            out << "the launcher wrote something else than the server sent" << Qt::endl;
            return false;
        }
        launcherMs << ms;
        idleMiB << idle;
        peakMiB << (reset ? peak : -1);
        out << QString::asprintf("  launcher %8.1f ms   idle %7.1f MiB   peak %7.1f MiB", ms, idle,
                                 reset ? peak : -1.0);
        return true;
    }

    bool curlRun() {
        const QString file = options.work + "/curl.out";
        QFile::remove(file);
        requested.invalidate();
        QProcess curl;
        QElapsedTimer finishedAt;
        QObject::connect(&curl, &QProcess::finished, &curl, [&] { finishedAt.start(); });
        curl.start("curl", {"-s", "-o", file,
                            QStringLiteral("http://127.0.0.1:%1%2")
                                .arg(options.port)
                                .arg(QString::fromLatin1(kDownloadPath))});
        const bool done = waitUntil([&] { return finishedAt.isValid(); }, 120000);
        if (!done || !requested.isValid() || QFileInfo(file).size() != body.size()) {
            out << "curl did not fetch the file" << Qt::endl;
            return false;
        }
        const double ms = (requested.nsecsElapsed() - finishedAt.nsecsElapsed()) / 1e6;
        curlMs << ms;
        out << QString::asprintf("   |   curl %8.1f ms", ms) << Qt::endl;
        return true;
    }

    void summary() {
        const double body = double(this->body.size()) / (1024 * 1024);
        out << Qt::endl
            << QString::asprintf("Self-update of a %.1f MiB launcher from 127.0.0.1, %d runs "
                                 "each (median / min)",
                                 body, int(launcherMs.size()))
            << Qt::endl;
        const double launcher = median(launcherMs), curl = median(curlMs);
        out << QString::asprintf("  launcher, request to file in place  %8.1f / %8.1f ms", launcher,
                                 minimum(launcherMs))
            << Qt::endl;
        out << QString::asprintf("  curl -o, request to file written    %8.1f / %8.1f ms", curl,
                                 minimum(curlMs))
            << Qt::endl;
        out << QString::asprintf("  ratio launcher / curl               %8.2f (target 1.3 or "
                                 "less: %s)",
                                 launcher / curl, launcher <= 1.3 * curl ? "met" : "not met")
            << Qt::endl;
        const double idle = median(idleMiB), peak = median(peakMiB);
        out << QString::asprintf("  launcher idle memory (RSS)          %8.1f MiB", idle)
            << Qt::endl;
        if (peak < 0) {
            out << "  launcher peak memory: unknown (the peak could not be reset at idle)"
                << Qt::endl;
            return;
        }
        out << QString::asprintf("  launcher peak memory (RSS)          %8.1f MiB: idle + %.1f "
                                 "MiB = idle + %.2f x the body",
                                 peak, peak - idle, (peak - idle) / body)
            << Qt::endl;
        out << QString::asprintf("  target idle + 16 MiB = %.1f MiB: %s", idle + 16,
                                 peak <= idle + 16 ? "met" : "not met")
            << Qt::endl;
    }

private:
    Options options;
    QString player;
    QByteArray body;
    CommunityServer server;
    QElapsedTimer requested;
    int versionRequests = 0;
    QList<double> launcherMs, curlMs, idleMiB, peakMiB;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 7) {
        std::fprintf(stderr, "usage: update_probe PORT SITE LAUNCHER WORKDIR MIB RUNS\n");
        return 2;
    }
    Options options;
    options.port = args[1].toUShort();
    options.site = args[2];
    options.launcher = args[3];
    options.work = args[4];
    options.bodyBytes = qint64(args[5].toDouble() * 1024 * 1024);
    options.runs = args[6].toInt();

    Bench bench(options);
    if (!bench.start())
        return 1;
    for (int run = 1; run <= options.runs; ++run) {
        out << "run " << run << '/' << options.runs << ':';
        out.flush();
        // Each one starts with nothing of the previous files still waiting to reach the disk.
        sync();
        if (!bench.launcherRun())
            return 1;
        sync();
        if (!bench.curlRun())
            return 1;
    }
    bench.summary();
    return 0;
}
