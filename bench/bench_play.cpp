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
#include <QNetworkProxy>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>

namespace {

QTextStream out(stdout);

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

void sweepAgainstFind(int runs) {
    QList<double> sweep, find;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir dir;
        const QString a = dir.path() + "/a", b = dir.path() + "/b";
        makeCache(a);
        makeCache(b);
        QProcess::execute("sync", {});
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
            QProcess::execute("find", {b + "/Cache", "-type", "f", "(", "-iname", "*.wdb", "-o",
                                       "-iname", "*.wcf", "-o", "-iname", "*.tbl", "-o", "-iname",
                                       "*.adb", ")", "-delete"});
            find << clock.nsecsElapsed() / 1e6;
        };
        int removed = 0;
        if (run % 2) {
            timeFind();
            removed = timeSweep();
        } else {
            removed = timeSweep();
            timeFind();
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
}

void pressToStart(int runs) {
    QTemporaryDir dir;
    const QString game = dir.path() + "/jeu";
    QDir().mkpath(game + "/Data/frFR");
    QDir().mkpath(game + "/Cache");
    QFile::copy(QStringLiteral(FAKEGAME_PATH), game + "/Wow.exe");
    QDir::setCurrent(dir.path());
    QFile conf("launcher.conf");
    conf.open(QIODevice::WriteOnly);
    conf.write("1\n" + game.toUtf8() + "\n0\n\n0\n |0\n |0\n |0\n1.0\n");
    conf.close();

    MainWindow window;
    window.show();
    auto* status = window.findChild<QLabel*>("Texte");
    const QString started = QStringLiteral("World of Warcraft lancé.");
    const QString ready = QStringLiteral("World of Warcraft est prêt à être lancé");
    QList<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        QMetaObject::invokeMethod(&window, "on_Jouer_clicked");
        while (status->text() != started && clock.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        times << clock.nsecsElapsed() / 1e6;
        QFile(game + "/Wow.exe.stop").open(QIODevice::WriteOnly);
        while (status->text() != ready && clock.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    out << QString("press to started()  median %1 ms  min %2 ms  (%3 runs)")
               .arg(median(times), 0, 'f', 1)
               .arg(*std::min_element(times.begin(), times.end()), 0, 'f', 1)
               .arg(runs)
        << Qt::endl;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    // The window loads its news and asks for its version: both stay on this machine, answered
    // by a server that never replies.
    CommunityServer server;
    server.start();
    CommunityServer::Reply silent;
    silent.mode = CommunityServer::Reply::Silent;
    server.setReply("/launcher/launcher.php", silent);
    server.setReply("/launcher/version.php", silent);
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", server.serverPort()));

    const int runs = qEnvironmentVariableIntValue("BENCH_RUNS") > 0
                         ? qEnvironmentVariableIntValue("BENCH_RUNS")
                         : 5;
    sweepAgainstFind(runs);
    pressToStart(runs * 4);
    return 0;
}
