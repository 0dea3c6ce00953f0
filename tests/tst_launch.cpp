#include "buildoptions.h"
#include "fakegame.h"
#include "gamesession.h"
#include "gamewatch.h"
#include "heaptrim.h"
#include "localchannel.h"
#include "mainwindow.h"
#include "newspage.h"
#include "newsview.h"
#include "playgate.h"
#include "realmstatus.h"
#include "testfiles.h"
#include "testsupport.h"
#include "windowsupport.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <cstring>
#include <vector>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr int kTimeout = 30000;

// The folder's watcher as the launcher it starts again after the game finds it: the game over.
// In a thread of its own, since the window asks it before its event loop runs.
class EndedWatcher : public QThread {
public:
    EndedWatcher(const QString& folder, const gamewatch::GameEnd& end)
        : name(gamewatch::serverName(folder))
        , end(end) {}
    // Listening, or false.
    bool begin() {
        start();
        listening.acquire();
        return ready;
    }
    ~EndedWatcher() override {
        quit();
        wait();
    }

private:
    void run() override {
        LocalListener listener;
        ready = listener.listen(name);
        connect(&listener, &LocalListener::connected, &listener, [this](LocalPeer* window) {
            connect(window, &LocalPeer::lineReceived, window,
                    [this, window](const QByteArray& line) {
                        if (gamewatch::typeOf(gamewatch::parse(line)) == QLatin1String("hello"))
                            window->send(
                                gamewatch::line(QStringLiteral("ended"), gamewatch::toJson(end)));
                    });
        });
        listening.release();
        if (ready)
            exec();
    }

    const QString name;
    const gamewatch::GameEnd end;
    QSemaphore listening;
    bool ready = false;
};

} // namespace

class LaunchTest : public QObject {
    Q_OBJECT

    static GameSession* session(MainWindow& window) { return window.findChild<GameSession*>(); }
    // The process of the game started last.
    static QProcess* currentGame(MainWindow& window) {
        const auto games = session(window)->findChildren<QProcess*>(Qt::FindDirectChildrenOnly);
        return games.isEmpty() ? nullptr : games.last();
    }
    // Whether the realm checks are held back, as they must be exactly while a game runs.
    static bool realmChecksPaused(MainWindow& window) {
        auto* status = window.findChild<RealmStatus*>();
        return status && status->isPaused();
    }
    static bool gameRunning(MainWindow& window) {
        return vestrahal::kRealmStatus && session(window)->isRunning();
    }

    // Presses "Jouer" for a realm. However short the game then runs, it counts as played,
    // unless the test gives the limit of a game that ends at once.
    void play(MainWindow& window, int realm, int quickExitLimit = 1) {
        session(window)->setQuickExitLimit(quickExitLimit);
        ui(window)->realms()[realm]->setChecked(true);
        QVERIFY(QMetaObject::invokeMethod(&window, "on_Jouer_clicked"));
    }

    void writeConf(const QByteArray& personalRealms = " |0\n |0\n |0\n", char selected = '0') {
        writeFile("launcher.conf", "1\n" + wotlk.toUtf8() + "\n1\n" + cata.toUtf8() + "\n" +
                                       selected + "\n" + personalRealms + "1.0\n");
    }
    // The realm launcher.conf holds once the options are saved.
    static char savedRealm(MainWindow& window) {
        ui(window)->SauvegarderOptions->click();
        const QByteArray line = readFile("launcher.conf").split('\n').value(4);
        return line.isEmpty() ? '?' : line.at(0);
    }

    // The server answers the version launcher.conf holds; once the news is shown too, "Jouer"
    // is open, as at a player's usual start.
    void answerCurrent() { server.setReply("/launcher/version.php", {200, "text/plain", "1.0"}); }
    static void waitUntilReady(MainWindow& window) {
        QTRY_VERIFY_WITH_TIMEOUT(!ui(window)->Web->isHidden(), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
    }

private slots:
    void initTestCase() {
        routeThroughCommunityServer(server);
        // The version check never answers: these tests are about playing.
        server.setReply("/launcher/version.php",
                        {200, "text/plain", {}, CommunityServer::Reply::Silent});
    }

    void init() {
        server.setReply("/launcher/version.php",
                        {200, "text/plain", {}, CommunityServer::Reply::Silent});
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
        launcherDir = dir->path() + "/Vestrahal Launcher";
        wotlk = dir->path() + "/Jeux/World of Warcraft 3.3.5";
        cata = dir->path() + "/Jeux/Cataclysm";
        QVERIFY(QDir().mkpath(launcherDir));
        QVERIFY(QDir::setCurrent(launcherDir));
    }
    void cleanup() { QDir::setCurrent(QDir::tempPath()); }

    void eachRealmPlaysItsClient_data() {
        QTest::addColumn<int>("realm");
        QTest::addColumn<bool>("onWotlk");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QByteArray>("realmlist");
        QTest::newRow("Vestrahal realms")
            << 0 << true << "Wow.exe" << QByteArray("set realmlist ") + vestrahal::kLogonHost;
        QTest::newRow("official realms")
            << 1 << false << "Wow.exe"
            << QByteArray("set realmlist ") + vestrahal::kOfficialLogonHost;
        QTest::newRow("Brontavale") << 2 << false << "brontavale.exe"
                                    << QByteArray("set realmlist ") + vestrahal::kPartnerLogonHost;
        QTest::newRow("personal realm on Wrath")
            << 3 << true << "Wow.exe" << QByteArray("set realmlist perso.wotlk.fr");
        QTest::newRow("personal realm on Cataclysm")
            << 4 << false << "brontavale.exe" << QByteArray("set realmlist perso.cata.fr");
        QTest::newRow("empty personal realm: empty realmlist")
            << 5 << false << "brontavale.exe" << QByteArray();
    }
    void eachRealmPlaysItsClient() {
        QFETCH(int, realm);
        QFETCH(bool, onWotlk);
        QFETCH(QString, program);
        QFETCH(QByteArray, realmlist);
        makeGame(wotlk, {"Wow.exe"});
        makeGame(cata, {"Wow.exe", "brontavale.exe"});
        for (const QString& folder : {wotlk, cata}) {
            writeFile(folder + "/realmlist.wtf", "set realmlist vieux.serveur\n");
            writeFile(folder + "/Cache/WDB/frFR/creaturecache.wdb", "old");
            writeFile(folder + "/Data/frFR/realmlist.wtf", "set realmlist ancien.serveur\r\n");
        }
        writeConf("perso.wotlk.fr|1\nperso.cata.fr|0\n |0\n");
        answerCurrent();
        MainWindow window;
        window.show();
        waitUntilReady(window);
        play(window, realm);

        const QString folder = onWotlk ? wotlk : cata;
        const QString other = onWotlk ? cata : wotlk;
        QTRY_VERIFY_WITH_TIMEOUT(!startRecord(folder, program).isEmpty(), kTimeout);
        const QJsonObject record = startRecord(folder, program);
        QCOMPARE(record["program"].toString(), folder + "/" + program);
        QCOMPARE(record["arguments"].toArray().size(), 0);
        // In its own folder, as from its own shortcut; the launcher stays in its own.
        QCOMPARE(record["workingDirectory"].toString(), folder);
        QVERIFY(record["realmlistFound"].toBool());
        QCOMPARE(QByteArray::fromBase64(record["realmlist"].toString().toLatin1()), realmlist);
        // The played folder is prepared; the other one is left alone.
        QVERIFY(!QFile::exists(folder + "/realmlist.wtf"));
        QVERIFY(!QFile::exists(folder + "/Cache/WDB/frFR/creaturecache.wdb"));
        QVERIFY(QFile::exists(other + "/realmlist.wtf"));
        QVERIFY(QFile::exists(other + "/Cache/WDB/frFR/creaturecache.wdb"));

        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kStarted, kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(window.isMinimized(), kTimeout);
        QVERIFY(!ui(window)->Jouer->isEnabled());

        stopGame(folder, program);
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kReady, kTimeout);
        QVERIFY(ui(window)->Jouer->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(window.isMaximized(), kTimeout);
        QVERIFY(!window.isMinimized());
        QCOMPARE(savedRealm(window), char('0' + realm));
        QCOMPARE(QDir::currentPath(), launcherDir);
    }

    // A folder written by hand relative to the launcher's folder still plays, in the game's
    // folder.
    void relativeGameFolderPlays() {
        wotlk = "Jeux/WoTLK";
        makeGame(launcherDir + "/" + wotlk, {"Wow.exe"});
        writeConf();
        answerCurrent();
        MainWindow window;
        play(window, 0);
        const QString folder = launcherDir + "/" + wotlk;
        QTRY_VERIFY_WITH_TIMEOUT(!startRecord(folder, "Wow.exe").isEmpty(), kTimeout);
        QCOMPARE(startRecord(folder, "Wow.exe")["workingDirectory"].toString(), folder);
        stopGame(folder, "Wow.exe");
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kReady, kTimeout);
    }

    void exitCodeOfTheGameDoesNotMatter() {
        makeGame(wotlk, {"Wow.exe"}, "exit-code=3\nseconds=1\n");
        writeConf();
        answerCurrent();
        MainWindow window;
        window.show();
        waitUntilReady(window);
        QSignalSpy ended(session(window), &GameSession::ended);
        play(window, 0);
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kStarted, kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kReady, kTimeout);
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended.first().first().toInt(), 3);
        QVERIFY(ui(window)->Jouer->isEnabled());
        QVERIFY(window.isMaximized());
    }

    // A game that ends within seconds of its start never reached the player: the status line
    // and errors.log say so, with its exit code; a game played for longer is not reported.
    void gameThatEndsAtOnceIsReported_data() {
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("text");
        QTest::newRow("ends at once, code 0")
            << 0 << GameSession::kDefaultQuickExitLimit
            << QString::fromUtf8("Le jeu s'est arrêté aussitôt (code 0).");
        QTest::newRow("ends at once, code 3")
            << 3 << GameSession::kDefaultQuickExitLimit
            << QString::fromUtf8("Le jeu s'est arrêté aussitôt (code 3).");
        QTest::newRow("played longer than the limit") << 3 << 1 << kReady;
    }
    void gameThatEndsAtOnceIsReported() {
        QFETCH(int, exitCode);
        QFETCH(int, limit);
        makeGame(wotlk, {"Wow.exe"}, "exit-code=" + QByteArray::number(exitCode) + "\nseconds=1\n");
        writeConf();
        answerCurrent();
        MainWindow window;
        window.show();
        waitUntilReady(window);
        QSignalSpy ended(session(window), &GameSession::ended);
        QSignalSpy newsLoads(ui(window)->Web->newsPage(), &NewsPage::pageLoadFinished);
        play(window, 0, limit);
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, kTimeout);
        // The news is loaded again after the game: the message stays once it is back.
        if (vestrahal::kRestNewsWhilePlaying)
            QTRY_VERIFY_WITH_TIMEOUT(!newsLoads.isEmpty(), kTimeout);
        QTEST(ui(window)->Texte->text(), "text");
        QVERIFY(ui(window)->Jouer->isEnabled());
        const QByteArray log = readFile("errors.log");
        if (limit == 1) {
            QVERIFY(!QFile::exists("errors.log"));
        } else {
            QVERIFY2(log.contains("Wow.exe ended ") &&
                         log.endsWith(", exit code " + QByteArray::number(exitCode) + "\n"),
                     log.constData());
        }
        // The launcher's report, whatever folder the game ran in.
        QVERIFY(!QFile::exists(wotlk + "/errors.log"));
    }

    void gameOutputIsNotKept() {
        makeGame(wotlk, {"Wow.exe"}, "output=1048576\n");
        writeConf();
        MainWindow window;
        play(window, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!startRecord(wotlk, "Wow.exe").isEmpty(), kTimeout);
        stopGame(wotlk, "Wow.exe");
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kReady, kTimeout);
        QProcess* game = currentGame(window);
        QCOMPARE(game->exitCode(), 0);
        QCOMPARE(game->readAllStandardOutput().size(), 0);
        QCOMPARE(game->readAllStandardError().size(), 0);
    }

    void emptyFolderIsReported_data() {
        QTest::addColumn<int>("realm");
        QTest::addColumn<QString>("text");
        QTest::newRow("Wrath client") << 0
                                      << QString::fromUtf8("Merci de sélectionner un chemin valide "
                                                           "pour WoTLK dans le menu d'options");
        QTest::newRow("Cataclysm client")
            << 2
            << QString::fromUtf8(
                   "Merci de sélectionner un chemin valide pour Cataclysme dans le menu d'options");
    }
    void emptyFolderIsReported() {
        QFETCH(int, realm);
        wotlk.clear();
        cata.clear();
        writeConf(" |0\n |0\n |0\n", '4');
        answerCurrent();
        MainWindow window;
        waitUntilReady(window);
        play(window, realm);
        QTEST(ui(window)->Texte->text(), "text");
        QVERIFY(!currentGame(window));
        QVERIFY(!ui(window)->Jouer->isEnabled());
        QCOMPARE(savedRealm(window), '4');
    }

    void missingRealmlistFolderStopsTheLaunch() {
        makeGame(wotlk, {"Wow.exe"}, {}, false);
        writeFile(wotlk + "/realmlist.wtf", "x");
        writeConf();
        MainWindow window;
        play(window, 0);
        QCOMPARE(ui(window)->Texte->text(),
                 QString::fromUtf8("Une erreur s'est produite lors du changement du realmlist."));
        QVERIFY(!currentGame(window));
        QVERIFY(!QDir(wotlk).exists("Data/frFR"));
        QVERIFY(!QFile::exists(wotlk + "/realmlist.wtf"));
        QVERIFY(!ui(window)->Jouer->isEnabled());
    }

    void missingProgramIsCode1() {
        QVERIFY(QDir().mkpath(cata + "/Data/frFR"));
        writeConf();
        answerCurrent();
        MainWindow window;
        waitUntilReady(window);
        play(window, 2);
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kCode1, kTimeout);
        QVERIFY(!realmChecksPaused(window));
        // The player may try again at once.
        QVERIFY(ui(window)->Jouer->isEnabled());
        QVERIFY(!window.isMinimized());
    }

    void secondLaunchKeepsTheFirstGame() {
        makeGame(wotlk, {"Wow.exe"});
        makeGame(cata, {"Wow.exe"});
        writeConf();
        MainWindow window;
        window.show();
        QVERIFY(!realmChecksPaused(window));
        play(window, 0);
        QCOMPARE(realmChecksPaused(window), gameRunning(window));
        QTRY_COMPARE_WITH_TIMEOUT(currentGame(window)->state(), QProcess::Running, kTimeout);
        QPointer<QProcess> first = currentGame(window);
        play(window, 1);
        QVERIFY(currentGame(window) != first);
        QTRY_COMPARE_WITH_TIMEOUT(currentGame(window)->state(), QProcess::Running, kTimeout);
        QVERIFY(first);
        QCOMPARE(first->state(), QProcess::Running);

        // The first game's end runs the end of a game, and then lets its process object go.
        stopGame(wotlk, "Wow.exe");
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kReady, kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!first, kTimeout);
        QCOMPARE(currentGame(window)->state(), QProcess::Running);
        // The second game still runs: still no check.
        QCOMPARE(realmChecksPaused(window), gameRunning(window));
        stopGame(cata, "Wow.exe");
        QTRY_COMPARE_WITH_TIMEOUT(currentGame(window)->state(), QProcess::NotRunning, kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!realmChecksPaused(window), kTimeout);

        // A later launch releases the finished process object too.
        QPointer<QProcess> finished = currentGame(window);
        play(window, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!finished, kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(currentGame(window)->state(), QProcess::Running, kTimeout);
        stopGame(wotlk, "Wow.exe");
        QTRY_COMPARE_WITH_TIMEOUT(currentGame(window)->state(), QProcess::NotRunning, kTimeout);
    }

    // A folder chosen in the options lets a launch that stopped on its folder be tried again;
    // it never opens "Jouer" on a game still running.
    void folderChosenWhileTheGameRunsKeepsPlayShut() {
        makeGame(wotlk, {"Wow.exe"});
        writeConf();
        answerCurrent();
        MainWindow window;
        window.show();
        waitUntilReady(window);
        play(window, 0);
        QTRY_COMPARE_WITH_TIMEOUT(currentGame(window)->state(), QProcess::Running, kTimeout);
        DialogScript dialogs;
        dialogs.then([this](QWidget* widget) {
            auto* files = qobject_cast<QFileDialog*>(widget);
            QVERIFY(files);
            files->setDirectory(wotlk);
            static_cast<QDialog*>(files)->accept();
        });
        // No marker in the fake game's folder: the player confirms it as an own installation.
        dialogs.then([](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            QVERIFY(box);
            box->button(QMessageBox::Yes)->click();
        });
        ui(window)->Options->click();
        ui(window)->ModifierCheminWoTLK->click();
        QCOMPARE(dialogs.answered(), 2);
        QCOMPARE(ui(window)->CheminWoTLK->text(), wotlk);
        ui(window)->SauvegarderOptions->click();
        QVERIFY(!ui(window)->Jouer->isEnabled());
        QCOMPARE(currentGame(window)->state(), QProcess::Running);
        stopGame(wotlk, "Wow.exe");
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        QCOMPARE(dialogs.unexpected(), 0);
    }

    // While the game runs the news page gives its renderer back; when the game ends the news is
    // loaded again and shown as it was.
    void newsRestsWhileTheGameRuns_data() {
        QTest::addColumn<bool>("failedAtStart");
        QTest::addColumn<bool>("loadingAtLaunch");
        QTest::newRow("news shown") << false << false;
        QTest::newRow("news failed at start: asked again after the game") << true << false;
        QTest::newRow("a load still running at the launch ends unseen") << false << true;
    }
    void newsRestsWhileTheGameRuns() {
        QFETCH(bool, failedAtStart);
        QFETCH(bool, loadingAtLaunch);
        const QByteArray home = "/launcher/launcher.php";
        if (failedAtStart)
            server.setReply(home, {0, "", "", CommunityServer::Reply::Raw});
        makeGame(wotlk, {"Wow.exe"});
        writeConf();
        answerCurrent();
        MainWindow window;
        window.show();
        NewsView* view = ui(window)->Web;
        QTRY_VERIFY_WITH_TIMEOUT(!view->isHidden(), kTimeout);
        if (failedAtStart)
            QTRY_COMPARE_WITH_TIMEOUT(view->url().scheme(), QString("data"), kTimeout);
        const QRect place = view->geometry();
        server.clearReply(home);
        if (loadingAtLaunch) {
            server.setReply(home, {200, "text/html", {}, CommunityServer::Reply::Silent});
            QSignalSpy started(view->page(), &QWebEnginePage::loadStarted);
            const qsizetype before = server.requestsFor(home).size();
            // The news page's own link home.
            QVERIFY(QMetaObject::invokeMethod(&window, "newsOnLinkClicked",
                                              Q_ARG(QUrl, QUrl(newsUrl(home.constData())))));
            QTRY_VERIFY_WITH_TIMEOUT(started.count() > 0, kTimeout);
            QTRY_COMPARE_WITH_TIMEOUT(server.requestsFor(home).size(), before + 1, kTimeout);
        }
        const qsizetype asked = server.requestsFor(home).size();
        QTRY_VERIFY_WITH_TIMEOUT(view->page()->renderProcessPid() > 0, kTimeout);
        [[maybe_unused]] const qint64 renderer = view->page()->renderProcessPid();

        play(window, 0);
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kStarted, kTimeout);
        QCOMPARE(view->isResting(), vestrahal::kRestNewsWhilePlaying);
        if (!vestrahal::kRestNewsWhilePlaying)
            QSKIP("this launcher keeps the news page while the game runs");
        QVERIFY(view->isHidden());
#ifdef Q_OS_LINUX
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(QString("/proc/%1").arg(renderer)), kTimeout);
#endif
        // Asking the resting page what it shows brings no renderer back.
        static_cast<void>(view->url());
        static_cast<void>(view->title());
        QCOMPARE(view->page()->renderProcessPid(), 0);

        server.clearReply(home);
        stopGame(wotlk, "Wow.exe");
        QTRY_VERIFY_WITH_TIMEOUT(!view->isHidden(), kTimeout);
        QVERIFY(!view->isResting());
        QCOMPARE(view->url(), QUrl(newsUrl(home.constData())));
        // Asked again, not taken from the page the rest let go.
        QVERIFY(server.requestsFor(home).size() > asked);
        QCOMPARE(view->geometry(), place);
        QCOMPARE(ui(window)->Texte->text(), kReady);
        QVERIFY(ui(window)->Jouer->isEnabled());
        // The page shows the news, not the error page of the cut-short load.
        QCOMPARE(view->page()->title(), QStringLiteral("Vestrahal — Nouvelles"));
    }

    // What the allocator keeps after the page has gone reaches the system only when asked for.
    void freedHeapGoesBackToTheSystem() {
#if !defined(__GLIBC__)
        QSKIP("measured with glibc's heap and /proc/self/statm");
#else
        const auto resident = [] {
            QFile statm("/proc/self/statm");
            if (!statm.open(QIODevice::ReadOnly))
                return qint64(-1);
            return statm.readAll().split(' ').value(1).toLongLong() * qint64(sysconf(_SC_PAGESIZE));
        };
        // Blocks freed in between blocks still used: glibc keeps such holes resident until asked,
        // as it keeps those the engine leaves among its long-lived objects.
        constexpr int kBlocks = 4096, kBlockSize = 16384;
        std::vector<char*> blocks;
        for (int i = 0; i < kBlocks; ++i) {
            blocks.push_back(static_cast<char*>(std::malloc(kBlockSize)));
            std::memset(blocks.back(), 1, kBlockSize);
        }
        for (int i = 0; i < kBlocks; i += 2)
            std::free(std::exchange(blocks[i], nullptr));
        const qint64 before = resident();
        heaptrim::returnFreeMemory();
        const qint64 after = resident();
        for (char* block : blocks)
            std::free(block);
        QVERIFY(before > 0);
        // Half the blocks were freed; at least half of those pages must have gone.
        QVERIFY2(before - after >= qint64(kBlocks) * kBlockSize / 4,
                 qPrintable(QString("%1 -> %2 bytes resident").arg(before).arg(after)));
#endif
    }

    // The window the watcher starts again after the game: maximised, the played realm checked,
    // and the ready text once "Jouer" opens, whichever of the news and the version check comes
    // in last.
    void windowBackFromTheGameSaysReady_data() {
        QTest::addColumn<QByteArray>("last");
        QTest::newRow("the news in first, the launcher found current last")
            << QByteArray("/launcher/version.php");
        QTest::newRow("the launcher found current first, the news in last")
            << QByteArray("/launcher/launcher.php");
    }
    void windowBackFromTheGameSaysReady() {
        QFETCH(QByteArray, last);
        writeConf();
        answerCurrent();
        server.setDelay(last, 8000);
        gamewatch::GameEnd end;
        end.milliseconds = 3600000;
        end.realm = 1;
        EndedWatcher watcher(QDir::currentPath(), end);
        QVERIFY(watcher.begin());
        MainWindow window;
        window.show();
        QVERIFY(window.isMaximized());
        QVERIFY(ui(window)->realms()[1]->isChecked());
        // The order the row is about: the first of the two in, the other not yet.
        auto* gate = window.findChild<PlayGate*>();
        QVERIFY(gate);
        const bool newsFirst = last == "/launcher/version.php";
        QTRY_VERIFY_WITH_TIMEOUT(gate->holds(newsFirst ? PlayGate::Condition::NewsLoaded
                                                       : PlayGate::Condition::LauncherCurrent),
                                 kTimeout);
        QVERIFY(!gate->holds(newsFirst ? PlayGate::Condition::LauncherCurrent
                                       : PlayGate::Condition::NewsLoaded));
        waitUntilReady(window);
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Chargement->value(), 100, kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kReady, kTimeout);
        server.setDelay(last, 0);
    }

    // Closed while its own process holds the game (a launcher without its watcher), the window
    // goes and the game runs on: the launcher never ends the player's game. At the game's end
    // the process is done, unless a second start called the window back meanwhile.
    void closingTheWindowLeavesTheGame_data() {
        QTest::addColumn<bool>("calledBack");
        QTest::newRow("closed: the game runs on, the process ends with it") << false;
        QTest::newRow("called back by a second start: back as usual") << true;
    }
    void closingTheWindowLeavesTheGame() {
        QFETCH(bool, calledBack);
        makeGame(wotlk, {"Wow.exe"});
        writeConf();
        MainWindow window;
        QSignalSpy done(&window, &MainWindow::closedWithTheGame);
        window.show();
        play(window, 0);
        QTRY_COMPARE_WITH_TIMEOUT(currentGame(window)->state(), QProcess::Running, kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(window.isMinimized(), kTimeout);
        QVERIFY(!window.close());
        QVERIFY(!window.isVisible());
        QCOMPARE(currentGame(window)->state(), QProcess::Running);
        if (calledBack)
            window.show();
        stopGame(wotlk, "Wow.exe");
        QTRY_COMPARE_WITH_TIMEOUT(currentGame(window)->state(), QProcess::NotRunning, kTimeout);
        if (calledBack) {
            QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kReady, kTimeout);
            QVERIFY(window.isMaximized());
            QVERIFY(done.isEmpty());
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, kTimeout);
            QVERIFY(!window.isVisible());
        }
    }

private:
    CommunityServer server;
    std::unique_ptr<QTemporaryDir> dir;
    QString launcherDir;
    QString wotlk;
    QString cata;
};

QTEST_MAIN(LaunchTest)
#include "tst_launch.moc"
