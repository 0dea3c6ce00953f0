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
#include <QFileDialog>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr int kTimeout = 30000;
const QString kKeys = QStringLiteral(VESTRAHAL_SOURCE_DIR "/tests/keys");
const QString kFailed =
    QString::fromUtf8("Fichiers du jeu non mis à jour : résumé en français à la fin de errors.log");
const QString kInstalled = QString::fromUtf8("Le jeu est installé.");
// No client chosen yet: a new player's settings.
const QByteArray kNoClient = "0\n\n0\n\n0\n |0\n |0\n |0\n1.0\n";
const QString kInstalls = QStringLiteral("gamefiles-installs.list");

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

    // The community's client for the install rows: two archives and the marker.
    QByteArray archiveA = content("archive A", 300000);
    QByteArray archiveB = content("archive B", 200000);
    void publishClient() {
        publish({{"Data/a.MPQ", archiveA}, {"Data/b.MPQ", archiveB}, {"kvf.vestrahal", ""}});
    }
    // The player's part in the options: "Modifier" for WoTLK, the folder, and each box answered
    // in turn ("yes", "no", "ok"), its text noted in `seen`.
    static void chooseFolder(MainWindow& window, DialogScript& dialogs, const QString& folder,
                             const QStringList& answers, QStringList& seen) {
        dialogs.then([folder](QWidget* widget) {
            auto* files = qobject_cast<QFileDialog*>(widget);
            QVERIFY(files);
            files->setDirectory(folder);
            static_cast<QDialog*>(files)->accept();
        });
        for (const QString& answer : answers) {
            dialogs.then([answer, &seen](QWidget* widget) {
                if (qobject_cast<QFileDialog*>(widget)) {
                    seen << "folder";
                    static_cast<QDialog*>(widget)->reject();
                    return;
                }
                auto* box = qobject_cast<QMessageBox*>(widget);
                QVERIFY(box);
                seen << box->windowTitle() + ": " + box->text();
                box->button(answer == "yes"  ? QMessageBox::Yes
                            : answer == "no" ? QMessageBox::No
                                             : QMessageBox::Ok)
                    ->click();
            });
        }
        ui(window)->Options->click();
        ui(window)->ModifierCheminWoTLK->click();
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

    // A new player chooses a folder without the game: the community's client is offered, with
    // its size and the disk's free space, and how many of the folder's files it would replace.
    // Yes records the install beside launcher.conf, which stays as it was until it is done.
    void offerAcceptedRecordsTheInstall_data() {
        QTest::addColumn<bool>("halfCopied");
        QTest::addColumn<QString>("fetched");
        QTest::addColumn<QString>("replaced");
        QTest::newRow("empty folder")
            << false << QString::fromUtf8("488 Ko seront téléchargés.") << QString();
        QTest::newRow("a half-copied client, one file with other bytes")
            << true << QString::fromUtf8("195 Ko seront téléchargés.")
            << QString::fromUtf8("1 fichier de ce dossier porte le nom d'un fichier du jeu avec "
                                 "un autre contenu : il sera remplacé.");
    }
    void offerAcceptedRecordsTheInstall() {
        QFETCH(bool, halfCopied);
        QFETCH(QString, fetched);
        QFETCH(QString, replaced);
        publishClient();
        writeFile("launcher.conf", kNoClient);
        const QString target = dir->path() + "/jeux/Nouveau";
        QVERIFY(QDir().mkpath(target));
        if (halfCopied) {
            writeFile(target + "/Data/a.MPQ", archiveA);
            writeFile(target + "/Data/b.MPQ", content("not archive B", 200000));
        }
        // The install waits: what is recorded is looked at before it can end.
        server.setReply(objectOf(archiveA).toLatin1(),
                        {200, "application/octet-stream", archiveA, CommunityServer::Reply::Held});
        server.setReply(objectOf(archiveB).toLatin1(),
                        {200, "application/octet-stream", archiveB, CommunityServer::Reply::Held});
        MainWindow window;
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        DialogScript dialogs;
        QStringList seen;
        chooseFolder(window, dialogs, target, {"yes"}, seen);
        QTRY_COMPARE_WITH_TIMEOUT(dialogs.answered(), 2, kTimeout);
        QCOMPARE(seen.size(), 1);
        const QString ask = QString::fromUtf8(
            "Installer le jeu: Installer le jeu de la communauté dans ce dossier ? ");
        QVERIFY2(seen.first().startsWith(ask), qPrintable(seen.first()));
        QVERIFY2(seen.first().contains("? " + fetched + "\n\nEspace libre sur ce disque : "),
                 qPrintable(seen.first()));
        if (replaced.isEmpty())
            QVERIFY2(!seen.first().contains("remplac"), qPrintable(seen.first()));
        else
            QVERIFY2(seen.first().endsWith("\n\n" + replaced), qPrintable(seen.first()));
        QCOMPARE(readFile(kInstalls), "wotlk\t" + target.toUtf8() + "\n");
        QCOMPARE(readTextFile("launcher.conf"), kNoClient);
        QCOMPARE(QFileInfo::exists(target + "/kvf.vestrahal"), false);
        QCOMPARE(dialogs.unexpected(), 0);
        server.releaseHeld();
    }

    // No, or a disk without room for it: nothing is fetched, nothing written, nothing recorded;
    // the folder dialog opens again (here cancelled, and the client given up).
    void offerDeclinedOrRefused_data() {
        QTest::addColumn<bool>("smallDisk");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("box");
        QTest::newRow("the player says no")
            << false << QStringList{"no", "folder", "yes"}
            << QString::fromUtf8("Installer le jeu: Installer le jeu de la communauté dans ce "
                                 "dossier ? 488 Ko seront téléchargés.");
        QTest::newRow("a small disk without room")
            << true << QStringList{"ok", "folder", "yes"}
            << QString::fromUtf8("Espace disque insuffisant: Il n'y a pas assez d'espace libre "
                                 "sur ce disque pour installer le jeu : il faut 789 Ko, il "
                                 "reste ");
    }
    void offerDeclinedOrRefused() {
        QFETCH(bool, smallDisk);
        QFETCH(QStringList, answers);
        QFETCH(QString, box);
        publishClient();
        writeFile("launcher.conf", kNoClient);
        const QString target = dir->path() + "/jeux/Petit";
        QVERIFY(QDir().mkpath(target));
        std::function<void()> unmount = [] {};
        if (smallDisk) {
#ifdef Q_OS_LINUX
            if (geteuid() != 0)
                QSKIP("mounting a small tmpfs needs root");
            // 600 KiB: the 500,000 bytes to fetch fit, not with the largest part and the margin.
            if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=600k", "tmpfs", target}) !=
                0)
                QSKIP("this system lets no tmpfs be mounted here");
            unmount = [target] { QProcess::execute("umount", {target}); };
#else
            QSKIP("mounts a tmpfs: Linux only");
#endif
        }
        const auto cleanUp = qScopeGuard([&] { unmount(); });
        MainWindow window;
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        const int before = filesRequests();
        DialogScript dialogs;
        QStringList seen;
        chooseFolder(window, dialogs, target, answers, seen);
        QTRY_COMPARE_WITH_TIMEOUT(dialogs.answered(), answers.size() + 1, kTimeout);
        QCOMPARE(seen.size(), 3);
        QVERIFY2(seen.first().startsWith(box), qPrintable(seen.first()));
        QCOMPARE(seen.at(1), QString("folder"));
        QCOMPARE(dialogs.unexpected(), 0);
        // The list and its signature, never an object.
        QCOMPARE(filesRequests(), before + 2);
        QCOMPARE(QDir(target).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
        QCOMPARE(readFile(kInstalls), QByteArray("<absent>"));
        QCOMPARE(ui(window)->CheminWoTLK->text(), QString("Pas de dossier"));
    }

    // While a client is installed, "Jouer" stays shut for its realms, and the other client's
    // realms play.
    void jouerShutForTheClientBeingInstalled() {
        publishClient();
        const QString target = dir->path() + "/jeux/Nouveau";
        QVERIFY(QDir().mkpath(target));
        const QString own = dir->path() + "/jeux/Ancien";
        writeFile(own + "/Wow.exe", "the player's own");
        writeFile(kInstalls, "wotlk\t" + target.toUtf8() + "\n");
        writeFile("launcher.conf",
                  "1\n" + own.toUtf8() + "\n1\n" + game.toUtf8() + "\n1\n |0\n |0\n |0\n1.0\n");
        server.setReply(objectOf(archiveA).toLatin1(),
                        {200, "application/octet-stream", archiveA, CommunityServer::Reply::Held});
        server.setReply(objectOf(archiveB).toLatin1(),
                        {200, "application/octet-stream", archiveB, CommunityServer::Reply::Held});
        MainWindow window;
        QVERIFY(ui(window)->radioButton_2->isChecked());
        // The news in: each judgement of the gate is its last word.
        QTRY_VERIFY_WITH_TIMEOUT(!ui(window)->Web->isHidden(), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        ui(window)->radioButton->click();
        QVERIFY(!ui(window)->Jouer->isEnabled());
        ui(window)->radioButton_3->click();
        QVERIFY(ui(window)->Jouer->isEnabled());
        // Pause or Reprendre, as the install goes.
        QVERIFY(ui(window)->PauseInstallation->isHidden() !=
                ui(window)->ReprendreInstallation->isHidden());
        server.releaseHeld();
    }

    // The panel's keyboard round goes through the limit and the install's button, in the order
    // they are shown, each with a name a screen reader says.
    void installControlsInThePanelsKeyboardRound() {
        publishClient();
        const QString target = dir->path() + "/jeux/Cata";
        QVERIFY(QDir().mkpath(target));
        // The Cataclysm client being installed: WoTLK's realms still play.
        writeFile(kInstalls, "cataclysm\t" + target.toUtf8() + "\n");
        MainWindow window;
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        ui(window)->Options->click();
        // No list for that client: the install ends at once, held for "Reprendre".
        QTRY_VERIFY_WITH_TIMEOUT(!ui(window)->ReprendreInstallation->isHidden(), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->VerifierFichiers->isEnabled(), kTimeout);
        ui(window)->DeleteRealm3->setFocus(Qt::TabFocusReason);
        QStringList order;
        for (int i = 0; i < 4; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order, QStringList({"LimiteTelechargement", "VerifierFichiers",
                                     "ReprendreInstallation", "SauvegarderOptions"}));
        QCOMPARE(ui(window)->LimiteTelechargement->accessibleName(),
                 QString::fromUtf8("Limite de téléchargement"));
        QCOMPARE(ui(window)->PauseInstallation->accessibleName(),
                 QString("Mettre l'installation du jeu en pause"));
        QCOMPARE(ui(window)->ReprendreInstallation->accessibleName(),
                 QString("Reprendre l'installation du jeu"));
    }

    // The download limit is saved in a file of its own: launcher.conf keeps its nine lines for
    // older launchers, and the next start shows the limit again.
    void speedLimitHasAFileOfItsOwn() {
        publishClient();
        {
            MainWindow window;
            QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
            ui(window)->Options->click();
            QVERIFY(!ui(window)->LimiteTelechargement->isHidden());
            QCOMPARE(ui(window)->LimiteTelechargement->text(), QString("Aucune"));
            ui(window)->LimiteTelechargement->setValue(5);
            ui(window)->SauvegarderOptions->click();
        }
        QCOMPARE(readFile("download-limit.conf"), QByteArray("5\n"));
        QCOMPARE(readTextFile("launcher.conf").count('\n'), 9);
        MainWindow window;
        QCOMPARE(ui(window)->LimiteTelechargement->value(), 5);
        QCOMPARE(ui(window)->LimiteTelechargement->text(), QString("5 Mo/s"));
    }

    // Needs the engine's install: the folder chosen empty holds the whole client at the end, its
    // marker with it; it is the WoTLK folder in launcher.conf, and the record is gone.
    void installEndsWithTheFolderSaved() {
        publishClient();
        writeFile("launcher.conf", kNoClient);
        const QString target = dir->path() + "/jeux/Nouveau";
        QVERIFY(QDir().mkpath(target));
        MainWindow window;
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        DialogScript dialogs;
        QStringList seen;
        chooseFolder(window, dialogs, target, {"yes"}, seen);
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kInstalled, kTimeout);
        QCOMPARE(readFile(target + "/Data/a.MPQ"), archiveA);
        QCOMPARE(readFile(target + "/Data/b.MPQ"), archiveB);
        QVERIFY(QFileInfo::exists(target + "/kvf.vestrahal"));
        QCOMPARE(readFile(kInstalls), QByteArray("<absent>"));
        const QList<QByteArray> lines = readTextFile("launcher.conf").split('\n');
        QCOMPARE(lines.size(), 10); // nine lines, each ended
        QCOMPARE(lines.at(0), QByteArray("1"));
        QCOMPARE(QString::fromUtf8(lines.at(1)), target);
        QCOMPARE(ui(window)->CheminWoTLK->text(), target);
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kTimeout);
        QCOMPARE(dialogs.unexpected(), 0);
    }

    // Needs the engine's install and pause: an install recorded at the last close goes on by
    // itself at the next start; "Pause" stops it with its part kept, "Reprendre" ends it.
    void recordedInstallResumesAndPauses() {
        const QByteArray large = content("large archive", 4 << 20);
        publish({{"Data/large.MPQ", large}, {"kvf.vestrahal", ""}});
        const QString target = dir->path() + "/jeux/Nouveau";
        QVERIFY(QDir().mkpath(target));
        writeFile(kInstalls, "wotlk\t" + target.toUtf8() + "\n");
        writeFile("launcher.conf", kNoClient);
        server.setReply(objectOf(large).toLatin1(), {200, "application/octet-stream", large,
                                                     CommunityServer::Reply::Trickle, 0, 65536});
        MainWindow window;
        auto* files = window.findChild<GameFiles*>();
        const QString part =
            target + "/Data/large.MPQ." + Sha256::of(large).left(16) + ".vestrahal-part";
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(part).size() > 0, kTimeout);
        ui(window)->Options->click();
        QVERIFY(!ui(window)->PauseInstallation->isHidden());
        QSignalSpy paused(files, &GameFiles::paused);
        ui(window)->PauseInstallation->click();
        QTRY_COMPARE_WITH_TIMEOUT(paused.size(), 1, kTimeout);
        QVERIFY(!files->isRunning());
        QVERIFY(!ui(window)->ReprendreInstallation->isHidden());
        QVERIFY(QFileInfo(part).size() > 0);
        QVERIFY(!QFileInfo::exists(target + "/kvf.vestrahal"));
        server.clearReply(objectOf(large).toLatin1());
        ui(window)->ReprendreInstallation->click();
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kInstalled, 2 * kTimeout);
        QCOMPARE(readFile(target + "/Data/large.MPQ"), large);
        QCOMPARE(readFile(kInstalls), QByteArray("<absent>"));
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
