#include "buildoptions.h"
#include "config.h"
#include "newslinks.h"
#include "realmplay.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace vestrahal;
using newslinks::Route;

namespace {

QUrl newsUrl(const char* path) {
    return QUrl(QByteArray(kWebScheme) + "://" + kWebDomain + path);
}

realmplay::Realms realmsOf(const QList<int>& indices) {
    realmplay::Realms realms{};
    for (int realm : indices)
        realms[std::size_t(realm)] = true;
    return realms;
}

} // namespace

class RealmPlayTest : public QObject {
    Q_OBJECT

private slots:
    void offeredRealms_data() {
        QTest::addColumn<bool>("wotlk");
        QTest::addColumn<bool>("cata");
        QTest::addColumn<QByteArray>("personalHost");
        QTest::addColumn<bool>("personalOnWotlk");
        QTest::addColumn<QList<int>>("offered");
        QTest::newRow("no client in use")
            << false << false << QByteArray("perso.fr") << true << QList<int>{};
        QTest::newRow("Wrath client only")
            << true << false << QByteArray(" ") << false << QList<int>{0};
        QTest::newRow("Cataclysm client only")
            << false << true << QByteArray(" ") << false << QList<int>{1, 2};
        QTest::newRow("personal realm on the client in use")
            << true << false << QByteArray("perso.fr") << true << QList<int>{0, 4};
        QTest::newRow("personal realm on the client left")
            << true << false << QByteArray("perso.fr") << false << QList<int>{0};
        QTest::newRow("empty slot on a client in use")
            << true << true << QByteArray(" ") << true << QList<int>{0, 1, 2};
    }
    void offeredRealms() {
        QFETCH(QByteArray, personalHost);
        QFETCH(bool, personalOnWotlk);
        QFETCH(QList<int>, offered);
        Config config;
        QFETCH(bool, wotlk);
        QFETCH(bool, cata);
        config.wotlkEnabled = wotlk;
        config.cataEnabled = cata;
        config.realmHosts[personalRealmOfRow(2)] = personalHost;
        config.realmWotlk[personalRealmOfRow(2)] = personalOnWotlk;
        QCOMPARE(realmplay::offeredRealms(config), realmsOf(offered));
    }

    void play_data() {
        QTest::addColumn<int>("realm");
        QTest::addColumn<bool>("onWotlk");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("program");
        QTest::newRow("community realms") << 0 << true << "/jeux/wotlk"
                                          << "/Wow.exe";
        QTest::newRow("official realms, the client itself")
            << 1 << false << "/jeux/World of Warcraft"
            << "/Wow.exe";
        QTest::newRow("partner realms, its program") << 2 << false << "/jeux/World of Warcraft"
                                                     << "/brontavale.exe";
        QTest::newRow("personal realm on Wrath") << 3 << true << "/jeux/wotlk"
                                                 << "/Wow.exe";
        QTest::newRow("personal realm on Cataclysm") << 5 << false << "/jeux/World of Warcraft"
                                                     << "/brontavale.exe";
        QTest::newRow("official realms moved to Wrath") << 1 << true << "/jeux/wotlk"
                                                        << "/Wow.exe";
    }
    void play() {
        QFETCH(int, realm);
        QFETCH(bool, onWotlk);
        QFETCH(QString, folder);
        QFETCH(QString, program);
        Config config;
        // Both folders chosen: the realm's own client decides.
        config.wotlkPath = "/jeux/wotlk";
        config.cataPath = "/jeux/World of Warcraft";
        config.realmWotlk[realm] = onWotlk;
        const int mode = realmplay::clientModeOf(config, realm);
        QCOMPARE(mode, onWotlk ? kClientModeWotlk : kClientModeCata);
        const realmplay::Play play = realmplay::playFor(config, mode, realm);
        QCOMPARE(play.folder, folder);
        QCOMPARE(play.program, folder + program);
    }

    void realmToPlay_data() {
        QTest::addColumn<QList<int>>("checked");
        QTest::addColumn<int>("played");
        QTest::newRow("none checked: the community's realms") << QList<int>{} << 0;
        QTest::newRow("a personal realm") << QList<int>{4} << 4;
        QTest::newRow("two checked: the last one") << QList<int>{2, 5} << 5;
    }
    void realmToPlay() {
        QFETCH(QList<int>, checked);
        QTEST(realmplay::realmToPlay(realmsOf(checked)), "played");
    }

    void ownInstallation_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("own");
        QTest::newRow("game without the marker") << QStringList{"Wow.exe"} << true;
        QTest::newRow("community client") << QStringList{"Wow.exe", "kvf.vestrahal"} << false;
        QTest::newRow("empty folder") << QStringList{} << false;
        QTest::newRow("marker alone") << QStringList{"kvf.vestrahal"} << false;
    }
    void ownInstallation() {
        QFETCH(QStringList, files);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const QString& name : files)
            writeFile(dir.path() + "/" + name, "");
        QTEST(realmplay::isOwnInstallation(dir.path()), "own");
    }

    void linkRoute_data() {
        const QByteArray domain(kWebDomain);
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<Route>("route");
        QTest::newRow("news home itself") << newslinks::home() << Route::NewsHome;
        QTest::newRow("under the home prefix")
            << newsUrl("/launcher/la_suite?p=2") << Route::NewsHome;
        QTest::newRow("launcher page, any query")
            << newsUrl("/launcher/ex_saison.php?id=3") << Route::InPlace;
        QTest::newRow("the prefix alone") << newsUrl("/launcher/ex") << Route::InPlace;
        QTest::newRow("prefix in another case")
            << newsUrl("/launcher/EX_saison.php") << Route::Outside;
        QTest::newRow("another path of the domain") << newsUrl("/forum/") << Route::Outside;
        QTest::newRow("www. host")
            << QUrl("http://www." + domain + "/launcher/ex_a.php") << Route::Outside;
        QTest::newRow("mail") << QUrl("mailto:staff@" + domain) << Route::Outside;
        QTest::newRow("file") << QUrl("file:///etc/passwd") << Route::Nowhere;
        QTest::newRow("another program") << QUrl("steam://run/1") << Route::Nowhere;
        QTest::newRow("script") << QUrl("javascript:alert(1)") << Route::Nowhere;
        QTest::newRow("engine's own page") << QUrl("data:text/html,x") << Route::Nowhere;
    }
    void linkRoute() {
        QFETCH(QUrl, url);
        QTEST(newslinks::routeOf(url), "route");
    }

    void schemes_data() {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<bool>("inPage");
        QTest::addColumn<bool>("browser");
        QTest::newRow("http") << QUrl("http://ailleurs.test/") << true << true;
        QTest::newRow("https") << QUrl("https://ailleurs.test/") << true << true;
        QTest::newRow("mailto") << QUrl("mailto:a@ailleurs.test") << false << false;
        QTest::newRow("data") << QUrl("data:text/html,x") << true << false;
        QTest::newRow("about") << QUrl("about:blank") << true << false;
        QTest::newRow("file") << QUrl("file:///etc/passwd") << false << false;
        QTest::newRow("other program") << QUrl("steam://run/1") << false << false;
    }
    void schemes() {
        QFETCH(QUrl, url);
        QTEST(newslinks::showsInPage(url), "inPage");
        QTEST(newslinks::opensInBrowser(url), "browser");
    }
};

QTEST_GUILESS_MAIN(RealmPlayTest)
#include "tst_realmplay.moc"
