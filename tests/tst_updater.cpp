#include "buildoptions.h"
#include "closedport.h"
#include "communityaddress.h"
#include "config.h"
#include "filesizelimit.h"
#include "httpclient.h"
#include "mainwindow.h"
#include "nginxserver.h"
#include "offlinenames.h"
#include "releasesequence.h"
#include "testfiles.h"
#include "testsupport.h"
#include "ui_mainwindow.h"
#include "updater.h"
#include "updatereport.h"
#include "updatesignature.h"
#include "versionorder.h"
#include "windowsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkProxyFactory>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWebEngineView>

#include <sodium.h>

namespace {

constexpr int kTimeout = 30000;

const QByteArray kVersionPath = "/launcher/version.php";
const QByteArray kDownloadPath = updater::downloadPath().toLatin1();
const QString kExe = QString::fromLatin1(vestrahal::kExecutableName);
const QString kBackup = kExe + ".bak";
const QString kPartial = kExe + ".new";
const QString kReport = QString::fromLatin1(vestrahal::kReportFileName);
// What starts a program of this platform: the launcher takes nothing else.
#ifdef Q_OS_WIN
const QByteArray kProgramMagic = "MZ";
#else
const QByteArray kProgramMagic = "\177ELF";
#endif
const QByteArray kOldLauncher = kProgramMagic + " the launcher that runs";

const QString kChecking = QString::fromUtf8("Vérification des mises à jour disponibles...");
const QString kCurrent = QString::fromUtf8("Version à jour");
const QString kNotOffered = QString::fromUtf8(
    "Aucune nouvelle version du launcher n'est proposée pour ce système : le jeu peut être lancé.");
const QString kDownloading = "Téléchargement de la nouvelle version en cours...";
const QString kDownloadFailed = QString::fromUtf8(
    "Problème lors du téléchargement de la mise à jour, merci de relancer le launcher");
const QString kBackupFailed = QString::fromUtf8(
    "Le launcher ne parvient pas à créer/modifier le fichier 'VestrahalLauncher.exe.bak'");
const QString kReady = QString::fromUtf8("World of Warcraft est prêt à être lancé");

// A body that starts like an executable of this platform.
QByteArray program(qint64 size) {
    QByteArray data = content("program", size);
    const QByteArray magic = kProgramMagic;
    data.replace(0, std::min<qint64>(size, magic.size()), magic.left(size));
    return data;
}

QByteArray storedVersion() {
    return readTextFile("launcher.conf").split('\n').value(8);
}

// Where a host's requests go: to the in-process server, to a port where nothing listens, or
// straight to a name lookup that fails (see offlinenames.h).
enum class Route { Server, Refused, Unknown };

class Routes : public QNetworkProxyFactory {
public:
    Routes(quint16 serverPort, Route domain, Route host)
        : serverPort(serverPort)
        , domain(domain)
        , host(host) {}
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override {
        const QString www = communityServer(vestrahal::kWebHost).host;
        return {proxyFor(query.peerHostName() == www ? host : domain)};
    }

private:
    QNetworkProxy proxyFor(Route route) const {
        switch (route) {
        case Route::Server:
            return {QNetworkProxy::HttpProxy, "127.0.0.1", serverPort};
        case Route::Refused:
            return {QNetworkProxy::HttpProxy, "127.0.0.1", closedPort()};
        case Route::Unknown:
            break;
        }
        return QNetworkProxy::NoProxy;
    }
    quint16 serverPort;
    Route domain;
    Route host;
};

struct Box {
    QString title;
    QString text;
    bool hasParent = true;
    QMessageBox::StandardButtons buttons;
    QByteArray report; // errors.log as it was when the box opened
};

// The loaded settings the updater is given, and what it tells the window, as it tells it: the
// status line, the bar (50 when the check starts), and in `told` a failed check (its code) or an
// installed update (errors.log as it was then).
struct Launcher {
    Launcher() { loaded = config.load(); }
    void watch(updater& selfUpdater, QList<Box>& told) {
        QObject::connect(&selfUpdater, &updater::statusChanged, &selfUpdater,
                         [this](const QString& status) { text = status; });
        QObject::connect(&selfUpdater, &updater::progressChanged, &selfUpdater,
                         [this](int value) { bar = value; });
        QObject::connect(&selfUpdater, &updater::current, &selfUpdater, [this] {
            bar = 100;
            current = true;
        });
        QObject::connect(&selfUpdater, &updater::checkFailed, &selfUpdater, [&told](int code) {
            told.append({"checkFailed", QString::number(code), false, {}, readFile(kReport)});
        });
        QObject::connect(&selfUpdater, &updater::updated, &selfUpdater, [this, &told] {
            installed = true;
            told.append({"updated", {}, false, {}, readFile(kReport)});
        });
    }
    bool upToDate() const { return current || installed; }
    Config config;
    bool loaded = false;
    QString text;
    int bar = 50;
    bool current = false;
    bool installed = false;
};

bool signedBuild() {
    return vestrahal::kUpdatePublicKey[0] != '\0';
}

const QString kSignatureOk = "Signature of the file ............... [OK]";

// The sequence of the releases the tests publish, unless a test says otherwise.
constexpr quint64 kSequence = 1765000000;

// The signature file of a new launcher, made with the tests' own key (tests/keys), for the
// version's bytes and a release sequence.
QByteArray signatureFile(const QByteArray& executable, const QByteArray& version,
                         const QString& keyDir = VESTRAHAL_SOURCE_DIR "/tests/keys",
                         quint64 sequence = kSequence) {
    const QByteArray pem = readFile(keyDir + "/update.key");
    const QByteArray der = QByteArray::fromBase64(pem.split('\n').value(1));
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(publicKey, secretKey,
                             reinterpret_cast<const unsigned char*>(der.right(32).constData()));
    const QByteArray message = signedUpdateMessage(
        version, QCryptographicHash::hash(executable, QCryptographicHash::Sha256).toHex(),
        sequence);
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr,
                         reinterpret_cast<const unsigned char*>(message.constData()),
                         message.size(), secretKey);
    return QByteArray(reinterpret_cast<const char*>(signature), sizeof signature).toBase64() +
           "\nsequence " + QByteArray::number(sequence) + '\n';
}

// The lines of the one report in errors.log, checked for its fixed frame. A build with a public
// key adds the signature line once the file is whole: it is checked here and left out.
QStringList reportLines() {
    const QString text = QString::fromLocal8Bit(readFile(kReport));
    if (!text.startsWith("----------------------------------------------------------\n") ||
        !text.endsWith("\n\n\n"))
        return {"<not one report>", text};
    QStringList lines = text.split('\n');
    if (signedBuild() && lines.value(8).startsWith("Signature of the file")) {
        if (lines[8] != kSignatureOk && !lines[8].contains("Signature refused: "))
            return {"<bad signature line>", text};
        lines.removeAt(8);
    }
    if (lines.size() != 11 || lines[1] != "Upgrading " + kExe + "..." ||
        !lines[2].startsWith("Date : ") ||
        !QDateTime::fromString(lines[2].mid(7), Qt::TextDate).isValid() || !lines[3].isEmpty())
        return {"<bad frame>", text};
    return lines.mid(4, 4);
}

} // namespace

Q_DECLARE_METATYPE(CommunityServer::Reply)
Q_DECLARE_METATYPE(Route)
Q_DECLARE_METATYPE(UpdateOutcome)

class UpdaterTest : public QObject {
    Q_OBJECT

    // The new launcher the server offers, with its signature in a build that asks for one.
    void offer(const CommunityServer::Reply& reply, const QByteArray& version = "1.5") {
        server.setReply(kDownloadPath, reply);
        if (signedBuild())
            server.setReply(kDownloadPath + ".sig",
                            {200, "text/plain", signatureFile(reply.body, version)});
    }

    void routeHosts(Route domain, Route host) {
        QNetworkProxyFactory::setApplicationProxyFactory(
            new Routes(server.serverPort(), domain, host));
    }

    // Every message box is closed with its OK button as soon as it is open, and noted: a test
    // that expects none checks that the list stays empty.
    void closeOpenBox() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        boxes.append({box->windowTitle(), box->text(), box->parentWidget() != nullptr,
                      box->standardButtons(), readFile(kReport)});
        box->button(QMessageBox::Ok)->click();
    }

    // Runs the whole update until the updater says the new launcher is in place (true), or the
    // time runs out (false).
    static bool updateUntilInstalled(updater& selfUpdater) {
        QSignalSpy installed(&selfUpdater, &updater::updated);
        selfUpdater.checkVersion();
        return installed.wait(kTimeout) && installed.size() == 1;
    }

private slots:
    void initTestCase() {
        routeThroughCommunityServer(server);
        connect(&boxCloser, &QTimer::timeout, this, &UpdaterTest::closeOpenBox);
    }

    void init() {
        dir.reset(new QTemporaryDir);
        QVERIFY(QDir::setCurrent(dir->path()));
        writeFile("launcher.conf", "1\n/jeux/wotlk\n0\n\n0\n |0\n |0\n |0\n1.4\n");
        writeFile(kExe, kOldLauncher);
        QVERIFY(QFile::setPermissions(kExe, QFile::permissions(kExe) | QFile::ExeOwner));
        server.clearRequests();
        clearRefusedNameLookups();
        boxes.clear();
        boxCloser.start(10);
    }

    void cleanup() {
        boxCloser.stop();
        server.clearReplies();
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", server.serverPort()));
        QDir::setCurrent(QDir::tempPath());
    }

    void versionCheck_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<CommunityServer::Reply>("reply");
        QTest::addColumn<bool>("current");
        const auto text = [](const QByteArray& body) {
            return CommunityServer::Reply{200, "text/plain", body};
        };
        QTest::newRow("equal") << QByteArray("1.4") << text("1.4") << true;
        QTest::newRow("line feed after it") << QByteArray("1.4") << text("1.4\n") << true;
        QTest::newRow("CR LF after it") << QByteArray("1.4") << text("1.4\r\n") << true;
        QTest::newRow("NUL, then more")
            << QByteArray("1.4") << text(QByteArray("1.4\0zz", 6)) << true;
        QTest::newRow("both empty") << QByteArray() << text("") << true;
        QTest::newRow("older") << QByteArray("1.4") << text("1.3") << false;
        QTest::newRow("newer") << QByteArray("1.4") << text("1.10") << false;
        QTest::newRow("trailing space") << QByteArray("1.4") << text("1.4 ") << false;
        QTest::newRow("other case") << QByteArray("v1.4") << text("V1.4") << false;
        QTest::newRow("empty body") << QByteArray("1.4") << text("") << false;
        QTest::newRow("404 page") << QByteArray("1.4")
                                  << CommunityServer::Reply{404, "text/html", "<h1>404</h1>"}
                                  << false;
        QTest::newRow("500 with the version")
            << QByteArray("1.4") << CommunityServer::Reply{500, "text/plain", "1.4"} << true;
    }
    void versionCheck() {
        QFETCH(QByteArray, stored);
        QFETCH(CommunityServer::Reply, reply);
        QFETCH(bool, current);
        writeFile("launcher.conf", "1\n/jeux/wotlk\n0\n\n0\n |0\n |0\n |0\n" + stored + "\n");
        server.setReply(kVersionPath, reply);
        offer({200, "application/octet-stream", program(1000), CommunityServer::Reply::Held});
        Launcher launcher;
        QVERIFY(launcher.loaded);
        updater selfUpdater(&launcher.config);
        launcher.watch(selfUpdater, boxes);
        selfUpdater.checkVersion();
        QCOMPARE(launcher.text, kChecking);
        QVERIFY(server.requests().isEmpty());

        if (current) {
            QTRY_VERIFY_WITH_TIMEOUT(launcher.current, kTimeout);
            QCOMPARE(launcher.bar, 100);
            QVERIFY(launcher.current);
            QVERIFY(launcher.upToDate());
            QVERIFY(server.requestsFor(kDownloadPath).isEmpty());
            QCOMPARE(readFile(kExe), kOldLauncher);
            QVERIFY(!QFile::exists(kBackup));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor(kDownloadPath).isEmpty(), kTimeout);
            QCOMPARE(launcher.text, kDownloading);
            QCOMPARE(launcher.bar, 50);
            QVERIFY(!launcher.current);
            QVERIFY(!launcher.upToDate());
            // The download goes beside the launcher, which keeps its name until it is whole.
            QCOMPARE(readFile(kExe), kOldLauncher);
            QVERIFY(!QFile::exists(kBackup));
            QVERIFY(QFile::exists(kPartial));
        }
        QCOMPARE(storedVersion(), stored);
        QCOMPARE(server.requestsFor(kVersionPath).size(), 2);
        QVERIFY(boxes.isEmpty());
    }

    void versionIsAskedTwiceOfTheDomain() {
        server.setReply(kVersionPath, {200, "text/plain", "1.4"});
        Launcher launcher;
        updater selfUpdater(&launcher.config);
        launcher.watch(selfUpdater, boxes);
        selfUpdater.checkVersion();
        QTRY_VERIFY_WITH_TIMEOUT(launcher.current, kTimeout);

        const auto requests = server.requestsFor(kVersionPath);
        QCOMPARE(requests.size(), 2);
        for (const auto& request : requests) {
            QCOMPARE(request.method, QByteArray("GET"));
            // Seen as a proxy sees it: the whole address, then the host the launcher named (in a
            // tunnel, the path only).
            QCOMPARE(request.target, httpsBuild() ? QByteArray("/launcher/version.php")
                                                  : QByteArray("http://") + vestrahal::kWebDomain +
                                                        "/launcher/version.php");
            QCOMPARE(request.header("Host"), QByteArray(vestrahal::kWebDomain));
        }
    }

    // Over HTTPS, a server whose certificate is for another name or from an authority nobody
    // trusts is not talked to: the check, the download and the news each fail as they do when
    // the server cannot be reached. (Before any test that quits the application: after that,
    // Qt 6.4 no longer ends a request whose certificate it refused.)
    void badCertificates_data() {
        QTest::addColumn<QByteArray>("certificate");
        QTest::addColumn<QString>("step");
        for (const QByteArray certificate : {"wrongname", "untrusted"}) {
            for (const QString step : {"version", "download", "news"})
                QTest::newRow(qPrintable(step + ", " + certificate)) << certificate << step;
        }
    }
    void badCertificates() {
        if (!httpsBuild())
            QSKIP("an http build: the https build of tools/run-tests.sh runs this");
        QFETCH(QByteArray, certificate);
        QFETCH(QString, step);
        const auto port = [](const char* host) {
            return communityServer(host).host.toLatin1() + ':' +
                   QByteArray::number(communityServer(host).port);
        };
        server.setTls(testChain(certificate), testKey(certificate),
                      step == "download" ? port(vestrahal::kWebHost) : port(vestrahal::kWebDomain));
        server.dropConnections();
        server.setReply(kVersionPath, {200, "text/plain", "1.5"});
        offer({200, "application/octet-stream", program(3000)});
        if (step == "news") {
            MainWindow window;
            auto* web = window.findChild<QWebEngineView*>("Web");
            QSignalSpy loaded(web, &QWebEngineView::loadFinished);
            QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), kTimeout);
            QCOMPARE(loaded.first().first().toBool(), false);
            QVERIFY(server.requestsFor("/launcher/launcher.php").isEmpty());
            QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 1, kTimeout);
        } else {
            Launcher launcher;
            updater selfUpdater(&launcher.config);
            launcher.watch(selfUpdater, boxes);
            selfUpdater.checkVersion();
            if (step == "version") {
                QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 1, kTimeout);
                QCOMPARE(boxes[0].text, QString("1"));
                QVERIFY(server.requestsFor(kVersionPath).isEmpty());
            } else {
                QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(kReport), kTimeout);
                QCOMPARE(reportLines().value(1), QString("Downloading      0 Bytes ............ "
                                                         "[FAIL] Error #1[FAIL] HTTP Error 0"));
                QVERIFY(server.requestsFor(kDownloadPath).isEmpty());
                QCOMPARE(launcher.text, kDownloadFailed);
            }
            QVERIFY(!launcher.upToDate());
        }
        QCOMPARE(readFile(kExe), kOldLauncher);
        QCOMPARE(storedVersion(), QByteArray("1.4"));
        server.setTls(testChain("server"), testKey("server"), port(vestrahal::kWebDomain));
        server.setTls(testChain("server"), testKey("server"), port(vestrahal::kWebHost));
        server.dropConnections();
    }

    void failedCheckShowsTheCodeOnce_data() {
        QTest::addColumn<Route>("route");
        QTest::addColumn<CommunityServer::Reply>("reply");
        QTest::addColumn<QString>("code");
        // Only the silent server waits for the time limit: any other row given a short one would
        // race it on a loaded machine (a TLS handshake and 64 KiB of header take their time).
        QTest::addColumn<int>("timeLimit");
        constexpr int kOtherLimitFirst = kTimeout / 2;
        using Reply = CommunityServer::Reply;
        const Reply version{200, "text/plain", "1.5"};
        QTest::newRow("host not found") << Route::Unknown << version << "2" << kOtherLimitFirst;
        // The tests' refusal comes from the proxy they route through, over TLS as without.
        QTest::newRow("connection refused") << Route::Refused << version << "3" << kOtherLimitFirst;
        QTest::newRow("closed before any header")
            << Route::Server << Reply{0, "", "", Reply::Raw} << "4" << kOtherLimitFirst;
        QTest::newRow("an answer that never ends")
            << Route::Server << Reply{200, "text/plain", QByteArray(4096, '1'), Reply::Endless}
            << "6" << kOtherLimitFirst;
        QTest::newRow("a header that never ends")
            << Route::Server
            << Reply{200, "text/plain", QByteArray(4096, 'h'), Reply::EndlessHeader} << "5"
            << kOtherLimitFirst;
        QTest::newRow("an answer announced over 1 KiB")
            << Route::Server << Reply{200, "text/plain", QByteArray(1025, '1')} << "6"
            << kOtherLimitFirst;
        QTest::newRow("a server that never answers")
            << Route::Server << Reply{200, "text/plain", {}, Reply::Silent} << "7" << 300;
    }
    void failedCheckShowsTheCodeOnce() {
        QFETCH(Route, route);
        if (route == Route::Unknown)
            VESTRAHAL_SKIP_WITHOUT_OFFLINE_NAMES();
        QFETCH(CommunityServer::Reply, reply);
        server.setReply(kVersionPath, reply);
        Launcher launcher;
        routeHosts(route, Route::Server);
        updater selfUpdater(&launcher.config);
        launcher.watch(selfUpdater, boxes);
        QFETCH(int, timeLimit);
        selfUpdater.setCheckTimeLimit(timeLimit);
        selfUpdater.checkVersion();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 1, kTimeout);

        QCOMPARE(boxes[0].title, QString("checkFailed"));
        QTEST(boxes[0].text, "code");
        QCOMPARE(launcher.text, kChecking);
        QCOMPARE(launcher.bar, 50);
        QVERIFY(!launcher.current);
        QVERIFY(!launcher.upToDate());
        QCOMPARE(readFile(kExe), kOldLauncher);
        QVERIFY(!QFile::exists(kReport));
        QVERIFY(server.requestsFor(kDownloadPath).isEmpty());
        if (route == Route::Unknown)
            QCOMPARE(refusedNameLookups().value(0),
                     communityServer(vestrahal::kWebDomain).host.toLatin1());
    }

    void download_data() {
        QTest::addColumn<Route>("route");
        QTest::addColumn<CommunityServer::Reply>("reply");
        QTest::addColumn<int>("timeLimit"); // 0: the build's, for this column and the next two
        QTest::addColumn<int>("idleLimit");
        QTest::addColumn<int>("maxBytes");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<int>("bar"); // -1: whatever the reply's progress made of it
        QTest::addColumn<QStringList>("report");
        using Reply = CommunityServer::Reply;
        // Why no file was kept: the status that refused the download, or its failure.
        const auto refused = [](int status) {
            return "Creation of the file ................ [FAIL] download refused with HTTP " +
                   QString::number(status);
        };
        const QString failed = "Creation of the file ................ [FAIL] download failed";
        const QString notAProgram = "Creation of the file ................ [FAIL] not a program";
        const auto balance = [](int bytes) {
            return "Writting of the file ................ [FAIL] Bytes balance = " +
                   QString::number(bytes);
        };
        const QString created = "Creation of the file ................ [OK]";
        const QString written = "Writting of the file ................ [OK]";
        const QString sent = "Sending HTTP request ................ [OK]";

        QTest::newRow("1458176 bytes with a length")
            << Route::Server << Reply{200, "application/octet-stream", program(1458176)} << 0 << 0
            << 0 << true << 100
            << QStringList{sent, "Downloading 1458176 Bytes ............ [OK] HTTP 200", created,
                           written};
        QTest::newRow("no length: the bar stays")
            << Route::Server
            << Reply{200, "application/octet-stream", program(300000), Reply::NoContentLength} << 0
            << 0 << 0 << true << 50
            << QStringList{sent, "Downloading 300000 Bytes ............ [OK] HTTP 200", created,
                           written};
        // No launcher published at this system's address: not offered here, and nothing failed.
        QTest::newRow("404: not offered for this system")
            << Route::Server << Reply{404, "text/html", "<h1>absent</h1>"} << 0 << 0 << 0 << false
            << -1
            << QStringList{sent, "Downloading     15 Bytes ............ [FAIL] HTTP Error 404",
                           "Creation of the file ................ [FAIL] not offered for this "
                           "system (HTTP 404)",
                           balance(0)};
        QTest::newRow("500") << Route::Server << Reply{500, "text/html", ""} << 0 << 0 << 0 << false
                             << 50
                             << QStringList{
                                    sent,
                                    "Downloading      0 Bytes ............ [FAIL] HTTP Error 500",
                                    refused(500), balance(0)};
        QTest::newRow("redirect not followed")
            << Route::Server
            << Reply{0, "",
                     "HTTP/1.1 302 Found\r\nLocation: /launcher/download/autre.exe\r\n"
                     "Content-Length: 0\r\nConnection: close\r\n\r\n",
                     Reply::Raw}
            << 0 << 0 << 0 << false << 50
            << QStringList{sent, "Downloading      0 Bytes ............ [FAIL] HTTP Error 302",
                           refused(302), balance(0)};
        QTest::newRow("body cut short")
            << Route::Server
            << Reply{200, "application/octet-stream", program(200000), Reply::CutShort, 50000} << 0
            << 0 << 0 << false << -1
            << QStringList{sent, "Downloading  50000 Bytes ............ [FAIL] Error #6", failed,
                           balance(0)};
        QTest::newRow("server stalls: aborted")
            << Route::Server << Reply{200, "text/plain", {}, Reply::Silent} << 300 << 0 << 0
            << false << 50
            << QStringList{sent,
                           "Downloading      0 Bytes ............ [FAIL] Error #7[FAIL] HTTP "
                           "Error 0",
                           failed, balance(0)};
        QTest::newRow("server trickles past the limit: aborted")
            << Route::Server << Reply{200, "application/octet-stream", program(60), Reply::Trickle}
            << 500 << 0 << 0 << false << -1
            << QStringList{sent, "^Downloading +[1-9][0-9]* Bytes \\.{12} \\[FAIL\\] Error #7$",
                           failed, balance(0)};
        QTest::newRow("host not found")
            << Route::Unknown << Reply{200, "application/octet-stream", program(10)} << 0 << 0 << 0
            << false << 50
            << QStringList{sent,
                           "Downloading      0 Bytes ............ [FAIL] Error #2[FAIL] HTTP "
                           "Error 0",
                           failed, balance(0)};
        QTest::newRow("connection refused")
            << Route::Refused << Reply{200, "application/octet-stream", program(10)} << 0 << 0 << 0
            << false << 50
            << QStringList{sent,
                           "Downloading      0 Bytes ............ [FAIL] Error #3[FAIL] HTTP "
                           "Error 0",
                           failed, balance(0)};
        QTest::newRow("a program for the other system")
            << Route::Server
            << Reply{200, "application/octet-stream",
                     (kProgramMagic == "MZ" ? QByteArray("\177ELF") : QByteArray("MZ")) +
                         QByteArray(1000, 'p')}
            << 0 << 0 << 0 << false << 100
            << QStringList{sent, "Downloading   1002 Bytes ............ [OK] HTTP 200",
                           "Creation of the file ................ [FAIL] not a program for this "
                           "system",
                           balance(0)};
        QTest::newRow("a web page served with 200")
            << Route::Server << Reply{200, "text/html", "<html>Connexion Wi-Fi</html>"} << 0 << 0
            << 0 << false << 100
            << QStringList{sent, "Downloading     28 Bytes ............ [OK] HTTP 200", notAProgram,
                           balance(0)};
        QTest::newRow("a slow line that keeps coming: installed")
            << Route::Server
            << Reply{200, "application/octet-stream", program(40000), Reply::Trickle, 0, 1400} << 0
            << 600 << 0 << true << 100
            << QStringList{sent, "Downloading  40000 Bytes ............ [OK] HTTP 200", created,
                           written};
        QTest::newRow("a silent server: given up after the idle time")
            << Route::Server << Reply{200, "text/plain", {}, Reply::Silent} << 0 << 300 << 0
            << false << 50
            << QStringList{sent,
                           "Downloading      0 Bytes ............ [FAIL] Error #7[FAIL] HTTP "
                           "Error 0",
                           failed, balance(0)};
        // What came before the line went quiet is what the report counts.
        QTest::newRow("2 MiB, then silence: given up after the idle time")
            << Route::Server
            << Reply{200, "application/octet-stream", program(4 << 20), Reply::Stalls, 2 << 20} << 0
            << 2000 << 0 << false << -1
            << QStringList{sent, "Downloading 2097152 Bytes ............ [FAIL] Error #7", failed,
                           balance(0)};
        QTest::newRow("a header that never ends: refused at the header limit")
            << Route::Server
            << Reply{200, "application/octet-stream", QByteArray(4096, 'h'), Reply::EndlessHeader}
            << 0 << 0 << 0 << false << 50
            << QStringList{sent,
                           "Downloading      0 Bytes ............ [FAIL] Error #5[FAIL] HTTP "
                           "Error 0",
                           failed, balance(0)};
        QTest::newRow("announced over the limit")
            << Route::Server << Reply{200, "application/octet-stream", program(5000)} << 0 << 0
            << 4999 << false << 50
            << QStringList{sent, "Downloading      0 Bytes ............ [FAIL] Error #6", failed,
                           balance(0)};
        // The limit the community built the launcher with, untouched by the suite.
        QTest::newRow("announced over the build's limit")
            << Route::Server
            << Reply{0, "",
                     "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                     "Content-Length: " +
                         QByteArray::number(vestrahal::kUpdateMaxBytes + 1) +
                         "\r\nConnection: close\r\n\r\n" + program(10),
                     Reply::Raw}
            << 0 << 0 << 0 << false << 50
            << QStringList{sent, "Downloading      0 Bytes ............ [FAIL] Error #6", failed,
                           balance(0)};
        QTest::newRow("a body that never ends")
            << Route::Server
            << Reply{200, "application/octet-stream", program(65536), Reply::Endless} << 0 << 0
            << 3000000 << false << 50
            << QStringList{sent, "^Downloading [1-9][0-9]{6} Bytes \\.{12} \\[FAIL\\] Error #6$",
                           failed, balance(0)};
        QTest::newRow("an empty body served with 200")
            << Route::Server << Reply{200, "application/octet-stream", ""} << 0 << 0 << 0 << false
            << 50
            << QStringList{sent, "Downloading      0 Bytes ............ [OK] HTTP 200", notAProgram,
                           balance(0)};
    }
    void download() {
        QFETCH(Route, route);
        if (route == Route::Unknown)
            VESTRAHAL_SKIP_WITHOUT_OFFLINE_NAMES();
        QFETCH(CommunityServer::Reply, reply);
        QFETCH(int, timeLimit);
        QFETCH(int, idleLimit);
        QFETCH(int, maxBytes);
        QFETCH(bool, installed);
        QFETCH(int, bar);
        server.setReply(kVersionPath, {200, "text/plain", "1.5"});
        offer(reply);
        server.setReply("/launcher/download/autre.exe", {200, "text/plain", program(10)});
        Launcher launcher;
        routeHosts(Route::Server, route);
        updater selfUpdater(&launcher.config);
        launcher.watch(selfUpdater, boxes);
        QSignalSpy barMoves(&selfUpdater, &updater::progressChanged);
        QSignalSpy notOfferedSpy(&selfUpdater, &updater::notOffered);
        if (timeLimit > 0)
            selfUpdater.setDownloadTimeLimit(timeLimit);
        if (idleLimit > 0)
            selfUpdater.setDownloadIdleLimit(idleLimit);
        if (maxBytes > 0)
            selfUpdater.setDownloadMaxBytes(maxBytes);

        if (installed) {
            QVERIFY(updateUntilInstalled(selfUpdater));
            QCOMPARE(boxes.size(), 1);
            QCOMPARE(boxes[0].title, QString("updated"));
            // Written before anyone is told.
            QVERIFY(boxes[0].report.contains("[OK] HTTP 200\n"));
            QCOMPARE(readFile(kExe), reply.body);
            QVERIFY(QFile::permissions(kExe) & QFile::ExeOwner);
            QCOMPARE(readFile(kBackup), kOldLauncher);
            QCOMPARE(storedVersion(), QByteArray("1.5"));
            QVERIFY(launcher.upToDate());
            QCOMPARE(launcher.text, kDownloading);
        } else {
            selfUpdater.checkVersion();
            // The report closes every attempt, whichever way it went.
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(kReport), kTimeout);
            // Not offered here: the player is told so, and plays.
            const bool notOffered = reply.status == 404;
            QCOMPARE(launcher.text, notOffered ? kNotOffered : kDownloadFailed);
            QCOMPARE(notOfferedSpy.size(), notOffered ? 1 : 0);
            QCOMPARE(readFile(kExe), kOldLauncher);
            QVERIFY(!QFile::exists(kBackup));
            QCOMPARE(storedVersion(), QByteArray("1.4"));
            QCOMPARE(launcher.config.version, QString("1.4"));
            QVERIFY(!launcher.upToDate());
            QVERIFY(boxes.isEmpty());
        }
        QVERIFY(!launcher.current || installed);
        // A count that depends on how the bytes were cut up is given as a pattern ("^...$").
        QFETCH(QStringList, report);
        const QStringList lines = reportLines();
        QCOMPARE(lines.size(), report.size());
        for (int i = 0; i < report.size(); ++i) {
            if (report[i].startsWith('^'))
                QVERIFY2(QRegularExpression(report[i]).match(lines[i]).hasMatch(),
                         qPrintable(lines[i]));
            else
                QCOMPARE(lines[i], report[i]);
        }
        // Nothing but the launcher's own files is left in its folder.
        QStringList files = QDir().entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        files.sort();
        QStringList expected{"launcher.conf", kExe, kReport};
        if (installed)
            expected << kBackup;
        if (installed && signedBuild())
            expected << releaseSequenceFileName();
        expected.sort();
        QCOMPARE(files, expected);
        QVERIFY(server.requestsFor("/launcher/download/autre.exe").isEmpty());

        // The bar only moves up, from 50, and only with a length announced.
        int previous = 50;
        for (const auto& move : barMoves) {
            QVERIFY(move.first().toInt() >= previous);
            previous = move.first().toInt();
        }
        if (bar >= 0)
            QCOMPARE(launcher.bar, bar);
    }

    void progressBar_data() {
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("bar");
        QTest::newRow("half") << 500000 << 1000000 << 75;
        QTest::newRow("nothing yet") << 0 << 1000 << 50;
        QTest::newRow("all") << 1000 << 1000 << 100;
        QTest::newRow("fraction dropped") << 2 << 3 << 83;
        QTest::newRow("no total announced") << 400 << 0 << 60;
        QTest::newRow("more than announced") << 1001 << 1000 << 60;
        QTest::newRow("near 2 GB, no overflow") << 2000000000 << 2100000000 << 97;
    }
    void progressBar() {
        QFETCH(int, done);
        QFETCH(int, total);
        Launcher launcher;
        launcher.bar = 60;
        updater selfUpdater(&launcher.config);
        launcher.watch(selfUpdater, boxes);
        QVERIFY(QMetaObject::invokeMethod(&selfUpdater, "onDownloadProgress", Q_ARG(int, done),
                                          Q_ARG(int, total)));
        QTEST(launcher.bar, "bar");
    }

    void backupCannotBeMade_data() {
        QTest::addColumn<bool>("executable");
        QTest::newRow("executable not in the folder") << false;
        QTest::newRow("backup name taken by a folder") << true;
    }
    void backupCannotBeMade() {
        QFETCH(bool, executable);
        if (!executable)
            QVERIFY(QFile::remove(kExe));
        else
            QVERIFY(QDir().mkpath(kBackup + "/dedans"));
        server.setReply(kVersionPath, {200, "text/plain", "1.5"});
        Launcher launcher;
        updater selfUpdater(&launcher.config);
        launcher.watch(selfUpdater, boxes);
        selfUpdater.checkVersion();
        QTRY_COMPARE_WITH_TIMEOUT(launcher.text, kBackupFailed, kTimeout);
        QCOMPARE(readFile(kExe), executable ? kOldLauncher : QByteArray("<absent>"));
        QCOMPARE(QFileInfo(kBackup).isDir(), executable);
        QCOMPARE(launcher.bar, 50);
        QVERIFY(!launcher.current);
        QVERIFY(!QFile::exists(kReport));
        QCOMPARE(storedVersion(), QByteArray("1.4"));
        QVERIFY(boxes.isEmpty());
    }

    void olderBackupIsReplaced() {
        writeFile(kBackup, "\177ELF an older launcher");
        server.setReply(kVersionPath, {200, "text/plain", "1.5"});
        offer({200, "application/octet-stream", program(5000)});
        Launcher launcher;
        updater selfUpdater(&launcher.config);
        launcher.watch(selfUpdater, boxes);
        QVERIFY(updateUntilInstalled(selfUpdater));
        QCOMPARE(readFile(kBackup), kOldLauncher);
        QCOMPARE(readFile(kExe), program(5000));
    }

    void fullDiskKeepsTheOldLauncher_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QStringList>("report");
        QTest::newRow("written short") << 300000 << 100000
                                       << QStringList{"Downloading 300000 Bytes ............ [OK] "
                                                      "HTTP 200",
                                                      "Creation of the file ................ [OK]",
                                                      "Writting of the file ................ "
                                                      "[FAIL] Bytes balance = 200000"};
        // Small enough for a file buffer to take it whole and count it written.
        QTest::newRow("small body") << 10000 << 4000
                                    << QStringList{"Downloading  10000 Bytes ............ [OK] "
                                                   "HTTP 200",
                                                   "Creation of the file ................ [OK]",
                                                   "Writting of the file ................ "
                                                   "[FAIL] Bytes balance = 6000"};
    }
    void fullDiskKeepsTheOldLauncher() {
        VESTRAHAL_SKIP_WITHOUT_FILE_SIZE_LIMIT();
        QFETCH(int, size);
        QFETCH(int, limit);
        server.setReply(kVersionPath, {200, "text/plain", "1.5"});
        offer({200, "application/octet-stream", program(size)});
        Launcher launcher;
        updater selfUpdater(&launcher.config);
        launcher.watch(selfUpdater, boxes);
        {
            FileSizeLimit fileSize(limit);
            selfUpdater.checkVersion();
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(kReport), kTimeout);
            QCOMPARE(launcher.text, kDownloadFailed);
        }
        QCOMPARE(readFile(kExe), kOldLauncher);
        QVERIFY(!QFile::exists(kBackup));
        QCOMPARE(storedVersion(), QByteArray("1.4"));
        QVERIFY(!launcher.upToDate());
        QFETCH(QStringList, report);
        QCOMPARE(reportLines().mid(1), report);
        QStringList files = QDir().entryList(QDir::Files | QDir::NoDotAndDotDot);
        files.sort();
        QCOMPARE(files, QStringList({"VestrahalLauncher.exe", "errors.log", "launcher.conf"}));
        QVERIFY(boxes.isEmpty());
    }

    // What an earlier update or a player left under the update's names is cleared before the
    // download (the links themselves, never what they lead to), or fails the update at once
    // with a report that names it.
    void leftoverNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("leftover"); // what stands under the name
        QTest::addColumn<bool>("installed");
        QTest::newRow(".new a link to the launcher") << kPartial << "link to the launcher" << true;
        QTest::newRow(".new a link to nothing") << kPartial << "link to nothing" << true;
        QTest::newRow(".new a link to a folder") << kPartial << "link to a folder" << true;
        QTest::newRow(".new an empty folder") << kPartial << "empty folder" << true;
        QTest::newRow(".new a folder with files") << kPartial << "folder with files" << false;
        QTest::newRow(".bak a link to the launcher") << kBackup << "link to the launcher" << true;
        // Started by hand through a link named like the backup.
        QTest::newRow(".bak a link to the running program")
            << kBackup << "link to the running program" << true;
        QTest::newRow(".bak a link to nothing") << kBackup << "link to nothing" << true;
    }
    void leftoverNames() {
        QFETCH(QString, name);
        QFETCH(QString, leftover);
        QFETCH(bool, installed);
        writeFile("dossier/garde", "garde");
        if (leftover == "link to the launcher")
            QVERIFY(QFile::link(kExe, name));
        else if (leftover == "link to the running program")
            QVERIFY(QFile::link(QCoreApplication::applicationFilePath(), name));
        else if (leftover == "link to nothing")
            QVERIFY(QFile::link("absent", name));
        else if (leftover == "link to a folder")
            QVERIFY(QFile::link("dossier", name));
        else if (leftover == "empty folder")
            QVERIFY(QDir().mkdir(name));
        else
            writeFile(name + "/dedans", "dedans");
        const QByteArray running = readFile(QCoreApplication::applicationFilePath());
        const QByteArray body = program(5000);
        server.setReply(kVersionPath, {200, "text/plain", "1.5"});
        offer({200, "application/octet-stream", body});
        Launcher launcher;
        updater selfUpdater(&launcher.config);
        launcher.watch(selfUpdater, boxes);
        if (installed) {
            QVERIFY(updateUntilInstalled(selfUpdater));
            QCOMPARE(readFile(kExe), body);
            QCOMPARE(readFile(kBackup), kOldLauncher);
            QVERIFY(!QFileInfo(kBackup).isSymLink());
            QCOMPARE(storedVersion(), QByteArray("1.5"));
        } else {
            selfUpdater.checkVersion();
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(kReport), kTimeout);
            QCOMPARE(launcher.text, kDownloadFailed);
            QCOMPARE(readFile(kExe), kOldLauncher);
            QCOMPARE(storedVersion(), QByteArray("1.4"));
            QVERIFY(server.requestsFor(kDownloadPath).isEmpty());
            QCOMPARE(reportLines(),
                     QStringList(
                         {"Sending HTTP request ................ [FAIL]",
                          "Downloading      0 Bytes ............ [FAIL]",
                          "Creation of the file ................ [FAIL] " + name + " is in the way",
                          "Writting of the file ................ [FAIL] Bytes balance = 0"}));
            QCOMPARE(readFile(name + "/dedans"), QByteArray("dedans"));
        }
        // What the links led to is untouched.
        QCOMPARE(readFile("dossier/garde"), QByteArray("garde"));
        QCOMPARE(readFile(QCoreApplication::applicationFilePath()), running);
    }

    // A folder where no new file can be made (here the folder is gone from under the launcher)
    // fails before the download, with the reason in the status line; the report that cannot
    // be written there either is said too.
    void folderThatTakesNoNewFile() {
        server.setReply(kVersionPath, {200, "text/plain", "1.5"});
        offer({200, "application/octet-stream", program(5000)});
        Launcher launcher;
        QVERIFY(launcher.loaded);
        QVERIFY(QDir::current().removeRecursively());
        updater selfUpdater(&launcher.config);
        launcher.watch(selfUpdater, boxes);
        selfUpdater.checkVersion();
        const QString refused = QString::fromUtf8("Le dossier du launcher n'accepte aucun nouveau "
                                                  "fichier (");
        QTRY_VERIFY_WITH_TIMEOUT(launcher.text.startsWith(refused), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(launcher.text.endsWith("(rapport impossible à écrire dans "
                                                        "errors.log)"),
                                 kTimeout);
        QVERIFY(launcher.text.contains(QString::fromUtf8(") : mise à jour impossible")));
        QVERIFY(server.requestsFor(kDownloadPath).isEmpty());
        QVERIFY(!launcher.upToDate());
        QVERIFY(boxes.isEmpty());
    }

    // A launcher.conf that cannot take the new version: the update is not done, and the next
    // start tries again.
    void unrecordedUpdateIsUndone() {
        server.setReply(kVersionPath, {200, "text/plain", "1.5"});
        offer({200, "application/octet-stream", program(4000), CommunityServer::Reply::Held});
        Launcher launcher;
        updater selfUpdater(&launcher.config);
        launcher.watch(selfUpdater, boxes);
        selfUpdater.checkVersion();
        QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor(kDownloadPath).isEmpty(), kTimeout);
        const QByteArray settings = readFile("launcher.conf");
        QVERIFY(QFile::remove("launcher.conf"));
        QVERIFY(QDir().mkdir("launcher.conf"));
        server.releaseHeld();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(kReport), kTimeout);

        QCOMPARE(launcher.text, kDownloadFailed);
        QVERIFY(!launcher.upToDate());
        QCOMPARE(launcher.config.version, QString("1.4"));
        QCOMPARE(readFile(kExe), kOldLauncher);
        QVERIFY(QFile::permissions(kExe) & QFile::ExeOwner);
        QVERIFY(!QFile::exists(kBackup));
        QVERIFY(!QFile::exists(kPartial));
        const QString report = QString::fromLocal8Bit(readFile(kReport));
        QVERIFY2(report.contains("Writting of the file ................ [OK]\n") &&
                     report.endsWith("Saving launcher.conf ................ [FAIL]\n\n\n"),
                 qPrintable(report));
        QVERIFY(boxes.isEmpty());

        QVERIFY(QDir().rmdir("launcher.conf"));
        writeFile("launcher.conf", settings);
        offer({200, "application/octet-stream", program(4000)});
        Launcher restarted;
        updater again(&restarted.config);
        restarted.watch(again, boxes);
        QVERIFY(updateUntilInstalled(again));
        QCOMPARE(readFile(kExe), program(4000));
        QCOMPARE(storedVersion(), QByteArray("1.5"));
    }

    // What earlier updates left behind is tidied up before the check: a download cut short by
    // a kill, and the empty launcher name that an older launcher killed mid-update left.
    void interruptedUpdateIsTidiedUp() {
        QVERIFY(QFile::remove(kExe));
        writeFile(kBackup, kOldLauncher);
        writeFile(kPartial, "\177ELF half of a launcher");
        server.setReply(kVersionPath, {200, "text/plain", "1.4"});
        Launcher launcher;
        updater selfUpdater(&launcher.config);
        launcher.watch(selfUpdater, boxes);
        selfUpdater.checkVersion();
        QCOMPARE(readFile(kExe), kOldLauncher);
        QCOMPARE(readFile(kBackup), kOldLauncher);
        QVERIFY(!QFile::exists(kPartial));
        QTRY_VERIFY_WITH_TIMEOUT(launcher.current, kTimeout);
    }

    // A package's launcher belongs to the package manager: a newer version on the server is
    // only told, the launcher stays playable, and nothing in the working folder is touched, not
    // even what an interrupted update of a portable launcher there left. Only a version that the
    // package manager would take as an upgrade is news; the package's own is current.
    void packageOnlyTellsOfANewerVersion_data() {
        QTest::addColumn<CommunityServer::Reply>("reply");
        QTest::addColumn<bool>("told");
        const auto text = [](const QByteArray& body) {
            return CommunityServer::Reply{200, "text/plain", body};
        };
        QTest::newRow("newer") << text("1.5") << true;
        QTest::newRow("newer by a part") << text("1.4.1") << true;
        QTest::newRow("newer number, not newer text") << text("1.10") << true;
        QTest::newRow("newer epoch") << text("1:0.9") << true;
        QTest::newRow("the same") << text("1.4") << false;
        QTest::newRow("the same, line break after it") << text("1.4\r\n") << false;
        QTest::newRow("older") << text("1.3") << false;
        QTest::newRow("its release candidate") << text("1.4~rc1") << false;
        QTest::newRow("empty") << text("") << false;
        QTest::newRow("not a version") << text("version 2") << false;
        QTest::newRow("404 page") << CommunityServer::Reply{404, "text/html", "<h1>404</h1>"}
                                  << false;
    }
    void packageOnlyTellsOfANewerVersion() {
        QFETCH(CommunityServer::Reply, reply);
        QFETCH(bool, told);
        writeFile(kPartial, "\177ELF half of a launcher");
        server.setReply(kVersionPath, reply);
        offer({200, "application/octet-stream", program(1000)});
        Launcher launcher;
        updater selfUpdater(&launcher.config);
        selfUpdater.setInstallsUpdates(false);
        launcher.watch(selfUpdater, boxes);
        QSignalSpy notices(&selfUpdater, &updater::packageOutdated);
        selfUpdater.checkVersion();

        QTRY_VERIFY_WITH_TIMEOUT(launcher.current || !notices.isEmpty(), kTimeout);
        QCOMPARE(notices.size(), told ? 1 : 0);
        QCOMPARE(launcher.current, !told);
        if (told) {
            QCOMPARE(notices.first().first().toString(),
                     QString("Une nouvelle version du launcher existe : mettez à jour le paquet "
                             "vestrahal-launcher."));
        }
        QCOMPARE(launcher.bar, 100);
        QCOMPARE(storedVersion(), QByteArray("1.4"));
        QVERIFY(server.requestsFor(kDownloadPath).isEmpty());
        QCOMPARE(readFile(kExe), kOldLauncher);
        QCOMPARE(readFile(kPartial), QByteArray("\177ELF half of a launcher"));
        QVERIFY(!QFile::exists(kBackup));
        QVERIFY(!QFile::exists(kReport));
        QVERIFY(boxes.isEmpty());
    }

    // The order of version texts is the package manager's own: dpkg answers every row too.
    void versionOrderIsThePackageManagers_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("equal") << "1.4"
                               << "1.4" << 0;
        QTest::newRow("numbers, not texts") << "1.10"
                                            << "1.9" << 1;
        QTest::newRow("leading zeros") << "1.04"
                                       << "1.4" << 0;
        QTest::newRow("one more part") << "1.0.0"
                                       << "1.0" << 1;
        QTest::newRow("tilde before the end") << "1.0~rc1"
                                              << "1.0" << -1;
        QTest::newRow("letters before signs") << "1.0a"
                                              << "1.0+" << -1;
        QTest::newRow("epoch first") << "1:0.1"
                                     << "9.9" << 1;
        QTest::newRow("revision") << "1.4-2"
                                  << "1.4-10" << -1;
        QTest::newRow("no revision is zero") << "1.4"
                                             << "1.4-0" << 0;
        QTest::newRow("long numbers") << "1.20240101000000"
                                      << "1.9999999999999" << 1;
    }
    void versionOrderIsThePackageManagers() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        const auto sign = [](int n) { return (n > 0) - (n < 0); };
        QCOMPARE(sign(versionorder::compare(a, b)), order);
        QCOMPARE(sign(versionorder::compare(b, a)), -order);
        if (QStandardPaths::findExecutable("dpkg").isEmpty())
            QSKIP("no dpkg on this system to compare with");
        const char* relations[] = {"lt", "eq", "gt"};
        QProcess dpkg;
        dpkg.start("dpkg", {"--compare-versions", a, relations[order + 1], b});
        QVERIFY(dpkg.waitForFinished(kTimeout));
        QCOMPARE(dpkg.exitCode(), 0);
    }

    // The documented limits: a test that fails when one of them changes by accident.
    void nextStartFindsTheNewVersionCurrent_data() {
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("plain") << QByteArray("1.5") << QByteArray("1.5");
        QTest::newRow("line feed after it") << QByteArray("1.5\n") << QByteArray("1.5");
        QTest::newRow("CR LF after it") << QByteArray("1.5\r\n") << QByteArray("1.5");
        // Its bytes as the server sends them, kept as they are (and signed so in a signed build).
        QTest::newRow("non-ASCII, in UTF-8")
            << QByteArray("1.1.0\xc3\xa9") << QByteArray("1.1.0\xc3\xa9");
    }
    void nextStartFindsTheNewVersionCurrent() {
        QFETCH(QByteArray, version);
        QFETCH(QByteArray, stored);
        server.setReply(kVersionPath, {200, "text/plain", version});
        offer({200, "application/octet-stream", program(2000)}, stored);
        {
            Launcher launcher;
            updater selfUpdater(&launcher.config);
            launcher.watch(selfUpdater, boxes);
            QVERIFY(updateUntilInstalled(selfUpdater));
        }
        QCOMPARE(storedVersion(), stored);
        server.clearRequests();

        Launcher restarted;
        updater selfUpdater(&restarted.config);
        restarted.watch(selfUpdater, boxes);
        selfUpdater.checkVersion();
        QTRY_VERIFY_WITH_TIMEOUT(restarted.current, kTimeout);
        QVERIFY(server.requestsFor(kDownloadPath).isEmpty());
        QCOMPARE(readFile(kExe), program(2000));
        QCOMPARE(boxes.size(), 1);
    }

    void reportsAreAppendedInOrder() {
        writeFile(kReport, "what was there before\n");
        const QList<int> statuses{403, 500};
        for (int status : statuses) {
            server.setReply(kVersionPath, {200, "text/plain", "1.5"});
            offer({status, "text/html", ""});
            Launcher launcher;
            updater selfUpdater(&launcher.config);
            launcher.watch(selfUpdater, boxes);
            selfUpdater.checkVersion();
            QTRY_COMPARE_WITH_TIMEOUT(launcher.text, kDownloadFailed, kTimeout);
        }
        const QString text = QString::fromLocal8Bit(readFile(kReport));
        QVERIFY(text.startsWith("what was there before\n"));
        const QStringList reports = text.mid(22).split(
            "----------------------------------------------------------\n", Qt::SkipEmptyParts);
        QCOMPARE(reports.size(), 2);
        for (int i = 0; i < 2; ++i) {
            QVERIFY(reports[i].endsWith("\n\n\n"));
            QVERIFY(
                reports[i].contains("[FAIL] HTTP Error " + QString::number(statuses[i]) + "\n"));
        }
        QVERIFY(boxes.isEmpty());
    }

    void reportText_data() {
        QTest::addColumn<UpdateOutcome>("outcome");
        QTest::addColumn<QString>("text");
        const QString head = "----------------------------------------------------------\n"
                             "Upgrading VestrahalLauncher.exe...\n"
                             "Date : Mon Dec 7 02:16:33 2026\n"
                             "\n"
                             "Sending HTTP request ................ [OK]\n";
        const auto nothingKept = [](const QString& why) {
            return "Creation of the file ................ [FAIL] " + why +
                   "\n"
                   "Writting of the file ................ [FAIL] Bytes balance = 0\n"
                   "\n"
                   "\n";
        };
        const QString nothingWritten = nothingKept("Error #0");
        UpdateOutcome success;
        success.requestSent = true;
        success.httpStatus = 200;
        success.bytesReceived = 1458176;
        success.fileCreated = true;
        success.fileWritten = true;
        success.bytesWritten = 1458176;
        QTest::newRow("success") << success
                                 << head + "Downloading 1458176 Bytes ............ [OK] HTTP 200\n"
                                           "Creation of the file ................ [OK]\n"
                                           "Writting of the file ................ [OK]\n"
                                           "\n"
                                           "\n";
        UpdateOutcome notFound;
        notFound.requestSent = true;
        notFound.httpStatus = 404;
        QTest::newRow("404")
            << notFound
            << head + "Downloading      0 Bytes ............ [FAIL] HTTP Error 404\n" +
                   nothingKept("download refused with HTTP 404");
        UpdateOutcome noHost;
        noHost.requestSent = true;
        noHost.downloadFailed = true;
        noHost.clientError = 2;
        QTest::newRow("host not found")
            << noHost
            << head + "Downloading      0 Bytes ............ [FAIL] Error #2[FAIL] HTTP Error 0\n" +
                   nothingKept("download failed");
        UpdateOutcome aborted = noHost;
        aborted.clientError = 7;
        QTest::newRow("aborted before any header")
            << aborted
            << head + "Downloading      0 Bytes ............ [FAIL] Error #7[FAIL] HTTP Error 0\n" +
                   nothingKept("download failed");
        UpdateOutcome noClient;
        noClient.downloadFailed = true;
        noClient.clientError = 3;
        QTest::newRow("no request sent")
            << noClient
            << "----------------------------------------------------------\n"
               "Upgrading VestrahalLauncher.exe...\n"
               "Date : Mon Dec 7 02:16:33 2026\n"
               "\n"
               "Sending HTTP request ................ [FAIL]\n"
               "Downloading      0 Bytes ............ [FAIL]\n" +
                   nothingWritten;
        UpdateOutcome shortWrite = success;
        shortWrite.bytesReceived = 12345;
        shortWrite.bytesWritten = 4096;
        shortWrite.fileWritten = false;
        QTest::newRow("12345 bytes, written short")
            << shortWrite
            << head + "Downloading  12345 Bytes ............ [OK] HTTP 200\n"
                      "Creation of the file ................ [OK]\n"
                      "Writting of the file ................ [FAIL] Bytes balance = 8249\n"
                      "\n"
                      "\n";
        UpdateOutcome notOpened = success;
        notOpened.bytesReceived = 123;
        notOpened.bytesWritten = -1;
        notOpened.fileCreated = false;
        notOpened.fileError = 5;
        notOpened.fileWritten = false;
        QTest::newRow("123 bytes, file not opened")
            << notOpened
            << head + "Downloading    123 Bytes ............ [OK] HTTP 200\n"
                      "Creation of the file ................ [FAIL] Error #5\n"
                      "Writting of the file ................ [FAIL] Bytes balance = 123\n"
                      "\n"
                      "\n";
        UpdateOutcome cutAfterHeader = notFound;
        cutAfterHeader.httpStatus = 200;
        cutAfterHeader.downloadFailed = true;
        cutAfterHeader.clientError = 6;
        QTest::newRow("cut after the header")
            << cutAfterHeader
            << head + "Downloading      0 Bytes ............ [FAIL] Error #6\n" +
                   nothingKept("download failed");
    }
    void reportText() {
        QFETCH(UpdateOutcome, outcome);
        const QDateTime date(QDate(2026, 12, 7), QTime(2, 16, 33));
        QTEST(updateReport(outcome, "VestrahalLauncher.exe", date), "text");
    }

    void startUpChecksTheVersionAndOpensTheGate() {
        server.setReply(kVersionPath, {200, "text/plain", "1.4"});
        // The news waits, so that the check is seen on its own first.
        server.setReply(
            "/launcher/launcher.php",
            {200, "text/html", "<html><body>news</body></html>", CommunityServer::Reply::Held});
        MainWindow window;
        auto* text = window.findChild<QLabel*>("Texte");
        auto* play = window.findChild<QPushButton*>("Jouer");
        auto* bar = window.findChild<QProgressBar*>("Chargement");
        QCOMPARE(text->text(), kChecking);
        QCOMPARE(bar->value(), 50);
        QVERIFY(!play->isEnabled());

        QTRY_COMPARE_WITH_TIMEOUT(text->text(), kCurrent, kTimeout);
        QCOMPARE(bar->value(), 100);
        QVERIFY(play->isEnabled());

        QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor("/launcher/launcher.php").isEmpty(), kTimeout);
        server.releaseHeld();
        QTRY_COMPARE_WITH_TIMEOUT(text->text(), kReady, kTimeout);
        QVERIFY(play->isEnabled());
    }

    void settingsThatFailToLoadMakeNoCheck() {
        writeFile("launcher.conf", "1\n/jeux\n");
        server.setReply(kVersionPath, {200, "text/plain", "1.4"});
        MainWindow window;
        auto* text = window.findChild<QLabel*>("Texte");
        QCOMPARE(text->text(),
                 QString::fromUtf8("Erreur lors du chargement. launcher.conf n'existe pas."));
        // The news page is asked for at the same moment a check would be: once it has been
        // served, a check would have been seen too.
        QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor("/launcher/launcher.php").isEmpty(), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!window.findChild<QWidget*>("Web")->isHidden(), kTimeout);
        QVERIFY(server.requestsFor(kVersionPath).isEmpty());
        QCOMPARE(text->text(),
                 QString::fromUtf8("Erreur lors du chargement. launcher.conf n'existe pas."));
    }

    void closingDuringTheDownloadPutsTheOldLauncherBack_data() {
        QTest::addColumn<bool>("bytesArrived");
        QTest::newRow("before any byte") << false;
        QTest::newRow("after bytes arrived") << true;
    }
    void closingDuringTheDownloadPutsTheOldLauncherBack() {
        QFETCH(bool, bytesArrived);
        server.setReply(kVersionPath, {200, "text/plain", "1.5"});
        if (bytesArrived)
            offer({200, "application/octet-stream", program(2000000),
                   CommunityServer::Reply::Trickle, 0, 20000});
        else
            offer({200, "application/octet-stream", program(1000), CommunityServer::Reply::Held});
        auto window = std::make_unique<MainWindow>();
        QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor(kDownloadPath).isEmpty(), kTimeout);
        QVERIFY(QFile::exists(kPartial));
        if (bytesArrived)
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(kPartial).size() > 100000, kTimeout);
        const qint64 seen = QFileInfo(kPartial).size();

        window.reset();
        QCOMPARE(readFile(kExe), kOldLauncher);
        QVERIFY(!QFile::exists(kBackup));
        QVERIFY(!QFile::exists(kPartial));
        QCOMPARE(storedVersion(), QByteArray("1.4"));
        const QStringList lines = reportLines();
        if (bytesArrived) {
            // What had arrived when the player closed the launcher, all of it in the file.
            const QRegularExpressionMatch line =
                QRegularExpression("^Downloading +([0-9]+) Bytes \\.{12} \\[FAIL\\] Error #7$")
                    .match(lines.value(1));
            QVERIFY2(line.hasMatch(), qPrintable(lines.value(1)));
            QVERIFY(line.captured(1).toLongLong() >= seen);
            QVERIFY(line.captured(1).toLongLong() < 2000000);
            QCOMPARE(lines.value(3),
                     QString("Writting of the file ................ [FAIL] Bytes balance = 0"));
        } else {
            QCOMPARE(lines.value(1), QString("Downloading      0 Bytes ............ [FAIL] Error "
                                             "#7[FAIL] HTTP Error 0"));
        }
        QVERIFY(boxes.isEmpty());
        server.releaseHeld();
        // The server would go on trickling into the closed connection's tunnel.
        server.dropConnections();
    }

    // In a build with the community's key, only a new launcher signed with it, for the version
    // it is offered as and with a sequence above the installed one, takes the old one's place;
    // everything else is a failed update.
    void signedUpdate_data() {
        using Reply = CommunityServer::Reply;
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<Reply>("signature");
        QTest::addColumn<quint64>("installed"); // the stored sequence; 0: no launcher.sequence
        QTest::addColumn<QString>("verdict");   // the signature line after its dots
        const QByteArray body = program(30000);
        const QByteArray good = signatureFile(body, "1.5");
        const QString ok = "[OK]";
        const QString refused = "[FAIL] Signature refused: ";
        QTest::newRow("signed, nothing installed before")
            << QByteArray("1.5") << Reply{200, "text/plain", good} << quint64(0) << ok;
        QTest::newRow("signed, CR LF line ends")
            << QByteArray("1.5") << Reply{200, "text/plain", QByteArray(good).replace("\n", "\r\n")}
            << quint64(0) << ok;
        QTest::newRow("greater sequence than the installed one")
            << QByteArray("1.5") << Reply{200, "text/plain", good} << kSequence - 1 << ok;
        QTest::newRow("replayed: the installed sequence")
            << QByteArray("1.5") << Reply{200, "text/plain", good} << kSequence
            << "[FAIL] Release sequence 1765000000 is not above the installed 1765000000";
        QTest::newRow("replayed: a lower sequence")
            << QByteArray("1.5") << Reply{200, "text/plain", good} << kSequence + 100
            << "[FAIL] Release sequence 1765000000 is not above the installed 1765000100";
        QTest::newRow("an older release signed again with a new sequence")
            << QByteArray("1.3")
            << Reply{200, "text/plain",
                     signatureFile(body, "1.3", VESTRAHAL_SOURCE_DIR "/tests/keys",
                                   kSequence + 200)}
            << kSequence + 100 << ok;
        QTest::newRow("non-ASCII version, its UTF-8 bytes signed")
            << QByteArray("1.1.0\xc3\xa9")
            << Reply{200, "text/plain", signatureFile(body, "1.1.0\xc3\xa9")} << quint64(0) << ok;
        QTest::newRow("another sequence than the signed one")
            << QByteArray("1.5")
            << Reply{200, "text/plain",
                     QByteArray(good).replace("sequence 1765000000", "sequence 1765000001")}
            << quint64(0) << refused + "does not verify";
        QTest::newRow("no sequence line, as before sequences")
            << QByteArray("1.5") << Reply{200, "text/plain", good.split('\n').first() + '\n'}
            << quint64(0) << refused + "not a signature";
        QTest::newRow("no signature file")
            << QByteArray("1.5") << Reply{404, "text/html", "<h1>absent</h1>"} << quint64(0)
            << refused + "HTTP Error 404";
        QTest::newRow("a signature served with 500")
            << QByteArray("1.5") << Reply{500, "text/plain", good} << quint64(0)
            << refused + "HTTP Error 500";
        QTest::newRow("connection closed") << QByteArray("1.5") << Reply{0, "", "", Reply::Raw}
                                           << quint64(0) << refused + "Error #4";
        QTest::newRow("not base64")
            << QByteArray("1.5") << Reply{200, "text/plain", "pas une signature\nsequence 9\n"}
            << quint64(0) << refused + "not a signature";
        QTest::newRow("63 bytes") << QByteArray("1.5")
                                  << Reply{200, "text/plain",
                                           QByteArray(63, 's').toBase64() + "\nsequence 9\n"}
                                  << quint64(0) << refused + "not a signature";
        QTest::newRow("the file twice")
            << QByteArray("1.5") << Reply{200, "text/plain", good + good} << quint64(0)
            << refused + "not a signature";
        QTest::newRow("over 1 KiB")
            << QByteArray("1.5") << Reply{200, "text/plain", QByteArray(1025, 'A')} << quint64(0)
            << refused + "Error #6";
        QTest::newRow("signed for another version")
            << QByteArray("1.5") << Reply{200, "text/plain", signatureFile(body, "1.6")}
            << quint64(0) << refused + "does not verify";
        QTest::newRow("non-ASCII version, other bytes signed")
            << QByteArray("1.1.0\xc3\xa9")
            << Reply{200, "text/plain", signatureFile(body, "1.1.0\xe9")} << quint64(0)
            << refused + "does not verify";
        QTest::newRow("signed for another executable")
            << QByteArray("1.5") << Reply{200, "text/plain", signatureFile(program(30001), "1.5")}
            << quint64(0) << refused + "does not verify";
        QTemporaryDir other;
        QProcess keygen;
        keygen.start(RELEASE_TOOL, {"keygen", other.path()});
        keygen.waitForFinished();
        QTest::newRow("signed with another key")
            << QByteArray("1.5")
            << Reply{200, "text/plain", signatureFile(body, "1.5", other.path())} << quint64(0)
            << refused + "does not verify";
    }
    void signedUpdate() {
        if (!signedBuild())
            QSKIP("built without a public key: the signed build of tools/run-tests.sh runs this");
        QFETCH(QByteArray, version);
        QFETCH(CommunityServer::Reply, signature);
        QFETCH(quint64, installed);
        QFETCH(QString, verdict);
        if (installed > 0)
            QVERIFY(storeInstalledReleaseSequence(releaseSequenceFileName(), installed));
        const QByteArray stored = readFile(releaseSequenceFileName());
        const QByteArray body = program(30000);
        server.setReply(kVersionPath, {200, "text/plain", version});
        server.setReply(kDownloadPath, {200, "application/octet-stream", body});
        server.setReply(kDownloadPath + ".sig", signature);
        Launcher launcher;
        updater selfUpdater(&launcher.config);
        launcher.watch(selfUpdater, boxes);
        if (verdict == "[OK]") {
            QVERIFY(updateUntilInstalled(selfUpdater));
            QCOMPARE(readFile(kExe), body);
            QCOMPARE(readFile(kBackup), kOldLauncher);
            QCOMPARE(storedVersion(), version);
            QCOMPARE(installedReleaseSequence(releaseSequenceFileName()),
                     parseSignatureFile(signature.body).sequence);
        } else {
            selfUpdater.checkVersion();
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(kReport), kTimeout);
            QCOMPARE(launcher.text, kDownloadFailed);
            QCOMPARE(readFile(kExe), kOldLauncher);
            QVERIFY(!QFile::exists(kBackup));
            QVERIFY(!QFile::exists(kPartial));
            QCOMPARE(storedVersion(), QByteArray("1.4"));
            QCOMPARE(readFile(releaseSequenceFileName()), stored);
            QVERIFY(!launcher.upToDate());
            QVERIFY(!launcher.current);
            QVERIFY(boxes.isEmpty());
        }
        const QStringList lines = QString::fromLocal8Bit(readFile(kReport)).split('\n');
        QCOMPARE(lines.value(7), QString("Writting of the file ................ [OK]"));
        QCOMPARE(lines.value(8), "Signature of the file ............... " + verdict);
        // Asked for once (a connection closed before any answer is tried again by Qt).
        QVERIFY(!server.requestsFor(kDownloadPath + ".sig").isEmpty());
    }

    // libsodium's verification against RFC 8032's own test vectors (section 7.1).
    void rfc8032Vectors_data() {
        QTest::addColumn<QByteArray>("publicKey");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<bool>("valid");
        const QByteArray key1 =
            QByteArray::fromHex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
        const QByteArray signature1 = QByteArray::fromHex(
            "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e3"
            "9701cf9b46bd25bf5f0595bbe24655141438e7a100b");
        const QByteArray key2 =
            QByteArray::fromHex("3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c");
        const QByteArray signature2 = QByteArray::fromHex(
            "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3"
            "613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00");
        QByteArray flipped = signature2;
        flipped[10] = char(flipped[10] ^ 1);
        QTest::newRow("test 1, empty message") << key1 << QByteArray() << signature1 << true;
        QTest::newRow("test 2, one byte") << key2 << QByteArray("\x72") << signature2 << true;
        QTest::newRow("test 2, another message")
            << key2 << QByteArray("\x73") << signature2 << false;
        QTest::newRow("test 2, one bit of the signature flipped")
            << key2 << QByteArray("\x72") << flipped << false;
        QTest::newRow("test 2 checked with test 1's key")
            << key1 << QByteArray("\x72") << signature2 << false;
    }
    void rfc8032Vectors() {
        QFETCH(QByteArray, publicKey);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, signature);
        QFETCH(bool, valid);
        QCOMPARE(decodePublicKey(publicKey.toBase64()), publicKey);
        QCOMPARE(verifyUpdateSignature(signature.toBase64() + '\n', message, publicKey),
                 valid ? SignatureVerdict::Valid : SignatureVerdict::Refused);
    }

    // The real launcher updates itself and shows the news from Debian's nginx, set up as the
    // README recommends to community admins.
    void updateAndNewsFromNginx() {
        if (httpsBuild())
            QSKIP("the real launcher trusts the system's authorities only, never the tests' one");
#if defined(LAUNCHER_PATH)
        QTemporaryDir site;
        const QString source = VESTRAHAL_SOURCE_DIR "/tools/site";
        QDirIterator files(source, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString from = files.next();
            const QString to = site.path() + from.mid(source.size());
            QVERIFY(QDir().mkpath(QFileInfo(to).path()));
            QVERIFY(QFile::copy(from, to));
        }
        const QByteArray oldLauncher = readFile(LAUNCHER_PATH);
        const QByteArray newLauncher = oldLauncher + QByteArray(100000, 'n');
        writeFile(kExe, oldLauncher);
        QVERIFY(QFile::setPermissions(kExe, QFile::permissions(kExe) | QFile::ExeOwner));
        writeFile(site.filePath("launcher/version.php"), "1.5");
        writeFile(site.path() + kDownloadPath, newLauncher);
        if (signedBuild())
            writeFile(site.path() + kDownloadPath + ".sig", signatureFile(newLauncher, "1.5"));
        NginxServer nginx;
        QVERIFY2(nginx.start(site.path()), qPrintable(nginx.error()));

        QProcess launcher;
        startRealLauncher(launcher, QString(), nginx.port());
        // Done when it waits on its success box, the report written.
        QTRY_VERIFY_WITH_TIMEOUT(readFile(kReport).contains("Writting"), 2 * kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(
            nginx.accessLog().contains("/launcher/launcher.php HTTP/1.1\" 200"), 2 * kTimeout);
        launcher.kill();
        QTRY_COMPARE_WITH_TIMEOUT(launcher.state(), QProcess::NotRunning, kTimeout);

        QCOMPARE(readFile(kExe), newLauncher);
        QCOMPARE(readFile(kBackup), oldLauncher);
        QCOMPARE(storedVersion(), QByteArray("1.5"));
        const QString received = QString::number(newLauncher.size());
        QCOMPARE(reportLines(),
                 QStringList({"Sending HTTP request ................ [OK]",
                              "Downloading " + received + " Bytes ............ [OK] HTTP 200",
                              "Creation of the file ................ [OK]",
                              "Writting of the file ................ [OK]"}));
        const QByteArray log = nginx.accessLog();
        QVERIFY2(log.contains(kDownloadPath + " HTTP/1.1\" 200 " + received.toLatin1()),
                 log.constData());
#else
        QSKIP("starts the real launcher with a proxy from its environment: Linux only");
#endif
    }

    // The real launcher, killed at points of its update, always leaves a whole program under
    // its name, one that starts.
    void killedUpdateLeavesAWholeLauncher_data() {
        QTest::addColumn<QString>("killAt"); // empty: killed by the test during the download
        QTest::addColumn<bool>("replaced");
        QTest::newRow("during the download") << QString() << false;
        QTest::newRow("before the backup is made") << "link:before" << false;
        QTest::newRow("backup made, before the swap") << "rename:before" << false;
        QTest::newRow("right after the swap") << "rename:after" << true;
    }
    void killedUpdateLeavesAWholeLauncher() {
        if (httpsBuild())
            QSKIP("the real launcher trusts the system's authorities only, never the tests' one");
#if defined(KILLPOINT_LIBRARY) && defined(LAUNCHER_PATH)
        QFETCH(QString, killAt);
        QFETCH(bool, replaced);
        const QByteArray oldLauncher = readFile(LAUNCHER_PATH);
        QVERIFY(oldLauncher.size() > 100000);
        // Still the same program, a few bytes longer: it starts like the old one.
        const QByteArray newLauncher = oldLauncher + QByteArray(300000, 'n');
        writeFile(kExe, oldLauncher);
        QVERIFY(QFile::setPermissions(kExe, QFile::permissions(kExe) | QFile::ExeOwner));
        server.setReply(kVersionPath, {200, "text/plain", "1.5"});
        // Over a couple of seconds, so that the test can kill it halfway.
        offer({200, "application/octet-stream", newLauncher, CommunityServer::Reply::Trickle, 0,
               200000});

        QProcess launcher;
        startRealLauncher(launcher, killAt);
        if (killAt.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(kPartial).size() > 1000000, kTimeout);
            launcher.kill();
        }
        // The server answers from this test's event loop: waiting must keep it turning.
        QTRY_COMPARE_WITH_TIMEOUT(launcher.state(), QProcess::NotRunning, 2 * kTimeout);
        QCOMPARE(launcher.exitStatus(), QProcess::CrashExit);
        QCOMPARE(readFile(kExe), replaced ? newLauncher : oldLauncher);

        // It starts: the next start asks for the version, and has tidied up before it.
        // (The version was not recorded yet: found current, it downloads nothing more.)
        server.clearRequests();
        server.setReply(kVersionPath, {200, "text/plain", "1.4"});
        QProcess restarted;
        startRealLauncher(restarted, QString());
        QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor(kVersionPath).isEmpty(), 2 * kTimeout);
        QVERIFY(!QFile::exists(kPartial));
        QCOMPARE(storedVersion(), QByteArray("1.4"));
        restarted.kill();
        QTRY_COMPARE_WITH_TIMEOUT(restarted.state(), QProcess::NotRunning, kTimeout);
        QCOMPARE(readFile(kExe), replaced ? newLauncher : oldLauncher);
#else
        QSKIP("the kill tests preload a library into the launcher: Linux only");
#endif
    }

    // Last of the suite: it ends the application's event loop, after which Qt 6.4 no longer ends
    // a request whose certificate it refused, nor always finishes the next https check.
    // The window tells the player what the updater found: a failed check in a box of its own
    // with the client's code, an installed launcher in the box that asks for a restart, after
    // which the launcher quits.
    void windowShowsTheUpdatersBoxes_data() {
        QTest::addColumn<CommunityServer::Reply>("version");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("quits");
        QTest::newRow("failed check")
            << CommunityServer::Reply{0, "", "", CommunityServer::Reply::Raw}
            << QString::fromUtf8("Erreur lors de la connexion pour vérifier la version")
            << QString("4") << false;
        QTest::newRow("installed update")
            << CommunityServer::Reply{200, "text/plain", "1.5"} << QString::fromUtf8("Mise à jour")
            << QString::fromUtf8("Votre launcher a été mis à jour avec succès !\n\nMerci de le "
                                 "redémarrer pour prendre en compte les modifications.")
            << true;
    }
    void windowShowsTheUpdatersBoxes() {
        QFETCH(CommunityServer::Reply, version);
        QFETCH(bool, quits);
        server.setReply(kVersionPath, version);
        offer({200, "application/octet-stream", program(2000)});
        QSignalSpy quitting(qApp, &QCoreApplication::aboutToQuit);
        MainWindow window;
        if (quits) {
            // The quit ends the application's own event loop, as it ends the launcher's.
            QTimer watchdog;
            watchdog.setSingleShot(true);
            connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
            watchdog.start(kTimeout);
            QCOMPARE(QApplication::exec(), 0);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 1, kTimeout);
        }
        QCOMPARE(boxes.size(), 1);
        QTEST(boxes[0].title, "title");
        QTEST(boxes[0].text, "text");
        QVERIFY(!boxes[0].hasParent);
        QCOMPARE(boxes[0].buttons, QMessageBox::Ok);
        QCOMPARE(quitting.size(), quits ? 1 : 0);
        QCOMPARE(readFile(kExe), quits ? program(2000) : kOldLauncher);
    }

private:
    // The launcher follows the system's proxy, which is how it reaches this test's servers.
    void startRealLauncher(QProcess& launcher, const QString& killAt, quint16 proxyPort = 0) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(
            "http_proxy",
            QString("http://127.0.0.1:%1").arg(proxyPort ? proxyPort : server.serverPort()));
        environment.remove("no_proxy");
        environment.remove("NO_PROXY");
        environment.insert("QT_QPA_PLATFORM", "offscreen");
#ifdef KILLPOINT_LIBRARY
        environment.insert("LD_PRELOAD", KILLPOINT_LIBRARY);
#endif
        environment.insert("VESTRAHAL_KILL_AT", killAt);
        launcher.setProcessEnvironment(environment);
        launcher.setWorkingDirectory(QDir::currentPath());
        launcher.setStandardOutputFile(QProcess::nullDevice());
        launcher.setStandardErrorFile(QProcess::nullDevice());
        launcher.start(QDir::current().absoluteFilePath(kExe), {});
        QVERIFY2(launcher.waitForStarted(kTimeout), qPrintable(launcher.errorString()));
    }

    CommunityServer server;
    std::unique_ptr<QTemporaryDir> dir;
    QTimer boxCloser;
    QList<Box> boxes;
};

QTEST_MAIN(UpdaterTest)
#include "tst_updater.moc"
