#include "closedport.h"
#include "communityserver.h"
#include "config.h"
#include "filesizelimit.h"
#include "gamefileindex.h"
#include "gamefiles.h"
#include "gamemanifest.h"
#include "launcherfiles.h"
#include "nginxserver.h"
#include "objectsources.h"
#include "sha256.h"
#include "testfiles.h"
// The suite links the engine built with its steps open (see CMakeLists.txt) and says what
// happens between them.
#define VESTRAHAL_TEST_STEPS
#include "teststeps.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sodium.h>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>

namespace {

// What the suite does between two of the engine's steps on the disk; called from the engine's
// threads.
std::function<void(const QString& step, const QString& path)> betweenSteps;

constexpr int kTimeout = 30000;
const QString kChecking = QString::fromUtf8("Vérification des fichiers du jeu...");
const QString kUpToDate = QString::fromUtf8("Fichiers du jeu à jour");
const QString kFailed =
    QString::fromUtf8("Fichiers du jeu non mis à jour : résumé en français à la fin de errors.log");
const QString kKeys = QStringLiteral(VESTRAHAL_SOURCE_DIR "/tests/keys");
const QString kPart = QStringLiteral(".vestrahal-part");

// The part file of a listed file: beside it, named for the object it is for.
QString partOf(const QString& path, const QByteArray& bytes) {
    return path + '.' + QString::fromLatin1(Sha256::of(bytes).left(16)) + kPart;
}

QByteArray testPublicKey() {
    return readFile(kKeys + "/update.pub").trimmed();
}

// What the community publishes: its list, signed, and the objects.
struct Publication {
    QString client = gamemanifest::kWotlk;
    qint64 sequence = 1765200000;
    QList<QPair<QString, QByteArray>> files;   // path, bytes
    QList<QPair<QString, QByteArray>> removed; // path, published bytes
    QByteArray seed;                           // the key's; empty: the tests' key

    // With mirrors the list is format 2.
    QByteArray manifest(const QStringList& mirrors = {}) const {
        QJsonArray list;
        for (const auto& [path, bytes] : files)
            list.append(QJsonObject{{"path", path},
                                    {"size", double(bytes.size())},
                                    {"sha256", QString::fromLatin1(Sha256::of(bytes))}});
        QJsonObject top{{"format", mirrors.isEmpty() ? 1 : 2},
                        {"client", client},
                        {"sequence", double(sequence)},
                        {"files", list}};
        if (!mirrors.isEmpty())
            top.insert("mirrors", QJsonArray::fromStringList(mirrors));
        QJsonArray gone;
        for (const auto& [path, bytes] : removed)
            gone.append(
                QJsonObject{{"path", path}, {"sha256", QString::fromLatin1(Sha256::of(bytes))}});
        if (!gone.isEmpty())
            top.insert("removed", gone);
        return QJsonDocument(top).toJson(QJsonDocument::Compact);
    }
};

QByteArray testSeed() {
    const QByteArray pem = readFile(kKeys + "/update.key");
    return QByteArray::fromBase64(pem.split('\n').value(1)).right(32);
}

QByteArray sign(const QByteArray& message, QByteArray seed) {
    if (seed.isEmpty())
        seed = testSeed();
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(publicKey, secretKey,
                             reinterpret_cast<const unsigned char*>(seed.constData()));
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr,
                         reinterpret_cast<const unsigned char*>(message.constData()),
                         message.size(), secretKey);
    return QByteArray(reinterpret_cast<const char*>(signature), sizeof signature).toBase64() + '\n';
}

// A file's modification time, to the nanosecond: a file the run must not touch keeps it.
qint64 modified(const QString& path) {
    return durablefile::stateOf(path).modified;
}

struct Run {
    bool finished = false;
    bool success = false;
    QStringList texts;
    QList<QPair<qint64, qint64>> progress;
};

enum class Server { Nginx, InProcess };

// A row of the given server: one served by nginx is skipped, with the reason, where nginx does
// not run.
#define USE_SERVER(chosen)                                                                         \
    do {                                                                                           \
        if ((chosen) == Server::Nginx && !nginxAbsent.isEmpty())                                   \
            QSKIP(qPrintable(nginxAbsent));                                                        \
        using_ = (chosen);                                                                         \
    } while (false)

} // namespace

void teststeps::reached(const char* step, const QString& path) {
    if (betweenSteps)
        betweenSteps(QString::fromLatin1(step), path);
}

Q_DECLARE_METATYPE(Server)

Q_DECLARE_METATYPE(gamemanifest::Outcome)

class GameFilesTest : public QObject {
    Q_OBJECT

    QTemporaryDir site;
    NginxServer nginx;
    CommunityServer inProcess;
    std::unique_ptr<QTemporaryDir> work;
    QString game;     // the game folder
    QString launcher; // the launcher's own folder
    Server using_ = Server::Nginx;
    QString nginxAbsent;             // why nginx serves nothing in this run; empty where it serves
    QPair<qint64, int> minimumSpeed; // bytes in milliseconds
    qint64 speedLimit = 0;
    bool limitOnceFetching = false; // the limit is set when the first object is on its way
    bool installing = false;        // the run installs into the game folder, without its marker

    quint16 port() const { return using_ == Server::Nginx ? nginx.port() : inProcess.serverPort(); }
    // The server of the cases that take a real one: nginx, or the in-process server where nginx
    // does not run.
    Server realServer() const { return nginxAbsent.isEmpty() ? Server::Nginx : Server::InProcess; }

    // Lays the publication out on the site that both servers serve.
    void publish(const Publication& publication, const QByteArray& manifestBytes = {},
                 const QStringList& mirrors = {}) {
        QDir(site.path() + "/launcher/files").removeRecursively();
        const QByteArray manifest =
            manifestBytes.isEmpty() ? publication.manifest(mirrors) : manifestBytes;
        const QString dir = site.path() + "/launcher/files/" + publication.client;
        writeFile(dir + "/manifest.json", manifest);
        writeFile(dir + "/manifest.json.sig",
                  sign(gamemanifest::signedMessage(manifest), publication.seed));
        for (const auto& [path, bytes] : publication.files)
            writeFile(site.path() + "/launcher/files/objects/" + Sha256::of(bytes), bytes);
    }

    Run run(GameFiles::Check check = GameFiles::Check::ByIndex,
            const QByteArray& key = testPublicKey(), const QString& client = gamemanifest::kWotlk) {
        GameFiles files;
        files.setPublicKey(key);
        files.setServer({QStringLiteral("127.0.0.1"), port(), false});
        files.setLauncherFolder(launcher);
        files.setObjectIdleLimit(3000);
        files.setMinimumSpeed(minimumSpeed.first, minimumSpeed.second);
        if (!limitOnceFetching)
            files.setSpeedLimit(speedLimit);
        Run result;
        connect(&files, &GameFiles::statusChanged, this,
                [&result, &files, this](const QString& text) {
                    result.texts.append(text);
                    if (limitOnceFetching && text.startsWith("Mise à jour des fichiers du jeu"))
                        files.setSpeedLimit(speedLimit);
                });
        connect(&files, &GameFiles::progressChanged, this, [&result](qint64 done, qint64 total) {
            result.progress.append({done, total});
        });
        QSignalSpy finished(&files, &GameFiles::finished);
        if (!files.start({{client, game, installing}}, check))
            return result;
        result.finished = finished.wait(kTimeout);
        if (result.finished)
            result.success = finished.first().first().toBool();
        return result;
    }

    // The objects the server was asked for, with the status each got (and the Range asked for).
    QStringList objectRequests() const {
        QStringList found;
        if (using_ == Server::Nginx) {
            static const QRegularExpression line(
                "\"GET /launcher/files/objects/([0-9a-f]{8})[0-9a-f]{56} HTTP/1.1\" (\\d+)");
            auto it = line.globalMatch(QString::fromLatin1(nginx.accessLog()));
            while (it.hasNext()) {
                const auto match = it.next();
                found.append(match.captured(1) + ' ' + match.captured(2));
            }
        } else {
            for (const auto& request : inProcess.requests()) {
                if (request.path.startsWith("/launcher/files/objects/"))
                    found.append(QString::fromLatin1(request.path.mid(24, 8)) + " 200");
            }
        }
        return found;
    }
    int requestCount() const {
        if (using_ == Server::Nginx)
            return int(nginx.accessLog().count("\"GET "));
        return int(inProcess.requests().size());
    }
    // A reply of that status, with a short body of its own.
    static CommunityServer::Reply status(int code) {
        CommunityServer::Reply reply;
        reply.status = code;
        reply.body = "not here";
        return reply;
    }
    static QString shortHash(const QByteArray& bytes) {
        return QString::fromLatin1(Sha256::of(bytes).left(8));
    }

    void addServerRows(const char* name) {
        QTest::addRow("%s, nginx", name) << Server::Nginx;
        QTest::addRow("%s, in-process server", name) << Server::InProcess;
    }

    // errors.log in UTF-8 with LF line ends, whatever the system writes it in (Windows: its
    // ANSI code page and CR LF).
    QByteArray report() const {
        return QString::fromLocal8Bit(readTextFile(launcher + "/errors.log")).toUtf8();
    }

    // An engine of the suite's: its key, the server in use, the launcher's folder.
    void prepare(GameFiles& files) const {
        files.setPublicKey(testPublicKey());
        files.setServer({QStringLiteral("127.0.0.1"), port(), false});
        files.setLauncherFolder(launcher);
    }

    // Gives the file a time in whole milliseconds, which a time can be set back to, and has a run
    // record it in the index.
    QDateTime teachTheIndexAWholeTime(const QString& path) {
        const QDateTime time = QFileInfo(path).lastModified().addSecs(-60);
        {
            QFile file(path);
            if (!file.open(QIODevice::ReadWrite) ||
                !file.setFileTime(time, QFileDevice::FileModificationTime))
                qFatal("cannot set the time of %s", qPrintable(path));
        }
        if (!run().success)
            qFatal("the run that records the time failed");
        return time;
    }

    // Other bytes of the same size, with the time the index knows: only a hash sees the change.
    static void changeKeepingTime(const QString& path, const QDateTime& time) {
        QFile file(path);
        if (!file.open(QIODevice::ReadWrite))
            qFatal("cannot open %s", qPrintable(path));
        QByteArray bytes = file.readAll();
        bytes[5] = char(~bytes[5]);
        file.seek(0);
        file.write(bytes);
        file.flush();
        file.setFileTime(time, QFileDevice::FileModificationTime);
    }

private slots:
    void initTestCase() {
        QVERIFY(site.isValid());
#ifdef Q_OS_WIN
        // nginx here is a Linux program: the suite built for Windows, run under Wine, could start
        // it but neither hand it the Windows paths of the site nor stop it.
        nginxAbsent = "nginx serves the Linux build of the suite only; under Windows the "
                      "in-process server stands in";
        using_ = Server::InProcess;
#else
        QVERIFY2(nginx.start(site.path()), qPrintable(nginx.error()));
#endif
        inProcess.setRoot(site.path());
        QVERIFY2(inProcess.start(), qPrintable(inProcess.errorString()));
    }

    void init() {
        work.reset(new QTemporaryDir);
        game = work->path() + "/jeux/WoTLK";
        launcher = work->path() + "/launcher";
        writeFile(game + "/kvf.vestrahal", "");
        writeFile(game + "/Wow.exe", "the game");
        QVERIFY(QDir().mkpath(launcher));
        QDir(site.path() + "/launcher").removeRecursively();
        inProcess.clearRequests();
        inProcess.clearReplies();
        minimumSpeed = {GameFiles::kMinimumBytes, GameFiles::kMinimumWindow};
        inProcess.setDelay("/launcher/files/wotlk/manifest.json", 0);
        speedLimit = 0;
        limitOnceFetching = false;
        installing = false;
    }

    // A folder is brought to the list: what is missing or differs is fetched, what matches is not.
    void missingDifferentAndMatchingFiles_data() {
        QTest::addColumn<Server>("server");
        addServerRows("folder brought up to date");
    }
    void missingDifferentAndMatchingFiles() {
        QFETCH(Server, server);
        USE_SERVER(server);
        const int before = objectRequests().size();
        const QByteArray same = content("same", 70000);
        const QByteArray changed = content("changed", 50000);
        const QByteArray resized = content("resized", 3 << 20);
        const QByteArray missing = content("missing", 1000);
        writeFile(game + "/Data/patch-A.MPQ", same);
        writeFile(game + "/Data/frFR/patch-frFR-B.MPQ", content("old B", 50000));
        writeFile(game + "/Data/patch-C.MPQ", "short");
        writeFile(game + "/Interface/AddOns/Mine/Mine.lua", "the player's addon");
        writeFile(game + "/WTF/Config.wtf", "SET realmName \"x\"");
        const qint64 addonTime = modified(game + "/Interface/AddOns/Mine/Mine.lua");
        const qint64 sameTime = modified(game + "/Data/patch-A.MPQ");
        publish({gamemanifest::kWotlk,
                 1765200000,
                 {{"Data/patch-A.MPQ", same},
                  {"Data/frFR/patch-frFR-B.MPQ", changed},
                  {"Data/patch-C.MPQ", resized},
                  {"Data/New/patch-D.MPQ", missing}},
                 {},
                 {}});

        const Run first = run();
        QVERIFY(first.finished);
        QVERIFY(first.success);
        QCOMPARE(readFile(game + "/Data/patch-A.MPQ"), same);
        QCOMPARE(readFile(game + "/Data/frFR/patch-frFR-B.MPQ"), changed);
        QCOMPARE(readFile(game + "/Data/patch-C.MPQ"), resized);
        QCOMPARE(readFile(game + "/Data/New/patch-D.MPQ"), missing);
        // The matching file was only read; nothing else was touched.
        QCOMPARE(modified(game + "/Data/patch-A.MPQ"), sameTime);
        QCOMPARE(readFile(game + "/Interface/AddOns/Mine/Mine.lua"),
                 QByteArray("the player's addon"));
        QCOMPARE(modified(game + "/Interface/AddOns/Mine/Mine.lua"), addonTime);
        QCOMPARE(readFile(game + "/WTF/Config.wtf"), QByteArray("SET realmName \"x\""));
        QStringList fetched = objectRequests().mid(before);
        fetched.sort();
        QStringList expected{shortHash(changed) + " 200", shortHash(resized) + " 200",
                             shortHash(missing) + " 200"};
        expected.sort();
        QCOMPARE(fetched, expected);
        QCOMPARE(first.texts.first(), kChecking);
        QVERIFY2(first.texts.contains(
                     QString::fromUtf8("Mise à jour des fichiers du jeu : 0 Mo sur 4 Mo")),
                 qPrintable(first.texts.join('|')));
        QCOMPARE(first.texts.last(), kUpToDate);
        const qint64 toFetch = changed.size() + resized.size() + missing.size();
        QCOMPARE(first.progress.last(), qMakePair(toFetch, toFetch));
        QVERIFY(report().contains("Manifest ............................ [OK] sequence 1765200000\n"
                                  "Files checked ....................... 4 (hashed 2)\n"
                                  "Files fetched ....................... 3 (" +
                                  QByteArray::number(toFetch) + " Bytes)\n"));
        // The index is the launcher's, beside its settings; the game folder holds no file of it.
        QDirIterator left(game, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        int count = 0;
        while (left.hasNext()) {
            QVERIFY2(!left.next().endsWith(kPart), qPrintable(left.filePath()));
            ++count;
        }
        QCOMPARE(count, 8);
        QCOMPARE(QDir(launcher).entryList({"gamefiles-wotlk-*.index"}, QDir::Files).size(), 1);

        // A second start finds everything by the index: nothing hashed, nothing fetched.
        const int afterFirst = objectRequests().size();
        const Run second = run();
        QVERIFY(second.success);
        QCOMPARE(objectRequests().size(), afterFirst);
        QVERIFY(report().endsWith("Files checked ....................... 4 (hashed 0)\n"
                                  "Files fetched ....................... 0 (0 Bytes)\n"
                                  "Files removed ....................... 0\n"
                                  "Files refused ....................... [OK] 0\n" +
                                  QString::fromUtf8("Résumé : les fichiers du jeu sont à jour dans "
                                                    "%1 (Wrath of the Lich King) : 4 fichiers "
                                                    "vérifiés, 0 mis à jour, 0 supprimé.\n\n\n")
                                      .arg(game)
                                      .toUtf8()));
    }

    // The player reads the summary the status line sends them to: in French, the files that
    // could not be brought up to date named, the reasons left to the admins' lines above it.
    void frenchSummary_data() {
        QTest::addColumn<gamemanifest::Outcome>("outcome");
        QTest::addColumn<QString>("summary");
        gamemanifest::Outcome base;
        base.client = gamemanifest::kCataclysm;
        base.folder = "C:/Jeux/Cata";
        const QString again = QString::fromUtf8(
            " Le jeu peut être lancé ; le launcher réessaiera à son prochain démarrage.");
        QTest::newRow("list not received")
            << base
            << QString::fromUtf8("Résumé : la liste des fichiers du jeu n'a pas pu être "
                                 "téléchargée ; rien n'a été modifié dans C:/Jeux/Cata "
                                 "(Cataclysm).") +
                   again;
        gamemanifest::Outcome done = base;
        done.client = gamemanifest::kWotlk;
        done.manifestReceived = true;
        done.checked = 1;
        done.fetched = 1;
        done.removed = 2;
        QTest::newRow("up to date")
            << done
            << QString::fromUtf8("Résumé : les fichiers du jeu sont à jour dans C:/Jeux/Cata "
                                 "(Wrath of the Lich King) : 1 fichier vérifié, 1 mis à jour, 2 "
                                 "supprimés.");
        gamemanifest::Outcome many = done;
        for (int i = 1; i <= 7; ++i)
            many.refused << QString("Data/%1.MPQ: HTTP Error 404").arg(i);
        QTest::newRow("many files refused")
            << many
            << QString::fromUtf8("Résumé : 7 fichiers du jeu n'ont pas pu être mis à jour dans "
                                 "C:/Jeux/Cata (Wrath of the Lich King) : Data/1.MPQ, Data/2.MPQ, "
                                 "Data/3.MPQ, Data/4.MPQ, Data/5.MPQ et 2 autres (le détail est "
                                 "en anglais ci-dessus) ; 1 fichier vérifié, 1 mis à jour, 2 "
                                 "supprimés.") +
                   again;
    }
    void frenchSummary() {
        QFETCH(gamemanifest::Outcome, outcome);
        QTEST(gamemanifest::frenchSummary(outcome), "summary");
        // The last line of the report, after the admins' lines, before the two empty ones.
        QFETCH(QString, summary);
        QVERIFY(gamemanifest::report(outcome, QDateTime::currentDateTime())
                    .endsWith("\n" + summary + "\n\n\n"));
    }

    // The whole list is refused, nothing written, when it cannot be trusted or used.
    void refusedLists_data() {
        QTest::addColumn<Server>("server");
        QTest::addColumn<QString>("path");    // listed beside a good file; empty: none
        QTest::addColumn<QString>("problem"); // what the report says
        const QList<QPair<const char*, QPair<QString, QString>>> rows{
            {"absolute path", {"/etc/passwd", "absolute"}},
            {"drive letter", {"C:/Windows/win.ini", "drive letter"}},
            {"backslash", {"Data\\patch.MPQ", "backslash"}},
            {"empty component", {"Data//patch.MPQ", "empty component"}},
            {"dot component", {"Data/./patch.MPQ", "component ."}},
            {"dot-dot component", {"Data/../../outside.MPQ", "component .."}},
            {"control character", {"Data/patch\x01.MPQ", "control character"}},
            {"reserved name CON", {"Data/CON", "Windows reserved name CON"}},
            {"reserved name with extension", {"Data/nul.txt", "Windows reserved name nul.txt"}},
            {"reserved name COM1", {"com1/patch.MPQ", "Windows reserved name com1"}},
            {"trailing dot", {"Data/patch.", "component ending in a dot"}},
            {"colon", {"Data/patch.MPQ:stream", "character : that Windows refuses"}},
            {"case-insensitive duplicate", {"data/PATCH-A.mpq", "listed twice"}},
            {"file and folder at once", {"Data/patch-A.MPQ/inner", "both a file and a folder"}},
        };
        for (const auto& [name, row] : rows) {
            QTest::addRow("%s, nginx", name) << Server::Nginx << row.first << row.second;
            QTest::addRow("%s, in-process server", name)
                << Server::InProcess << row.first << row.second;
        }
    }
    void refusedLists() {
        QFETCH(Server, server);
        QFETCH(QString, path);
        QFETCH(QString, problem);
        USE_SERVER(server);
        const QByteArray good = content("good", 4000);
        publish({gamemanifest::kWotlk, 5, {{"Data/patch-A.MPQ", good}, {path, "bad"}}, {}, {}});
        const int before = objectRequests().size();
        const Run result = run();
        QVERIFY(result.finished);
        QVERIFY(!result.success);
        QCOMPARE(result.texts.last(), kFailed);
        QCOMPARE(readFile(game + "/Data/patch-A.MPQ"), QByteArray("<absent>"));
        QCOMPARE(objectRequests().size(), before);
        QVERIFY2(report().contains("Manifest ............................ [FAIL] ") &&
                     report().contains(problem.toUtf8()),
                 report().constData());
        QVERIFY(QDir(launcher).entryList({"gamefiles-*"}, QDir::Files).isEmpty());
    }

    // Lists that are not the community's, not this client's, or older than the last one applied.
    void untrustedLists_data() {
        QTest::addColumn<Server>("server");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("problem");
        for (const char* kind :
             {"another key", "another client", "lower sequence", "not JSON", "format 3",
              "size as text", "upper-case hash", "signature damaged"}) {
            QTest::addRow("%s, nginx", kind) << Server::Nginx << QString(kind) << QByteArray();
            QTest::addRow("%s, in-process server", kind)
                << Server::InProcess << QString(kind) << QByteArray();
        }
    }
    void untrustedLists() {
        QFETCH(Server, server);
        QFETCH(QString, kind);
        USE_SERVER(server);
        const QByteArray bytes = content("listed", 3000);
        Publication publication{gamemanifest::kWotlk, 100, {{"Data/patch-A.MPQ", bytes}}, {}, {}};
        QByteArray expected;
        if (kind == "lower sequence") {
            // Applied once at 100; an older list served later is a replay.
            publish(publication);
            QVERIFY(run().success);
            QFile::remove(game + "/Data/patch-A.MPQ");
            publication.sequence = 99;
            expected = "sequence 99 lower than 100 applied before";
        }
        QByteArray manifest = publication.manifest();
        if (kind == "another key") {
            unsigned char seed[crypto_sign_SEEDBYTES];
            randombytes_buf(seed, sizeof seed);
            publication.seed = QByteArray(reinterpret_cast<const char*>(seed), sizeof seed);
            expected = "signature: does not verify";
        } else if (kind == "another client") {
            manifest.replace("\"client\":\"wotlk\"", "\"client\":\"cataclysm\"");
            expected = "client \"cataclysm\" instead of \"wotlk\"";
        } else if (kind == "not JSON") {
            manifest.chop(1);
            expected = "not JSON";
        } else if (kind == "format 3") {
            manifest.replace("\"format\":1", "\"format\":3");
            expected = "not format 1 or 2";
        } else if (kind == "size as text") {
            manifest.replace("\"size\":3000", "\"size\":\"3000\"");
            expected = "without a size";
        } else if (kind == "upper-case hash") {
            manifest.replace(Sha256::of(bytes), Sha256::of(bytes).toUpper());
            expected = "without a path or a SHA-256";
        }
        publish(publication, manifest);
        if (kind == "signature damaged") {
            const QString sig = site.path() + "/launcher/files/wotlk/manifest.json.sig";
            QByteArray text = readFile(sig);
            text[3] = text[3] == 'A' ? 'B' : 'A';
            writeFile(sig, text);
            expected = "signature: does not verify";
        }
        const Run result = run();
        QVERIFY(result.finished);
        QVERIFY(!result.success);
        QCOMPARE(readFile(game + "/Data/patch-A.MPQ"), QByteArray("<absent>"));
        QVERIFY2(report().contains("Manifest ............................ [FAIL] "),
                 report().constData());
        QVERIFY2(report().contains(expected), report().constData());
    }

    // A listed or removed path that leads through a link is refused with the whole list, and
    // nothing is written or deleted where the link leads, even when it holds the removed bytes.
    void linksAreRefused_data() {
        QTest::addColumn<Server>("server");
        QTest::addColumn<QString>("link");   // made in the game folder, to the outside folder
        QTest::addColumn<QString>("listed"); // the listed path
        QTest::addColumn<bool>("removed");   // listed as removed, with the outside file's bytes
        QTest::newRow("linked folder, nginx") << Server::Nginx << "Data/linked"
                                              << "Data/linked/patch.MPQ" << false;
        QTest::newRow("linked folder, in-process server") << Server::InProcess << "Data/linked"
                                                          << "Data/linked/patch.MPQ" << false;
        QTest::newRow("linked file, nginx") << Server::Nginx << "Data/patch.MPQ"
                                            << "Data/patch.MPQ" << false;
        QTest::newRow("linked file, in-process server") << Server::InProcess << "Data/patch.MPQ"
                                                        << "Data/patch.MPQ" << false;
        QTest::newRow("removed entry in a linked folder") << Server::InProcess << "Data/linked"
                                                          << "Data/linked/patch.MPQ" << true;
    }
    void linksAreRefused() {
        VESTRAHAL_SKIP_WITHOUT_REPARSE_POINTS();
        QFETCH(Server, server);
        QFETCH(QString, link);
        QFETCH(QString, listed);
        QFETCH(bool, removed);
        USE_SERVER(server);
        const QString outside = work->path() + "/outside";
        const QByteArray theirs = "someone else's file";
        writeFile(outside + "/patch.MPQ", theirs);
        QVERIFY(QDir().mkpath(game + "/Data"));
        const QString linkTarget = link.endsWith(".MPQ") ? outside + "/patch.MPQ" : outside;
        if (!makeLink(linkTarget, game + '/' + link)) {
#ifdef Q_OS_WIN
            if (!QFileInfo(linkTarget).isDir())
                QSKIP("Windows lets a symbolic link to a file be made in Developer Mode or by an "
                      "administrator only");
#endif
            QFAIL("no link could be made");
        }
        if (removed)
            publish({gamemanifest::kWotlk,
                     1,
                     {{"Data/patch-A.MPQ", content("kept", 2000)}},
                     {{listed, theirs}},
                     {}});
        else
            publish({gamemanifest::kWotlk, 1, {{listed, content("listed", 2000)}}, {}, {}});
        const Run result = run();
        QCOMPARE(readFile(outside + "/patch.MPQ"), theirs);
        QVERIFY(!result.success);
        // Refused before anything was written: the list's other files too.
        QCOMPARE(readFile(game + "/Data/patch-A.MPQ"), QByteArray("<absent>"));
        QVERIFY(QDir(outside).entryList({"*" + kPart}, QDir::Files).isEmpty());
        QVERIFY2(report().contains("leads through the link"), report().constData());
    }

    // A link planted in a folder's place at any step of the work (the folder just made, the part
    // file just opened, the part about to take its name, a removed file just hashed) stops that
    // file: nothing is written or deleted where the link leads, and the report says why.
    void linkPlantedMidRun_data() {
        QTest::addColumn<QString>("step");
        QTest::addColumn<int>("size"); // of the listed file; 0: a removed entry
        QTest::newRow("folder made") << "folder made" << 5000;
        QTest::newRow("part opened, small object") << "part opened" << 5000;
        QTest::newRow("part opened, large object") << "part opened" << (3 << 20);
        QTest::newRow("part about to be renamed, small object") << "part renamed" << 5000;
        QTest::newRow("part about to be renamed, large object") << "part renamed" << (3 << 20);
        QTest::newRow("removed file hashed") << "removal hashed" << 0;
    }
    void linkPlantedMidRun() {
        VESTRAHAL_SKIP_WITHOUT_SYMBOLIC_LINKS();
        QFETCH(QString, step);
        QFETCH(int, size);
        using_ = realServer();
        const QString outside = work->path() + "/outside";
        const QByteArray published = content("published", size > 0 ? size : 4000);
        // What lies where the link leads: someone else's file, or the removed entry's very bytes.
        const QByteArray theirs = size > 0 ? QByteArray("someone else's file") : published;
        writeFile(outside + "/patch.MPQ", theirs);
        const QString folder = game + "/Data/New";
        if (step != "folder made")
            QVERIFY(QDir().mkpath(folder));
        if (size > 0)
            publish({gamemanifest::kWotlk, 1, {{"Data/New/patch.MPQ", published}}, {}, {}});
        else {
            writeFile(folder + "/patch.MPQ", published);
            publish({gamemanifest::kWotlk, 1, {}, {{"Data/New/patch.MPQ", published}}, {}});
        }
        std::atomic<bool> planted{false};
        betweenSteps = [&](const QString& reached, const QString& path) {
            const QString in = reached == "folder made" ? path : QFileInfo(path).path();
            if (reached != step || in != folder || planted.exchange(true))
                return;
            QDir().rename(folder, work->path() + "/moved away");
            QFile::link(outside, folder);
        };
        const Run result = run();
        betweenSteps = nullptr;
        QVERIFY(planted);
        QVERIFY(result.finished);
        QVERIFY(!result.success);
        QCOMPARE(readFile(outside + "/patch.MPQ"), theirs);
        QCOMPARE(QDir(outside).entryList(QDir::Files), QStringList{"patch.MPQ"});
        QVERIFY2(report().contains("Files refused ....................... [FAIL] 1\n") &&
                     report().contains("link"),
                 report().constData());
    }

    // Objects that are not what the list says never take a file's name.
    void badObjects_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("other bytes of the same size") << "other bytes";
        QTest::newRow("longer than listed") << "longer";
        QTest::newRow("cut short") << "cut";
        QTest::newRow("not published") << "missing";
    }
    void badObjects() {
        QFETCH(QString, kind);
        using_ = Server::InProcess;
        const QByteArray listed = content("listed", 200000);
        writeFile(game + "/Data/patch-A.MPQ", "the old one");
        publish({gamemanifest::kWotlk, 1, {{"Data/patch-A.MPQ", listed}}, {}, {}});
        const QByteArray object = "/launcher/files/objects/" + Sha256::of(listed);
        if (kind == "other bytes")
            inProcess.setReply(object, {200, "application/octet-stream", content("other", 200000)});
        else if (kind == "longer")
            inProcess.setReply(object, {200, "application/octet-stream", listed + "more"});
        else if (kind == "cut")
            inProcess.setReply(object, {200, "application/octet-stream", listed,
                                        CommunityServer::Reply::CutShort, 1000});
        else
            QFile::remove(site.path() + object);
        const Run result = run();
        QVERIFY(result.finished);
        QVERIFY(!result.success);
        QCOMPARE(result.texts.last(), kFailed);
        QCOMPARE(readFile(game + "/Data/patch-A.MPQ"), QByteArray("the old one"));
        // What came of a cut body may be kept to be resumed (when the network layer handed it
        // over before the close); what is known to be wrong never is.
        const QString part = partOf(game + "/Data/patch-A.MPQ", listed);
        if (kind == "cut" && QFileInfo::exists(part))
            QVERIFY(listed.startsWith(readFile(part)) && !readFile(part).isEmpty());
        else
            QVERIFY(!QFileInfo::exists(part));
        QVERIFY(report().contains(
            "Files refused ....................... [FAIL] 1\n  Data/patch-A.MPQ: "));
    }

    // An object comes from the next source when one fails for it: here the community's host does
    // not hold it, and the first mirror answers 503, serves other bytes, stalls or refuses the
    // connection. The bytes are the listed ones whichever source served them, and a stalled
    // large object's part is resumed from the next source.
    void mirrorsTakeOver_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("install"); // an install waits for the network where an update fails
        for (const char* fault : {"503", "other bytes", "stalls", "refused"}) {
            QTest::addRow("mirror %s, small object", fault) << QString(fault) << 4000 << false;
            QTest::addRow("mirror %s, large object", fault) << QString(fault) << (3 << 20) << false;
        }
        for (const char* fault : {"503", "refused"}) {
            QTest::addRow("install, mirror %s, small object", fault)
                << QString(fault) << 4000 << true;
            QTest::addRow("install, mirror %s, large object", fault)
                << QString(fault) << (3 << 20) << true;
        }
    }
    void mirrorsTakeOver() {
        QFETCH(QString, fault);
        QFETCH(int, size);
        QFETCH(bool, install);
        using_ = Server::InProcess;
        if (install) {
            installing = true;
            QVERIFY(QFile::remove(game + "/kvf.vestrahal"));
        }
        const QByteArray bytes =
            content("mirrored " + fault.toUtf8() + (install ? " to install" : ""), size);
        const QByteArray sha = Sha256::of(bytes);
        CommunityServer bad;
        QVERIFY(bad.start());
        const quint16 badPort = fault == "refused" ? closedPort() : bad.serverPort();
        // The mirror that has the object: nginx, or a second in-process server where it does
        // not run.
        CommunityServer good;
        quint16 goodPort = nginx.port();
        if (!nginxAbsent.isEmpty()) {
            good.setRoot(site.path());
            QVERIFY(good.start());
            goodPort = good.serverPort();
        }
        Publication publication{gamemanifest::kWotlk, 1, {{"Data/patch-M.MPQ", bytes}}, {}, {}};
        publish(publication, {},
                {QString("http://127.0.0.1:%1/m/").arg(badPort),
                 QString("http://127.0.0.1:%1/launcher/files/objects/").arg(goodPort)});
        inProcess.setReply("/launcher/files/objects/" + sha, status(404));
        CommunityServer::Reply reply;
        reply.body = bytes;
        if (fault == "503") {
            reply.status = 503;
            reply.body = "busy";
        } else if (fault == "other bytes") {
            reply.body = content("not it", size);
        } else if (fault == "stalls") {
            reply.mode = CommunityServer::Reply::Stalls;
            reply.cutAfter = size / 2;
        }
        bad.setReply("/m/" + sha, reply);
        const Run result = run();
        QVERIFY(result.finished);
        QVERIFY2(result.success, report().constData());
        QCOMPARE(readFile(game + "/Data/patch-M.MPQ"), bytes);
        QCOMPARE(inProcess.requestsFor("/launcher/files/objects/" + sha).size(), 1);
        if (fault != "refused")
            QCOMPARE(bad.requestsFor("/m/" + sha).size(), 1);
        const bool resumes = fault == "stalls" && size > (1 << 20);
        if (nginxAbsent.isEmpty()) {
            const QString asked = QString::fromLatin1(nginx.accessLog());
            QCOMPARE(asked.count(QString::fromLatin1(sha)), 1);
            if (resumes)
                QVERIFY2(asked.contains(QString::fromLatin1(sha) + " HTTP/1.1\" 206 "),
                         qPrintable(asked));
        } else {
            const auto asked = good.requestsFor("/launcher/files/objects/" + sha);
            QCOMPARE(asked.size(), 1);
            // The in-process server always answers whole: what counts is that the part was kept.
            if (resumes)
                QVERIFY2(asked.first().header("Range").startsWith("bytes=") &&
                             asked.first().header("Range") != "bytes=0-",
                         asked.first().header("Range").constData());
        }
        QVERIFY(QDir(game + "/Data").entryList({"*" + kPart}, QDir::Files).isEmpty());
        // A failing mirror is no lost network: the next source is asked at once.
        if (install) {
            QVERIFY(QFileInfo(game + "/kvf.vestrahal").isFile());
            QVERIFY2(!result.texts.join('\n').contains(QString::fromUtf8("en attente du réseau")),
                     qPrintable(result.texts.join(" | ")));
        }
    }

    // Which source an object asks: the first no object failed from, else the first it has not
    // tried itself, none once it tried them all; a mirror's address as the host and path asked.
    void sourceChoice_data() {
        QTest::addColumn<QList<int>>("setAside");
        QTest::addColumn<quint32>("tried");
        QTest::addColumn<int>("chosen");
        QTest::newRow("nothing failed yet") << QList<int>{} << 0u << 0;
        QTest::newRow("the host set aside") << QList<int>{0} << 0u << 1;
        QTest::newRow("host and first mirror set aside") << QList<int>{0, 1} << 0u << 2;
        QTest::newRow("all set aside: the first not tried") << QList<int>{0, 1, 2} << 1u << 1;
        QTest::newRow("failed from the host, others sound") << QList<int>{0} << 1u << 1;
        QTest::newRow("tried them all") << QList<int>{0, 1, 2} << 7u << -1;
    }
    void sourceChoice() {
        QFETCH(QList<int>, setAside);
        QFETCH(quint32, tried);
        QFETCH(int, chosen);
        ObjectSources sources({"www.vestrahal.test", 80, false}, "/launcher/files/objects/",
                              {"https://cdn.example.org/v/objects/", "http://[::1]:8081/o/"});
        QCOMPARE(sources.size(), 3);
        for (const int source : setAside)
            sources.setAside(source);
        QCOMPARE(sources.choose(tried), chosen);
        QCOMPARE(sources.at(1).server.host, QString("cdn.example.org"));
        QCOMPARE(sources.at(1).server.port, quint16(443));
        QVERIFY(sources.at(1).server.secure);
        QCOMPARE(sources.path(1, "ab"), QString("/v/objects/ab"));
        QCOMPARE(sources.at(2).server.host, QString("::1"));
        QCOMPARE(sources.at(2).server.port, quint16(8081));
        QVERIFY(!sources.at(2).server.secure);
        QCOMPARE(sources.path(0, "ab"), QString("/launcher/files/objects/ab"));
    }

    // The speed limit holds for the lanes together, whichever of them are busy, set before the
    // run or while it fetches: a large object and small ones never come faster than the limit
    // allows (a piece of each lane beyond it at most), and come whole.
    void lanesKeepToTheSpeedLimit_data() {
        QTest::addColumn<bool>("whileFetching");
        QTest::newRow("limit set before the run") << false;
        QTest::newRow("limit set while fetching") << true;
    }
    void lanesKeepToTheSpeedLimit() {
        QFETCH(bool, whileFetching);
        using_ = realServer();
        constexpr qint64 kLimit = qint64(1) << 20;
        Publication publication{gamemanifest::kWotlk, 1, {}, {}, {}};
        publication.files.append({"Data/patch-B.MPQ", content("big", 3 << 19)});
        for (int i = 0; i < 8; ++i)
            publication.files.append({QString("Interface/small-%1.lua").arg(i),
                                      content("small " + QByteArray::number(i), 128 << 10)});
        qint64 total = 0;
        for (const auto& [path, bytes] : publication.files)
            total += bytes.size();
        publish(publication);
        speedLimit = kLimit;
        limitOnceFetching = whileFetching;
        QElapsedTimer elapsed;
        elapsed.start();
        const Run result = run();
        QVERIFY(result.finished);
        QVERIFY2(result.success, report().constData());
        for (const auto& [path, bytes] : publication.files)
            QCOMPARE(readFile(game + '/' + path), bytes);
        const qint64 piece = whileFetching ? 256 << 10 : kLimit / 16;
        const qint64 allowance = GameFiles::kLanes * piece + kLimit / 10;
        QVERIFY2(elapsed.elapsed() >= (total - allowance) * 1000 / kLimit,
                 qPrintable(QString::number(elapsed.elapsed())));
    }

    // When every source failed for an object, it fails as with the community's host alone; the
    // other objects are still brought, from wherever they are.
    void mirrorsAllFail() {
        using_ = Server::InProcess;
        const QByteArray lost = content("lost everywhere", 5000);
        const QByteArray kept = content("kept", 6000);
        CommunityServer bad;
        QVERIFY(bad.start());
        Publication publication{gamemanifest::kWotlk,
                                1,
                                {{"Data/patch-L.MPQ", lost}, {"Data/patch-K.MPQ", kept}},
                                {},
                                {}};
        publish(publication, {},
                {QString("http://127.0.0.1:%1/m/").arg(bad.serverPort()),
                 QString("http://127.0.0.1:%1/m/").arg(closedPort())});
        inProcess.setReply("/launcher/files/objects/" + Sha256::of(lost), status(503));
        bad.setReply("/m/" + Sha256::of(lost), status(404));
        bad.setReply("/m/" + Sha256::of(kept), status(404));
        const Run result = run();
        QVERIFY(result.finished);
        QVERIFY(!result.success);
        QCOMPARE(readFile(game + "/Data/patch-L.MPQ"), QByteArray("<absent>"));
        QCOMPARE(readFile(game + "/Data/patch-K.MPQ"), kept);
        // Each source asked once for the lost object, never again.
        QCOMPARE(inProcess.requestsFor("/launcher/files/objects/" + Sha256::of(lost)).size(), 1);
        QCOMPARE(bad.requestsFor("/m/" + Sha256::of(lost)).size(), 1);
        QVERIFY2(report().contains(
                     "Files refused ....................... [FAIL] 1\n  Data/patch-L.MPQ: "),
                 report().constData());
    }

    // What stands in a listed file's way is left alone; that file is refused, the others fetched,
    // and the run reports once.
    void somethingInTheWay_data() {
        QTest::addColumn<QString>("blocker"); // made in the game folder
        QTest::addColumn<bool>("isFolder");
        QTest::newRow("a file where the listed folder goes") << "Blocked" << false;
        QTest::newRow("a folder where the listed file goes") << "Blocked/patch.MPQ" << true;
    }
    void somethingInTheWay() {
        QFETCH(QString, blocker);
        QFETCH(bool, isFolder);
        using_ = Server::InProcess;
        if (isFolder)
            QVERIFY(QDir().mkpath(game + '/' + blocker));
        else
            writeFile(game + '/' + blocker, "the player's");
        const QByteArray other = content("other", 1000);
        publish({gamemanifest::kWotlk,
                 1,
                 {{"Blocked/patch.MPQ", content("blocked", 1000)}, {"Data/patch-O.MPQ", other}},
                 {},
                 {}});
        const Run result = run();
        QVERIFY(result.finished);
        QVERIFY(!result.success);
        QCOMPARE(readFile(game + "/Data/patch-O.MPQ"), other);
        if (isFolder)
            QVERIFY(QFileInfo(game + '/' + blocker).isDir());
        else
            QCOMPARE(readFile(game + '/' + blocker), QByteArray("the player's"));
        QCOMPARE(report().count("Game files of wotlk"), 1);
        QVERIFY2(report().contains(
                     "Files refused ....................... [FAIL] 1\n  Blocked/patch.MPQ: "),
                 report().constData());
    }

    // A file the running game holds open (without delete sharing, as every Windows program
    // opens it unless told otherwise) cannot be replaced: the run says the file is in use,
    // leaves it as it was, and the next run, once the game has let go, brings it.
    void fileHeldByARunningGame_data() {
        QTest::addColumn<bool>("writeSharing");
        QTest::newRow("read sharing only, as the game reads its archives") << false;
        QTest::newRow("read and write sharing") << true;
    }
    void fileHeldByARunningGame() {
#ifdef Q_OS_WIN
        QFETCH(bool, writeSharing);
        using_ = Server::InProcess;
        const QString path = game + "/Data/patch-H.MPQ";
        writeFile(path, "the game's");
        const QByteArray listed = content("held", 5000);
        publish({gamemanifest::kWotlk, 1, {{ "Data/patch-H.MPQ", listed }}, {}, {}});
        const DWORD share = FILE_SHARE_READ | (writeSharing ? FILE_SHARE_WRITE : 0);
        HANDLE held = CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ,
                                  share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        QVERIFY(held != INVALID_HANDLE_VALUE);
        const auto closed = qScopeGuard([&held] {
            if (held != INVALID_HANDLE_VALUE)
                CloseHandle(held);
        });
        const Run result = run();
        QVERIFY(result.finished);
        QVERIFY(!result.success);
        QCOMPARE(readFile(path), QByteArray("the game's"));
        QVERIFY2(report().contains("Data/patch-H.MPQ: in use by a running program"),
                 report().constData());

        CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
        QVERIFY(run().success);
        QCOMPARE(readFile(path), listed);
#else
        QSKIP("a file held open keeps its name on Windows only: elsewhere a rename replaces it");
#endif
    }

    // A list of 100,000 files whose folder cannot be made (a file stands in its place) runs
    // through on a 1 MiB stack, as Windows gives its main thread: every file refused, reported,
    // and the file listed after them all still fetched.
    void manyRefusedFilesOnASmallStack_data() {
        QTest::addColumn<QString>("layout"); // "%1": the file's number
        QTest::newRow("all in one folder that cannot be made") << "Blocked/f%1";
        QTest::newRow("each in a folder of its own below a file") << "Blocked/d%1/f";
    }
    void manyRefusedFilesOnASmallStack() {
#ifdef Q_OS_UNIX
        QFETCH(QString, layout);
        using_ = realServer();
        constexpr int kFiles = 100000;
        writeFile(game + "/Blocked", "the player's");
        const QByteArray hash = Sha256::of("x");
        QByteArray manifest = R"({"format":1,"client":"wotlk","sequence":9,"files":[)";
        const auto entry = [&hash](const QString& path) {
            return "{\"path\":\"" + path.toLatin1() + "\",\"size\":1,\"sha256\":\"" + hash + "\"}";
        };
        for (int i = 0; i < kFiles; ++i)
            manifest += entry(layout.arg(i)) + ',';
        // Listed after them all: still fetched.
        manifest += entry("Data/x") + "]}";
        publish({gamemanifest::kWotlk, 9, {{ "Data/x", "x" }}, {}, {}}, manifest);
        QProcess small;
        small.start("/bin/sh", {"-c", "ulimit -s 1024 && exec \"$@\"", "sh", GAMEFILES_RUN,
                                QString::number(nginx.port()), QString::fromLatin1(testPublicKey()),
                                launcher, game});
        QVERIFY(small.waitForFinished(4 * kTimeout));
        QCOMPARE(small.exitStatus(), QProcess::NormalExit);
        QCOMPARE(small.exitCode(), 1);
        QVERIFY2(report().contains("Files fetched ....................... 1 (1 Bytes)\n") &&
                     report().contains("Files refused ....................... [FAIL] 100000\n"),
                 report().left(2000).constData());
        QCOMPARE(readFile(game + "/Blocked"), QByteArray("the player's"));
        QCOMPARE(readFile(game + "/Data/x"), QByteArray("x"));
#else
        QSKIP("a 1 MiB stack through the shell's ulimit: POSIX only");
#endif
    }

    // A part file left by a kill is resumed with a Range request where the server takes one, and
    // read again from the start where it does not.
    void partFileIsResumed_data() {
        QTest::addColumn<Server>("server");
        QTest::addColumn<QString>("part"); // what the kill left
        QTest::newRow("nginx takes the Range") << Server::Nginx << "first half";
        QTest::newRow("in-process server ignores it") << Server::InProcess << "first half";
        QTest::newRow("damaged part, nginx") << Server::Nginx << "damaged";
    }
    void partFileIsResumed() {
        QFETCH(Server, server);
        QFETCH(QString, part);
        USE_SERVER(server);
        const QByteArray listed = content("large", 3 << 20);
        QByteArray left = listed.left(listed.size() / 2);
        if (part == "damaged")
            left[1000] = char(~left[1000]);
        writeFile(partOf(game + "/Data/patch-L.MPQ", listed), left);
        publish({gamemanifest::kWotlk, 1, {{"Data/patch-L.MPQ", listed}}, {}, {}});
        const int before = objectRequests().size();
        const Run result = run();
        QVERIFY(result.finished);
        QCOMPARE(result.success, part != "damaged");
        QCOMPARE(objectRequests().mid(before),
                 QStringList{shortHash(listed) + (server == Server::Nginx ? " 206" : " 200")});
        if (server == Server::InProcess)
            QCOMPARE(inProcess.requests().last().header("Range"),
                     "bytes=" + QByteArray::number(left.size()) + "-");
        // The bar starts where the part left off, and never goes past the end, the whole object
        // sent again included.
        QCOMPARE(result.progress.first().first, qint64(left.size()));
        if (part != "damaged")
            QCOMPARE(result.progress.last(), qMakePair(listed.size(), listed.size()));
        if (part == "damaged") {
            QCOMPARE(readFile(game + "/Data/patch-L.MPQ"), QByteArray("<absent>"));
            QVERIFY(!QFileInfo::exists(partOf(game + "/Data/patch-L.MPQ", listed)));
            // The next start fetches it whole.
            QVERIFY(run().success);
        }
        QCOMPARE(readFile(game + "/Data/patch-L.MPQ"), listed);
        QVERIFY(!QFileInfo::exists(partOf(game + "/Data/patch-L.MPQ", listed)));
    }

    // Content-Range as HTTP writes it: the complete length may be unknown ("*").
    void contentRangeForms_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("last");
        QTest::addColumn<qint64>("complete");
        QTest::newRow("whole form")
            << QByteArray("bytes 100-199/200") << true << 100LL << 199LL << 200LL;
        QTest::newRow("complete length unknown")
            << QByteArray("bytes 1000000-1999999/*") << true << 1000000LL << 1999999LL << -1LL;
        QTest::newRow("spaces around") << QByteArray(" bytes 0-0/1 ") << true << 0LL << 0LL << 1LL;
        QTest::newRow("unsatisfied range")
            << QByteArray("bytes */200") << false << 0LL << 0LL << 0LL;
        QTest::newRow("last before first")
            << QByteArray("bytes 9-3/20") << false << 0LL << 0LL << 0LL;
        QTest::newRow("complete not beyond last")
            << QByteArray("bytes 0-99/99") << false << 0LL << 0LL << 0LL;
        QTest::newRow("another unit") << QByteArray("items 0-9/10") << false << 0LL << 0LL << 0LL;
        QTest::newRow("no complete length")
            << QByteArray("bytes 0-9") << false << 0LL << 0LL << 0LL;
        QTest::newRow("a sign") << QByteArray("bytes +1-9/10") << false << 0LL << 0LL << 0LL;
    }
    void contentRangeForms() {
        QFETCH(QByteArray, value);
        QFETCH(bool, valid);
        ContentRange range;
        QCOMPARE(parseContentRange(value, &range), valid);
        if (valid) {
            QTEST(range.first, "first");
            QTEST(range.last, "last");
            QTEST(range.complete, "complete");
        }
    }

    // A resumed part's answer: a range of the complete length "*" is taken; another range than
    // the one asked for throws the part away and the next start asks from the first byte; a
    // resume refused twice starts afresh.
    void resumedRangeAnswers_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("success");
        QTest::addColumn<int>("runsUntilAfresh"); // runs before one asks without a Range
        QTest::addColumn<QString>("reason");      // in the first run's report
        QTest::newRow("the rest, complete length *") << "star" << true << 0 << QString();
        QTest::newRow("another range")
            << "other range" << false << 1 << "the server answered the range bytes 0-";
        QTest::newRow("206 without Content-Range")
            << "no range" << false << 1 << "the server answered the range none";
        QTest::newRow("resume refused with 503, twice") << "503" << false << 2 << "HTTP Error 503";
    }
    void resumedRangeAnswers() {
        QFETCH(QString, answer);
        QFETCH(bool, success);
        QFETCH(int, runsUntilAfresh);
        QFETCH(QString, reason);
        using_ = Server::InProcess;
        const QByteArray listed = content("ranged", 2 << 20);
        const qint64 kept = listed.size() / 2;
        const QString path = game + "/Data/patch-G.MPQ";
        writeFile(partOf(path, listed), listed.left(kept));
        publish({gamemanifest::kWotlk, 1, {{"Data/patch-G.MPQ", listed}}, {}, {}});
        const QByteArray object = "/launcher/files/objects/" + Sha256::of(listed);
        const QByteArray rest = listed.mid(kept);
        QByteArray raw;
        if (answer == "503") {
            raw = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n";
        } else {
            const QByteArray range = answer == "star"
                                         ? "bytes " + QByteArray::number(kept) + '-' +
                                               QByteArray::number(listed.size() - 1) + "/*"
                                         : "bytes 0-" + QByteArray::number(rest.size() - 1) + '/' +
                                               QByteArray::number(listed.size());
            raw = "HTTP/1.1 206 Partial Content\r\n" +
                  (answer == "no range" ? QByteArray() : "Content-Range: " + range + "\r\n") +
                  "Content-Length: " + QByteArray::number(rest.size()) + "\r\n\r\n" +
                  (answer == "other range" ? listed.left(rest.size()) : rest);
        }
        inProcess.setReply(object, {200, "", raw, CommunityServer::Reply::Raw});
        const Run first = run();
        QCOMPARE(first.success, success);
        QCOMPARE(inProcess.requestsFor(object).last().header("Range"),
                 "bytes=" + QByteArray::number(kept) + "-");
        if (success) {
            QCOMPARE(readFile(path), listed);
            return;
        }
        QCOMPARE(readFile(path), QByteArray("<absent>"));
        QVERIFY2(report().contains("Data/patch-G.MPQ: " + reason.toUtf8()), report().constData());
        for (int run = 2; run <= runsUntilAfresh; ++run) {
            QVERIFY(!this->run().success);
            QCOMPARE(inProcess.requestsFor(object).last().header("Range"),
                     "bytes=" + QByteArray::number(kept) + "-");
        }
        // The next start asks for the whole object, and takes it.
        inProcess.clearReply(object);
        QVERIFY(run().success);
        QCOMPARE(inProcess.requestsFor(object).last().header("Range"), QByteArray());
        QCOMPARE(readFile(path), listed);
    }

    // A part of an earlier publication's object (or of an older launcher, without the object in
    // its name) is thrown away before any request: no Range asked, no part left. An endless body
    // leaves no part: nothing as long as the listed size or beyond is ever kept.
    void partsOfOtherObjects_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("part of an earlier publication's object") << "earlier";
        QTest::newRow("part without its object's name") << "unnamed";
        QTest::newRow("endless body") << "endless";
    }
    void partsOfOtherObjects() {
        QFETCH(QString, kind);
        using_ = Server::InProcess;
        const QByteArray old = content("published before", 2 << 20);
        const QByteArray listed = content("published now", 2 << 20);
        const QString path = game + "/Data/patch-O.MPQ";
        if (kind == "earlier")
            writeFile(partOf(path, old), old.left(old.size() / 2));
        else if (kind == "unnamed")
            writeFile(path + kPart, old.left(old.size() / 2));
        publish({gamemanifest::kWotlk, 1, {{"Data/patch-O.MPQ", listed}}, {}, {}});
        const QByteArray object = "/launcher/files/objects/" + Sha256::of(listed);
        if (kind == "endless")
            inProcess.setReply(object, {200, "application/octet-stream", content("hostile", 65536),
                                        CommunityServer::Reply::Endless});
        const Run result = run();
        QCOMPARE(result.success, kind != "endless");
        QCOMPARE(inProcess.requestsFor(object).last().header("Range"), QByteArray());
        QCOMPARE(QDir(game + "/Data").entryList({"*" + kPart}, QDir::Files), QStringList());
        QCOMPARE(readFile(path), kind == "endless" ? QByteArray("<absent>") : listed);
    }

    // An object that brings less than the minimum in a window is given up as too slow, however
    // regularly its bytes come; one that keeps the pace is taken.
    void tooSlowObjects_data() {
        QTest::addColumn<int>("bytesPerStep"); // every 50 ms
        QTest::addColumn<bool>("success");
        QTest::newRow("a byte every 50 ms: too slow") << 1 << false;
        QTest::newRow("2 KiB every 50 ms: fast enough") << 2048 << true;
    }
    void tooSlowObjects() {
        QFETCH(int, bytesPerStep);
        QFETCH(bool, success);
        using_ = Server::InProcess;
        // The rule at a smaller scale: 4 KiB in any second.
        minimumSpeed = {4096, 1000};
        const QByteArray listed = content("trickled", 40000);
        publish({gamemanifest::kWotlk, 1, {{"Data/patch-T.MPQ", listed}}, {}, {}});
        inProcess.setReply("/launcher/files/objects/" + Sha256::of(listed),
                           {200, "application/octet-stream", listed,
                            CommunityServer::Reply::Trickle, 0, bytesPerStep});
        const Run result = run();
        QVERIFY(result.finished);
        QCOMPARE(result.success, success);
        QCOMPARE(readFile(game + "/Data/patch-T.MPQ"), success ? listed : "<absent>");
        if (!success) {
            QVERIFY2(report().contains("Data/patch-T.MPQ: too slow: less than 4096 bytes in 1000 "
                                       "ms") &&
                         report().contains("Data/patch-T.MPQ (trop lent)"),
                     report().constData());
        }
    }

    // Fetching keeps "Jouer" shut only so long: past the hold limit the player may play the
    // files already whole (never a half-written one) while the rest comes; a fetch done within
    // the limit never says so.
    void holdLimit_data() {
        QTest::addColumn<bool>("held"); // the large object held back by the server
        QTest::newRow("a fetch past the limit: playable meanwhile") << true;
        QTest::newRow("a fetch within the limit: done first") << false;
    }
    void holdLimit() {
        QFETCH(bool, held);
        using_ = Server::InProcess;
        const QByteArray small = content("whole early", 3000);
        const QByteArray large = content("held back", 2 << 20);
        const QString path = game + "/Data/patch-H.MPQ";
        writeFile(path, "the old one");
        publish({gamemanifest::kWotlk,
                 1,
                 {{"Data/early.lua", small}, {"Data/patch-H.MPQ", large}},
                 {},
                 {}});
        if (held)
            inProcess.setReply(
                "/launcher/files/objects/" + Sha256::of(large),
                {200, "application/octet-stream", large, CommunityServer::Reply::Held});
        GameFiles files;
        files.setPublicKey(testPublicKey());
        files.setServer({QStringLiteral("127.0.0.1"), port(), false});
        files.setLauncherFolder(launcher);
        files.setHoldLimit(held ? 300 : GameFiles::kHoldLimit);
        QStringList texts;
        connect(&files, &GameFiles::statusChanged, this,
                [&texts](const QString& text) { texts.append(text); });
        QSignalSpy playable(&files, &GameFiles::playable);
        QSignalSpy finished(&files, &GameFiles::finished);
        QVERIFY(files.start({{gamemanifest::kWotlk, game}}));
        if (held) {
            QVERIFY(playable.wait(kTimeout));
            QVERIFY(finished.isEmpty());
            QVERIFY2(
                texts.last().endsWith(QString::fromUtf8("(vous pouvez jouer pendant ce temps)")),
                qPrintable(texts.join(" | ")));
            QCOMPARE(readFile(path), QByteArray("the old one"));
            QTRY_COMPARE_WITH_TIMEOUT(readFile(game + "/Data/early.lua"), small, kTimeout);
            QCOMPARE(readFile(path), QByteArray("the old one"));
            inProcess.releaseHeld();
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kTimeout);
        QVERIFY(finished.first().first().toBool());
        QCOMPARE(playable.size(), held ? 1 : 0);
        QCOMPARE(readFile(path), large);
        QCOMPARE(texts.last(), kUpToDate);
    }

    // What the report counts: the bytes that came over the network in this run (a resumed file
    // counts what came, not its size; a server that ignores the Range sends it all again).
    void reportCountsWhatCame_data() {
        QTest::addColumn<Server>("server");
        QTest::addColumn<int>("kept"); // bytes of the part a kill left
        QTest::addColumn<bool>("resumed");
        QTest::newRow("resumed, nginx takes the Range") << Server::Nginx << (1 << 20) << true;
        QTest::newRow("resumed, the in-process server ignores the Range")
            << Server::InProcess << (1 << 20) << false;
        QTest::newRow("fetched whole, nginx") << Server::Nginx << 0 << false;
    }
    void reportCountsWhatCame() {
        QFETCH(Server, server);
        QFETCH(int, kept);
        QFETCH(bool, resumed);
        USE_SERVER(server);
        const QByteArray listed = content("counted", 3 << 20);
        if (kept > 0)
            writeFile(partOf(game + "/Data/patch-C.MPQ", listed), listed.left(kept));
        publish({gamemanifest::kWotlk, 1, {{"Data/patch-C.MPQ", listed}}, {}, {}});
        QVERIFY(run().success);
        QCOMPARE(readFile(game + "/Data/patch-C.MPQ"), listed);
        const qint64 came = resumed ? listed.size() - kept : listed.size();
        QVERIFY2(report().contains("Files fetched ....................... 1 (" +
                                   QByteArray::number(came) + " Bytes)\n"),
                 report().constData());
    }

    // A disk that fills up is said as such, to the admins and to the player; the file stays as
    // it was. A file system of 1 MiB of its own (root, in a mount namespace of the engine's).
    void diskFull_data() {
        QTest::addColumn<int>("size");
        QTest::newRow("a large object") << (4 << 20);
        QTest::newRow("small objects") << (600 << 10);
    }
    void diskFull() {
#ifdef Q_OS_LINUX
        QFETCH(int, size);
        if (QProcess::execute("unshare", {"-m", "true"}) != 0)
            QSKIP("needs a mount namespace of its own (root)");
        using_ = realServer();
        const QList<QPair<QString, QByteArray>> files{{"Data/patch-F.MPQ", content("one", size)},
                                                      { "Data/patch-G.MPQ",
                                                        content("two", size) }};
        publish({gamemanifest::kWotlk, 1, files, {}, {}});
        QVERIFY(QDir().mkpath(game + "/Data"));
        QProcess engine;
        engine.start("unshare",
                     {"-m", "sh", "-c",
                      "mount -t tmpfs -o size=1m tmpfs \"$4/Data\" && exec \"$0\" \"$@\"",
                      GAMEFILES_RUN, QString::number(nginx.port()),
                      QString::fromLatin1(testPublicKey()), launcher, game});
        QVERIFY(engine.waitForFinished(kTimeout));
        QCOMPARE(engine.exitCode(), 1);
        QVERIFY2(report().contains(": disk full\n") && report().contains("(disque plein)"),
                 report().constData());
#else
        QSKIP("a file system of its own in a mount namespace: Linux only");
#endif
    }

    // The index learns each file as it takes its name: the engine killed in the middle of a long
    // object loses nothing of the small files done seconds before (no hashing at the next start).
    void indexKeptAsFilesComplete() {
#ifdef Q_OS_UNIX
        using_ = Server::InProcess;
        QList<QPair<QString, QByteArray>> files;
        for (int i = 0; i < 30; ++i)
            files.append({QString("Interface/f%1.lua").arg(i),
                          content("small " + QByteArray::number(i), 3000)});
        const QByteArray slow = content("slow", 2 << 20);
        files.append({"Data/patch-S.MPQ", slow});
        publish({gamemanifest::kWotlk, 1, files, {}, {}});
        inProcess.setReply(
            "/launcher/files/objects/" + Sha256::of(slow),
            {200, "application/octet-stream", slow, CommunityServer::Reply::Trickle, 0, 2048});
        const QStringList arguments{QString::number(inProcess.serverPort()),
                                    QString::fromLatin1(testPublicKey()), launcher, game};
        QProcess first;
        first.start(GAMEFILES_RUN, arguments);
        QVERIFY(first.waitForStarted(kTimeout));
        const QString index = launcherfiles::gameFilesIndex(launcher, "wotlk", game);
        const auto known = [&] {
            int count = 0;
            for (const auto& entry : gamefileindex::load(index, game).entries)
                count += !entry.sha256.isEmpty();
            return count;
        };
        QTRY_VERIFY_WITH_TIMEOUT(known() == 30, kTimeout);
        first.kill();
        QVERIFY(first.waitForFinished(kTimeout));
        QCOMPARE(readFile(game + "/Data/patch-S.MPQ"), QByteArray("<absent>"));
        inProcess.clearReplies();
        QVERIFY(run().success);
        QVERIFY2(report().contains("Files checked ....................... 31 (hashed 0)\n"),
                 report().right(800).constData());
        QCOMPARE(readFile(game + "/Data/patch-S.MPQ"), slow);
#else
        QSKIP("kills the engine's process with SIGKILL: POSIX only");
#endif
    }

    // A game running from the folder (its program, or mapped as Wine maps it) keeps every file
    // of the folder as it is: nothing asked for, nothing written; once it has ended, the files
    // are brought up to date.
    void runningGameHoldsTheFolder_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("mapped");
        QTest::newRow("Wow.exe running") << "Wow.exe" << false;
        QTest::newRow("Wow.exe mapped, as through Wine") << "Wow.exe" << true;
        QTest::newRow("brontavale.exe running") << "brontavale.exe" << false;
    }
    void runningGameHoldsTheFolder() {
#ifdef Q_OS_LINUX
        QFETCH(QString, program);
        QFETCH(bool, mapped);
        using_ = realServer();
        const QString path = game + '/' + program;
        QFile::remove(path);
        QVERIFY(QFile::copy(mapped ? "/bin/cat" : "/bin/sleep", path));
        const QByteArray running = readFile(path);
        const QByteArray patch = content("patch under the game", 5000);
        const QByteArray newProgram = content("new program", 7000);
        publish({gamemanifest::kWotlk,
                 1,
                 {{program, newProgram},
                  { "Data/patch-W.MPQ",
                    patch }},
                 {},
                 {}});
        QProcess game_;
        if (mapped)
            game_.start("/usr/bin/python3",
                        {"-c",
                         "import mmap, sys; f = open(sys.argv[1], 'rb'); "
                         "m = mmap.mmap(f.fileno(), 0, prot=mmap.PROT_READ); print('mapped', "
                         "flush=True); sys.stdin.read()",
                         path});
        else
            game_.start(path, {"600"});
        QVERIFY(game_.waitForStarted(kTimeout));
        if (mapped)
            QVERIFY2(game_.waitForReadyRead(kTimeout), game_.readAllStandardError().constData());
        const int before = requestCount();
        const Run held = run();
        QVERIFY(held.finished);
        QCOMPARE(held.texts.last(),
                 QString::fromUtf8("Le jeu est en cours : les fichiers du jeu seront mis à jour "
                                   "quand il sera fermé"));
        QCOMPARE(requestCount(), before);
        QCOMPARE(readFile(path), running);
        QCOMPARE(readFile(game + "/Data/patch-W.MPQ"), QByteArray("<absent>"));
        game_.kill();
        QVERIFY(game_.waitForFinished(kTimeout));
        QVERIFY(run().success);
        QCOMPARE(readFile(path), newProgram);
        QCOMPARE(readFile(game + "/Data/patch-W.MPQ"), patch);
#else
        QSKIP("finds a running game through /proc: Linux only");
#endif
    }

    // The launcher's own game starts in the middle of a fetch: nothing more takes its name, what
    // came waits in its part, and the next run resumes it.
    void stopForTheGame() {
        using_ = Server::InProcess;
        const QByteArray listed = content("fetched when the game starts", 3 << 20);
        writeFile(game + "/Data/patch-P.MPQ", "the old one");
        publish({gamemanifest::kWotlk, 1, {{"Data/patch-P.MPQ", listed}}, {}, {}});
        const QByteArray object = "/launcher/files/objects/" + Sha256::of(listed);
        inProcess.setReply(object, {200, "application/octet-stream", listed,
                                    CommunityServer::Reply::Trickle, 0, 20000});
        GameFiles files;
        files.setPublicKey(testPublicKey());
        files.setServer({QStringLiteral("127.0.0.1"), port(), false});
        files.setLauncherFolder(launcher);
        QSignalSpy finished(&files, &GameFiles::finished);
        QVERIFY(files.start({{gamemanifest::kWotlk, game}}));
        const QString part = partOf(game + "/Data/patch-P.MPQ", listed);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(part).size() > 0, kTimeout);
        files.stop();
        QVERIFY(finished.wait(kTimeout));
        QVERIFY(files.leftForAfterTheGame());
        QCOMPARE(readFile(game + "/Data/patch-P.MPQ"), QByteArray("the old one"));
        const qint64 kept = QFileInfo(part).size();
        QVERIFY2(kept > 0 && kept < listed.size(), qPrintable(QString::number(kept)));
        QVERIFY2(report().contains("Files left .......................... the game started"),
                 report().constData());
        inProcess.clearReplies();
        using_ = realServer();
        QVERIFY(run().success);
        // Where nginx is missing (a Windows build), the in-process server ignores the Range and
        // sends the object whole again.
        QCOMPARE(objectRequests().last(),
                 shortHash(listed) + (realServer() == Server::Nginx ? " 206" : " 200"));
        QCOMPARE(readFile(game + "/Data/patch-P.MPQ"), listed);
    }

    // The launcher's own game starts while small objects are about to take their names: not one
    // more does, none is left as a part (a small object is fetched whole again), and the next
    // run brings them all.
    void stopForTheGameBeforeSmallObjectsTakeTheirNames_data() {
        QTest::addColumn<int>("count");
        QTest::newRow("one small object") << 1;
        QTest::newRow("a group of small objects") << 40;
    }
    void stopForTheGameBeforeSmallObjectsTakeTheirNames() {
        QFETCH(int, count);
        using_ = realServer();
        QList<QPair<QString, QByteArray>> files;
        for (int i = 0; i < count; ++i)
            files.append({QString("Interface/f%1.lua").arg(i),
                          content("small " + QByteArray::number(i), 3000)});
        publish({gamemanifest::kWotlk, 1, files, {}, {}});
        GameFiles engine;
        engine.setPublicKey(testPublicKey());
        engine.setServer({QStringLiteral("127.0.0.1"), port(), false});
        engine.setLauncherFolder(launcher);
        // The writer's thread waits at its first rename until the game has started.
        std::atomic<bool> reached{false};
        std::promise<void> gameStarted;
        std::shared_future<void> started = gameStarted.get_future().share();
        betweenSteps = [&](const QString& step, const QString&) {
            if (step == "part renamed" && !reached.exchange(true))
                started.wait_for(std::chrono::milliseconds(kTimeout));
        };
        QSignalSpy finished(&engine, &GameFiles::finished);
        QVERIFY(engine.start({{gamemanifest::kWotlk, game}}));
        QTRY_VERIFY_WITH_TIMEOUT(reached, kTimeout);
        engine.stop();
        gameStarted.set_value();
        QVERIFY(finished.wait(kTimeout));
        betweenSteps = nullptr;
        QVERIFY(engine.leftForAfterTheGame());
        QCOMPARE(QDir(game + "/Interface").entryList(QDir::Files), QStringList());
        QVERIFY2(report().contains("Files fetched ....................... 0 (") &&
                     report().contains("Files left .......................... the game started"),
                 report().constData());
        QVERIFY(run().success);
        for (const auto& [path, bytes] : files)
            QCOMPARE(readFile(game + '/' + path), bytes);
    }

    // An install into a folder without the marker: every listed file that does not hold its
    // listed bytes is fetched (one with other bytes replaced), the others are left alone, and
    // the marker comes last, once every file is whole, even when the list names it.
    void installIntoAFolder_data() {
        QTest::addColumn<Server>("server");
        QTest::addColumn<bool>("partial");      // some files already there, one with other bytes
        QTest::addColumn<bool>("markerListed"); // the list names the marker itself
        QTest::newRow("empty folder") << Server::InProcess << false << false;
        QTest::newRow("empty folder, the list names the marker")
            << Server::InProcess << false << true;
        QTest::newRow("some files right, one with other bytes")
            << Server::InProcess << true << true;
        QTest::newRow("empty folder, nginx") << Server::Nginx << false << true;
    }
    void installIntoAFolder() {
        QFETCH(Server, server);
        QFETCH(bool, partial);
        QFETCH(bool, markerListed);
        USE_SERVER(server);
        const QString folder = work->path() + "/jeux/Nouveau";
        QVERIFY(QDir().mkpath(folder));
        const QByteArray program = content("the game's program", 9000);
        const QByteArray large = content("a large archive", 3 << 20);
        const QByteArray small = content("an interface file", 2000);
        const QByteArray right = content("already right", 5000);
        Publication publication{gamemanifest::kWotlk,
                                1,
                                {{"Wow.exe", program},
                                 {"Data/common.MPQ", large},
                                 {"Interface/a.lua", small},
                                 {"Data/right.MPQ", right}},
                                {},
                                {}};
        if (markerListed)
            publication.files.append({QStringLiteral("kvf.vestrahal"), QByteArray()});
        publish(publication);
        if (partial) {
            writeFile(folder + "/Data/right.MPQ", right);
            writeFile(folder + "/Wow.exe", content("a player's other program", 9000));
        }
        const bool hold = server == Server::InProcess;
        if (hold)
            inProcess.setReply(
                "/launcher/files/objects/" + Sha256::of(large),
                {200, "application/octet-stream", large, CommunityServer::Reply::Held});
        const int before = objectRequests().size();
        GameFiles files;
        prepare(files);
        QStringList texts;
        connect(&files, &GameFiles::statusChanged, this,
                [&texts](const QString& text) { texts.append(text); });
        QSignalSpy installed(&files, &GameFiles::folderInstalled);
        QSignalSpy finished(&files, &GameFiles::finished);
        QVERIFY(files.start({{gamemanifest::kWotlk, folder, true}}));
        if (hold) {
            // Everything else is in place while the server holds the archive: no marker yet.
            QTRY_COMPARE_WITH_TIMEOUT(readFile(folder + "/Interface/a.lua"), small, kTimeout);
            QTRY_COMPARE_WITH_TIMEOUT(readFile(folder + "/Wow.exe"), program, kTimeout);
            QVERIFY(!QFileInfo::exists(folder + "/kvf.vestrahal"));
            QVERIFY(finished.isEmpty());
            inProcess.releaseHeld();
        }
        QVERIFY(finished.wait(kTimeout));
        QVERIFY(finished.first().first().toBool());
        for (const auto& [path, bytes] : publication.files)
            QCOMPARE(readFile(folder + '/' + path), bytes);
        QVERIFY(QFileInfo(folder + "/kvf.vestrahal").isFile());
        QCOMPARE(installed.size(), 1);
        QCOMPARE(installed.first(), QVariantList({gamemanifest::kWotlk, folder}));
        QCOMPARE(texts.last(), QString::fromUtf8("Le jeu est installé."));
        QVERIFY2(texts.contains(QRegularExpression(
                     QString::fromUtf8("^Installation du jeu : .* sur 3,\\d Mo"))),
                 qPrintable(texts.join(" | ")));
        // The file already right was not asked for.
        QStringList fetched = objectRequests().mid(before);
        QCOMPARE(fetched.contains(shortHash(right) + " 200"), !partial);
        QVERIFY(fetched.contains(shortHash(program) + " 200"));
        const int count = int(publication.files.size()) - (partial ? 1 : 0);
        QVERIFY2(report().contains("Files fetched ....................... " +
                                   QByteArray::number(count) + " ("),
                 report().constData());
        QCOMPARE(QDir(folder + "/Data").entryList({"*" + kPart}, QDir::Files), QStringList());
    }

    // An install killed when every file but the marker was in place: the next run fetches the
    // marker alone and the folder is installed.
    void installWithOnlyTheMarkerLeft() {
        using_ = realServer();
        const QString folder = work->path() + "/jeux/Presque";
        const QByteArray program = content("the game's program", 9000);
        writeFile(folder + "/Wow.exe", program);
        publish({gamemanifest::kWotlk, 1, {{"Wow.exe", program}, {"kvf.vestrahal", ""}}, {}, {}});
        const int before = objectRequests().size();
        GameFiles files;
        prepare(files);
        QSignalSpy installed(&files, &GameFiles::folderInstalled);
        QSignalSpy finished(&files, &GameFiles::finished);
        QVERIFY(files.start({{gamemanifest::kWotlk, folder, true}}));
        QVERIFY(finished.wait(kTimeout));
        QVERIFY(finished.first().first().toBool());
        QCOMPARE(installed.size(), 1);
        QVERIFY(QFileInfo(folder + "/kvf.vestrahal").isFile());
        QCOMPARE(objectRequests().mid(before), QStringList{shortHash("") + " 200"});
    }

    // A pause closes the run at once, as paused() and never finished(): no report, no failure,
    // the part kept, no marker; the next start resumes the part with a Range request.
    void pauseAndResume_data() {
        QTest::addColumn<bool>("install");
        QTest::addColumn<bool>("beforeTheList"); // paused while the list is on its way
        QTest::newRow("install paused in the middle of an object") << true << false;
        QTest::newRow("update paused in the middle of an object") << false << false;
        QTest::newRow("install paused before its list came") << true << true;
    }
    void pauseAndResume() {
        QFETCH(bool, install);
        QFETCH(bool, beforeTheList);
        using_ = Server::InProcess;
        if (install)
            QFile::remove(game + "/kvf.vestrahal");
        const QByteArray listed = content("paused on its way", 3 << 20);
        publish({gamemanifest::kWotlk, 1, {{"Data/patch-P.MPQ", listed}}, {}, {}});
        const QByteArray object = "/launcher/files/objects/" + Sha256::of(listed);
        inProcess.setReply(object, {200, "application/octet-stream", listed,
                                    CommunityServer::Reply::Trickle, 0, 20000});
        if (beforeTheList)
            inProcess.setDelay("/launcher/files/wotlk/manifest.json", kTimeout);
        const QByteArray reportBefore = report();
        GameFiles files;
        prepare(files);
        QStringList texts;
        connect(&files, &GameFiles::statusChanged, this,
                [&texts](const QString& text) { texts.append(text); });
        QSignalSpy paused(&files, &GameFiles::paused);
        QSignalSpy finished(&files, &GameFiles::finished);
        QVERIFY(files.start({{gamemanifest::kWotlk, game, install}}));
        const QString part = partOf(game + "/Data/patch-P.MPQ", listed);
        if (beforeTheList)
            QTRY_VERIFY_WITH_TIMEOUT(!inProcess.requests().isEmpty(), kTimeout);
        else
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(part).size() > 0, kTimeout);
        files.pause();
        QTRY_COMPARE_WITH_TIMEOUT(paused.size(), 1, kTimeout);
        QVERIFY(!files.isRunning());
        QVERIFY(finished.isEmpty());
        QCOMPARE(report(), reportBefore);
        QVERIFY2(!texts.contains(kFailed), qPrintable(texts.join(" | ")));
        QVERIFY(!QFileInfo::exists(game + "/kvf.vestrahal") || !install);
        const qint64 kept = QFileInfo(part).size();
        if (!beforeTheList)
            QVERIFY2(kept > 0 && kept < listed.size(), qPrintable(QString::number(kept)));
        // Nothing more comes once paused.
        QCOMPARE(QFileInfo(part).size(), kept);

        // "Reprendre": the same engine started again.
        inProcess.clearReplies();
        inProcess.setDelay("/launcher/files/wotlk/manifest.json", 0);
        QVERIFY(files.start({{gamemanifest::kWotlk, game, install}}));
        QVERIFY(finished.wait(kTimeout));
        QVERIFY(finished.first().first().toBool());
        QCOMPARE(paused.size(), 1);
        QCOMPARE(inProcess.requestsFor(object).last().header("Range"),
                 beforeTheList ? QByteArray() : "bytes=" + QByteArray::number(kept) + "-");
        QCOMPARE(readFile(game + "/Data/patch-P.MPQ"), listed);
        QVERIFY(QFileInfo::exists(game + "/kvf.vestrahal"));
        QVERIFY(!QFileInfo::exists(part));
    }

    // The network gone in the middle of an install: no failure; the status line says it waits
    // for the network and when it tries again, and the install ends by itself once the server
    // is back. A cut object is resumed from its part.
    void networkLostDuringAnInstall_data() {
        QTest::addColumn<QString>("loss");
        QTest::newRow("server gone, connections refused") << "gone";
        QTest::newRow("server answers 503 for a while") << "503";
        QTest::newRow("connection cut in the middle of an object") << "cut";
    }
    void networkLostDuringAnInstall() {
        QFETCH(QString, loss);
        using_ = Server::InProcess;
        QFile::remove(game + "/kvf.vestrahal");
        const QByteArray listed = content("fetched across a loss", 3 << 20);
        const QByteArray small = content("small one", 3000);
        publish({gamemanifest::kWotlk,
                 1,
                 {{"Data/patch-N.MPQ", listed}, {"Interface/n.lua", small}},
                 {},
                 {}});
        const QByteArray object = "/launcher/files/objects/" + Sha256::of(listed);
        const qint64 cut = 1 << 20;
        if (loss == "gone")
            inProcess.setReply(object, {200, "application/octet-stream", listed,
                                        CommunityServer::Reply::Trickle, 0, 20000});
        else if (loss == "503")
            inProcess.setReply(object, {503, "text/plain", "busy"});
        else
            inProcess.setReply(object, {200, "application/octet-stream", listed,
                                        CommunityServer::Reply::CutShort, cut});
        GameFiles files;
        prepare(files);
        files.setRetryWaits(50, 400);
        QStringList texts;
        connect(&files, &GameFiles::statusChanged, this,
                [&texts](const QString& text) { texts.append(text); });
        QSignalSpy finished(&files, &GameFiles::finished);
        QVERIFY(files.start({{gamemanifest::kWotlk, game, true}}));
        const QString part = partOf(game + "/Data/patch-N.MPQ", listed);
        const quint16 serverPort = inProcess.serverPort();
        if (loss == "gone") {
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(part).size() > 0, kTimeout);
            inProcess.close();
            inProcess.dropConnections();
        }
        const QString waiting =
            QString::fromUtf8("Installation du jeu : en attente du réseau (nouvel essai dans ");
        const auto waited = [&] {
            return std::any_of(texts.begin(), texts.end(),
                               [&](const QString& text) { return text.startsWith(waiting); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(waited(), kTimeout);
        // Tried again and again meanwhile, never given up.
        if (loss != "gone")
            QTRY_VERIFY_WITH_TIMEOUT(inProcess.requestsFor(object).size() >= 3, kTimeout);
        QVERIFY(finished.isEmpty());
        inProcess.clearReplies();
        if (loss == "gone")
            QVERIFY2(inProcess.start(serverPort), qPrintable(inProcess.errorString()));
        QVERIFY(finished.wait(kTimeout));
        QVERIFY(finished.first().first().toBool());
        QCOMPARE(readFile(game + "/Data/patch-N.MPQ"), listed);
        QCOMPARE(readFile(game + "/Interface/n.lua"), small);
        QVERIFY(QFileInfo::exists(game + "/kvf.vestrahal"));
        QCOMPARE(texts.last(), QString::fromUtf8("Le jeu est installé."));
        if (loss == "cut")
            QCOMPARE(inProcess.requestsFor(object).last().header("Range"),
                     "bytes=" + QByteArray::number(cut) + "-");
    }

    // Whatever a list or a folder holds, a line of the report is one line: control characters,
    // separators and backslashes are written as escapes, in the admins' lines and the player's.
    void reportEscapesPaths_data() {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("written");
        QTest::newRow("line feed") << "a\nForged [OK]"
                                   << "a\\x0aForged [OK]";
        QTest::newRow("carriage return") << "a\rb"
                                         << "a\\x0db";
        QTest::newRow("terminal escape") << "a\x1b[2J.MPQ"
                                         << "a\\x1b[2J.MPQ";
        QTest::newRow("delete character") << "a\x7f"
                                          << "a\\x7f";
        QTest::newRow("next line, C1") << QString::fromUtf16(u"a\u0085b") << "a\\x85b";
        QTest::newRow("line separator") << QString::fromUtf16(u"a\u2028b") << "a\\u2028b";
        QTest::newRow("paragraph separator") << QString::fromUtf16(u"a\u2029b") << "a\\u2029b";
        QTest::newRow("a backslash, so that no escape can be forged") << "a\\x0ab"
                                                                      << "a\\\\x0ab";
        QTest::newRow("accents kept") << QString::fromUtf16(u"\u00c9cran/\u00e9.lua")
                                      << QString::fromUtf16(u"\u00c9cran/\u00e9.lua");
    }
    void reportEscapesPaths() {
        QFETCH(QString, raw);
        QFETCH(QString, written);
        const auto reportFor = [](const QString& name) {
            gamemanifest::Outcome outcome;
            outcome.client = gamemanifest::kWotlk;
            outcome.folder = "C:/Jeux/" + name;
            outcome.manifestReceived = true;
            outcome.refused << "Data/" + name + ": HTTP Error 404";
            return gamemanifest::report(outcome, QDateTime::currentDateTime());
        };
        const QString text = reportFor(raw);
        // As many lines as a report of plain names.
        QCOMPARE(text.split(u'\n').size(), reportFor("plain").split(u'\n').size());
        QVERIFY2(text.contains("Game files of wotlk in C:/Jeux/" + written + "...\n"),
                 qPrintable(text));
        QVERIFY2(text.contains("\n  Data/" + written + ": HTTP Error 404\n"), qPrintable(text));
        QVERIFY2(text.contains(": Data/" + written + " (le d"), qPrintable(text));
        QVERIFY2(text.contains(" dans C:/Jeux/" + written + " ("), qPrintable(text));
    }

    // Both clients' folders, one after the other: a client without a list is passed over quietly,
    // the other brought up to date. The settings' folders count only with the package's marker,
    // and one folder chosen for both clients gets one list.
    void twoFolders() {
        using_ = realServer();
        const QString cata = work->path() + "/jeux/Cataclysm";
        writeFile(cata + "/kvf.vestrahal", "");
        const QByteArray bytes = content("cataclysm patch", 5000);
        publish({gamemanifest::kCataclysm, 3, {{"Data/patch-frFR-4.MPQ", bytes}}, {}, {}});
        Config config;
        config.wotlkEnabled = true;
        config.wotlkPath = game;
        config.cataEnabled = true;
        config.cataPath = cata;
        const QList<GameFiles::Folder> folders = GameFiles::foldersOf(config);
        QCOMPARE(folders.size(), 2);
        GameFiles files;
        files.setPublicKey(testPublicKey());
        files.setServer({QStringLiteral("127.0.0.1"), port(), false});
        files.setLauncherFolder(launcher);
        QSignalSpy finished(&files, &GameFiles::finished);
        QVERIFY(files.start(folders));
        QVERIFY(finished.wait(kTimeout));
        QCOMPARE(finished.first().first().toBool(), true);
        QCOMPARE(readFile(cata + "/Data/patch-frFR-4.MPQ"), bytes);
        QCOMPARE(readFile(game + "/Data/patch-frFR-4.MPQ"), QByteArray("<absent>"));
        QCOMPARE(report().count("Game files of "), 1);

        config.cataPath = game;
        QCOMPARE(GameFiles::foldersOf(config).size(), 1);
        QFile::remove(game + "/kvf.vestrahal");
        config.cataPath = cata;
        QCOMPARE(GameFiles::foldersOf(config).size(), 1);
        QCOMPARE(GameFiles::foldersOf(config).first().client, QString("cataclysm"));
        config.cataEnabled = false;
        QVERIFY(GameFiles::foldersOf(config).isEmpty());
    }

    // A package started from a working folder keeps every file of its own in the player's data
    // folder, also when the working folder cannot take a file (gone, even for root); nothing
    // lands in the working folder.
    void packagedFilesInTheDataFolder_data() {
        QTest::addColumn<bool>("workingFolderGone");
        QTest::newRow("an empty working folder stays empty") << false;
        QTest::newRow("a working folder that is gone") << true;
    }
    void packagedFilesInTheDataFolder() {
#ifdef Q_OS_LINUX
        QFETCH(bool, workingFolderGone);
        using_ = realServer();
        const QByteArray bytes = content("packaged", 3000);
        publish({gamemanifest::kWotlk, 7, {{ "Data/patch-P.MPQ", bytes }}, {}, {}});
        const QString data = work->path() + "/data";
        const QString working = work->path() + "/started-here";
        QVERIFY(QDir().mkpath(working));
        QProcess launcher;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", data);
        launcher.setProcessEnvironment(environment);
        launcher.setWorkingDirectory(working);
        const QStringList arguments{QString::number(nginx.port()),
                                    QString::fromLatin1(testPublicKey()), game, "/bin/true"};
        if (workingFolderGone)
            launcher.start("/bin/sh", QStringList{"-c", "rmdir \"$PWD\" && exec \"$@\"", "sh",
                                                  PACKAGED_FILES} +
                                          arguments);
        else
            launcher.start(PACKAGED_FILES, arguments);
        QVERIFY(launcher.waitForFinished(kTimeout));
        QCOMPARE(launcher.exitCode(), 0);
        QStringList found = QString::fromUtf8(launcher.readAllStandardOutput()).split('\n');
        found.removeAll(QString());
        const QString record =
            QFileInfo(launcherfiles::gameFilesIndex(data, gamemanifest::kWotlk, game))
                .completeBaseName();
        QStringList expected{
            "VestrahalLauncher.lock", "VestrahalLauncher.socket", "errors.log",
            "launcher.conf",          record + ".index",          record + ".sequence"};
        expected.sort();
        found.sort();
        QCOMPARE(found, expected);
        const QString log = QString::fromUtf8(readFile(data + "/vestrahal-launcher/errors.log"));
        QVERIFY2(log.contains("Game files of wotlk") && log.contains("/bin/true ended "),
                 qPrintable(log));
        QCOMPARE(readFile(game + "/Data/patch-P.MPQ"), bytes);
        QCOMPARE(QFileInfo::exists(working), !workingFolderGone);
        if (!workingFolderGone)
            QCOMPARE(QDir(working).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                             QDir::Hidden | QDir::System),
                     QStringList());
#else
        QSKIP("a package is a Linux package");
#endif
    }

    // The engine's process killed with SIGKILL in the middle of a large object: the next run
    // resumes the part it left with a Range request, and the file is whole and right. An
    // install's folder gets its marker only at the end of the run that completes it.
    void killedMidObjectResumes_data() {
        QTest::addColumn<bool>("install");
        QTest::newRow("update") << false;
        QTest::newRow("install") << true;
    }
    void killedMidObjectResumes() {
#ifdef Q_OS_UNIX
        QFETCH(bool, install);
        using_ = realServer();
        if (install)
            QFile::remove(game + "/kvf.vestrahal");
        const QByteArray listed = content("very large", qint64(384) << 20);
        writeFile(game + "/Data/patch-K.MPQ", "the old one");
        publish({gamemanifest::kWotlk, 1, {{ "Data/patch-K.MPQ", listed }}, {}, {}});
        const QString part = partOf(game + "/Data/patch-K.MPQ", listed);
        QStringList arguments{QString::number(nginx.port()), QString::fromLatin1(testPublicKey()),
                              launcher, game};
        if (install)
            arguments << "install";
        const int atStart = objectRequests().size();
        QProcess first;
        first.start(GAMEFILES_RUN, arguments);
        QVERIFY2(first.waitForStarted(kTimeout), qPrintable(first.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(part).size() > (qint64(8) << 20), kTimeout);
        first.kill();
        QVERIFY(first.waitForFinished(kTimeout));
        QCOMPARE(first.exitStatus(), QProcess::CrashExit);
        const qint64 left = QFileInfo(part).size();
        QVERIFY2(left > 0 && left < listed.size(), qPrintable(QString::number(left)));
        QVERIFY(listed.startsWith(readFile(part)));
        // The old file is whole until the new one takes its name.
        QCOMPARE(readFile(game + "/Data/patch-K.MPQ"), QByteArray("the old one"));
        QCOMPARE(QFileInfo::exists(game + "/kvf.vestrahal"), !install);

        // nginx writes the killed request's line once it finds the connection gone: counted
        // before that, the line would seem the second run's.
        QTRY_COMPARE_WITH_TIMEOUT(objectRequests().size(), atStart + 1, kTimeout);
        const int before = atStart + 1;
        QProcess second;
        second.start(GAMEFILES_RUN, arguments);
        QVERIFY(second.waitForFinished(2 * kTimeout));
        QCOMPARE(second.exitCode(), 0);
        const QStringList asked = objectRequests().mid(before);
        QVERIFY2(asked == QStringList{shortHash(listed) + " 206"}, qPrintable(asked.join(", ")));
        QVERIFY(readFile(game + "/Data/patch-K.MPQ") == listed);
        QVERIFY(!QFileInfo::exists(part));
        QVERIFY(QFileInfo(game + "/kvf.vestrahal").isFile());
#else
        QSKIP("kills the engine's process with SIGKILL: POSIX only");
#endif
    }

    // Removed entries go only when the file holds the published bytes.
    void removedEntries_data() {
        QTest::addColumn<Server>("server");
        QTest::addColumn<bool>("published"); // the folder holds the published bytes
        QTest::newRow("published bytes, nginx") << Server::Nginx << true;
        QTest::newRow("published bytes, in-process server") << Server::InProcess << true;
        QTest::newRow("the player's own file, nginx") << Server::Nginx << false;
        QTest::newRow("the player's own file, in-process server") << Server::InProcess << false;
    }
    void removedEntries() {
        QFETCH(Server, server);
        QFETCH(bool, published);
        USE_SERVER(server);
        const QByteArray old = content("obsolete", 5000);
        writeFile(game + "/Data/patch-Z.MPQ", published ? old : QByteArray("the player's own"));
        publish({gamemanifest::kWotlk, 1, {}, {{"Data/patch-Z.MPQ", old}}, {}});
        const Run result = run();
        QVERIFY(result.success);
        QCOMPARE(QFileInfo::exists(game + "/Data/patch-Z.MPQ"), !published);
        QVERIFY(report().contains(QByteArray("Files removed ....................... ") +
                                  (published ? "1" : "0")));
    }

    // Nothing at all happens without a key, for a folder without the package's marker, or when
    // the server publishes no list: no request (or only the list's), no file, no text.
    void nothingToDo_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("requests");
        QTest::newRow("a build without a public key") << "no key" << 0;
        QTest::newRow("a folder without the marker") << "no marker" << 0;
        QTest::newRow("a server without a list") << "no list" << 1;
    }
    void nothingToDo() {
        QFETCH(QString, kind);
        QFETCH(int, requests);
        using_ = Server::InProcess;
        if (kind != "no list")
            publish({gamemanifest::kWotlk, 1, {{"Data/patch-A.MPQ", "bytes"}}, {}, {}});
        if (kind == "no marker")
            QFile::remove(game + "/kvf.vestrahal");
        const Run result =
            run(GameFiles::Check::ByIndex, kind == "no key" ? QByteArray() : testPublicKey());
        QVERIFY(result.finished);
        QVERIFY(result.success);
        QVERIFY2(result.texts.isEmpty(), qPrintable(result.texts.join('|')));
        QVERIFY(result.progress.isEmpty());
        QCOMPARE(requestCount(), requests);
        QCOMPARE(QDir(launcher).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(readFile(game + "/Data/patch-A.MPQ"), QByteArray("<absent>"));
    }

    // The index vouches for a file only while both its size and its time are the ones it
    // recorded; "Vérifier les fichiers" hashes every file, so a change the index cannot see
    // (other bytes, same size, same time) is repaired there.
    void verifyIgnoresTheIndex_data() {
        QTest::addColumn<int>("timeMoved"); // seconds from the recorded time
        QTest::newRow("size and time kept: only the full check sees it") << 0;
        QTest::newRow("size kept, another time: the usual check sees it") << 30;
    }
    void verifyIgnoresTheIndex() {
        QFETCH(int, timeMoved);
        using_ = realServer();
        const QByteArray listed = content("verified", 100000);
        publish({gamemanifest::kWotlk, 1, {{"Data/patch-V.MPQ", listed}}, {}, {}});
        QVERIFY(run().success);
        const QString path = game + "/Data/patch-V.MPQ";
        const QDateTime time = teachTheIndexAWholeTime(path);
        changeKeepingTime(path, time.addSecs(timeMoved));
        const QByteArray changed = readFile(path);
        QVERIFY(changed != listed);
        QVERIFY(run().success);
        QCOMPARE(readFile(path), timeMoved == 0 ? changed : listed);
        const QByteArray last = report().mid(report().lastIndexOf("Game files of"));
        QVERIFY2(last.contains(timeMoved == 0 ? "(hashed 0)" : "(hashed 1)"), last.constData());
        QVERIFY(run(GameFiles::Check::ByHash).success);
        QCOMPARE(readFile(path), listed);
    }

    // A lost or damaged index costs a full check, never a wrong answer.
    void damagedIndex_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("fullCheck");
        QTest::newRow("intact: trusted") << "none" << false;
        QTest::newRow("lost") << "lost" << true;
        QTest::newRow("a byte changed") << "byte" << true;
        QTest::newRow("cut short") << "cut" << true;
        QTest::newRow("a folder in its place") << "folder" << true;
    }
    void damagedIndex() {
        QFETCH(QString, damage);
        QFETCH(bool, fullCheck);
        using_ = Server::InProcess;
        const QByteArray listed = content("indexed", 10000);
        publish({gamemanifest::kWotlk, 1, {{"Data/patch-I.MPQ", listed}}, {}, {}});
        QVERIFY(run().success);
        const QString path = game + "/Data/patch-I.MPQ";
        changeKeepingTime(path, teachTheIndexAWholeTime(path));
        const QByteArray changed = readFile(path);
        const QStringList indexes = QDir(launcher).entryList({"gamefiles-*.index"}, QDir::Files);
        QCOMPARE(indexes.size(), 1);
        const QString index = launcher + '/' + indexes.first();
        QByteArray bytes = readFile(index);
        if (damage != "none")
            QVERIFY(QFile::remove(index));
        if (damage == "byte") {
            bytes[bytes.size() / 2] = char(~bytes[bytes.size() / 2]);
            writeFile(index, bytes);
        } else if (damage == "cut") {
            writeFile(index, bytes.left(bytes.size() - 10));
        } else if (damage == "folder") {
            QVERIFY(QDir().mkpath(index));
        }
        const int before = objectRequests().size();
        // A folder where the index goes cannot be replaced: the files are right all the same.
        QVERIFY(run().success);
        QCOMPARE(readFile(path), fullCheck ? listed : changed);
        QCOMPARE(objectRequests().size(), before + (fullCheck ? 1 : 0));
    }

    // A list older than the one applied is refused whatever happened to one of the two records
    // of the last sequence: the index, or the sequence's own file. The newer patch stays.
    void replayAfterALostRecord_data() {
        QTest::addColumn<QString>("record"); // "index" or "sequence"
        QTest::addColumn<QString>("damage");
        QTest::newRow("index cut to 100 bytes") << "index"
                                                << "cut";
        QTest::newRow("index lost") << "index"
                                    << "lost";
        QTest::newRow("sequence record lost") << "sequence"
                                              << "lost";
        QTest::newRow("sequence record cut short") << "sequence"
                                                   << "cut";
        QTest::newRow("sequence record changed") << "sequence"
                                                 << "changed";
    }
    void replayAfterALostRecord() {
        QFETCH(QString, record);
        QFETCH(QString, damage);
        using_ = Server::InProcess;
        const QByteArray older = content("patch at 100", 5000);
        const QByteArray newer = content("patch at 200", 5000);
        publish({gamemanifest::kWotlk, 100, {{"Data/patch-R.MPQ", older}}, {}, {}});
        QVERIFY(run().success);
        publish({gamemanifest::kWotlk, 200, {{"Data/patch-R.MPQ", newer}}, {}, {}});
        QVERIFY(run().success);
        const QString file = record == "index"
                                 ? launcherfiles::gameFilesIndex(launcher, "wotlk", game)
                                 : launcherfiles::gameFilesSequence(launcher, "wotlk", game);
        QVERIFY(QFileInfo::exists(file));
        if (damage == "lost") {
            QVERIFY(QFile::remove(file));
        } else {
            QByteArray bytes = readFile(file);
            if (damage == "cut")
                bytes = bytes.left(record == "index" ? 100 : 2);
            else
                bytes[0] = bytes[0] == '1' ? '9' : '1';
            QFile::remove(file);
            writeFile(file, bytes);
        }
        // A replay of the older list, genuinely signed.
        publish({gamemanifest::kWotlk, 100, {{"Data/patch-R.MPQ", older}}, {}, {}});
        const Run replay = run();
        QVERIFY(!replay.success);
        QVERIFY2(report().contains("sequence 100 lower than 200 applied before"),
                 report().right(1500).constData());
        QCOMPARE(readFile(game + "/Data/patch-R.MPQ"), newer);
    }

    // A full disk: the object that does not fit is given up, the old file stays, the part goes.
    void fullDisk() {
        VESTRAHAL_SKIP_WITHOUT_FILE_SIZE_LIMIT();
        using_ = realServer();
        const QByteArray listed = content("too large", 4 << 20);
        writeFile(game + "/Data/patch-F.MPQ", "the old one");
        publish({gamemanifest::kWotlk, 1, {{"Data/patch-F.MPQ", listed}}, {}, {}});
        Run result;
        {
            FileSizeLimit limit(1 << 20);
            result = run();
        }
        QVERIFY(result.finished);
        QVERIFY(!result.success);
        QCOMPARE(readFile(game + "/Data/patch-F.MPQ"), QByteArray("the old one"));
        QVERIFY(!QFileInfo::exists(partOf(game + "/Data/patch-F.MPQ", listed)));
        QVERIFY2(report().contains("Data/patch-F.MPQ: cannot write"), report().constData());
    }

    // A stalled object is given up after the idle time; its part stays for the next start.
    void stalledObject() {
        using_ = Server::InProcess;
        const QByteArray listed = content("stalled", 100000);
        publish({gamemanifest::kWotlk, 1, {{"Data/patch-S.MPQ", listed}}, {}, {}});
        inProcess.setReply(
            "/launcher/files/objects/" + Sha256::of(listed),
            {200, "application/octet-stream", listed, CommunityServer::Reply::Silent});
        const Run result = run();
        QVERIFY(result.finished);
        QVERIFY(!result.success);
        QVERIFY2(report().contains("Data/patch-S.MPQ: Error #7"), report().constData());
        QCOMPARE(readFile(game + "/Data/patch-S.MPQ"), QByteArray("<absent>"));
    }

    // The release tool publishes a reference folder; the launcher makes an empty folder match it.
    void releaseToolPublication() {
        using_ = realServer();
        const QString reference = work->path() + "/reference";
        writeFile(reference + "/Data/frFR/patch-frFR-4.MPQ", content("patch 4", 300000));
        writeFile(reference + "/Interface/FrameXML/Fixed.lua", "-- fixed");
        writeFile(reference + "/kvf.vestrahal", "");
        const QString out = site.path() + "/launcher/files";
        QDir(out).removeRecursively();
        QProcess tool;
        tool.start(RELEASE_TOOL,
                   {"files", "--key", kKeys + "/update.key", "--client", "wotlk", "--sequence",
                    "42", "--removed", "Data/patch-Z.MPQ=" + QString::fromLatin1(Sha256::of("old")),
                    reference, out});
        QVERIFY(tool.waitForFinished(kTimeout));
        QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
        QVERIFY(QFileInfo::exists(out + "/wotlk/manifest.json.sig"));
        QCOMPARE(QDir(out + "/objects").entryList(QDir::Files).size(), 3);
        writeFile(game + "/Data/patch-Z.MPQ", "old");
        QVERIFY(run().success);
        QCOMPARE(readFile(game + "/Data/frFR/patch-frFR-4.MPQ"), content("patch 4", 300000));
        QCOMPARE(readFile(game + "/Interface/FrameXML/Fixed.lua"), QByteArray("-- fixed"));
        QVERIFY(!QFileInfo::exists(game + "/Data/patch-Z.MPQ"));
        QVERIFY(report().contains("[OK] sequence 42"));
    }

    // A path the launcher would refuse is never published.
    void releaseToolRefusesWhatTheLauncherWould() {
#ifdef Q_OS_WIN
        QSKIP("Windows itself makes no file named after a device (aux.MPQ)");
#endif
        const QString reference = work->path() + "/reference";
        writeFile(reference + "/Interface/FrameXML/Fixed.lua", "-- fixed");
        writeFile(reference + "/Data/aux.MPQ", "x");
        QProcess tool;
        tool.start(RELEASE_TOOL, {"files", "--key", kKeys + "/update.key", "--client", "wotlk",
                                  reference, work->path() + "/refused"});
        QVERIFY(tool.waitForFinished(kTimeout));
        QCOMPARE(tool.exitCode(), 1);
        QVERIFY(!QFileInfo::exists(work->path() + "/refused/wotlk/manifest.json"));
    }

    // The release tool's mirrors: named, the list is format 2 with them; none, it stays format 1
    // for the older launchers; a mirror the launcher would refuse publishes nothing.
    void releaseToolMirrors_data() {
        QTest::addColumn<QStringList>("given");
        QTest::addColumn<int>("format"); // 0: refused, nothing written
        QTest::addColumn<QStringList>("listed");
        const QString cdn = "https://cdn.example.org/vestrahal/objects/";
        const QString other = "http://127.0.0.1:8081/objects/";
        QTest::newRow("none") << QStringList() << 1 << QStringList();
        QTest::newRow("one") << QStringList{cdn} << 2 << QStringList{cdn};
        QTest::newRow("two in their order, once each")
            << QStringList{other, cdn, other} << 2 << QStringList{other, cdn};
        QTest::newRow("without the final slash")
            << QStringList{"https://cdn.example.org/objects"} << 0 << QStringList();
        QTest::newRow("not http") << QStringList{"file:///srv/objects/"} << 0 << QStringList();
        QStringList many;
        for (int i = 0; i <= gamemanifest::kMaxMirrors; ++i)
            many << QString("https://m%1.example.org/").arg(i);
        QTest::newRow("too many") << many << 0 << QStringList();
    }
    void releaseToolMirrors() {
        QFETCH(QStringList, given);
        QFETCH(int, format);
        QFETCH(QStringList, listed);
        const QString reference = work->path() + "/reference";
        writeFile(reference + "/Wow.exe", "the game");
        const QString out = work->path() + "/published";
        QStringList args{"files", "--key", kKeys + "/update.key", "--client", "wotlk"};
        for (const QString& mirror : given)
            args << "--mirror" << mirror;
        QProcess tool;
        tool.start(RELEASE_TOOL, args << reference << out);
        QVERIFY(tool.waitForFinished(kTimeout));
        const QString manifestName = out + "/wotlk/manifest.json";
        if (format == 0) {
            QCOMPARE(tool.exitCode(), 1);
            QVERIFY(!QFileInfo::exists(manifestName));
            return;
        }
        QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
        const QByteArray bytes = readFile(manifestName);
        QCOMPARE(QJsonDocument::fromJson(bytes).object().value("format").toInt(), format);
        QCOMPARE(QJsonDocument::fromJson(bytes).object().contains("mirrors"), format == 2);
        gamemanifest::Manifest manifest;
        QString problem;
        QVERIFY2(gamemanifest::parse(bytes, &manifest, &problem), qPrintable(problem));
        QCOMPARE(manifest.mirrors, listed);
        QVERIFY(gamemanifest::verify(bytes, readFile(manifestName + ".sig"), testPublicKey(),
                                     &problem));
    }

    // The objects are served as immutable, the lists are asked for again every time.
    void nginxCacheHeaders() {
        if (!nginxAbsent.isEmpty())
            QSKIP(qPrintable(nginxAbsent));
        const QByteArray bytes = content("cached", 100);
        publish({gamemanifest::kWotlk, 1, {{"Data/patch-A.MPQ", bytes}}, {}, {}});
        const auto headOf = [this](const QByteArray& path) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, nginx.port());
            if (!socket.waitForConnected(kTimeout))
                return QByteArray("<no connection>");
            socket.write("HEAD " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
            QByteArray answer;
            while (socket.waitForReadyRead(kTimeout))
                answer += socket.readAll();
            return answer;
        };
        const QByteArray object = headOf("/launcher/files/objects/" + Sha256::of(bytes));
        QVERIFY2(object.contains("Cache-Control: public, max-age=31536000, immutable\r\n"),
                 object.constData());
        QVERIFY(object.contains("Accept-Ranges: bytes"));
        const QByteArray manifest = headOf("/launcher/files/wotlk/manifest.json");
        QVERIFY2(manifest.contains("Cache-Control: no-cache\r\n"), manifest.constData());
        QVERIFY(manifest.contains("Content-Type: application/json"));
    }

    // The listed path forms, one by one, as the release tool and the launcher judge them.
    void pathForms_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("plain") << "Data/frFR/patch-frFR-4.MPQ" << true;
        QTest::newRow("accents") << QString::fromUtf8("Interface/AddOns/Écran/é.lua") << true;
        QTest::newRow("dot inside a name") << "Data/patch.4.MPQ" << true;
        QTest::newRow("name starting like a device") << "Data/CONFIG.wtf" << true;
        QTest::newRow("COM10 is no device") << "COM10" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("leading slash") << "/Data" << false;
        QTest::newRow("trailing slash") << "Data/" << false;
        QTest::newRow("drive letter without slash") << "C:patch" << false;
        QTest::newRow("tab") << "Data/a\tb" << false;
        QTest::newRow("delete character") << "Data/a\x7f" << false;
        QTest::newRow("LPT9") << "lpt9.log" << false;
        QTest::newRow("trailing space") << "Data/patch " << false;
        QTest::newRow("question mark") << "Data/?" << false;
    }
    void pathForms() {
        QFETCH(QString, path);
        QFETCH(bool, accepted);
        QCOMPARE(gamemanifest::pathProblem(path).isEmpty(), accepted);
    }

    // The mirrors a list names, as the launcher and the release tool judge them: the list as a
    // whole is refused for a mirror that is not one.
    void mirrorLists_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<QJsonValue>("mirrors"); // undefined: no field
        QTest::addColumn<QStringList>("read");   // what the list names; empty with a problem
        QTest::addColumn<QString>("problem");
        const QString cdn = "https://cdn.example.org/vestrahal/objects/";
        const QString plain = "http://10.0.0.7:8080/o/";
        const QJsonValue none(QJsonValue::Undefined);
        QTest::newRow("format 1 without mirrors") << 1 << none << QStringList() << "";
        QTest::newRow("format 1 ignores a mirrors field")
            << 1 << QJsonValue(QJsonArray{cdn}) << QStringList() << "";
        QTest::newRow("format 2 without mirrors") << 2 << none << QStringList() << "";
        QTest::newRow("two mirrors in their order")
            << 2 << QJsonValue(QJsonArray{plain, cdn}) << QStringList{plain, cdn} << "";
        QTest::newRow("a mirror named twice counts once")
            << 2 << QJsonValue(QJsonArray{cdn, plain, cdn}) << QStringList{cdn, plain} << "";
        QTest::newRow("IPv6 host") << 2 << QJsonValue(QJsonArray{"http://[::1]:81/x/"})
                                   << QStringList{"http://[::1]:81/x/"} << "";
        QJsonArray sixteen;
        QStringList sixteenRead;
        for (int i = 0; i < 16; ++i) {
            sixteenRead << QString("https://m%1.example.org/").arg(i);
            sixteen.append(sixteenRead.last());
        }
        QJsonArray seventeen = sixteen;
        seventeen.append("https://m16.example.org/");
        QTest::newRow("sixteen mirrors") << 2 << QJsonValue(sixteen) << sixteenRead << "";
        QTest::newRow("seventeen mirrors")
            << 2 << QJsonValue(seventeen) << QStringList() << "more than 16 mirrors";
        const QList<QPair<const char*, QPair<QJsonValue, QString>>> refused{
            {"not a list", {QJsonValue(cdn), "mirrors that are not a list"}},
            {"null", {QJsonValue(), "mirrors that are not a list"}},
            {"not a text", {QJsonArray{42}, "not a text"}},
            {"no slash at the end", {QJsonArray{"https://cdn.example.org/o"}, "not ending in /"}},
            {"ftp", {QJsonArray{"ftp://cdn.example.org/o/"}, "not an http or https address"}},
            {"relative", {QJsonArray{"/objects/"}, "not an http or https address"}},
            {"no host", {QJsonArray{"https:///objects/"}, "no host"}},
            {"user and password", {QJsonArray{"https://u:p@cdn.example.org/"}, "a user"}},
            {"query", {QJsonArray{"https://cdn.example.org/?a=/"}, "a query"}},
            {"fragment", {QJsonArray{"https://cdn.example.org/#/"}, "a query or fragment"}},
            {"space", {QJsonArray{"https://cdn.example.org/a b/"}, "not an http or https"}},
            {"line end", {QJsonArray{"https://cdn.example.org/a\nb/"}, "not an http"}},
            {"accent",
             {QJsonArray{QString::fromUtf8("https://cdn.example.org/é/")},
              "outside printable ASCII"}},
        };
        for (const auto& [name, row] : refused)
            QTest::newRow(name) << 2 << row.first << QStringList() << row.second;
    }
    void mirrorLists() {
        QFETCH(int, format);
        QFETCH(QJsonValue, mirrors);
        QFETCH(QStringList, read);
        QFETCH(QString, problem);
        QJsonObject top{
            {"format", format},
            {"client", "wotlk"},
            {"sequence", 3},
            {"files", QJsonArray{QJsonObject{{"path", "Wow.exe"},
                                             {"size", 1},
                                             {"sha256", QString::fromLatin1(Sha256::of("a"))}}}}};
        if (!mirrors.isUndefined())
            top.insert("mirrors", mirrors);
        gamemanifest::Manifest manifest;
        QString why;
        const bool taken = gamemanifest::parse(QJsonDocument(top).toJson(), &manifest, &why);
        QCOMPARE(taken, problem.isEmpty());
        QVERIFY2(why.contains(problem), qPrintable(why));
        QCOMPARE(manifest.mirrors, read);
        if (taken)
            QCOMPARE(manifest.files.size(), 1);
    }

    // The index as it is written and read back, and what a new list keeps of it.
    void indexRoundTrip() {
        gamefileindex::Index index;
        index.folder = QFileInfo(game).absoluteFilePath();
        index.sequence = 77;
        index.manifestDigest = Sha256::quickDigest("the list");
        index.manifest.client = "wotlk";
        index.manifest.sequence = 77;
        index.manifest.files = {{"Data/a.MPQ", 12, Sha256::of("a")},
                                {"Data/b.MPQ", 5, Sha256::of("b")}};
        index.manifest.removed = {{"Data/z.MPQ", Sha256::of("z")}};
        index.manifest.mirrors = {"https://cdn.example.org/o/", "http://127.0.0.1:81/"};
        index.entries = {{12, 34, Sha256::of("a")}, {}};
        const QString file = launcherfiles::gameFilesIndex(launcher, "wotlk", game);
        QVERIFY(gamefileindex::save(file, index));
        const gamefileindex::Index read = gamefileindex::load(file, game);
        QCOMPARE(read.sequence, qint64(77));
        QCOMPARE(read.manifestDigest, index.manifestDigest);
        QCOMPARE(read.manifest.files.size(), 2);
        QCOMPARE(read.manifest.files.at(1).path, QString("Data/b.MPQ"));
        QCOMPARE(read.manifest.removed.value(0).path, QString("Data/z.MPQ"));
        // The same list next time is taken from the index: with its mirrors.
        QCOMPARE(read.manifest.mirrors, index.manifest.mirrors);
        QCOMPARE(read.entries.value(0).sha256, Sha256::of("a"));
        QCOMPARE(read.entries.value(0).modified, qint64(34));
        QVERIFY(read.entries.value(1).sha256.isEmpty());
        // A new list keeps what is known of the files it still names, wherever they are in it.
        gamemanifest::Manifest next;
        next.files = {{"Data/new.MPQ", 1, Sha256::of("n")}, {"Data/a.MPQ", 12, Sha256::of("a")}};
        const QList<gamefileindex::Entry> kept = gamefileindex::entriesFor(read, next);
        QCOMPARE(kept.size(), 2);
        QVERIFY(kept.at(0).sha256.isEmpty());
        QCOMPARE(kept.at(1).modified, qint64(34));
        // Another folder's index is not this one's.
        QVERIFY(gamefileindex::load(file, work->path()).manifest.files.isEmpty());
        QVERIFY(launcherfiles::gameFilesIndex(launcher, "wotlk", game) !=
                launcherfiles::gameFilesIndex(launcher, "wotlk", work->path()));
    }

    // The look at each listed file through its folder, opened once for the files that follow in
    // it, says what a look at the whole path says, whatever was looked at just before: missing
    // folders, a file where a folder should be, a link at the end, a folder reached through a link.
    void folderStates_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("regular");
        QTest::addColumn<bool>("link");
        QTest::newRow("file in a folder") << ""
                                          << "Data/a.MPQ" << true << true << false;
        QTest::newRow("next file, same folder") << "Data/a.MPQ"
                                                << "Data/b.MPQ" << true << true << false;
        QTest::newRow("missing file, same folder") << "Data/a.MPQ"
                                                   << "Data/c.MPQ" << false << false << false;
        QTest::newRow("file at the top after a folder") << "Data/a.MPQ"
                                                        << "Wow.exe" << true << true << false;
        QTest::newRow("folder after a missing folder") << "Interface/x.lua"
                                                       << "Data/b.MPQ" << true << true << false;
        QTest::newRow("missing folder") << "Data/a.MPQ"
                                        << "Interface/x.lua" << false << false << false;
        QTest::newRow("a file in a folder's place") << ""
                                                    << "Wow.exe/x.lua" << false << false << false;
        QTest::newRow("link at the end") << "Data/a.MPQ"
                                         << "Data/link.MPQ" << true << false << true;
        QTest::newRow("folder itself") << ""
                                       << "Data" << true << false << false;
        QTest::newRow("through a linked folder") << "Data/a.MPQ"
                                                 << "Linked/a.MPQ" << true << true << false;
    }
    void folderStates() {
        QFETCH(QString, before);
        QFETCH(QString, path);
        QFETCH(bool, exists);
        QFETCH(bool, regular);
        QFETCH(bool, link);
        if (link || path.startsWith("Linked/"))
            VESTRAHAL_SKIP_WITHOUT_SYMBOLIC_LINKS();
        writeFile(game + "/Data/a.MPQ", "aaa");
        writeFile(game + "/Data/b.MPQ", "bb");
        QVERIFY(QFile::link(game + "/Data/a.MPQ", game + "/Data/link.MPQ"));
        QVERIFY(QFile::link(game + "/Data", game + "/Linked"));
        durablefile::FolderStates disk(game);
        if (!before.isEmpty())
            disk.stateOf(before);
        const gamefileindex::FileState state = disk.stateOf(path);
        const gamefileindex::FileState whole = durablefile::stateOf(game + '/' + path);
        QCOMPARE(state.exists, exists);
        QCOMPARE(state.regular, regular);
        QCOMPARE(state.link, link);
        QCOMPARE(state.size, whole.size);
        QCOMPARE(state.modified, whole.modified);
    }

    // The hash of the files and objects, against the published test vectors, whatever the size
    // of the pieces it is given (a network read, a part file's kept bytes, a 1 MiB read).
    void sha256Vectors_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("piece");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
        const QByteArray million(1000000, 'a');
        QTest::newRow("empty") << QByteArray() << 1
                               << QByteArray("e3b0c44298fc1c149afbf4c8996fb924"
                                             "27ae41e4649b934ca495991b7852b855");
        QTest::newRow("abc whole") << QByteArray("abc") << 3
                                   << QByteArray("ba7816bf8f01cfea414140de5dae2223"
                                                 "b00361a396177a9cb410ff61f20015ad");
        QTest::newRow("two blocks byte by byte")
            << twoBlocks << 1
            << QByteArray("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
        QTest::newRow("a million a, pieces across block ends")
            << million << 65537
            << QByteArray("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
        QTest::newRow("a million a, one piece")
            << million << int(million.size())
            << QByteArray("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    }
    void sha256Vectors() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, piece);
        QFETCH(QByteArray, expected);
        Sha256 hash;
        hash.add("spoilt");
        // A hash started again knows nothing of what came before.
        hash.reset();
        for (qsizetype at = 0; at < bytes.size(); at += piece)
            hash.add(
                QByteArrayView(bytes).sliced(at, std::min<qsizetype>(piece, bytes.size() - at)));
        QCOMPARE(hash.hex(), expected);
        QCOMPARE(Sha256::of(bytes), expected);
    }

    // The largest list and signature the launcher takes.
    void listLimits_data() {
        QTest::addColumn<QString>("which");
        QTest::newRow("manifest over 16 MiB") << "manifest";
        QTest::newRow("signature over 1 KiB") << "signature";
    }
    void listLimits() {
        QFETCH(QString, which);
        using_ = Server::InProcess;
        publish({gamemanifest::kWotlk, 1, {{"Data/patch-A.MPQ", "bytes"}}, {}, {}});
        const QString name = site.path() + "/launcher/files/wotlk/manifest.json" +
                             (which == "signature" ? ".sig" : "");
        writeFile(name, readFile(name) + QByteArray(which == "signature" ? 1024 : 16 << 20, ' '));
        const Run result = run();
        QVERIFY(!result.success);
        QCOMPARE(readFile(game + "/Data/patch-A.MPQ"), QByteArray("<absent>"));
        QVERIFY2(report().contains("Error #6"), report().constData());
    }
};

QTEST_GUILESS_MAIN(GameFilesTest)
#include "tst_gamefiles.moc"
