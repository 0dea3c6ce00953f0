// A launcher built with a game runner (wine, for a Linux player) starts the runner with the game
// program's full path as its only argument. This suite's launcher names "vestrahal-test-runner",
// found through PATH as wine is; the fake client stands in for it and records its arguments.
#include "buildoptions.h"
#include "fakegame.h"
#include "gamefolder.h"
#include "gamesession.h"
#include "mainwindow.h"
#include "testsupport.h"
#include "windowsupport.h"

#include <QJsonArray>
#include <QRadioButton>
#include <QTemporaryDir>

namespace {

constexpr int kTimeout = 30000;
#ifdef Q_OS_WIN
const QString kRunner = QStringLiteral("vestrahal-test-runner.exe");
#else
const QString kRunner = QStringLiteral("vestrahal-test-runner");
#endif

} // namespace

class GameRunnerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        routeThroughCommunityServer(server);
        server.setReply("/launcher/version.php",
                        {200, "text/plain", {}, CommunityServer::Reply::Silent});
        QCOMPARE(gamefolder::gameRunner(), QStringLiteral("vestrahal-test-runner"));
        pathBefore = qgetenv("PATH");
    }

    void init() {
        server.setReply("/launcher/version.php",
                        {200, "text/plain", {}, CommunityServer::Reply::Silent});
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
        launcherDir = dir->path() + "/Vestrahal Launcher";
        runnerDir = dir->path() + "/bin";
        wotlk = dir->path() + "/Jeux/World of Warcraft 3.3.5";
        QVERIFY(QDir().mkpath(launcherDir));
        QVERIFY(QDir().mkpath(runnerDir));
        QVERIFY(QDir::setCurrent(launcherDir));
        qputenv("PATH",
                QFile::encodeName(runnerDir) + QDir::listSeparator().toLatin1() + pathBefore);
    }
    void cleanup() {
        qputenv("PATH", pathBefore);
        QDir::setCurrent(QDir::tempPath());
    }

    void runnerIsGivenTheGame_data() {
        QTest::addColumn<bool>("runnerFound");
        QTest::addColumn<bool>("gameFound");
        QTest::newRow("runner and game: the runner starts the game") << true << true;
        QTest::newRow("runner not found: Code 1") << false << true;
        QTest::newRow("game not found: Code 1, the runner is not started") << true << false;
    }
    void runnerIsGivenTheGame() {
        QFETCH(bool, runnerFound);
        QFETCH(bool, gameFound);
        makeGame(wotlk, gameFound ? QStringList{"Wow.exe"} : QStringList{});
        if (runnerFound)
            QVERIFY(QFile::copy(QStringLiteral(FAKEGAME_PATH), runnerDir + "/" + kRunner));
        writeFile("launcher.conf", "1\n" + wotlk.toUtf8() + "\n0\n\n0\n |0\n |0\n |0\n1.0\n");
        // The launcher current and its news shown: "Jouer" is open.
        server.setReply("/launcher/version.php", {200, "text/plain", "1.0"});
        MainWindow window;
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(!ui(window)->Web->isHidden(), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        ui(window)->radioButton->setChecked(true);
        // However short the runner's game, it counts as played here.
        window.findChild<GameSession*>()->setQuickExitLimit(1);
        QVERIFY(QMetaObject::invokeMethod(&window, "on_Jouer_clicked"));

        if (!runnerFound || !gameFound) {
            QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kCode1, kTimeout);
            // The player may try again once the runner or the game is there.
            QVERIFY(ui(window)->Jouer->isEnabled());
            QVERIFY(!window.isMinimized());
            QVERIFY(startRecord(runnerDir, kRunner).isEmpty());
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(!startRecord(runnerDir, kRunner).isEmpty(), kTimeout);
        const QJsonObject record = startRecord(runnerDir, kRunner);
        // One argument, the whole path, spaces and all; in the launcher's folder.
        QCOMPARE(record["arguments"].toArray(), QJsonArray{wotlk + "/Wow.exe"});
        QCOMPARE(record["workingDirectory"].toString(), launcherDir);
        // The realmlist was written before the runner started.
        QCOMPARE(readFile(wotlk + "/Data/frFR/realmlist.wtf"),
                 QByteArray("set realmlist ") + vestrahal::kLogonHost);
        // The runner, not the launcher, starts the game program.
        QVERIFY(startRecord(wotlk, "Wow.exe").isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kStarted, kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(window.isMinimized(), kTimeout);

        // The runner's end is the game's end.
        stopGame(runnerDir, kRunner);
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kReady, kTimeout);
        QVERIFY(ui(window)->Jouer->isEnabled());
        QVERIFY(window.isMaximized());
    }

private:
    CommunityServer server;
    QScopedPointer<QTemporaryDir> dir;
    QByteArray pathBefore;
    QString launcherDir;
    QString runnerDir;
    QString wotlk;
};

QTEST_MAIN(GameRunnerTest)
#include "tst_gamerunner.moc"
