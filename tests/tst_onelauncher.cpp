// One launcher per folder: the lock, the call to the first launcher's window, and the real
// program started twice in one folder while it updates itself.
#include "buildoptions.h"
#include "communityserver.h"
#include "singlelauncher.h"
#include "testfiles.h"
#include "testsupport.h"
#include "updater.h"

#include <QDateTime>
#include <QLocalServer>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

namespace {

constexpr int kTimeout = 30000;
const QByteArray kVersionPath = "/launcher/version.php";
const QByteArray kDownloadPath = updater::downloadPath().toLatin1();
const QString kExe = QString::fromLatin1(vestrahal::kExecutableName);
const QString kPartial = kExe + ".new";
const QString kReport = QString::fromLatin1(vestrahal::kReportFileName);

bool signedBuild() {
    return vestrahal::kUpdatePublicKey[0] != '\0';
}

#if defined(LAUNCHER_PATH) && defined(Q_OS_LINUX)
QByteArray storedVersion() {
    return readTextFile("launcher.conf").split('\n').value(8);
}
#endif

} // namespace

class OneLauncherTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { routeThroughCommunityServer(server); }

    void init() {
        dir.reset(new QTemporaryDir);
        QVERIFY(QDir::setCurrent(dir->path()));
        server.clearRequests();
        server.clearReplies();
    }
    void cleanup() { QDir::setCurrent(QDir::tempPath()); }

    // The first launcher of a folder holds it; a later one is refused and calls the first
    // one's window to the front; once the first is gone, the folder is free again.
    void secondLauncherCallsTheFirst() {
        auto first = std::make_unique<SingleLauncher>(QDir::currentPath());
        QSignalSpy raised(first.get(), &SingleLauncher::raiseRequested);
        QVERIFY(first->claim());
        QVERIFY(QFile::exists(SingleLauncher::lockFileName()));

        // The same folder reached through another path is the same folder. The second launcher
        // asks from a thread of its own, as from a process of its own: its message waits for the
        // first one's loop to read it (Windows' pipes keep no bytes that nobody reads).
        QVERIFY(QDir().mkdir("sous"));
        const QString samePath = QDir::current().filePath("sous/..");
        std::atomic<int> secondClaimed{-1};
        std::thread secondProcess([&samePath, &secondClaimed] {
            SingleLauncher second(samePath);
            secondClaimed = second.claim() ? 1 : 0;
        });
        // Its waits are bounded: a failed check below still ends it.
        const auto joined = qScopeGuard([&secondProcess] { secondProcess.join(); });
        QTRY_VERIFY_WITH_TIMEOUT(secondClaimed != -1, kTimeout);
        QCOMPARE(int(secondClaimed), 0);
        QTRY_COMPARE_WITH_TIMEOUT(raised.size(), 1, kTimeout);

        // Another folder has a launcher of its own.
        SingleLauncher elsewhere(QDir::current().filePath("sous"));
        QVERIFY(elsewhere.claim());
        QCOMPARE(raised.size(), 1);

        first.reset();
        QVERIFY(!QFile::exists(SingleLauncher::lockFileName()));
        SingleLauncher third(QDir::currentPath());
        QVERIFY(third.claim());
    }

    // A launcher that was killed leaves its lock and its listening name behind: the next one
    // takes both over, and a later one still reaches it.
    void killedLaunchersLockIsTakenOver() {
#ifdef Q_OS_UNIX
        // A lock held by a process that is gone: written by a shell that then ends.
        QProcess holder;
        holder.start("sh", {"-c", "echo $$"});
        QVERIFY(holder.waitForFinished(kTimeout));
        const QByteArray deadPid = holder.readAllStandardOutput().trimmed();
        QVERIFY(!deadPid.isEmpty());
        writeFile(SingleLauncher::lockFileName(),
                  deadPid + "\n" + QCoreApplication::applicationName().toUtf8() + "\n" +
                      QSysInfo::machineHostName().toUtf8() + "\n");
        // And the listening name it had, still there as a file.
        QLocalServer leftover;
        leftover.setSocketOptions(QLocalServer::UserAccessOption);
        QVERIFY(leftover.listen(SingleLauncher::serverName(QDir::currentPath())));
        const QString socketFile = leftover.fullServerName();
        leftover.close();
        if (!QFile::exists(socketFile))
            writeFile(socketFile, "");

        SingleLauncher next(QDir::currentPath());
        QSignalSpy raised(&next, &SingleLauncher::raiseRequested);
        QVERIFY(next.claim());
        SingleLauncher later(QDir::currentPath());
        QVERIFY(!later.claim());
        QTRY_COMPARE_WITH_TIMEOUT(raised.size(), 1, kTimeout);
#else
        QSKIP("writes a lock of a process that is gone the way Unix systems name processes");
#endif
    }

    // A lock written by a launcher on another computer (the folder on a shared drive), an hour
    // into its update: whether that launcher still runs cannot be told from here, and its lock
    // stays its own however old it is.
    void lockOfAnotherComputerIsNotTakenOver() {
        writeFile(SingleLauncher::lockFileName(),
                  QByteArray::number(QCoreApplication::applicationPid()) + "\n" +
                      QCoreApplication::applicationName().toUtf8() + "\nautre-poste\n");
        QFile lock(SingleLauncher::lockFileName());
        QVERIFY(lock.open(QIODevice::ReadWrite));
        QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                 QFileDevice::FileModificationTime));
        lock.close();

        SingleLauncher next(QDir::currentPath());
        QVERIFY(!next.claim());
        QVERIFY(readFile(SingleLauncher::lockFileName()).contains("autre-poste"));
    }

    // The real launcher started a second time in its folder while it downloads its update:
    // the second one leaves at once without asking anything, and the first one's update ends
    // whole, its report all [OK].
    void secondLauncherDuringAnUpdateLeavesAtOnce() {
        if (httpsBuild() || signedBuild())
            QSKIP("the real launcher trusts the system's authorities only, never the tests' one");
#if defined(LAUNCHER_PATH) && defined(Q_OS_LINUX)
        const QByteArray oldLauncher = readFile(LAUNCHER_PATH);
        QVERIFY(oldLauncher.size() > 100000);
        const QByteArray newLauncher = oldLauncher + QByteArray(300000, 'n');
        writeFile("launcher.conf", "1\n/jeux/wotlk\n0\n\n0\n |0\n |0\n |0\n1.4\n");
        writeFile(kExe, oldLauncher);
        QVERIFY(QFile::setPermissions(kExe, QFile::permissions(kExe) | QFile::ExeOwner));
        server.setReply(kVersionPath, {200, "text/plain", "1.5"});
        // Over a couple of seconds, so that the second launcher starts halfway.
        server.setReply(kDownloadPath, {200, "application/octet-stream", newLauncher,
                                        CommunityServer::Reply::Trickle, 0, 100000});

        QProcess first;
        startRealLauncher(first);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(kPartial).size() > 300000, kTimeout);
        const qint64 halfway = QFileInfo(kPartial).size();
        QVERIFY(halfway < newLauncher.size());

        QProcess second;
        startRealLauncher(second);
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, kTimeout);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        // It left while the first one still downloads, and asked nothing of the server.
        QVERIFY(QFileInfo(kPartial).size() < newLauncher.size());
        QCOMPARE(readFile(kExe), oldLauncher);
        QCOMPARE(server.requestsFor(kVersionPath).size(), 2);
        QCOMPARE(server.requestsFor(kDownloadPath).size(), 1);

        // The first one ends its update whole and waits on its success box.
        QTRY_VERIFY_WITH_TIMEOUT(readFile(kReport).contains("Writting"), 2 * kTimeout);
        QCOMPARE(first.state(), QProcess::Running);
        first.kill();
        QTRY_COMPARE_WITH_TIMEOUT(first.state(), QProcess::NotRunning, kTimeout);
        QCOMPARE(readFile(kExe), newLauncher);
        QCOMPARE(readFile(kExe + ".bak"), oldLauncher);
        QVERIFY(!QFile::exists(kPartial));
        QCOMPARE(storedVersion(), QByteArray("1.5"));
        const QString report = QString::fromLocal8Bit(readFile(kReport));
        QCOMPARE(report.count("----------------------------------------------------------\n"), 1);
        QVERIFY2(report.contains("Downloading " + QString::number(newLauncher.size()) +
                                 " Bytes ............ [OK] HTTP 200\n"
                                 "Creation of the file ................ [OK]\n"
                                 "Writting of the file ................ [OK]\n"),
                 qPrintable(report));

        // Killed, the first one left its lock: the next start takes it over and asks again.
        server.clearRequests();
        server.setReply(kVersionPath, {200, "text/plain", "1.5"});
        QProcess restarted;
        startRealLauncher(restarted);
        QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor(kVersionPath).isEmpty(), 2 * kTimeout);
        restarted.kill();
        QTRY_COMPARE_WITH_TIMEOUT(restarted.state(), QProcess::NotRunning, kTimeout);
#else
        QSKIP("starts the real launcher with a proxy from its environment: Linux only");
#endif
    }

private:
    // The launcher follows the system's proxy, which is how it reaches this test's server.
    void startRealLauncher(QProcess& launcher) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("http_proxy", QString("http://127.0.0.1:%1").arg(server.serverPort()));
        environment.remove("no_proxy");
        environment.remove("NO_PROXY");
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        launcher.setProcessEnvironment(environment);
        launcher.setWorkingDirectory(QDir::currentPath());
        launcher.setStandardOutputFile(QProcess::nullDevice());
        launcher.setStandardErrorFile(QProcess::nullDevice());
        launcher.start(QDir::current().absoluteFilePath(kExe), {});
        QVERIFY2(launcher.waitForStarted(kTimeout), qPrintable(launcher.errorString()));
    }

    CommunityServer server;
    std::unique_ptr<QTemporaryDir> dir;
};

QTEST_MAIN(OneLauncherTest)
#include "tst_onelauncher.moc"
