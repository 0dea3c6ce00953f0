// The launcher as a screen reader gets it: the real program in a window of its own (Xvfb), on a
// session bus of the test's own, read through AT-SPI by Debian's pyatspi, the library Orca
// reads applications with (tests/atspi_reader.py).
#include "desktopsession.h"
#include "logonlistener.h"
#include "testfiles.h"
#include "testsupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr int kTimeout = 60000;
const QString kReader = QStringLiteral(VESTRAHAL_SOURCE_DIR "/tests/atspi_reader.py");
const QString kApplication = QStringLiteral("VestrahalLauncher");
const QString kReady = QStringLiteral("World of Warcraft est prêt à être lancé");
const QString kRealmlistFailed =
    QStringLiteral("Une erreur s'est produite lors du changement du realmlist.");
const QString kFirstLink = QStringLiteral("Lire l'article complet");
const QString kWayBack = QStringLiteral("← Retour aux nouvelles");

using Node = QJsonObject;

QList<Node> parseLines(const QByteArray& output) {
    QList<Node> nodes;
    for (const QByteArray& line : output.split('\n')) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            nodes << document.object();
    }
    return nodes;
}

QString text(const Node& node, const char* key) {
    return node.value(QLatin1String(key)).toString();
}

// The nodes below the launcher's window, without the page's own, which Chromium describes.
QList<Node> windowNodes(const QList<Node>& tree) {
    QList<Node> nodes;
    QString window, page;
    for (const Node& node : tree) {
        const QString path = text(node, "path");
        if (window.isEmpty() && text(node, "role") == "frame" &&
            text(node, "name") == "Vestrahal Launcher") {
            window = path + '.';
            continue;
        }
        if (window.isEmpty() || !path.startsWith(window))
            continue;
        if (!page.isEmpty() && path.startsWith(page))
            continue;
        if (text(node, "role") == "document web")
            page = path + '.';
        nodes << node;
    }
    return nodes;
}

std::optional<Node> find(const QList<Node>& nodes, const QString& role, const QString& name) {
    for (const Node& node : nodes) {
        if (text(node, "role") == role && text(node, "name") == name)
            return node;
    }
    return std::nullopt;
}

} // namespace

class ScreenReaderTest : public QObject {
    Q_OBJECT

    // One run of the reader; its lines, or nothing when it could not read.
    QList<Node> read(const QStringList& arguments, QByteArray* said = nullptr) {
        QProcess reader;
        reader.setProcessEnvironment(session);
        reader.start(QStringLiteral(VESTRAHAL_SYSTEM_PYTHON),
                     QStringList{kReader, kApplication} + arguments);
        // The event loop turns meanwhile: the test's own server answers the launcher.
        if (!QTest::qWaitFor([&reader] { return reader.state() == QProcess::NotRunning; },
                             kTimeout))
            return {};
        const QByteArray output = reader.readAllStandardOutput();
        if (said)
            *said = output.trimmed();
        return parseLines(output);
    }
    QList<Node> tree() { return read({QStringLiteral("tree")}); }
    bool press(const QString& name) {
        QByteArray said;
        read({QStringLiteral("press"), name}, &said);
        return said == "pressed";
    }
    bool grabFocus(const QString& name) {
        QByteArray said;
        read({QStringLiteral("focus"), name}, &said);
        return said == "focused";
    }
    // A key the player presses, to the window in front.
    bool key(const QString& name) {
        QProcess xdotool;
        xdotool.setProcessEnvironment(session);
        xdotool.start(QStringLiteral("xdotool"), {"search", "--name", "^Vestrahal Launcher$",
                                                  "windowfocus", "key", "--clearmodifiers", name});
        return QTest::qWaitFor([&xdotool] { return xdotool.state() == QProcess::NotRunning; },
                               kTimeout) &&
               xdotool.exitCode() == 0;
    }
    // The names that took the focus between two events heard.
    QStringList focusMoves(int from, int to) {
        QStringList moves;
        const QList<Node> all = heard();
        for (int i = from; i < to && i < all.size(); ++i) {
            if (text(all[i], "type").startsWith("object:state-changed:focused") &&
                all[i].value("detail1").toInt() == 1)
                moves << text(all[i], "role") + ":" + text(all[i], "name");
        }
        return moves;
    }

    // What the listener has heard so far.
    QList<Node> heard() {
        pendingLine += listener.readAllStandardOutput();
        // A line still being written waits for its end.
        const qsizetype end = pendingLine.lastIndexOf('\n');
        if (end >= 0) {
            events += parseLines(pendingLine.left(end));
            pendingLine.remove(0, end + 1);
        }
        return events;
    }
    int heardIndexOf(const QString& type, const QString& name, int from = 0) {
        const QList<Node> all = heard();
        for (int i = from; i < all.size(); ++i) {
            if (text(all[i], "type").startsWith(type) && text(all[i], "name") == name &&
                all[i].value("detail1").toInt() == 1)
                return i;
        }
        return -1;
    }

    // An alert of that title is showing, with a text that starts so.
    bool alertSays(const QString& title, const QString& start) {
        const QList<Node> nodes = tree();
        const auto alert = find(nodes, "alert", title);
        if (!alert || !alert->value("showing").toBool())
            return false;
        for (const Node& node : nodes) {
            if (text(node, "path").startsWith(text(*alert, "path") + '.') &&
                text(node, "name").startsWith(start))
                return true;
        }
        return false;
    }

    void startProcess(QProcess& process, const QString& program, const QStringList& arguments) {
        process.setProcessEnvironment(session);
        process.start(program, arguments);
        QVERIFY2(process.waitForStarted(kTimeout),
                 qPrintable(program + ": " + process.errorString()));
    }

private slots:
    void initTestCase() {
        QVERIFY2(QFile::exists(VESTRAHAL_SYSTEM_PYTHON), "python3 of the system: tools/setup.sh");

        // A screen of its own: the window is real, as are its sizes and what shows on it; a
        // session bus of its own, where a screen reader runs.
        desktop.start("800x600x24", kTimeout);
        if (QTest::currentTestFailed())
            return;
        session = desktop.environment;

        // The listener is there before the launcher, as Orca is.
        startProcess(listener, QStringLiteral(VESTRAHAL_SYSTEM_PYTHON),
                     {kReader, kApplication, "listen"});
        QVERIFY(QTest::qWaitFor([this] { return listener.canReadLine(); }, kTimeout));
        QVERIFY(listener.readLine().contains("listening"));

        // A player's folder: both clients in folders that cannot take a realmlist (no
        // Data/frFR), the own realms checked, one personal realm on a logon server that answers.
        QVERIFY(folder.isValid());
        QVERIFY(QDir(folder.path()).mkpath("wotlk"));
        QVERIFY(QDir(folder.path()).mkpath("cata"));
        writeFile(folder.filePath("launcher.conf"),
                  "1\n" + folder.filePath("wotlk").toLatin1() + "\n1\n" +
                      folder.filePath("cata").toLatin1() + "\n0\n" + logon.hostText() +
                      "|1\n |0\n |0\n1.0\n");
        routeThroughCommunityServer(server);
        server.setReply("/launcher/version.php", {200, "text/plain", "1.0"});

        QProcessEnvironment environment = session;
        environment.insert("http_proxy", QString("http://127.0.0.1:%1").arg(server.serverPort()));
        environment.insert("QT_QPA_PLATFORM", "xcb");
        launcher.setProcessEnvironment(environment);
        launcher.setWorkingDirectory(folder.path());
        launcher.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        launcher.setStandardOutputFile(QProcess::nullDevice());
        launcher.start(QStringLiteral(LAUNCHER_PATH), {});
        QVERIFY2(launcher.waitForStarted(kTimeout), qPrintable(launcher.errorString()));

        // The player brings the window to the front (there is no window manager to do it), so
        // that the focus, and what the screen reader says of it, lives in it.
        QTRY_VERIFY_WITH_TIMEOUT(
            [this] {
                QProcess front;
                front.setProcessEnvironment(session);
                front.start(QStringLiteral("xdotool"),
                            {"search", "--name", "^Vestrahal Launcher$", "windowfocus"});
                // The test's own server answers the launcher meanwhile.
                // A focus that did not come shows in the check below.
                static_cast<void>(QTest::qWaitFor(
                    [&front] { return front.state() == QProcess::NotRunning; }, kTimeout));
                const auto window = find(tree(), "frame", "Vestrahal Launcher");
                return window && window->value("active").toBool();
            }(),
            kTimeout);

        // The news shown and the version found current: ready to play.
        QTRY_VERIFY_WITH_TIMEOUT(
            [this] {
                const QList<Node> nodes = windowNodes(tree());
                const auto play = find(nodes, "push button", "Jouer");
                return play && play->value("sensitive").toBool() &&
                       find(nodes, "notification", kReady) &&
                       find(nodes, "document web", QStringLiteral("Vestrahal — Nouvelles"));
            }(),
            kTimeout);
    }

    void cleanupTestCase() {
        for (QProcess* process : {&launcher, &listener}) {
            process->kill();
            process->waitForFinished(kTimeout);
        }
        desktop.stop();
    }

    void newsPageHasItsHeadingsAndLinks_data() {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("name");
        QTest::newRow("title") << "heading"
                               << "VESTRAHAL";
        QTest::newRow("first article") << "heading"
                                       << "Ouverture de la saison des Ombres";
        QTest::newRow("link shown in place") << "link"
                                             << "Lire l'article complet";
        QTest::newRow("link to the browser") << "link"
                                             << "Le forum";
        QTest::newRow("paragraph text") << "label"
                                        << "Les nouvelles du royaume";
    }
    void newsPageHasItsHeadingsAndLinks() {
        QFETCH(QString, role);
        QFETCH(QString, name);
        // Inside the page's document, itself inside the window.
        QString page;
        bool found = false;
        for (const Node& node : tree()) {
            if (text(node, "role") == "document web" && text(node, "name").startsWith("Vestrahal"))
                page = text(node, "path") + '.';
            else if (!page.isEmpty() && text(node, "path").startsWith(page) &&
                     text(node, "role") == role && text(node, "name") == name)
                found = true;
        }
        QVERIFY2(!page.isEmpty(), "no web document");
        QVERIFY(found);
    }

    void realmButtonSaysItsStatus_data() {
        QTest::addColumn<QString>("realm");
        QTest::addColumn<QString>("status");
        QTest::newRow("own realms, a name that is not found") << "Vestrahal Servers"
                                                              << "^Ne répond pas$";
        QTest::newRow("official realms") << "Royaumes Officiels"
                                         << "^Ne répond pas$";
        QTest::newRow("partner realms") << "Brontavale"
                                        << "^Ne répond pas$";
        QTest::newRow("personal realm that answers")
            << QString::fromLatin1(logon.hostText()) << "^En ligne \\(\\d+ ms\\)$";
    }
    void realmButtonSaysItsStatus() {
        QFETCH(QString, realm);
        QFETCH(QString, status);
        const QRegularExpression expected(status);
        std::optional<Node> button;
        QTRY_VERIFY_WITH_TIMEOUT((button = find(windowNodes(tree()), "radio button", realm)) &&
                                     expected.match(text(*button, "description")).hasMatch(),
                                 kTimeout);
        // The gem is no child of its own.
        QCOMPARE(button->value("children").toInt(), 0);
        QVERIFY(button->value("showing").toBool());
    }

    void nothingUnnamedOrFramedInTheWindow() {
        const QList<Node> nodes = windowNodes(tree());
        QVERIFY(nodes.size() > 20);
        QStringList noise;
        for (const Node& node : nodes) {
            const QString role = text(node, "role");
            // Containers without a name are layout only, which Orca passes over; an empty one
            // would be a picture of something, said as "filler".
            const bool emptyFiller = role == "filler" && text(node, "name").isEmpty() &&
                                     node.value("children").toInt() == 0;
            if (role == "frame" || role == "image" || emptyFiller)
                noise << role + " at " + text(node, "path");
        }
        QVERIFY2(noise.isEmpty(), qPrintable(noise.join(", ")));
        // Nor a frame around the options panel: it is the window's own.
        const auto panel = find(nodes, "panel", "Options du launcher");
        QVERIFY(panel);
        const auto status = find(nodes, "notification", kReady);
        QVERIFY(status);
        QCOMPARE(text(*panel, "path").count('.'), text(*status, "path").count('.'));
    }

    void startUpTextsAreAnnounced() {
        // Orca speaks for the window in front only: the status line's texts are heard as
        // notifications appearing once the window is there, none before.
        int front = -1;
        const QList<Node> events = heard();
        for (int i = 0; front < 0 && i < events.size(); ++i) {
            const QString type = text(events[i], "type");
            if (text(events[i], "name") == "Vestrahal Launcher" &&
                (type.startsWith("window:activate") ||
                 (type.startsWith("object:state-changed:active") &&
                  events[i].value("detail1").toInt() == 1)))
                front = i;
        }
        QVERIFY(front >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(heardIndexOf("object:state-changed:showing", kReady, front) >= 0,
                                 kTimeout);
        const QList<Node> all = heard();
        for (int i = 0; i < front; ++i) {
            const bool notification =
                text(all[i], "role") == "notification" &&
                text(all[i], "type").startsWith("object:state-changed:showing");
            QVERIFY2(!notification, qPrintable("told before the window: " + text(all[i], "name")));
        }
        const Node announced =
            heard().at(heardIndexOf("object:state-changed:showing", kReady, front));
        QCOMPARE(text(announced, "role"), QString("notification"));
    }

    void onlyTheLaunchersWindowIsListed() {
        QStringList windows;
        for (const Node& node : tree()) {
            if (node.value("depth").toInt() == 1)
                windows << text(node, "role") + ":" + text(node, "name");
        }
        QCOMPARE(windows, QStringList{"frame:Vestrahal Launcher"});
    }

    void personalRealmHostIsShownAndSaid() {
        const QString host = QString::fromLatin1(logon.hostText());
        const QList<Node> nodes = windowNodes(tree());
        QVERIFY(find(nodes, "label", "Royaume 1 : " + host));
        QVERIFY(find(nodes, "label", "Royaume 2"));
        const auto change = find(nodes, "push button", "Modifier le royaume 1");
        QVERIFY(change);
        QCOMPARE(text(*change, "description"), host);
    }

    void closingTheOptionsMovesTheFocusOnce_data() {
        QTest::addColumn<bool>("escape");
        QTest::newRow("save button") << false;
        QTest::newRow("escape key") << true;
    }
    void closingTheOptionsMovesTheFocusOnce() {
        QFETCH(bool, escape);
        QVERIFY(press("Options"));
        QTRY_VERIFY_WITH_TIMEOUT(
            [this] {
                const auto panel = find(windowNodes(tree()), "panel", "Options du launcher");
                return panel && panel->value("showing").toBool();
            }(),
            kTimeout);
        // The panel takes the focus as it opens.
        QTRY_VERIFY_WITH_TIMEOUT(
            heardIndexOf("object:state-changed:focused", "Modifier le chemin WoTLK") >= 0,
            kTimeout);
        const int closing = int(heard().size());
        QVERIFY(escape ? key("Escape") : press("Sauvegarder les options"));
        QTRY_VERIFY_WITH_TIMEOUT(
            heardIndexOf("object:state-changed:focused", "Options", closing) >= 0, kTimeout);
        // Every focus move of the closing came before the next thing the launcher is asked.
        // A realm not checked yet: its check is heard.
        const QString markerRealm = escape ? "Brontavale" : "Royaumes Officiels";
        QVERIFY(press(markerRealm));
        int marker = -1;
        QTRY_VERIFY_WITH_TIMEOUT(
            (marker = heardIndexOf("object:state-changed:checked", markerRealm, closing)) >= 0,
            kTimeout);
        QStringList moves;
        const QList<Node> all = heard();
        for (int i = closing; i < marker; ++i) {
            if (text(all[i], "type").startsWith("object:state-changed:focused") &&
                all[i].value("detail1").toInt() == 1)
                moves << text(all[i], "name");
        }
        QCOMPARE(moves, QStringList{"Options"});
        const auto panel = find(windowNodes(tree()), "panel", "Options du launcher");
        QVERIFY(panel && !panel->value("showing").toBool());
    }

    void realmChosenStaysAfterSaving() {
        const int before = int(heard().size());
        QVERIFY(press("Royaumes Officiels"));
        QTRY_VERIFY_WITH_TIMEOUT(
            heardIndexOf("object:state-changed:checked", "Royaumes Officiels", before) >= 0,
            kTimeout);
        QVERIFY(press("Options"));
        QTRY_VERIFY_WITH_TIMEOUT(
            heardIndexOf("object:state-changed:focused", "Modifier le chemin WoTLK", before) >= 0,
            kTimeout);
        QVERIFY(press("Sauvegarder les options"));
        QTRY_VERIFY_WITH_TIMEOUT(
            heardIndexOf("object:state-changed:focused", "Options", before) >= 0, kTimeout);
        const auto chosen = find(windowNodes(tree()), "radio button", "Royaumes Officiels");
        QVERIFY(chosen && chosen->value("checked").toBool());
    }

    void tabIntoTheNewsSaysItsFirstLink() {
        QVERIFY(grabFocus("Options"));
        QTRY_VERIFY_WITH_TIMEOUT(
            [this] {
                const auto options = find(windowNodes(tree()), "push button", "Options");
                return options && options->value("focused").toBool();
            }(),
            kTimeout);
        const int tab = int(heard().size());
        QVERIFY(key("Tab"));
        QTRY_VERIFY_WITH_TIMEOUT(heardIndexOf("object:state-changed:focused", kFirstLink, tab) >= 0,
                                 kTimeout);
        // Every focus move of the Tab came before the next thing the launcher is asked.
        const int marker = int(heard().size());
        QVERIFY(press("Brontavale"));
        QTRY_VERIFY_WITH_TIMEOUT(
            heardIndexOf("object:state-changed:checked", "Brontavale", marker) >= 0, kTimeout);
        const QStringList moves =
            focusMoves(tab, heardIndexOf("object:state-changed:checked", "Brontavale", marker));
        QVERIFY(!moves.isEmpty());
        QCOMPARE(moves.last(), "link:" + kFirstLink);
        QVERIFY2(moves.filter("document web").isEmpty(), qPrintable(moves.join(", ")));
    }

    void escapeInAPageShownInPlaceGoesBackToItsLink() {
        // On the first link (see the test before), which shows its article in place.
        const int opened = int(heard().size());
        QVERIFY(key("Return"));
        int shown = -1;
        QTRY_VERIFY_WITH_TIMEOUT(
            (shown = heardIndexOf("object:state-changed:focused", kWayBack, opened)) >= 0,
            kTimeout);
        // Straight into the page: nothing of the hidden window between.
        QCOMPARE(focusMoves(opened, shown + 1), QStringList{"link:" + kWayBack});
        QVERIFY(key("Escape"));
        int back = -1;
        QTRY_VERIFY_WITH_TIMEOUT(
            (back = heardIndexOf("object:state-changed:focused", kFirstLink, shown)) >= 0,
            kTimeout);
        QCOMPARE(focusMoves(shown + 1, back + 1), QStringList{"link:" + kFirstLink});
    }

    void statusLineChangeIsAnnounced() {
        // "Jouer" on a client folder that cannot take a realmlist (no Data/frFR): the status
        // line says so.
        const int before = int(heard().size());
        QVERIFY(press("Jouer"));
        QTRY_VERIFY_WITH_TIMEOUT(
            heardIndexOf("object:state-changed:showing", kRealmlistFailed, before) >= 0, kTimeout);
        const auto status = find(windowNodes(tree()), "notification", kRealmlistFailed);
        QVERIFY(status && status->value("showing").toBool());
    }

    // Settings that cannot be saved are told in a box a screen reader reads as an alert, over
    // the options panel, with what could not be written and where.
    void failedSaveIsAnAlert() {
        // A folder stands where the file goes.
        QVERIFY(QFile::rename(folder.filePath("launcher.conf"), folder.filePath("launcher.old")));
        QVERIFY(QDir(folder.path()).mkdir("launcher.conf"));
        QVERIFY(press("Options"));
        QTRY_VERIFY_WITH_TIMEOUT(
            [this] {
                const auto panel = find(windowNodes(tree()), "panel", "Options du launcher");
                return panel && panel->value("showing").toBool();
            }(),
            kTimeout);
        QVERIFY(press("Sauvegarder les options"));
        QTRY_VERIFY_WITH_TIMEOUT(
            alertSays(QString::fromUtf8("Réglages non enregistrés"),
                      QString::fromUtf8("Les réglages n'ont pas pu être enregistrés dans le "
                                        "fichier ") +
                          folder.filePath("launcher.conf")),
            kTimeout);
        QVERIFY(press("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(
            !find(tree(), "alert", QString::fromUtf8("Réglages non enregistrés")), kTimeout);
    }

private:
    QProcessEnvironment session;
    DesktopSession desktop;
    QProcess listener, launcher;
    QList<Node> events;
    QByteArray pendingLine;
    QTemporaryDir folder;
    CommunityServer server;
    LogonListener logon;
};

QTEST_GUILESS_MAIN(ScreenReaderTest)
#include "tst_screenreader.moc"
