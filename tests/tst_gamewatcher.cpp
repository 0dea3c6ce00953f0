// The watcher's work in this process, spoken to over its socket as the windows speak to it: the
// line protocol on the system's own sockets (or pipes), the game it holds and the end it tells.
// No Qt WebEngine here: the sanitized build runs it too.
#include "fakegame.h"
#include "gamewatch.h"
#include "gamewatcher.h"
#include "localchannel.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

namespace {

constexpr int kTimeout = 30000;

} // namespace

class GameWatcherTest : public QObject {
    Q_OBJECT

    // A window's line to the folder's watcher.
    std::unique_ptr<QLocalSocket> connectToWatcher() {
        auto socket = std::make_unique<QLocalSocket>();
        socket->connectToServer(gamewatch::serverName(dir->path()));
        if (!socket->waitForConnected(kTimeout))
            return {};
        return socket;
    }
    // Sends a line in pieces of `piece` bytes, each written out before the next.
    static void send(QLocalSocket& socket, const QByteArray& line, int piece) {
        const QByteArray bytes = line + '\n';
        for (qsizetype at = 0; at < bytes.size(); at += piece) {
            socket.write(bytes.mid(at, piece));
            socket.flush();
        }
    }
    // The next line the watcher sends; none in time reads as an object without a type.
    static QJsonObject answer(QLocalSocket& socket) {
        if (!QTest::qWaitFor([&socket] { return socket.canReadLine(); }, kTimeout))
            return {};
        return gamewatch::parse(socket.readLine().trimmed());
    }
    gamewatch::PlayRequest request() const {
        gamewatch::PlayRequest asked;
        asked.program = game + "/Wow.exe";
        asked.reportFile = dir->filePath("errors.log");
        asked.launcher = dir->filePath("VestrahalLauncher.exe");
        asked.launcherStart = dir->path();
        asked.realm = 4;
        asked.watcher = QCoreApplication::applicationPid();
        return asked;
    }

private slots:
    void init() {
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
        game = dir->filePath("Jeux/WoTLK");
    }

    // The game asked for, a window that says hello while it runs, the game's end told to it with
    // the realm and why the game ended at once; the watcher is done once the window has gone.
    // The lines reach the watcher whole or in pieces.
    void gameAndItsEndAreTold_data() {
        QTest::addColumn<int>("piece");
        QTest::newRow("whole lines") << 4096;
        QTest::newRow("a byte at a time") << 1;
    }
    void gameAndItsEndAreTold() {
        QFETCH(int, piece);
        makeGame(game, {"Wow.exe"}, "exit-code=2\n");
        GameWatcher watcher(dir->path());
        QSignalSpy finished(&watcher, &GameWatcher::finished);
        QVERIFY(watcher.start());
        auto asking = connectToWatcher();
        QVERIFY(asking);
        send(*asking, gamewatch::line("play", gamewatch::toJson(request())), piece);
        const QJsonObject started = answer(*asking);
        QCOMPARE(gamewatch::typeOf(started), QString("started"));
        QTRY_VERIFY_WITH_TIMEOUT(!startRecord(game, "Wow.exe").isEmpty(), kTimeout);
        QCOMPARE(started["pid"].toInteger(), startRecord(game, "Wow.exe")["pid"].toInteger());
        asking.reset();

        auto window = connectToWatcher();
        QVERIFY(window);
        send(*window, gamewatch::line("hello"), piece);
        const QJsonObject playing = answer(*window);
        QCOMPARE(gamewatch::typeOf(playing), QString("playing"));
        QCOMPARE(playing["folder"].toString(), game);

        stopGame(game, "Wow.exe");
        const QJsonObject ended = answer(*window);
        QCOMPARE(gamewatch::typeOf(ended), QString("ended"));
        const gamewatch::GameEnd end = gamewatch::gameEnd(ended);
        QCOMPARE(end.exitCode, 2);
        QCOMPARE(end.realm, 4);
        QCOMPARE(end.notice, QString::fromUtf8("Le jeu s'est arrêté aussitôt (code 2)."));
        QVERIFY(finished.isEmpty());
        window->disconnectFromServer();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kTimeout);
        // The folder is free for the next game's watcher.
        GameWatcher next(dir->path());
        QVERIFY(next.start());
    }

    // Only the window that started this very watcher gets a game from it; anyone else is told
    // to ask again, and the watcher still waits for its own.
    void requestOfAnotherWindowIsRefused() {
        makeGame(game, {"Wow.exe"});
        GameWatcher watcher(dir->path());
        QVERIFY(watcher.start());
        gamewatch::PlayRequest other = request();
        other.watcher = QCoreApplication::applicationPid() + 1;
        auto stranger = connectToWatcher();
        QVERIFY(stranger);
        send(*stranger, gamewatch::line("play", gamewatch::toJson(other)), 4096);
        QCOMPARE(gamewatch::typeOf(answer(*stranger)), QString("refused"));
        QTRY_COMPARE_WITH_TIMEOUT(stranger->state(), QLocalSocket::UnconnectedState, kTimeout);
        QVERIFY(startRecord(game, "Wow.exe").isEmpty());

        auto asking = connectToWatcher();
        QVERIFY(asking);
        send(*asking, gamewatch::line("play", gamewatch::toJson(request())), 4096);
        QCOMPARE(gamewatch::typeOf(answer(*asking)), QString("started"));
        QTRY_VERIFY_WITH_TIMEOUT(!startRecord(game, "Wow.exe").isEmpty(), kTimeout);
        // No launcher to start again here: one line, and the watcher is done.
        QSignalSpy finished(&watcher, &GameWatcher::finished);
        stopGame(game, "Wow.exe");
        QVERIFY(finished.wait(kTimeout));
        QVERIFY(readFile(dir->filePath("errors.log"))
                    .contains("VestrahalLauncher.exe could not be started again after the game: "));
    }

    // A client that sends a line without end is cut off at the limit, never kept; the others
    // are answered as before.
    void endlessLineIsCutOff() {
        GameWatcher watcher(dir->path());
        QVERIFY(watcher.start());
        auto endless = connectToWatcher();
        QVERIFY(endless);
        // Written as the event loop turns, the watcher reading meanwhile in this same thread.
        endless->write(QByteArray(2 * LocalPeer::kLongestLine, 'x'));
        QTRY_COMPARE_WITH_TIMEOUT(endless->state(), QLocalSocket::UnconnectedState, kTimeout);
        auto asking = connectToWatcher();
        QVERIFY(asking);
        send(*asking, gamewatch::line("hello"), 4096);
        QCOMPARE(gamewatch::typeOf(answer(*asking)), QString("idle"));
    }

    // Nobody asks for a game: the watcher does not stay.
    void aWatcherWithoutAGameGoes() {
        GameWatcher watcher(dir->path());
        watcher.setRequestWait(1000);
        QSignalSpy finished(&watcher, &GameWatcher::finished);
        QVERIFY(watcher.start());
        // A second watcher of the folder waits for the first, and gives up.
        GameWatcher second(dir->path());
        QVERIFY(!second.start());
        QVERIFY(finished.wait(kTimeout));
    }

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString game;
};

QTEST_GUILESS_MAIN(GameWatcherTest)
#include "tst_gamewatcher.moc"
