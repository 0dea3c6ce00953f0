// Installing the community's client into a chosen folder, as plain functions: whether the folder
// gets the offer, what the install would fetch and replace, the room it needs on a real small
// disk, what the player reads, the record of the installs under way and the speed limit's file;
// and the screen reader's pace for a status line that changes every second.
#include "accessibility.h"
#include "gameinstall.h"
#include "sha256.h"
#include "testfiles.h"

#include <QLabel>
#include <QMainWindow>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <atomic>
#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using gameinstall::Install;
using gameinstall::Plan;
using Files = QList<QPair<QString, QByteArray>>;

namespace {

constexpr qint64 kGo = qint64(1) << 30;
constexpr qint64 kMo = qint64(1) << 20;

gamemanifest::File listed(const QString& path, const QByteArray& bytes) {
    return {path, bytes.size(), Sha256::of(bytes)};
}

} // namespace

class GameInstallTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;

private slots:
    void init() {
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
    }

    void getsOffer_data() {
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("offered");
        QTest::newRow("empty folder") << true << QStringList() << true;
        QTest::newRow("a half-copied client") << true << QStringList{"Data/common.MPQ"} << true;
        QTest::newRow("the player's own game") << true << QStringList{"Wow.exe"} << false;
        QTest::newRow("the community's package") << true << QStringList{"kvf.vestrahal"} << false;
        QTest::newRow("a build without the game files") << false << QStringList() << false;
    }
    void getsOffer() {
        QFETCH(bool, kept);
        QFETCH(QStringList, files);
        const QString folder = dir->path() + "/jeu";
        QVERIFY(QDir().mkpath(folder));
        for (const QString& file : files)
            writeFile(folder + '/' + file, "x");
        QTEST(gameinstall::getsOffer(kept, folder), "offered");
    }

    void planFor_data() {
        QTest::addColumn<Files>("onDisk");
        QTest::addColumn<int>("filesToFetch");
        QTest::addColumn<qint64>("bytesToFetch");
        QTest::addColumn<qint64>("largest");
        QTest::addColumn<int>("replaced");
        // The list: a 3000-byte archive, a 500-byte file and the empty marker.
        QTest::newRow("empty folder: all fetched")
            << Files{} << 3 << qint64(3500) << qint64(3000) << 0;
        QTest::newRow("a right file is kept")
            << Files{{"Data/a.MPQ", content("a", 3000)}} << 2 << qint64(500) << qint64(500) << 0;
        QTest::newRow("another size is replaced")
            << Files{{"Data/a.MPQ", "short"}} << 3 << qint64(3500) << qint64(3000) << 1;
        QTest::newRow("the same size with other bytes is replaced")
            << Files{{"b.txt", content("not b", 500)}} << 3 << qint64(3500) << qint64(3000) << 1;
        QTest::newRow("a folder in a file's place is replaced")
            << Files{{"b.txt/inside", "x"}} << 3 << qint64(3500) << qint64(3000) << 1;
        QTest::newRow("files the list does not name count for nothing")
            << Files{{"WTF/Config.wtf", "mine"},
                     {"Data/a.MPQ", content("a", 3000)},
                     {"b.txt", content("b", 500)}}
            << 1 << qint64(0) << qint64(0) << 0;
    }
    void planFor() {
        QFETCH(Files, onDisk);
        const QString folder = dir->path() + "/jeu";
        QVERIFY(QDir().mkpath(folder));
        for (const auto& [path, bytes] : onDisk)
            writeFile(folder + '/' + path, bytes);
        gamemanifest::Manifest list;
        list.files = {listed("Data/a.MPQ", content("a", 3000)), listed("b.txt", content("b", 500)),
                      listed("kvf.vestrahal", "")};
        const Plan plan = gameinstall::planFor(list, folder);
        QTEST(plan.filesToFetch, "filesToFetch");
        QTEST(plan.bytesToFetch, "bytesToFetch");
        QTEST(plan.largestToFetch, "largest");
        QTEST(plan.filesReplaced, "replaced");
        QVERIFY(!plan.cancelled);
    }

    void planStopsWhenCancelled() {
        gamemanifest::Manifest list;
        list.files = {listed("a", "a")};
        const std::atomic<bool> cancelled(true);
        QVERIFY(gameinstall::planFor(list, dir->path(), &cancelled).cancelled);
    }

    void room_data() {
        QTest::addColumn<qint64>("toFetch");
        QTest::addColumn<qint64>("largest");
        QTest::addColumn<qint64>("freeBytes");
        QTest::addColumn<qint64>("needed");
        QTest::addColumn<bool>("room");
        QTest::newRow("just enough")
            << qint64(1000) << qint64(500) << qint64(1515) << qint64(1515) << true;
        QTest::newRow("one byte short")
            << qint64(1000) << qint64(500) << qint64(1514) << qint64(1515) << false;
        QTest::newRow("the part file counts")
            << 10 * kGo << 4 * kGo << 12 * kGo << (14 * kGo + (14 * kGo + 99) / 100) << false;
        QTest::newRow("a disk that does not tell")
            << qint64(1000) << qint64(500) << qint64(-1) << qint64(1515) << true;
    }
    void room() {
        QFETCH(qint64, toFetch);
        QFETCH(qint64, largest);
        QFETCH(qint64, freeBytes);
        Plan plan;
        plan.bytesToFetch = toFetch;
        plan.largestToFetch = largest;
        QTEST(gameinstall::spaceNeeded(plan), "needed");
        QTEST(gameinstall::hasRoom(plan, freeBytes), "room");
    }

    // The free space of a real small disk, and an install too big for it.
    void smallDiskRefusesTheInstall() {
#ifdef Q_OS_LINUX
        if (geteuid() != 0)
            QSKIP("mounting a small tmpfs needs root");
        const QString mountPoint = dir->path() + "/petit";
        QVERIFY(QDir().mkpath(mountPoint));
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", mountPoint}) != 0)
            QSKIP("this system lets no tmpfs be mounted here");
        const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {mountPoint}); });
        const qint64 freeBytes = gameinstall::freeSpace(mountPoint);
        QVERIFY2(freeBytes > 0 && freeBytes <= kMo, qPrintable(QString::number(freeBytes)));
        gamemanifest::Manifest list;
        list.files = {listed("Data/a.MPQ", content("a", 600000)),
                      listed("Data/b.MPQ", content("b", 300000))};
        const Plan plan = gameinstall::planFor(list, mountPoint);
        QCOMPARE(plan.bytesToFetch, qint64(900000));
        // 900,000 bytes fit, but not with the largest part beside them.
        QVERIFY(plan.bytesToFetch < freeBytes);
        QVERIFY(!gameinstall::hasRoom(plan, freeBytes));
        QCOMPARE(QDir(mountPoint).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
#else
        QSKIP("mounts a tmpfs: Linux only");
#endif
    }

    void questionText_data() {
        QTest::addColumn<qint64>("toFetch");
        QTest::addColumn<int>("replaced");
        QTest::addColumn<qint64>("freeBytes");
        QTest::addColumn<QString>("text");
        const QString ask =
            QString::fromUtf8("Installer le jeu de la communauté dans ce dossier ? ");
        const QString free120 = QString::fromUtf8("\n\nEspace libre sur ce disque : 120 Go.");
        QTest::newRow("empty folder")
            << qint64(15.2 * double(kGo)) << 0 << 120 * kGo
            << ask + QString::fromUtf8("15,2 Go seront téléchargés.") + free120;
        QTest::newRow("singular below two")
            << qint64(1.5 * double(kGo)) << 0 << 120 * kGo
            << ask + QString::fromUtf8("1,5 Go sera téléchargé.") + free120;
        QTest::newRow("one file replaced")
            << 2 * kGo << 1 << 120 * kGo
            << ask + QString::fromUtf8("2,0 Go seront téléchargés.") + free120 +
                   QString::fromUtf8("\n\n1 fichier de ce dossier porte le nom d'un fichier du jeu "
                                     "avec un autre contenu : il sera remplacé.");
        QTest::newRow("three files replaced")
            << 2 * kGo << 3 << 120 * kGo
            << ask + QString::fromUtf8("2,0 Go seront téléchargés.") + free120 +
                   QString::fromUtf8("\n\n3 fichiers de ce dossier portent le nom d'un fichier du "
                                     "jeu avec un autre contenu : ils seront remplacés.");
        QTest::newRow("all there already")
            << qint64(0) << 0 << qint64(-1)
            << ask + QString::fromUtf8("Tous ses fichiers sont déjà là.");
    }
    void questionText() {
        QFETCH(qint64, toFetch);
        QFETCH(int, replaced);
        QFETCH(qint64, freeBytes);
        Plan plan;
        plan.bytesToFetch = toFetch;
        plan.filesReplaced = replaced;
        QTEST(gameinstall::questionText(plan, freeBytes), "text");
    }

    void refusalNamesBothFigures() {
        QCOMPARE(gameinstall::refusalText(15 * kGo + 512 * kMo, 3 * kGo + 205 * kMo),
                 QString::fromUtf8("Il n'y a pas assez d'espace libre sur ce disque pour "
                                   "installer le jeu : il faut 15,5 Go, il reste 3,2 Go.\n\n"
                                   "Libérez de la place ou choisissez un dossier sur un autre "
                                   "disque."));
    }

    void installRecord_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<Install>>("installs");
        QTest::newRow("none") << QByteArray("<absent>") << QList<Install>();
        QTest::newRow("both clients")
            << QByteArray("wotlk\t/jeux/WoTLK\ncataclysm\t/jeux/Cata\n")
            << QList<Install>{{"wotlk", "/jeux/WoTLK"}, {"cataclysm", "/jeux/Cata"}};
        QTest::newRow("a folder with accents")
            << QString::fromUtf8("wotlk\t/jeux/Été\n").toUtf8()
            << QList<Install>{{"wotlk", QString::fromUtf8("/jeux/Été")}};
        QTest::newRow("what is not an install is left out")
            << QByteArray(
                   "wotlk\n\tnothing\nclassic\t/jeux/X\nwotlk\trelative\nwotlk\t/a\nwotlk\t/a\n")
            << QList<Install>{{"wotlk", "/a"}};
    }
    void installRecord() {
        QFETCH(QByteArray, bytes);
        const QString file = dir->path() + "/gamefiles-installs.list";
        if (bytes != "<absent>")
            writeFile(file, bytes);
        QTEST(gameinstall::loadInstalls(file), "installs");
    }

    // Written whole, read back as written; the last install gone, the record goes too.
    void installRecordIsWrittenAndRemoved() {
        const QString file = dir->path() + "/gamefiles-installs.list";
        const QList<Install> installs{{"cataclysm", "/jeux/Cata"}, {"wotlk", "/jeux/W"}};
        QVERIFY(gameinstall::saveInstalls(file, installs));
        QCOMPARE(readFile(file), QByteArray("cataclysm\t/jeux/Cata\nwotlk\t/jeux/W\n"));
        QCOMPARE(gameinstall::loadInstalls(file), installs);
        QVERIFY(gameinstall::saveInstalls(file, {}));
        QVERIFY(!QFileInfo::exists(file));
        // A record that cannot be written says so (its folder is a file).
        writeFile(dir->path() + "/plain", "x");
        QVERIFY(!gameinstall::saveInstalls(dir->path() + "/plain/record", installs));
    }

    void speedLimit_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("megabytes");
        QTest::newRow("no file: no limit") << QByteArray("<absent>") << 0;
        QTest::newRow("five") << QByteArray("5\n") << 5;
        QTest::newRow("not a number") << QByteArray("vite\n") << 0;
        QTest::newRow("below nothing") << QByteArray("-3\n") << 0;
        QTest::newRow("beyond the most") << QByteArray("1001\n") << 0;
    }
    void speedLimit() {
        QFETCH(QByteArray, bytes);
        const QString file = dir->path() + "/download-limit.conf";
        if (bytes != "<absent>")
            writeFile(file, bytes);
        QTEST(gameinstall::loadSpeedLimit(file), "megabytes");
    }

    void speedLimitRoundTrip() {
        const QString file = dir->path() + "/download-limit.conf";
        QVERIFY(gameinstall::saveSpeedLimit(file, 12));
        QCOMPARE(readFile(file), QByteArray("12\n"));
        QCOMPARE(gameinstall::loadSpeedLimit(file), 12);
        QCOMPARE(gameinstall::bytesPerSecond(12), qint64(12) << 20);
    }

    // With a pace set, a line that changes at every turn is told once; the pace lifted, the
    // line as it is then is told at once.
    void statusLineTakesItsPace() {
        QMainWindow window;
        auto* line = new QLabel(QStringLiteral("Démarrage"), &window);
        window.setCentralWidget(line);
        auto* announcer = new StatusAnnouncer(line);
        QSignalSpy told(announcer, &StatusAnnouncer::announced);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTRY_COMPARE_WITH_TIMEOUT(told.size(), 1, 30000);
        line->setText("Installation du jeu : 1 Mo");
        QTRY_COMPARE_WITH_TIMEOUT(told.size(), 2, 30000);
        announcer->setPace(3600000);
        for (int megabytes = 2; megabytes <= 5; ++megabytes) {
            line->setText(QString("Installation du jeu : %1 Mo").arg(megabytes));
            line->repaint();
            QCoreApplication::processEvents();
        }
        QCOMPARE(told.size(), 2);
        announcer->setPace(0);
        QTRY_COMPARE_WITH_TIMEOUT(told.size(), 3, 30000);
        QCOMPARE(told.last().first().toString(), QString("Installation du jeu : 5 Mo"));
    }
};

QTEST_MAIN(GameInstallTest)
#include "tst_gameinstall.moc"
