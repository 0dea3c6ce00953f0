// The community's game files as the player sees them: in the window, once the launcher is
// current, "Jouer" shut while they are brought up to date, the status line and the bar, the
// "Vérifier les fichiers" button; and the real launcher killed in the middle of an object.
#include "fakegame.h"
#include "gamefiles.h"
#include "gamemanifest.h"
#include "mainwindow.h"
#include "nginxserver.h"
#include "sha256.h"
#include "testfiles.h"
#include "testsupport.h"
#include "windowsupport.h"

#include <QDirIterator>
#include <QNetworkProxy>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

namespace {

constexpr int kTimeout = 30000;
const QString kKeys = QStringLiteral(VESTRAHAL_SOURCE_DIR "/tests/keys");
const QString kFailed =
    QString::fromUtf8("Fichiers du jeu non mis à jour : résumé en français à la fin de errors.log");

} // namespace

class GameFilesWindowTest : public QObject {
    Q_OBJECT

    CommunityServer server;
    std::unique_ptr<QTemporaryDir> dir;
    QString site;
    QString game;

    // The sample site and the community's files for the WoTLK folder, published from a reference
    // folder with the release tool as an admin does.
    void publish(const QList<QPair<QString, QByteArray>>& files) {
        const QString reference = dir->path() + "/reference";
        QDir(reference).removeRecursively();
        for (const auto& [path, bytes] : files)
            writeFile(reference + '/' + path, bytes);
        QDir(site + "/launcher/files").removeRecursively();
        QProcess tool;
        tool.start(RELEASE_TOOL, {"files", "--key", kKeys + "/update.key", "--client", "wotlk",
                                  reference, site + "/launcher/files"});
        QVERIFY(tool.waitForFinished(kTimeout));
        QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
    }
    QString objectOf(const QByteArray& bytes) const {
        return "/launcher/files/objects/" + QString::fromLatin1(Sha256::of(bytes));
    }
    int filesRequests() const {
        int count = 0;
        for (const auto& request : server.requests())
            count += request.path.startsWith("/launcher/files/");
        return count;
    }

private slots:
    void initTestCase() { routeThroughCommunityServer(server); }

    void init() {
        dir.reset(new QTemporaryDir);
        QVERIFY(QDir::setCurrent(dir->path()));
        site = dir->path() + "/site";
        const QString source = VESTRAHAL_SOURCE_DIR "/tools/site";
        QDirIterator files(source, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString from = files.next();
            writeFile(site + from.mid(source.size()), readFile(from));
        }
        writeFile(site + "/launcher/version.php", "1.0");
        server.setRoot(site);
        server.clearRequests();
        server.clearReplies();
        game = dir->path() + "/jeux/WoTLK";
        writeFile(game + "/Wow.exe", "client");
        writeFile(game + "/kvf.vestrahal", "");
        writeFile("launcher.conf", "1\n" + game.toUtf8() + "\n0\n\n0\n |0\n |0\n |0\n1.0\n");
    }

    void cleanup() { QDir::setCurrent(QDir::tempPath()); }

    // At start the folder is brought up to date, "Jouer" shut until it is.
    void startBringsTheFilesUpToDate() {
        const QByteArray patch = content("patch 4", 600000);
        writeFile(game + "/Data/frFR/patch-frFR-4.MPQ", "the old patch");
        writeFile(game + "/WTF/Config.wtf", "the player's settings");
        publish({{"Data/frFR/patch-frFR-4.MPQ", patch}, {"kvf.vestrahal", ""}});
        // Slowly, so that what shows during the fetch can be seen.
        server.setReply(objectOf(patch).toLatin1(), {200, "application/octet-stream", patch,
                                                     CommunityServer::Reply::Trickle, 0, 60000});
        MainWindow window;
        QSignalSpy texts(window.findChild<GameFiles*>(), &GameFiles::statusChanged);
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Texte->text().startsWith(
                                     QString::fromUtf8("Mise à jour des fichiers du jeu : ")),
                                 kTimeout);
        QVERIFY(!ui(window)->Jouer->isEnabled());
        QVERIFY(ui(window)->Texte->text().endsWith(" sur 1 Mo"));
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        QCOMPARE(readFile(game + "/Data/frFR/patch-frFR-4.MPQ"), patch);
        QCOMPARE(readFile(game + "/WTF/Config.wtf"), QByteArray("the player's settings"));
        QCOMPARE(ui(window)->Chargement->value(), 100);
        QVERIFY(readFile("errors.log").contains("Files fetched ....................... 1"));
        QCOMPARE(texts.first().first().toString(),
                 QString::fromUtf8("Vérification des fichiers du jeu..."));
        QCOMPARE(texts.last().first().toString(), QString::fromUtf8("Fichiers du jeu à jour"));
    }

    // A fetch that would keep "Jouer" shut longer than the hold limit opens it: the player plays
    // the files already whole while the rest comes, and a half-written file is never played.
    void jouerOpensAfterTheHoldLimit() {
        const QByteArray patch = content("long patch", 2 << 20);
        writeFile(game + "/Data/patch-H.MPQ", "the old one");
        publish({{"Data/patch-H.MPQ", patch}, {"kvf.vestrahal", ""}});
        server.setReply(objectOf(patch).toLatin1(), {200, "application/octet-stream", patch,
                                                     CommunityServer::Reply::Trickle, 0, 16384});
        MainWindow window;
        auto* files = window.findChild<GameFiles*>();
        files->setHoldLimit(500);
        QSignalSpy finished(files, &GameFiles::finished);
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        QVERIFY(files->isRunning());
        QCOMPARE(readFile(game + "/Data/patch-H.MPQ"), QByteArray("the old one"));
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Texte->text().endsWith(
                                     QString::fromUtf8("(vous pouvez jouer pendant ce temps)")),
                                 kTimeout);
        QVERIFY(finished.wait(kTimeout));
        QCOMPARE(readFile(game + "/Data/patch-H.MPQ"), patch);
        QVERIFY(ui(window)->Jouer->isEnabled());
    }

    // The launcher's own game starts while the files still come after the hold limit: nothing
    // more takes its name while it runs, and once it has ended the files are brought up to date,
    // "Jouer" open all along.
    void ownGameHoldsTheFilesUntilItEnds() {
        QVERIFY(QFile::remove(game + "/Wow.exe"));
        makeGame(game, {"Wow.exe"});
        const QByteArray patch = content("patch under the game", 2 << 20);
        writeFile(game + "/Data/patch-G.MPQ", "the old one");
        publish({{"Data/patch-G.MPQ", patch}, {"kvf.vestrahal", ""}});
        const QByteArray object = objectOf(patch).toLatin1();
        server.setReply(object,
                        {200, "application/octet-stream", patch, CommunityServer::Reply::Held});
        MainWindow window;
        auto* files = window.findChild<GameFiles*>();
        files->setHoldLimit(300);
        // Only the launcher's word that its game started and ended counts here (a game found
        // among the processes has its rows in the engine's suite).
        files->setGameRunning([](const QString&) { return false; });
        QSignalSpy finished(files, &GameFiles::finished);
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        QVERIFY(files->isRunning());
        ui(window)->Jouer->click();
        QTRY_VERIFY_WITH_TIMEOUT(!startRecord(game, "Wow.exe").isEmpty(), kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kTimeout);
        QVERIFY(files->leftForAfterTheGame());
        QCOMPARE(readFile(game + "/Data/patch-G.MPQ"), QByteArray("the old one"));
        server.clearReply(object);
        stopGame(game, "Wow.exe");
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, kTimeout);
        QVERIFY(finished.last().first().toBool());
        QCOMPARE(readFile(game + "/Data/patch-G.MPQ"), patch);
        QVERIFY(ui(window)->Jouer->isEnabled());
    }

    // "Vérifier les fichiers" hashes every file, whatever the index says, and repairs it.
    void verifyButtonRepairs() {
        const QByteArray patch = content("patch 5", 300000);
        publish({{"Data/patch-5.MPQ", patch}});
        const QString path = game + "/Data/patch-5.MPQ";
        const auto startOnce = [] {
            MainWindow window;
            QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        };
        startOnce();
        QCOMPARE(readFile(path), patch);
        // A time in whole milliseconds, which can be put back, learnt by the index at a start.
        const QDateTime time = QFileInfo(path).lastModified().addSecs(-60);
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
        }
        startOnce();
        // Other bytes of the same size and the same time: the index cannot see the change.
        QByteArray damaged = patch;
        damaged[10] = char(~damaged[10]);
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.write(damaged);
            file.flush();
            QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
        }
        MainWindow window;
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        QCOMPARE(readFile(path), damaged); // a start goes by the index
        QVERIFY(ui(window)->VerifierFichiers->isEnabled());
        const int before = filesRequests();
        ui(window)->Options->click();
        ui(window)->VerifierFichiers->click();
        QVERIFY(!ui(window)->Jouer->isEnabled());
        QVERIFY(!ui(window)->VerifierFichiers->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        QCOMPARE(readFile(path), patch);
        // The list, its signature and the object.
        QCOMPARE(filesRequests(), before + 3);
        QVERIFY(ui(window)->VerifierFichiers->isEnabled());
    }

    // A failure is said, and "Jouer" opens all the same.
    void failureStillLetsThePlayerPlay() {
        const QByteArray patch = content("patch 6", 1000);
        writeFile(game + "/Data/patch-6.MPQ", "the old one");
        publish({{"Data/patch-6.MPQ", patch}});
        QFile::remove(site + objectOf(patch));
        MainWindow window;
        QSignalSpy texts(window.findChild<GameFiles*>(), &GameFiles::statusChanged);
        QSignalSpy finished(window.findChild<GameFiles*>(), &GameFiles::finished);
        QVERIFY(finished.wait(kTimeout));
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(texts.last().first().toString(), kFailed);
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        QCOMPARE(readFile(game + "/Data/patch-6.MPQ"), QByteArray("the old one"));
        QVERIFY(readFile("errors.log").contains("Files refused ....................... [FAIL] 1"));
    }

    // A folder without the package's marker is the player's own: never asked about, never
    // written; without any such folder the button does nothing.
    void playersOwnFolderIsLeftAlone() {
        QFile::remove(game + "/kvf.vestrahal");
        publish({{"Data/patch-7.MPQ", "bytes"}});
        MainWindow window;
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        ui(window)->Options->click();
        ui(window)->VerifierFichiers->click();
        QVERIFY(ui(window)->Jouer->isEnabled());
        QCOMPARE(filesRequests(), 0);
        QCOMPARE(readFile(game + "/Data/patch-7.MPQ"), QByteArray("<absent>"));
    }

    // The real launcher, killed with SIGKILL in the middle of a large object, resumes it with a
    // Range request at its next start, from Debian's nginx.
    void realLauncherKilledMidObjectResumes() {
        if (httpsBuild())
            QSKIP("the real launcher trusts the system's authorities only, never the tests' one");
#ifdef Q_OS_UNIX
        const QByteArray patch = content("very large patch", qint64(256) << 20);
        writeFile(game + "/Data/patch-K.MPQ", "the old one");
        publish({{ "Data/patch-K.MPQ", patch }});
        NginxServer nginx;
        QVERIFY2(nginx.start(site), qPrintable(nginx.error()));
        writeFile("VestrahalLauncher.exe", readFile(KEYED_LAUNCHER));
        QVERIFY(
            QFile::setPermissions("VestrahalLauncher.exe",
                                  QFile::permissions("VestrahalLauncher.exe") | QFile::ExeOwner));
        const auto start = [&](QProcess& launcher) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("http_proxy", QString("http://127.0.0.1:%1").arg(nginx.port()));
            environment.remove("no_proxy");
            environment.remove("NO_PROXY");
            environment.insert("QT_QPA_PLATFORM", "offscreen");
            launcher.setProcessEnvironment(environment);
            launcher.setStandardOutputFile(QProcess::nullDevice());
            launcher.setStandardErrorFile(QProcess::nullDevice());
            launcher.start(QDir::current().absoluteFilePath("VestrahalLauncher.exe"), {});
            QVERIFY2(launcher.waitForStarted(kTimeout), qPrintable(launcher.errorString()));
        };
        const QString part =
            game + "/Data/patch-K.MPQ." + Sha256::of(patch).left(16) + ".vestrahal-part";
        QProcess first;
        start(first);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(part).size() > (qint64(4) << 20), 2 * kTimeout);
        first.kill();
        QVERIFY(first.waitForFinished(kTimeout));
        const qint64 left = QFileInfo(part).size();
        QVERIFY2(left > 0 && left < patch.size(), qPrintable(QString::number(left)));
        QCOMPARE(readFile(game + "/Data/patch-K.MPQ"), QByteArray("the old one"));

        QProcess second;
        start(second);
        QTRY_VERIFY_WITH_TIMEOUT(
            readFile("errors.log").contains("Files fetched ....................... 1"),
            4 * kTimeout);
        second.kill();
        QVERIFY(second.waitForFinished(kTimeout));
        QVERIFY(readFile(game + "/Data/patch-K.MPQ") == patch);
        QVERIFY(!QFileInfo::exists(part));
        const QByteArray log = nginx.accessLog();
        QVERIFY2(log.contains(objectOf(patch).toLatin1() + " HTTP/1.1\" 206 " +
                              QByteArray::number(patch.size() - left)),
                 log.right(2000).constData());
#else
        QSKIP("kills the real launcher with SIGKILL: POSIX only");
#endif
    }
};

QTEST_MAIN(GameFilesWindowTest)
#include "tst_gamefileswindow.moc"
