// What a press of "Jouer" costs: the cache sweep against find(1) on identical trees, and the time
// from the press to the game's start, with the fake client. Run through bench/play.sh.
#include "communityserver.h"
#include "gamefolder.h"
#include "mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace {

QTextStream out(stdout);
QTextStream err(stderr);
const QByteArray kVersion = "1.0";

// Each step of the bench has a bound of its own: one that does not answer within it stops the
// bench, named.
bool stepFailed(const QString& step, int seconds, const QString& seen) {
    err << "play: " << step << " did not answer within " << seconds << " s; " << seen << Qt::endl;
    return false;
}

bool runWithin(const QString& step, int seconds, const QString& program,
               const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (process.waitForFinished(seconds * 1000) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    process.kill();
    process.waitForFinished(5000);
    return stepFailed(step, seconds, process.errorString());
}

// Lets the window work until its status line reads what DONE waits for, at most SECONDS. A box the
// window opens meanwhile waits for a player who is not there, in an event loop of its own: a watch
// from inside that loop closes it, and the step fails with its text.
bool statusWithin(const QString& step, int seconds, QLabel* status,
                  const std::function<bool(const QString&)>& done) {
    QString box;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&box] {
        if (auto* modal = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box = modal->windowTitle() + ": " + modal->text();
            modal->reject();
        }
    });
    watch.start(200);
    QElapsedTimer clock;
    clock.start();
    while (!done(status->text())) {
        if (!box.isEmpty())
            return stepFailed(step, seconds, "the window opened a box: " + box);
        if (clock.elapsed() > seconds * 1000)
            return stepFailed(step, seconds, "the status line reads \"" + status->text() + '"');
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// 500 folders of 100 files, a third of them cache files, in mixed letter case.
void makeCache(const QString& game) {
    // Three of the nine kinds are cache files.
    static const char* const names[] = {"x.wdb", "x.WCF", "x.Adb",     "x.txt", "x.dat",
                                        "x.log", "x.ini", "x.wdb.bak", "x.tbl2"};
    for (int d = 0; d < 500; ++d) {
        const QString folder = QString("%1/Cache/WDB/d%2").arg(game).arg(d);
        QDir().mkpath(folder);
        for (int f = 0; f < 100; ++f) {
            const int kind = (d * 100 + f) % 9;
            QFile file(folder + QString("/f%1%2").arg(f).arg(names[kind]));
            file.open(QIODevice::WriteOnly);
        }
    }
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

bool sweepAgainstFind(int runs) {
    QList<double> sweep, find;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir dir;
        const QString a = dir.path() + "/a", b = dir.path() + "/b";
        makeCache(a);
        makeCache(b);
        if (!runWithin("sync", 300, "sync", {}))
            return false;
        // Alternate who goes first, so that neither always meets a colder cache.
        auto timeSweep = [&] {
            QElapsedTimer clock;
            clock.start();
            const int removed = gamefolder::sweepCache(a).size();
            sweep << clock.nsecsElapsed() / 1e6;
            return removed;
        };
        auto timeFind = [&] {
            QElapsedTimer clock;
            clock.start();
            const bool done = runWithin("find", 120, "find",
                                        {b + "/Cache", "-type", "f", "(", "-iname", "*.wdb", "-o",
                                         "-iname", "*.wcf", "-o", "-iname", "*.tbl", "-o", "-iname",
                                         "*.adb", ")", "-delete"});
            find << clock.nsecsElapsed() / 1e6;
            return done;
        };
        int removed = 0;
        if (run % 2) {
            if (!timeFind())
                return false;
            removed = timeSweep();
        } else {
            removed = timeSweep();
            if (!timeFind())
                return false;
        }
        if (run == 0)
            out << "files 50000, removed by the sweep " << removed << Qt::endl;
    }
    out << QString("sweep  median %1 ms  min %2 ms")
               .arg(median(sweep), 0, 'f', 1)
               .arg(*std::min_element(sweep.begin(), sweep.end()), 0, 'f', 1)
        << Qt::endl;
    out << QString("find   median %1 ms  min %2 ms")
               .arg(median(find), 0, 'f', 1)
               .arg(*std::min_element(find.begin(), find.end()), 0, 'f', 1)
        << Qt::endl;
    out << QString("ratio sweep/find (median) %1").arg(median(sweep) / median(find), 0, 'f', 2)
        << Qt::endl;
    return true;
}

bool pressToStart(int runs) {
    QTemporaryDir dir;
    const QString game = dir.path() + "/jeu";
    QDir().mkpath(game + "/Data/frFR");
    QDir().mkpath(game + "/Cache");
    QFile::copy(QStringLiteral(FAKEGAME_PATH), game + "/Wow.exe");
    QDir::setCurrent(dir.path());
    QFile conf("launcher.conf");
    conf.open(QIODevice::WriteOnly);
    conf.write("1\n" + game.toUtf8() + "\n0\n\n0\n |0\n |0\n |0\n" + kVersion + "\n");
    conf.close();

    MainWindow window;
    window.show();
    auto* status = window.findChild<QLabel*>("Texte");
    const QString started = QStringLiteral("World of Warcraft lancé.");
    // The version's answer, once in, writes its own status line: it must not land in a run.
    if (!statusWithin("the window's start to its version found current", 60, status,
                      [](const QString& text) { return text == QStringLiteral("Version à jour"); }))
        return false;
    const QString stop = game + "/Wow.exe.stop";
    QList<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        // What a press of the button runs, called directly: the time counts from the press, not
        // from whenever the button would open.
        if (!QMetaObject::invokeMethod(&window, "on_Jouer_clicked")) {
            err << "play: the window has no slot on_Jouer_clicked" << Qt::endl;
            return false;
        }
        if (!statusWithin(QString("run %1: the press of \"Jouer\" to the game's start").arg(run),
                          30, status, [&](const QString& text) { return text == started; }))
            return false;
        times << clock.nsecsElapsed() / 1e6;
        QFile(stop).open(QIODevice::WriteOnly);
        // The game takes its stop file away as it ends; the window has the end once its status
        // line says something else: the ready text, or, the game having ended at once, the notice
        // that says so.
        if (!statusWithin(
                QString("run %1: the game's end to the window's word on it").arg(run), 60, status,
                [&](const QString& text) { return !QFile::exists(stop) && text != started; }))
            return false;
    }
    out << QString("press to started()  median %1 ms  min %2 ms  (%3 runs)")
               .arg(median(times), 0, 'f', 1)
               .arg(*std::min_element(times.begin(), times.end()), 0, 'f', 1)
               .arg(runs)
        << Qt::endl;
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    // The window loads its news and asks for its version, both on this machine: the news is
    // never answered, the version is the stored one. A version check left unanswered would end
    // in a box, 30 s after the start, that stops the window until a player closes it.
    CommunityServer server;
    server.start();
    CommunityServer::Reply silent;
    silent.mode = CommunityServer::Reply::Silent;
    server.setReply("/launcher/launcher.php", silent);
    server.setReply("/launcher/version.php", {200, "text/plain", kVersion});
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", server.serverPort()));

    const int runs = qEnvironmentVariableIntValue("BENCH_RUNS") > 0
                         ? qEnvironmentVariableIntValue("BENCH_RUNS")
                         : 5;
    if (!sweepAgainstFind(runs) || !pressToStart(runs * 4))
        return 1;
    return 0;
}
