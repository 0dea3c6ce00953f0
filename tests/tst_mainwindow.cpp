#include "buildoptions.h"
#include "mainwindow.h"
#include "newspage.h"
#include "newsview.h"
#include "testfiles.h"
#include "testsupport.h"
#include "updater.h"
#include "windowsupport.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace {

const QString kReady = QStringLiteral("World of Warcraft est prêt à être lancé");
// "Launcher chargé correctement" gives way at once to the version check.
const QString kChecking = QStringLiteral("Vérification des mises à jour disponibles...");
const QString kCurrent = QStringLiteral("Version à jour");
const QString kLoadError = QStringLiteral("Erreur lors du chargement. launcher.conf n'existe pas.");
constexpr int kLoadTimeout = 30000;

void writeConf(const QByteArray& bytes) {
    writeFile("launcher.conf", bytes);
}

void clickLink(QWebEnginePage* page, const char* id) {
    page->runJavaScript(QStringLiteral("document.getElementById('%1').click()").arg(id));
}

// Clicks an element of the page with the mouse, as a player does: unlike a script's click(), the
// page knows that this one comes from the player.
void mouseClickOn(QWebEngineView* view, const char* id) {
    auto centre = std::make_shared<QVariant>();
    view->page()->runJavaScript(
        QStringLiteral("(function() { const r = document.getElementById('%1')"
                       ".getBoundingClientRect(); return [r.left + r.width / 2, "
                       "r.top + r.height / 2]; })()")
            .arg(id),
        [centre](const QVariant& result) { *centre = result; });
    QTRY_VERIFY_WITH_TIMEOUT(centre->isValid(), kLoadTimeout);
    const QVariantList xy = centre->toList();
    QCOMPARE(xy.size(), 2);
    QWidget* surface = view->focusProxy();
    QVERIFY(surface);
    const QPoint at(int(xy.at(0).toDouble()), int(xy.at(1).toDouble()));
    QTest::mouseMove(surface, at);
    QTest::mouseClick(surface, Qt::LeftButton, {}, at);
}

// Replies of a page that end its load without showing anything.
void addStoppedLoadRows() {
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("no content") << QByteArray(
        "HTTP/1.1 204 No Content\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    QTest::newRow("download") << QByteArray(
        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Disposition: "
        "attachment; filename=\"a.bin\"\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc");
    QTest::newRow("redirect to a refused scheme")
        << QByteArray("HTTP/1.1 302 Found\r\nLocation: steam://run/1\r\nContent-Length: "
                      "0\r\nConnection: close\r\n\r\n");
}

enum class Outcome { InPlace, Home, Browser, Ignored };

// Asks the page what it does with a navigation, as the engine would.
class PageProbe : public NewsPage {
public:
    using NewsPage::acceptNavigationRequest;
};

} // namespace

Q_DECLARE_METATYPE(Outcome)

class MainWindowTest : public QObject {
    Q_OBJECT

    // The news view is shown once a news load has finished.
    static void waitForNews(MainWindow& window) {
        QTRY_VERIFY_WITH_TIMEOUT(!ui(window)->Web->isHidden(), kLoadTimeout);
    }

    // The server answers the version stored in launcher.conf: the launcher is current. The
    // news home waits until the check has answered, as it does on a player's start, where the
    // news page takes longer than the version check.
    void answerCurrent(const QByteArray& storedVersion = {}) {
        server.setReply("/launcher/version.php", {200, "text/plain", storedVersion});
        server.setReply("/launcher/launcher.php",
                        {200, "text/html", readFile(server.root() + "/launcher/launcher.php"),
                         CommunityServer::Reply::Held});
    }
    static void waitUntilCurrent(MainWindow& window, CommunityServer& server) {
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kCurrent, kLoadTimeout);
        // The check may answer before the news view has asked for anything: the news request
        // is released once it waits.
        QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor("/launcher/launcher.php").isEmpty(),
                                 kLoadTimeout);
        answerNewsAtOnce(server);
    }
    // Releases the news held so far, and answers the news at once from then on. A request for
    // it that reaches the server after the release (the engine sends one again, on a fresh
    // connection, when a kept-alive one fails under it) would otherwise wait for a release that
    // has passed, and the news would never load.
    static void answerNewsAtOnce(CommunityServer& server) {
        server.setReply("/launcher/launcher.php",
                        {200, "text/html", readFile(server.root() + "/launcher/launcher.php")});
        server.releaseHeld();
    }

    // The value of a script in the page, once the engine has given it.
    static QVariant evaluate(QWebEnginePage* page, const QString& script) {
        auto result = std::make_shared<std::optional<QVariant>>();
        page->runJavaScript(script, [result](const QVariant& value) { *result = value; });
        // No answer in time gives an invalid value, which no comparison accepts.
        if (!QTest::qWaitFor([&result] { return result->has_value(); }, kLoadTimeout))
            return QVariant();
        return result->value_or(QVariant());
    }

    QList<QWidget*> controls(MainWindow& window) {
        auto form = ui(window);
        return {form->Chargement, form->Jouer, form->Options, form->Texte};
    }

private slots:
    void initTestCase() {
        routeThroughCommunityServer(server);
        for (const char* scheme : {"http", "https", "mailto", "file", "ftp", "steam"})
            QDesktopServices::setUrlHandler(scheme, &browser, "open");
    }

    void init() {
        dir.reset(new QTemporaryDir);
        QVERIFY(QDir::setCurrent(dir->path()));
        browser.opened.clear();
        server.clearRequests();
        // The version check never answers: the launcher's currency is what each test sets.
        server.setReply("/launcher/version.php",
                        {200, "text/plain", {}, CommunityServer::Reply::Silent});
    }

    void cleanup() {
        server.clearReplies();
        server.setDelay("/launcher/launcher.php", 0);
        QDir::setCurrent(QDir::tempPath());
    }

    void startsWithTheStoredSettings() {
        writeConf("1\n/jeux/wotlk\n1\n/jeux/cata\n2\nami.fr|1\n |0\n |0\n2.4.1\n");
        MainWindow window;
        auto form = ui(window);
        QCOMPARE(form->Texte->text(), kChecking);
        QCOMPARE(form->Chargement->value(), 50);
        QCOMPARE(form->labelVersion->text(), QString("Version 2.4.1"));
        QVERIFY(!form->Jouer->isEnabled());
        QVERIFY(form->Fading->isHidden());
        QVERIFY(form->OptionsMenu->isHidden());
        QVERIFY(form->Web->isHidden());
        QCOMPARE(form->CheminWoTLK->text(), QString("/jeux/wotlk"));
        QCOMPARE(form->CheminCata->text(), QString("/jeux/cata"));
        QVERIFY(form->checkBox_Realm1->isChecked());
        QVERIFY(!form->checkBox_Realm2->isChecked());

        window.show();
        waitForNews(window);
        // Current version not known yet: the gate stays shut and the text stays.
        QVERIFY(!form->Jouer->isEnabled());
        QCOMPARE(form->Texte->text(), kChecking);
        const auto requests = server.requestsFor("/launcher/launcher.php");
        QVERIFY(!requests.isEmpty());
        QCOMPARE(requests.first().header("Host"), QByteArray(vestrahal::kWebDomain));
    }

    void missingSettingsAreCreatedAndStartGoesOn() {
        MainWindow window;
        QCOMPARE(ui(window)->Texte->text(), kChecking);
        QCOMPARE(ui(window)->labelVersion->text(), QString("Version "));
        QFile file("launcher.conf");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("0\n\n0\n\n0\n |0\n |0\n |0\n\n"));
    }

    void failedLoadKeepsThePlayButtonShut_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("eight lines") << QByteArray("1\n/jeux\n0\n\n0\n |0\n |0\n |0\n");
        QTest::newRow("empty") << QByteArray();
    }
    void failedLoadKeepsThePlayButtonShut() {
        QFETCH(QByteArray, file);
        writeConf(file);
        MainWindow window;
        auto form = ui(window);
        QCOMPARE(form->Texte->text(), kLoadError);
        QCOMPARE(form->Chargement->value(), 25);
        // Never the form's placeholder.
        QCOMPARE(form->labelVersion->text(), QString("Version "));
        window.show();
        waitForNews(window);
        QVERIFY(!form->Jouer->isEnabled());
        QCOMPARE(form->Texte->text(), kLoadError);
    }

    // launcher.conf cannot be made (here it is a link to a place below a file): the built-in
    // settings are played with, and the player is told why, once. A launcher that cannot record a
    // version makes no update either.
    void settingsThatCannotBeMadeLetThePlayerPlay() {
        VESTRAHAL_SKIP_WITHOUT_SYMBOLIC_LINKS();
        writeFile("fichier", "");
        QVERIFY(QFile::link("fichier/launcher.conf", "launcher.conf"));
        DialogScript dialogs;
        QString told;
        dialogs.then([&told](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            QVERIFY(box);
            told = box->windowTitle() + ": " + box->text();
            box->accept();
        });
        MainWindow window;
        auto form = ui(window);
        QCOMPARE(form->labelVersion->text(), QString("Version "));
        window.show();
        waitForNews(window);
        QTRY_VERIFY_WITH_TIMEOUT(form->Jouer->isEnabled(), kLoadTimeout);
        QCOMPARE(form->Texte->text(), kReady);
        QCOMPARE(told,
                 QString::fromUtf8("Réglages non enregistrés: Les réglages ne peuvent pas être "
                                   "enregistrés dans le fichier ") +
                     QDir::toNativeSeparators(dir->path() + "/launcher.conf") +
                     QString::fromUtf8(" : le lien launcher.conf mène à un emplacement qui "
                                       "ne peut pas être écrit.\n\nLe launcher utilise ses "
                                       "réglages par défaut ; vos choix resteront valables "
                                       "jusqu'à sa fermeture."));
        QVERIFY(server.requestsFor("/launcher/version.php").isEmpty());
        QCOMPARE(dialogs.answered(), 1);
        QCOMPARE(dialogs.unexpected(), 0);
    }

    // "Jouer" opens when the news has loaded, the settings are usable and the launcher is
    // current, and not before; a current launcher opens it at once, even before the news.
    void gate_data() {
        QTest::addColumn<bool>("settings");  // launcher.conf loads
        QTest::addColumn<bool>("current");   // the server answers the stored version
        QTest::addColumn<bool>("newsFirst"); // the news loads before the version is answered
        QTest::addColumn<bool>("openFirst"); // once the first of the two has come
        QTest::addColumn<bool>("openAtLast");
        QTest::addColumn<QString>("text");
        QTest::newRow("current, then the news") << true << true << false << true << true << kReady;
        QTest::newRow("the news, then current")
            << true << true << true << false << true << kCurrent;
        QTest::newRow("a new version to download")
            << true << false << false << false << false
            << QString::fromUtf8("Téléchargement de la nouvelle version en cours...");
        QTest::newRow("settings that fail to load")
            << false << true << false << false << false << kLoadError;
    }
    void gate() {
        QFETCH(bool, settings);
        QFETCH(bool, current);
        QFETCH(bool, newsFirst);
        writeConf(settings ? "1\n/jeux/wotlk\n0\n\n0\n |0\n |0\n |0\n3.1\n" : "1\n/jeux\n");
        // Whichever comes second waits until the first is seen.
        const auto held = [](bool hold) {
            return hold ? CommunityServer::Reply::Held : CommunityServer::Reply::Complete;
        };
        const QByteArray home = readFile(server.root() + "/launcher/launcher.php");
        server.setReply("/launcher/launcher.php", {200, "text/html", home, held(!newsFirst)});
        server.setReply("/launcher/version.php",
                        {200, "text/plain", current ? "3.1" : "3.0", held(newsFirst)});
        // A version that differs starts a download: the server keeps it waiting.
        writeFile(vestrahal::kExecutableName, "the running launcher");
        server.setReply(updater::downloadPath().toLatin1(),
                        {200, "application/octet-stream", {}, CommunityServer::Reply::Silent});
        MainWindow window;
        window.show();
        auto form = ui(window);
        if (newsFirst)
            waitForNews(window);
        else if (settings)
            QTRY_VERIFY_WITH_TIMEOUT(form->Texte->text() != kChecking, kLoadTimeout);
        else
            QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor("/launcher/launcher.php").isEmpty(),
                                     kLoadTimeout);
        QTEST(form->Jouer->isEnabled(), "openFirst");
        // The held news request must be there to be released: the check may well answer before
        // the news view has asked for anything.
        if (!newsFirst)
            QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor("/launcher/launcher.php").isEmpty(),
                                     kLoadTimeout);
        // The version is asked twice: the second request is answered at once.
        server.setReply("/launcher/version.php", {200, "text/plain", current ? "3.1" : "3.0"});
        answerNewsAtOnce(server);
        if (newsFirst)
            QTRY_COMPARE_WITH_TIMEOUT(form->Texte->text(), kCurrent, kLoadTimeout);
        else
            waitForNews(window);
        QTEST(form->Jouer->isEnabled(), "openAtLast");
        QTEST(form->Texte->text(), "text");
    }

    // A launcher for which the community publishes no new version on this system plays on, and
    // the status line says why it stays as it is, also once the news has loaded.
    void notOfferedForThisSystemStillPlays() {
        writeConf("1\n/jeux/wotlk\n0\n\n0\n |0\n |0\n |0\n3.0\n");
        writeFile(vestrahal::kExecutableName, "the running launcher");
        server.setReply("/launcher/version.php", {200, "text/plain", "3.1"});
        server.setReply(updater::downloadPath().toLatin1(), {404, "text/html", "<h1>absent</h1>"});
        MainWindow window;
        window.show();
        waitForNews(window);
        const QString notice = QString::fromUtf8("Aucune nouvelle version du launcher n'est "
                                                 "proposée pour ce système : le jeu peut être "
                                                 "lancé.");
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), notice, kLoadTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), kLoadTimeout);
        QVERIFY(readFile("errors.log").contains("not offered for this system"));
    }

    // A game that cannot start leaves "Jouer" open under its message: the player may retry.
    void failedStartOpensTheGateAgain() {
        // A game folder without its game: the start fails.
        QVERIFY(QDir().mkpath("jeu/Data/frFR"));
        writeConf("1\n" + QDir("jeu").absolutePath().toUtf8() + "\n0\n\n0\n |0\n |0\n |0\n3.1\n");
        answerCurrent("3.1");
        MainWindow window;
        window.show();
        waitUntilCurrent(window, server);
        waitForNews(window);
        auto form = ui(window);
        QVERIFY(form->Jouer->isEnabled());
        form->Jouer->click();
        QTRY_VERIFY_WITH_TIMEOUT(form->Texte->text().contains("(Code 1)"), kLoadTimeout);
        QVERIFY(form->Jouer->isEnabled());
    }

    void newsLoadOpensTheGateOnceCurrent() {
        answerCurrent();
        MainWindow window;
        window.show();
        waitUntilCurrent(window, server);
        waitForNews(window);
        QVERIFY(ui(window)->Jouer->isEnabled());
        QCOMPARE(ui(window)->Texte->text(), kReady);
    }

    void unreachableNewsStillCountsAsLoaded() {
        server.setReply("/launcher/launcher.php", {404, "text/html", "<h1>absent</h1>"});
        server.setReply("/launcher/version.php", {200, "text/plain", ""});
        MainWindow window;
        waitForNews(window);
        server.clearReply("/launcher/launcher.php");
        QVERIFY(ui(window)->Jouer->isEnabled());
    }

    void stoppedHomeLoadStillOpensTheGate_data() { addStoppedLoadRows(); }
    void stoppedHomeLoadStillOpensTheGate() {
        QFETCH(QByteArray, reply);
        server.setReply("/launcher/launcher.php", {200, {}, reply, CommunityServer::Reply::Raw});
        // The news is answered well after the version, so that the gate opens on the news.
        server.setDelay("/launcher/launcher.php", 3000);
        server.setReply("/launcher/version.php", {200, "text/plain", ""});
        MainWindow window;
        window.show();
        // Nothing is shown, but the load finished: with the launcher current, the gate opens.
        QTRY_COMPARE_WITH_TIMEOUT(ui(window)->Texte->text(), kReady, kLoadTimeout);
        QVERIFY(ui(window)->Jouer->isEnabled());
        QVERIFY(browser.opened.isEmpty());
    }

    void pageInPlaceThatShowsNothingGoesBackHome_data() {
        addStoppedLoadRows();
        QTest::newRow("failed: connection closed") << QByteArray();
    }
    void pageInPlaceThatShowsNothingGoesBackHome() {
        QFETCH(QByteArray, reply);
        MainWindow window;
        window.show();
        waitForNews(window);
        auto form = ui(window);
        server.setReply("/launcher/ex_saison.php", {200, {}, reply, CommunityServer::Reply::Raw});
        server.clearRequests();
        clickLink(form->Web->newsPage(), "ex-saison");
        QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor("/launcher/ex_saison.php").isEmpty(),
                                 kLoadTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor("/launcher/launcher.php").isEmpty(),
                                 kLoadTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!form->Web->isHidden(), kLoadTimeout);
        QCOMPARE(form->Web->url(), QUrl(newsUrl("/launcher/launcher.php")));
        for (QWidget* control : controls(window))
            QVERIFY(!control->isHidden());
    }

    void onlyClicksOpenWindows() {
        const QByteArray outside = "http://www." + QByteArray(vestrahal::kWebDomain);
        server.setReply(
            "/launcher/launcher.php",
            {200, "text/html",
             "<html><body style='margin:0'><a id='out' href='" + outside +
                 "/forum/' target='_blank' style='display:block;width:300px;height:80px'>forum</a>"
                 "<script>window.open('" +
                 outside + "/au-chargement/');</script></body></html>"});
        MainWindow window;
        window.show();
        waitForNews(window);
        auto form = ui(window);
        const int windows = QApplication::topLevelWidgets().size();
        bool ran = false;
        form->Web->page()->runJavaScript("window.open('" + outside + "/plus-tard/'); 1",
                                         [&ran](const QVariant&) { ran = true; });
        QTRY_VERIFY_WITH_TIMEOUT(ran, kLoadTimeout);
        mouseClickOn(form->Web, "out");
        QTRY_COMPARE_WITH_TIMEOUT(browser.opened.size(), 1, kLoadTimeout);
        QCOMPARE(browser.opened.first(), QUrl(outside + "/forum/"));
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);
        QCOMPARE(form->Web->url(), QUrl(newsUrl("/launcher/launcher.php")));
    }

    void realmButtons_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QList<bool>>("shown");
        QTest::addColumn<int>("checked");
        QTest::addColumn<QStringList>("labels");
        const QStringList builtIn{"Vestrahal Servers", "Royaumes Officiels", "Brontavale"};
        QTest::newRow("no client: all hidden, the stored realm still checked")
            << QByteArray("0\n\n0\n\n4\na.fr|1\nb.fr|0\n |0\nv\n")
            << QList<bool>{false, false, false, false, false, false} << 4
            << builtIn + QStringList{"a.fr", "b.fr", ""};
        QTest::newRow("Wrath client only") << QByteArray("1\n/w\n0\n\n0\n |0\n |0\n |0\nv\n")
                                           << QList<bool>{true, false, false, false, false, false}
                                           << 0 << builtIn + QStringList{"", "", ""};
        QTest::newRow("Cataclysm client only")
            << QByteArray("0\n\n1\n/c\n1\n |0\n |0\n |0\nv\n")
            << QList<bool>{false, true, true, false, false, false} << 1
            << builtIn + QStringList{"", "", ""};
        QTest::newRow("personal realms follow their client")
            << QByteArray("1\n/w\n0\n\n5\nwrath.fr|1\ncata.fr|0\nautre.fr|1\nv\n")
            << QList<bool>{true, false, false, true, false, true} << 5
            << builtIn + QStringList{"wrath.fr", "cata.fr", "autre.fr"};
        // The stored realm has no host: the focus starts on the first realm shown, which is
        // then the one checked, as a screen reader says of it.
        QTest::newRow("both clients, Latin-1 host, the stored realm gone")
            << QByteArray("1\n/w\n1\n/c\n3\n |0\nch\xe2teau.fr|0\n |1\nv\n")
            << QList<bool>{true, true, true, false, true, false} << 0
            << builtIn + QStringList{"", QString::fromUtf8("château.fr"), ""};
    }
    void realmButtons() {
        QFETCH(QByteArray, file);
        QFETCH(QList<bool>, shown);
        QFETCH(QStringList, labels);
        writeConf(file);
        MainWindow window;
        for (int realm = 0; realm < 6; ++realm) {
            QRadioButton* button = ui(window)->realms()[realm];
            QCOMPARE(!button->isHidden(), shown[realm]);
            QCOMPARE(button->text(), labels[realm]);
        }
        QFETCH(int, checked);
        QVERIFY(ui(window)->realms()[checked]->isChecked());
    }

    void linkClassification_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("launcher page") << newsUrl("/launcher/ex_saison.php") << Outcome::InPlace;
        QTest::newRow("launcher page with query")
            << newsUrl("/launcher/exemple?id=3&x=y") << Outcome::InPlace;
        QTest::newRow("bare external prefix") << newsUrl("/launcher/ex") << Outcome::InPlace;
        QTest::newRow("home page itself") << newsUrl("/launcher/launcher.php") << Outcome::Home;
        QTest::newRow("anything under the home prefix")
            << newsUrl("/launcher/la_suite?x=1") << Outcome::Home;
        QTest::newRow("shorter than a prefix") << newsUrl("/launcher/e") << Outcome::Browser;
        QTest::newRow("other path of the domain") << newsUrl("/forum/") << Outcome::Browser;
        QTest::newRow("prefix in another case")
            << newsUrl("/Launcher/ex_saison.php") << Outcome::Browser;
        QTest::newRow("www in front") << QString::fromLatin1(vestrahal::kWebScheme) + "://www." +
                                             vestrahal::kWebDomain + "/launcher/ex_saison.php"
                                      << Outcome::Browser;
        // The news are under the build's scheme only: the other one is another site.
        QTest::newRow("the other scheme") << QString(httpsBuild() ? "http://" : "https://") +
                                                 vestrahal::kWebDomain + "/launcher/ex_saison.php"
                                          << Outcome::Browser;
        QTest::newRow("other site") << "http://example.org/launcher/ex" << Outcome::Browser;
        // The launcher's own addresses inside another site's query or path are that site's.
        QTest::newRow("other site, launcher page in its query")
            << "http://example.org/go?to=" + newsUrl("/launcher/ex_saison.php") << Outcome::Browser;
        QTest::newRow("other site, home in its path")
            << "http://example.org/" + newsUrl("/launcher/la") << Outcome::Browser;
        QTest::newRow("mail") << "mailto:contact@example.org" << Outcome::Browser;
        QTest::newRow("local file") << "file:///etc/passwd" << Outcome::Ignored;
        QTest::newRow("ftp") << "ftp://example.org/x" << Outcome::Ignored;
        QTest::newRow("another program's scheme") << "steam://run/1" << Outcome::Ignored;
    }
    void linkClassification() {
        QFETCH(QString, url);
        QFETCH(Outcome, outcome);
        writeConf("1\n/w\n0\n\n0\nperso.fr|1\ncata.fr|0\n |0\nv\n");
        MainWindow window;
        window.show();
        waitForNews(window);
        auto form = ui(window);
        const QUrl before = form->Web->url();
        server.clearRequests();

        QVERIFY(QMetaObject::invokeMethod(&window, "newsOnLinkClicked", Q_ARG(QUrl, QUrl(url))));

        switch (outcome) {
        case Outcome::InPlace:
            QCOMPARE(form->Web->url(), QUrl(url));
            QVERIFY(form->Web->isHidden());
            for (QWidget* control : controls(window))
                QVERIFY(control->isHidden());
            for (QRadioButton* button : ui(window)->realms())
                QVERIFY(button->isHidden());
            QVERIFY(browser.opened.isEmpty());
            break;
        case Outcome::Home:
            QCOMPARE(form->Web->url(), QUrl(newsUrl("/launcher/launcher.php")));
            QVERIFY(form->Web->isHidden());
            for (QWidget* control : controls(window))
                QVERIFY(!control->isHidden());
            QVERIFY(browser.opened.isEmpty());
            QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor("/launcher/launcher.php").isEmpty(),
                                     kLoadTimeout);
            break;
        case Outcome::Browser:
            QCOMPARE(browser.opened, QList<QUrl>{QUrl(url)});
            QCOMPARE(form->Web->url(), before);
            QVERIFY(!form->Web->isHidden());
            for (QWidget* control : controls(window))
                QVERIFY(!control->isHidden());
            break;
        case Outcome::Ignored:
            QVERIFY(browser.opened.isEmpty());
            QCOMPARE(form->Web->url(), before);
            QVERIFY(!form->Web->isHidden());
            break;
        }
    }

    void clickedLinksGoInPlaceAndBackHome() {
        // Personal realm 2 plays on the Cataclysm client, which is not installed.
        writeConf("1\n/w\n0\n\n0\nperso.fr|1\ncata.fr|0\n |0\nv\n");
        MainWindow window;
        window.show();
        waitForNews(window);
        auto form = ui(window);
        auto* page = form->Web->newsPage();

        clickLink(page, "ex-saison");
        QTRY_VERIFY_WITH_TIMEOUT(form->Jouer->isHidden(), kLoadTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!form->Web->isHidden(), kLoadTimeout);
        QCOMPARE(form->Web->url(), QUrl(newsUrl("/launcher/ex_saison.php")));
        for (QWidget* control : controls(window))
            QVERIFY(control->isHidden());
        QVERIFY(browser.opened.isEmpty());

        server.clearRequests();
        clickLink(page, "home");
        QTRY_VERIFY_WITH_TIMEOUT(!form->Jouer->isHidden(), kLoadTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!form->Web->isHidden(), kLoadTimeout);
        QCOMPARE(form->Web->url(), QUrl(newsUrl("/launcher/launcher.php")));
        QCOMPARE(server.requestsFor("/launcher/launcher.php").size(), 1);
        for (QWidget* control : controls(window))
            QVERIFY(!control->isHidden());
        // Back home, the realms offered before are offered again, and only those.
        const QList<bool> shown{true, false, false, true, false, false};
        for (int realm = 0; realm < 6; ++realm)
            QCOMPARE(!ui(window)->realms()[realm]->isHidden(), shown[realm]);
    }

    void refusedClickIsNotAPageLoad() {
        // Nobody loads anything in answer to the click here, so the engine does report the end
        // of the navigation it was refused: that is no page load.
        NewsView view;
        NewsPage* page = view.newsPage();
        page->setLinkDelegationPolicy(NewsPage::DelegateAllLinks);
        QSignalSpy pageLoads(page, &NewsPage::pageLoadFinished);
        QSignalSpy engineLoads(page, &QWebEnginePage::loadFinished);
        QSignalSpy clicks(page, &NewsPage::linkClicked);
        view.setUrl(QUrl(newsUrl("/launcher/launcher.php")));
        view.show();
        QTRY_COMPARE_WITH_TIMEOUT(pageLoads.size(), 1, kLoadTimeout);
        QCOMPARE(pageLoads.first().first().toBool(), true);
        engineLoads.clear();

        clickLink(page, "ex-saison");
        QTRY_COMPARE_WITH_TIMEOUT(clicks.size(), 1, kLoadTimeout);
        QCOMPARE(clicks.first().first().toUrl(), QUrl(newsUrl("/launcher/ex_saison.php")));
        QTRY_COMPARE_WITH_TIMEOUT(engineLoads.size(), 1, kLoadTimeout);
        QCOMPARE(engineLoads.first().first().toBool(), false);
        QCOMPARE(pageLoads.size(), 1);
        QVERIFY(server.requestsFor("/launcher/ex_saison.php").isEmpty());

        // A link that asks for a new window is handed over the same way, and opens nothing.
        mouseClickOn(&view, "blank");
        QTRY_COMPARE_WITH_TIMEOUT(clicks.size(), 2, kLoadTimeout);
        QCOMPARE(clicks.last().first().toUrl(), QUrl(newsUrl("/launcher/ex_saison.php")));
        QVERIFY(server.requestsFor("/launcher/ex_saison.php").isEmpty());
        QCOMPARE(view.url(), QUrl(newsUrl("/launcher/launcher.php")));
    }

    void navigationsThePageAllows_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("handedOver");
        QTest::newRow("typed page") << newsUrl("/launcher/launcher.php")
                                    << int(QWebEnginePage::NavigationTypeTyped) << true << false;
        QTest::newRow("redirect to a page")
            << "https://example.org/" << int(QWebEnginePage::NavigationTypeRedirect) << true
            << false;
        QTest::newRow("inline data")
            << "data:text/html,x" << int(QWebEnginePage::NavigationTypeOther) << true << false;
        QTest::newRow("clicked page")
            << newsUrl("/launcher/ex_saison.php") << int(QWebEnginePage::NavigationTypeLinkClicked)
            << false << true;
        QTest::newRow("clicked mail link")
            << "mailto:a@example.org" << int(QWebEnginePage::NavigationTypeLinkClicked) << false
            << true;
        QTest::newRow("script sends to another program")
            << "steam://run/1" << int(QWebEnginePage::NavigationTypeRedirect) << false << false;
        QTest::newRow("form posts to a mail program")
            << "mailto:a@example.org" << int(QWebEnginePage::NavigationTypeFormSubmitted) << false
            << false;
        QTest::newRow("script opens a file")
            << "file:///etc/passwd" << int(QWebEnginePage::NavigationTypeOther) << false << false;
    }
    void navigationsThePageAllows() {
        QFETCH(QString, url);
        QFETCH(int, type);
        PageProbe page;
        page.setLinkDelegationPolicy(NewsPage::DelegateAllLinks);
        QSignalSpy clicks(&page, &NewsPage::linkClicked);
        QTEST(page.acceptNavigationRequest(QUrl(url), QWebEnginePage::NavigationType(type), true),
              "accepted");
        QFETCH(bool, handedOver);
        if (handedOver)
            QTRY_COMPARE(clicks.size(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(clicks.size(), handedOver ? 1 : 0);
    }

    void withoutDelegationLinksAreFollowed() {
        NewsView view;
        NewsPage* page = view.newsPage();
        QSignalSpy pageLoads(page, &NewsPage::pageLoadFinished);
        QSignalSpy clicks(page, &NewsPage::linkClicked);
        view.setUrl(QUrl(newsUrl("/launcher/launcher.php")));
        QTRY_COMPARE_WITH_TIMEOUT(pageLoads.size(), 1, kLoadTimeout);
        clickLink(page, "ex-saison");
        QTRY_COMPARE_WITH_TIMEOUT(pageLoads.size(), 2, kLoadTimeout);
        QCOMPARE(view.url(), QUrl(newsUrl("/launcher/ex_saison.php")));
        QVERIFY(clicks.isEmpty());
    }

    void viewStaysHiddenUntilTheClickedPageHasLoaded() {
        MainWindow window;
        window.show();
        waitForNews(window);
        auto form = ui(window);
        // The launcher page never answers: the view must stay hidden.
        server.setReply("/launcher/ex_saison.php",
                        {200, "text/html", {}, CommunityServer::Reply::Silent});
        clickLink(form->Web->newsPage(), "ex-saison");
        QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor("/launcher/ex_saison.php").isEmpty(),
                                 kLoadTimeout);
        QVERIFY(form->Web->isHidden());
        QVERIFY(form->Jouer->isHidden());
    }

    void newWindowLinksAreClassifiedToo() {
        MainWindow window;
        window.show();
        waitForNews(window);
        auto form = ui(window);
        const int windows = QApplication::topLevelWidgets().size();
        mouseClickOn(form->Web, "blank");
        QTRY_VERIFY_WITH_TIMEOUT(form->Jouer->isHidden(), kLoadTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!form->Web->isHidden(), kLoadTimeout);
        QCOMPARE(form->Web->url(), QUrl(newsUrl("/launcher/ex_saison.php")));
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);

        clickLink(form->Web->newsPage(), "home");
        QTRY_VERIFY_WITH_TIMEOUT(!form->Jouer->isHidden(), kLoadTimeout);
    }

    void outsideLinksOfThePageGoToTheBrowser() {
        MainWindow window;
        window.show();
        waitForNews(window);
        auto form = ui(window);
        clickLink(form->Web->newsPage(), "forum");
        QTRY_COMPARE_WITH_TIMEOUT(browser.opened.size(), 1, kLoadTimeout);
        QCOMPARE(browser.opened.at(0).host(),
                 QStringLiteral("www.") + QUrl("http://" + QString(vestrahal::kWebDomain)).host());
        QVERIFY(!form->Web->isHidden());
        QVERIFY(!form->Jouer->isHidden());
        QCOMPARE(form->Web->url(), QUrl(newsUrl("/launcher/launcher.php")));
    }

    // ---- A news page that cannot be loaded ----
    void failedNewsLoadShowsAFrenchPageOfOurOwn() {
        // The connection closes without an answer: the load fails.
        server.setReply("/launcher/launcher.php", {0, "", "", CommunityServer::Reply::Raw});
        // The news is answered well after the version, so that the gate opens on the news.
        server.setDelay("/launcher/launcher.php", 3000);
        server.setReply("/launcher/version.php", {200, "text/plain", ""});
        MainWindow window;
        QWebEnginePage* page = ui(window)->Web->page();
        QSignalSpy pageLoads(ui(window)->Web->newsPage(), &NewsPage::pageLoadFinished);
        QSignalSpy engineLoads(page, &QWebEnginePage::loadFinished);
        window.show();
        waitForNews(window);
        // The gate treats it as any finished load, as before.
        QVERIFY(ui(window)->Jouer->isEnabled());
        QCOMPARE(ui(window)->Texte->text(), kReady);
        QTRY_VERIFY_WITH_TIMEOUT(engineLoads.size() >= 2 && engineLoads.last().first().toBool(),
                                 kLoadTimeout);
        QCOMPARE(evaluate(page, "document.body.innerText"),
                 QVariant("Les nouvelles ne peuvent pas être affichées pour le moment."));
        QCOMPARE(evaluate(page, "getComputedStyle(document.body).backgroundColor"),
                 QVariant("rgb(10, 8, 9)"));
        // Our page is no news load of its own, and asks nothing of the network.
        QCOMPARE(pageLoads.size(), 1);
        QCOMPARE(pageLoads.first().first().toBool(), false);
        // (An https build's tunnels to the server are no requests of a page.)
        for (const CommunityServer::Request& request : server.requests())
            QVERIFY2(request.method == "CONNECT" || request.path == "/launcher/launcher.php" ||
                         request.path == "/launcher/version.php",
                     request.target.constData());
    }

private:
    CommunityServer server;
    UrlRecorder browser;
    std::unique_ptr<QTemporaryDir> dir;
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
