// The game held by the launcher's watcher while the window's process is gone. The real launcher,
// its real watcher and the fake game, in an Xvfb and on a session bus of the suite's own: the
// window read as a screen reader reads it (AT-SPI, tests/atspi_reader.py), its place on the
// screen through the X server, the processes through their ids.
#include "desktopsession.h"
#include "fakegame.h"
#include "gamesession.h"
#include "testfiles.h"
#include "testsupport.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kTimeout = 60000;
const QString kReader = QStringLiteral(VESTRAHAL_SOURCE_DIR "/tests/atspi_reader.py");
const QString kApplication = QStringLiteral("VestrahalLauncher");
const QString kWatcherLock = QStringLiteral("VestrahalWatcher.lock");
// The realm the player checks before playing: not the one launcher.conf holds.
const QString kChosenRealm = QStringLiteral("127.0.0.1:1");

using Node = QJsonObject;

// A window can go between listing it and asking about it: that is no reason to stop.
int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

QString text(const Node& node, const char* key) {
    return node.value(QLatin1String(key)).toString();
}

// Whether a process runs: there, and not a zombie waiting for its parent.
bool alive(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && line.mid(close + 2, 1) != "Z";
}

qint64 parentOf(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
}

// How long a process has run, as the system counts it.
qint64 millisecondsRunning(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The fields after the name; the start time, in clock ticks since boot, is the 22nd in all.
    const qint64 started =
        line.mid(line.lastIndexOf(')') + 2).split(' ').value(22 - 3).toLongLong();
    const double now = uptime.readAll().split(' ').value(0).toDouble();
    return qint64(now * 1000) - started * 1000 / sysconf(_SC_CLK_TCK);
}

// The browser engine's helper processes started by a launcher in a folder (their working folder
// is the launcher's): they belong to a window, and are gone with it.
QList<qint64> engineHelpersIn(const QString& folder) {
    QList<qint64> helpers;
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        QFile command("/proc/" + entry + "/cmdline");
        if (command.open(QIODevice::ReadOnly) && command.readAll().contains("QtWebEngineProcess") &&
            QFileInfo("/proc/" + entry + "/cwd").canonicalFilePath() == canonical && alive(pid))
            helpers << pid;
    }
    return helpers;
}

// What the window shows, as a screen reader gets it.
struct Shown {
    bool present = false;
    QString status;
    bool playOpen = false;
    QString checkedRealm;
};

} // namespace

class WatcherTest : public QObject {
    Q_OBJECT

    // The launcher's objects, one JSON object a line; nothing when none is there to read.
    QList<Node> tree() {
        QProcess reader;
        reader.setProcessEnvironment(session);
        reader.start(QStringLiteral(VESTRAHAL_SYSTEM_PYTHON), {kReader, kApplication, "tree"});
        // The event loop turns meanwhile: the test's own server answers the launcher.
        if (!QTest::qWaitFor([&reader] { return reader.state() == QProcess::NotRunning; },
                             kTimeout))
            return {};
        QList<Node> nodes;
        for (const QByteArray& line : reader.readAllStandardOutput().split('\n')) {
            const QJsonDocument document = QJsonDocument::fromJson(line);
            if (document.isObject())
                nodes << document.object();
        }
        return nodes;
    }
    bool press(const QString& name) {
        QProcess reader;
        reader.setProcessEnvironment(session);
        reader.start(QStringLiteral(VESTRAHAL_SYSTEM_PYTHON),
                     {kReader, kApplication, "press", name});
        return QTest::qWaitFor([&reader] { return reader.state() == QProcess::NotRunning; },
                               kTimeout) &&
               reader.readAllStandardOutput().trimmed() == "pressed";
    }
    Shown shown() {
        Shown seen;
        for (const Node& node : tree()) {
            const QString role = text(node, "role");
            if (role == "frame" && text(node, "name") == "Vestrahal Launcher")
                seen.present = true;
            else if (role == "notification" && seen.status.isEmpty())
                seen.status = text(node, "name");
            else if (role == "push button" && text(node, "name") == "Jouer")
                seen.playOpen = node.value("sensitive").toBool();
            else if (role == "radio button" && node.value("checked").toBool())
                seen.checkedRealm = text(node, "name");
        }
        return seen;
    }
    // QTRY counts its pauses, not the time a reading of the screen reader takes: a wait made
    // of readings would last many times its bound. This one ends at its bound and says what
    // the window showed last.
    bool becomes(const std::function<bool(const Shown&)>& wanted) {
        QDeadlineTimer deadline(kTimeout);
        Shown seen;
        do {
            seen = shown();
            if (wanted(seen))
                return true;
            QTest::qWait(100);
        } while (!deadline.hasExpired());
        qWarning("last seen: window %s, status \"%s\", Jouer %s", seen.present ? "shown" : "absent",
                 qPrintable(seen.status), seen.playOpen ? "open" : "shut");
        return false;
    }
    bool becomesReady(const QString& status = kReady) {
        return becomes([&status](const Shown& seen) {
            return seen.present && seen.status == status && seen.playOpen;
        });
    }

    // The launcher's windows on the suite's screen (no window manager: the root's children).
    QList<Window> launcherWindows() {
        QList<Window> found;
        Window root = DefaultRootWindow(display), parent, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, root, &root, &parent, &children, &count))
            return found;
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(display, children[i], &attributes) &&
                attributes.map_state == IsViewable &&
                property(children[i], "_NET_WM_NAME") == "Vestrahal Launcher")
                found << children[i];
        }
        if (children)
            XFree(children);
        return found;
    }
    QByteArray property(Window window, const char* name) {
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        QByteArray value;
        if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1024, False,
                               AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
            data) {
            value = QByteArray(reinterpret_cast<const char*>(data),
                               qsizetype(count) * (format == 32 ? qsizetype(sizeof(long))
                                                                : qsizetype(format / 8)));
            XFree(data);
        }
        return value;
    }
    qint64 windowPid(Window window) {
        const QByteArray value = property(window, "_NET_WM_PID");
        return value.size() >= qsizetype(sizeof(long))
                   ? *reinterpret_cast<const long*>(value.constData())
                   : 0;
    }
    bool maximised(Window window) {
        const QByteArray value = property(window, "_NET_WM_STATE");
        const auto* atoms = reinterpret_cast<const long*>(value.constData());
        const qsizetype count = value.size() / qsizetype(sizeof(long));
        int found = 0;
        for (const char* name : {"_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ"}) {
            const long atom = long(XInternAtom(display, name, False));
            for (qsizetype i = 0; i < count; ++i)
                found += atoms[i] == atom;
        }
        return found == 2;
    }
    // As the player closes it: the window asked to close, as a window manager asks.
    void closeWindow(Window window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
        XFlush(display);
    }

    // The real launcher, in the player's folder, through the suite's server as its proxy. The
    // suite keeps the process until the case's cleanup.
    QProcess& startLauncher() {
        launchers.push_back(std::make_unique<QProcess>());
        QProcess& launcher = *launchers.back();
        QProcessEnvironment environment = session;
        environment.insert("http_proxy", QString("http://127.0.0.1:%1").arg(server.serverPort()));
        environment.insert("QT_QPA_PLATFORM", "xcb");
        launcher.setProcessEnvironment(environment);
        launcher.setWorkingDirectory(folder());
        launcher.setStandardOutputFile(QProcess::nullDevice());
        launcher.setStandardErrorFile(QProcess::nullDevice());
        launcher.start(folder() + "/VestrahalLauncher.exe", {});
        if (!launcher.waitForStarted(kTimeout))
            qWarning("%s", qPrintable(launcher.errorString()));
        return launcher;
    }
    qint64 watcherPid() {
        QLockFile lock(folder() + "/" + kWatcherLock);
        qint64 pid = 0;
        return lock.getLockInfo(&pid, nullptr, nullptr) ? pid : 0;
    }

    // A player's folder: the launcher, launcher.conf with its Vestrahal realms checked and a
    // personal realm on the Wrath client, and the Wrath client's folder with the fake game.
    void layOut(const QByteArray& gameSettings, bool withGame = true) {
        QVERIFY(QFile::copy(QStringLiteral(LAUNCHER_PATH), folder() + "/VestrahalLauncher.exe"));
        writeFile(folder() + "/launcher.conf", "1\n" + wotlk().toUtf8() + "\n0\n\n0\n" +
                                                   kChosenRealm.toUtf8() + "|1\n |0\n |0\n1.0\n");
        makeGame(wotlk(), withGame ? QStringList{"Wow.exe"} : QStringList{}, gameSettings);
    }
    QString folder() const { return dir->filePath("launcher"); }
    // A game ended before the quick-exit limit is reported as one that could not start: a
    // played game is ended by the test once it has outlived that limit, never by a time of its
    // own that a loaded machine could outrun before the test has looked at it.
    void endPlayedGame(qint64 game) {
        QTRY_VERIFY_WITH_TIMEOUT(
            millisecondsRunning(game) > GameSession::kDefaultQuickExitLimit + 1000, kTimeout);
        stopGame(wotlk(), "Wow.exe");
    }
    QString wotlk() const { return dir->filePath("Jeux/WoTLK"); }

    // The window ready, the player's realm checked, "Jouer" pressed: the game starts, held by
    // the watcher, and the window's process ends.
    void playFrom(QProcess& window, qint64& game) {
        QSignalSpy ended(&window, &QProcess::finished);
        QVERIFY(becomesReady());
        QVERIFY(press(kChosenRealm));
        QVERIFY(becomes([](const Shown& seen) { return seen.checkedRealm == kChosenRealm; }));
        QVERIFY(press("Jouer"));
        QTRY_VERIFY_WITH_TIMEOUT(!startRecord(wotlk(), "Wow.exe").isEmpty(), kTimeout);
        game = startRecord(wotlk(), "Wow.exe")["pid"].toInteger();
        QVERIFY(game > 0);
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, kTimeout);
        QCOMPARE(window.exitStatus(), QProcess::NormalExit);
        QCOMPARE(window.exitCode(), 0);
    }

private slots:
    void initTestCase() {
        desktop.start("1024x768x24", kTimeout);
        if (QTest::currentTestFailed())
            return;
        session = desktop.environment;
        display = XOpenDisplay(qPrintable(desktop.display));
        QVERIFY(display);
        XSetErrorHandler(ignoreErrors);
        routeThroughCommunityServer(server);
        server.setReply("/launcher/version.php", {200, "text/plain", "1.0"});
    }

    void init() {
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
        QVERIFY(QDir(dir->path()).mkpath("launcher"));
    }

    void cleanup() {
        // The windows closed as a player closes them; then whatever a failed case left (the
        // game, the watcher, a launcher), by their ids.
        for (Window window : launcherWindows())
            closeWindow(window);
        // Any left below are ended.
        static_cast<void>(
            QTest::qWaitFor([this] { return launcherWindows().isEmpty(); }, kTimeout));
        QList<qint64> left{startRecord(wotlk(), "Wow.exe")["pid"].toInteger(), watcherPid()};
        for (Window window : launcherWindows())
            left << windowPid(window);
        left << engineHelpersIn(folder());
        for (qint64 pid : left) {
            if (alive(pid))
                ::kill(pid_t(pid), SIGKILL);
        }
        for (const auto& launcher : launchers) {
            if (!launcher->waitForFinished(kTimeout))
                launcher->kill();
        }
        launchers.clear();
        QTRY_VERIFY_WITH_TIMEOUT(launcherWindows().isEmpty(), kTimeout);
        dir.reset();
    }

    void cleanupTestCase() {
        if (display)
            XCloseDisplay(display);
        desktop.stop();
    }

    // The window's process ends once the game runs; the game runs on, held by the watcher; its
    // end brings the window back maximised, ready, the realm the player played checked.
    void windowLeavesAndComesBack_data() {
        QTest::addColumn<QByteArray>("gameSettings");
        QTest::addColumn<QByteArray>("watcherBeside");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("game played") << QByteArray() << QByteArray() << kReady << false;
        QTest::newRow("game ended at once: said in the window that comes back")
            << QByteArray("exit-code=3\nseconds=1\n") << QByteArray()
            << QString::fromUtf8("Le jeu s'est arrêté aussitôt (code 3).") << false;
        // What a self-update leaves: a new launcher beside the watcher of the old one.
        QTest::newRow("another watcher beside the launcher: its own replaces it")
            << QByteArray() << QByteArray("#!/bin/sh\nexit 0\n") << kReady << false;
        // As a package manager updates it: a new file under the launcher's name while the game
        // runs, which is the launcher that comes back.
        QTest::newRow("launcher replaced while the game runs: the new one comes back")
            << QByteArray() << QByteArray() << kReady << true;
    }
    void windowLeavesAndComesBack() {
        QFETCH(QByteArray, gameSettings);
        QFETCH(QByteArray, watcherBeside);
        QFETCH(QString, status);
        QFETCH(bool, replaced);
        layOut(gameSettings);
        const QString watcherFile = folder() + "/VestrahalWatcher.exe";
        if (!watcherBeside.isEmpty()) {
            writeFile(watcherFile, watcherBeside);
            QVERIFY(QFile::setPermissions(watcherFile,
                                          QFile::permissions(watcherFile) | QFile::ExeOwner));
        }
        QProcess& window = startLauncher();
        const qint64 windowId = window.processId();
        qint64 game = 0;
        playFrom(window, game);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(!alive(windowId));
        // Replaced as soon as the window has gone, while the game plays.
        const QString comesBack = folder() + "/came-back";
        if (replaced) {
            const QString executable = folder() + "/VestrahalLauncher.exe";
            const QString part = executable + ".new";
            writeFile(part,
                      "#!/bin/sh\n: >came-back\nexec '" + QByteArray(LAUNCHER_PATH) + "' \"$@\"\n");
            QVERIFY(QFile::setPermissions(part, QFile::permissions(part) | QFile::ExeOwner));
            QCOMPARE(::rename(QFile::encodeName(part).constData(),
                              QFile::encodeName(executable).constData()),
                     0);
        }
        const bool played = status == kReady;
        if (played) {
            // Held by the watcher, never left to the system alone; nothing of the window's is
            // left behind meanwhile.
            QVERIFY(alive(game));
            QCOMPARE(parentOf(game), watcherPid());
            QTRY_VERIFY_WITH_TIMEOUT(engineHelpersIn(folder()).isEmpty(), kTimeout);
            QVERIFY(alive(game));
            endPlayedGame(game);
        }
        QCOMPARE(readFile(watcherFile), readFile(QStringLiteral(WATCHER_PATH)));

        QTRY_COMPARE_WITH_TIMEOUT(launcherWindows().size(), 1, kTimeout);
        const Window back = launcherWindows().first();
        QVERIFY(windowPid(back) != windowId);
        QVERIFY(maximised(back));
        QVERIFY(becomesReady(status));
        QCOMPARE(shown().checkedRealm, kChosenRealm);
        QCOMPARE(QFile::exists(comesBack), replaced);
        QVERIFY(!alive(game));
        const QByteArray log = readFile(folder() + "/errors.log");
        if (played) {
            QVERIFY2(!QFile::exists(folder() + "/errors.log"), log.constData());
        } else {
            QVERIFY2(log.count('\n') == 1 &&
                         log.contains(" : " + wotlk().toUtf8() + "/Wow.exe ended ") &&
                         log.endsWith(", exit code 3\n"),
                     log.constData());
        }
        // The watcher goes once the window has heard.
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(folder() + "/" + kWatcherLock), kTimeout);
        QCOMPARE(launcherWindows().size(), 1);
    }

    // A game program that is not there: the window stays, says so, and may try again.
    void gameThatCannotStartLeavesTheWindow() {
        layOut({}, false);
        QProcess& window = startLauncher();
        QVERIFY(becomesReady());
        QVERIFY(press("Jouer"));
        QVERIFY(becomesReady(kCode1));
        QCOMPARE(window.state(), QProcess::Running);
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(folder() + "/" + kWatcherLock), kTimeout);
        QVERIFY(!QFile::exists(folder() + "/errors.log"));
    }

    // A launcher started while the game runs opens its window at once, "Jouer" shut; a third
    // start calls it to the front. Its window turns ready in place when the game ends, or when
    // the watcher is killed (nobody could tell it the end any more); closed meanwhile, it leaves
    // the game running, and the launcher comes back at the game's end.
    void secondStartWhileTheGameRuns_data() {
        QTest::addColumn<QString>("meanwhile");
        QTest::newRow("the game ends: ready in place") << "";
        QTest::newRow("the window closed: the game runs on") << "close";
        QTest::newRow("the watcher killed: ready in place, the game runs on") << "kill";
    }
    void secondStartWhileTheGameRuns() {
        QFETCH(QString, meanwhile);
        layOut({});
        QProcess& first = startLauncher();
        qint64 game = 0;
        playFrom(first, game);
        if (QTest::currentTestFailed())
            return;

        QProcess& second = startLauncher();
        QVERIFY(becomes([](const Shown& seen) {
            return seen.present && seen.status == kStarted && !seen.playOpen;
        }));
        QProcess& third = startLauncher();
        QVERIFY(third.waitForFinished(kTimeout));
        QCOMPARE(third.exitCode(), 0);
        QCOMPARE(launcherWindows().size(), 1);
        QCOMPARE(windowPid(launcherWindows().first()), second.processId());

        if (meanwhile == "close") {
            const qint64 secondId = second.processId();
            closeWindow(launcherWindows().first());
            QVERIFY(second.waitForFinished(kTimeout));
            QVERIFY(alive(game));
            endPlayedGame(game);
            QTRY_COMPARE_WITH_TIMEOUT(launcherWindows().size(), 1, kTimeout);
            QVERIFY(windowPid(launcherWindows().first()) != secondId);
            QVERIFY(maximised(launcherWindows().first()));
            QVERIFY(becomesReady());
        } else if (meanwhile == "kill") {
            const qint64 watcher = watcherPid();
            QCOMPARE(::kill(pid_t(watcher), SIGKILL), 0);
            QVERIFY(becomesReady());
            QVERIFY(alive(game));
            QCOMPARE(second.state(), QProcess::Running);
        } else {
            endPlayedGame(game);
            QVERIFY(becomesReady());
            QVERIFY(!alive(game));
            QCOMPARE(second.state(), QProcess::Running);
        }
        stopGame(wotlk(), "Wow.exe");
        QTRY_VERIFY_WITH_TIMEOUT(!alive(game), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!alive(watcherPid()), kTimeout);
        QCOMPARE(launcherWindows().size(), 1);
    }

    // Killed, the watcher takes nothing with it: the game runs on, and the next start of the
    // launcher is an ordinary one.
    void watcherKilledLeavesTheGame() {
        layOut({});
        QProcess& window = startLauncher();
        qint64 game = 0;
        playFrom(window, game);
        if (QTest::currentTestFailed())
            return;
        const qint64 watcher = watcherPid();
        QVERIFY(alive(watcher));
        QCOMPARE(::kill(pid_t(watcher), SIGKILL), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!alive(watcher), kTimeout);
        QVERIFY(alive(game));
        QProcess& next = startLauncher();
        QVERIFY(becomesReady());
        QVERIFY(alive(game));
        stopGame(wotlk(), "Wow.exe");
        QTRY_VERIFY_WITH_TIMEOUT(!alive(game), kTimeout);
        QCOMPARE(launcherWindows().size(), 1);
        QCOMPARE(windowPid(launcherWindows().first()), next.processId());
    }

    // The launcher cannot come back after the game: one line in errors.log, and the watcher
    // ends, never trying again.
    void launcherThatCannotComeBack_data() {
        QTest::addColumn<QByteArray>("launcher");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("launcher gone")
            << QByteArray() << QByteArray(" could not be started again after the game: ");
        QTest::newRow("launcher that ends at once")
            << QByteArray("#!/bin/sh\nexit 1\n")
            << QByteArray(" ended before its window came back after the game\n");
    }
    void launcherThatCannotComeBack() {
        QFETCH(QByteArray, launcher);
        QFETCH(QByteArray, line);
        layOut({});
        QProcess& window = startLauncher();
        qint64 game = 0;
        playFrom(window, game);
        if (QTest::currentTestFailed())
            return;
        const QString executable = folder() + "/VestrahalLauncher.exe";
        QVERIFY(QFile::remove(executable));
        if (!launcher.isEmpty()) {
            writeFile(executable, launcher);
            QVERIFY(QFile::setPermissions(executable,
                                          QFile::permissions(executable) | QFile::ExeOwner));
        }
        stopGame(wotlk(), "Wow.exe");
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(folder() + "/" + kWatcherLock), kTimeout);
        const QByteArray log = readFile(folder() + "/errors.log");
        QCOMPARE(log.count(executable.toUtf8()), 1);
        QVERIFY2(log.contains(" : " + executable.toUtf8() + line), log.constData());
        QVERIFY(launcherWindows().isEmpty());
    }

private:
    QProcessEnvironment session;
    DesktopSession desktop;
    Display* display = nullptr;
    CommunityServer server;
    std::unique_ptr<QTemporaryDir> dir;
    std::vector<std::unique_ptr<QProcess>> launchers;
};

QTEST_MAIN(WatcherTest)
#include "tst_watcher.moc"
