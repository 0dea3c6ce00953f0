// A launcher built with a game runner (wine, for a Linux player) starts the runner with the game
// program's full path as its only argument. This suite's launcher names "wine", found through a
// PATH of the suite's own as a player's wine is; the fake client stands in for it, records its
// arguments and says what Debian's Wine says (tests/wine/).
#include "buildoptions.h"
#include "fakegame.h"
#include "gamefolder.h"
#include "gamesession.h"
#include "mainwindow.h"
#include "runnerdiagnosis.h"
#include "testsupport.h"
#include "windowsupport.h"

#include <QJsonArray>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

constexpr int kTimeout = 30000;
#ifdef Q_OS_WIN
const QString kRunner = QStringLiteral("wine.exe");
#else
const QString kRunner = QStringLiteral("wine");
#endif
// What Debian 12's Wine 8.0 without wine32:i386 prints for a 32-bit program.
const QString kWineWords = QStringLiteral(VESTRAHAL_SOURCE_DIR "/tests/wine/wine32-missing");
const QString kNoWine = QString::fromUtf8("Wine n'est pas installé : installez le paquet wine.");
const QString kNo32Bit =
    QString::fromUtf8("Wine ne peut pas lancer ce jeu 32 bits : installez le paquet wine32:i386.");

} // namespace

class GameRunnerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        routeThroughCommunityServer(server);
        server.setReply("/launcher/version.php",
                        {200, "text/plain", {}, CommunityServer::Reply::Silent});
        QCOMPARE(gamefolder::gameRunner(), QStringLiteral("wine"));
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
        // The runner is this folder's or none, whatever wine the machine has.
        qputenv("PATH", QFile::encodeName(runnerDir));
    }
    void cleanup() {
        qputenv("PATH", pathBefore);
        QDir::setCurrent(QDir::tempPath());
    }

    void runnerIsGivenTheGame_data() {
        QTest::addColumn<bool>("runnerFound");
        QTest::addColumn<bool>("gameFound");
        QTest::newRow("runner and game: the runner starts the game") << true << true;
        QTest::newRow("runner not found: Wine is to be installed") << false << true;
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
            QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), runnerFound ? kCode1 : kNoWine,
                                      kTimeout);
            const QByteArray log = readFile("errors.log");
            if (runnerFound) {
                QVERIFY(!QFile::exists("errors.log"));
            } else {
                QVERIFY2(log.count('\n') == 1 &&
                             log.endsWith(" : wine not found, " + wotlk.toUtf8() +
                                          "/Wow.exe not started\n"),
                         log.constData());
            }
            // The player may try again once the runner or the game is there.
            QVERIFY(ui(window)->Jouer->isEnabled());
            QVERIFY(!window.isMinimized());
            QVERIFY(startRecord(runnerDir, kRunner).isEmpty());
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(!startRecord(runnerDir, kRunner).isEmpty(), kTimeout);
        const QJsonObject record = startRecord(runnerDir, kRunner);
        // One argument, the whole path, spaces and all; in the game's folder.
        QCOMPARE(record["arguments"].toArray(), QJsonArray{wotlk + "/Wow.exe"});
        QCOMPARE(record["workingDirectory"].toString(), wotlk);
        // The realmlist was written before the runner started.
        QCOMPARE(readFile(wotlk + "/Data/frFR/realmlist.wtf"),
                 QByteArray("set realmlist ") + vestrahal::kLogonHost);
        // The runner, not the launcher, starts the game program.
        QVERIFY(startRecord(wotlk, "Wow.exe").isEmpty());
#ifdef Q_OS_UNIX
        // Its error output is read by the launcher's process, which may go first (its watcher
        // killed): its next words must not end the game.
        QVERIFY(record["sigpipeIgnored"].toBool());
#endif
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kStarted, kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(window.isMinimized(), kTimeout);

        // The runner's end is the game's end.
        stopGame(runnerDir, kRunner);
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kReady, kTimeout);
        QVERIFY(ui(window)->Jouer->isEnabled());
        QVERIFY(window.isMaximized());
    }

    // Wine says on its error output why a game stopped at once; the player is told that, and
    // only for a game that stopped at once.
    void runnerSaysWhyTheGameStopped_data() {
        QTest::addColumn<QByteArray>("errorOutput");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("logEnd");
        const QByteArray words = readFile(kWineWords + ".stderr");
        QTest::newRow("Wine without 32-bit support")
            << words << GameSession::kDefaultQuickExitLimit << kNo32Bit
            << QByteArray("exit code 1: wine cannot run 32-bit programs (on Debian, as root: dpkg "
                          "--add-architecture i386 && apt-get update && apt-get install "
                          "wine32:i386)\n");
        // Debian's wine64 says so before every program, those that run too.
        QTest::newRow("only Debian's hint: another reason")
            << words.left(words.indexOf("0050:")) << GameSession::kDefaultQuickExitLimit
            << QString::fromUtf8("Le jeu s'est arrêté aussitôt (code 1).")
            << QByteArray("exit code 1\n");
        // Wine makes a new prefix before it looks at the program: longer than the window.
        QTest::newRow("Wine without 32-bit support, first start")
            << words << 1 << kNo32Bit
            << QByteArray("exit code 1: wine cannot run 32-bit programs (on Debian, as root: dpkg "
                          "--add-architecture i386 && apt-get update && apt-get install "
                          "wine32:i386)\n");
        QTest::newRow("a game that ran: nothing to say")
            << words.left(words.indexOf("0050:")) << 1 << kReady << QByteArray();
    }
    void runnerSaysWhyTheGameStopped() {
        QFETCH(QByteArray, errorOutput);
        QFETCH(int, limit);
        QFETCH(QByteArray, logEnd);
        makeGame(wotlk, {"Wow.exe"});
        QVERIFY(QFile::copy(QStringLiteral(FAKEGAME_PATH), runnerDir + "/" + kRunner));
        writeFile(runnerDir + "/stderr", errorOutput);
        writeFile(runnerDir + "/fakegame.ini",
                  "[General]\nexit-code=1\nseconds=1\nstdout=" +
                      QFile::encodeName(kWineWords + ".stdout") +
                      "\nstderr=" + QFile::encodeName(runnerDir + "/stderr") + "\n");
        writeFile("launcher.conf", "1\n" + wotlk.toUtf8() + "\n0\n\n0\n |0\n |0\n |0\n1.0\n");
        server.setReply("/launcher/version.php", {200, "text/plain", "1.0"});
        MainWindow window;
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        auto* session = window.findChild<GameSession*>();
        session->setQuickExitLimit(limit);
        QSignalSpy ended(session, &GameSession::ended);
        QVERIFY(QMetaObject::invokeMethod(&window, "on_Jouer_clicked"));
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        QTEST(ui(window)->Texte->text(), "text");
        // Whole on the status line, not cut.
        QLabel* status = ui(window)->Texte;
        QVERIFY(status->fontMetrics().horizontalAdvance(status->text()) <=
                status->contentsRect().width());
        // One line, in the launcher's folder, never in the game's.
        const QByteArray log = readFile("errors.log");
        if (logEnd.isEmpty()) {
            QVERIFY(!QFile::exists("errors.log"));
        } else {
            QVERIFY2(log.count('\n') == 1 &&
                         log.contains(" : " + wotlk.toUtf8() + "/Wow.exe ended ") &&
                         log.endsWith(logEnd),
                     log.constData());
        }
        QVERIFY(!QFile::exists(wotlk + "/errors.log"));
    }

    // A game plays for hours: whatever its runner prints, nothing is kept and nothing waits.
    void runnerOutputIsNotKept() {
        makeGame(wotlk, {"Wow.exe"});
        QVERIFY(QFile::copy(QStringLiteral(FAKEGAME_PATH), runnerDir + "/" + kRunner));
        // Megabytes, as a chatty Wine prints in hours: left in the process's buffer, they would
        // stay in the launcher's memory for as long as the game runs.
        writeFile(runnerDir + "/fakegame.ini", "[General]\noutput=4194304\n");
        writeFile("launcher.conf", "1\n" + wotlk.toUtf8() + "\n0\n\n0\n |0\n |0\n |0\n1.0\n");
        server.setReply("/launcher/version.php", {200, "text/plain", "1.0"});
        MainWindow window;
        auto* session = window.findChild<GameSession*>();
        session->setQuickExitLimit(1);
        QVERIFY(QMetaObject::invokeMethod(&window, "on_Jouer_clicked"));
        QTRY_VERIFY_WITH_TIMEOUT(!startRecord(runnerDir, kRunner).isEmpty(), kTimeout);
        stopGame(runnerDir, kRunner);
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kReady, kTimeout);
        auto* game = session->findChild<QProcess*>();
        QCOMPARE(game->readAllStandardError().size(), 0);
        QCOMPARE(game->readAllStandardOutput().size(), 0);
    }

    // Wine's words may come cut anywhere; what is held stays as small as the words.
    void runnerOutputInPieces_data() {
        QTest::addColumn<int>("piece");
        QTest::newRow("a byte at a time") << 1;
        QTest::newRow("cut every 7 bytes") << 7;
    }
    void runnerOutputInPieces() {
        QFETCH(int, piece);
        const QByteArray output = QByteArray(65536, 'x') + readFile(kWineWords + ".stderr");
        RunnerOutput runner;
        for (qsizetype at = 0; at < output.size(); at += piece) {
            runner.read(output.mid(at, piece));
            QVERIFY(runner.heldBytes() < 64);
        }
        QVERIFY(runner.lacks32BitSupport());
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
