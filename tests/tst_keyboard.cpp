// The window from the keyboard, the news menu and the texts cut to fit, through what a player
// and a screen reader reach: widgets by their names, real key and mouse events, public signals.
#include "elidedtext.h"
#include "logonlistener.h"
#include "mainwindow.h"
#include "realmstatus.h"
#include "testfiles.h"
#include "testsupport.h"
#include "windowsupport.h"

#include <QAccessible>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolTip>
#include <QWebEngineView>

#include <memory>
#include <optional>

namespace {

constexpr int kTimeout = 30000;
const char* const kRealmNames[] = {"radioButton",   "radioButton_2", "radioButton_3",
                                   "radioButton_4", "radioButton_5", "radioButton_6"};

// Both clients, every personal realm: all six buttons shown. Version 1.0, which the test's
// server says is current.
QByteArray allRealms() {
    return "1\n/nulle/part/wotlk\n1\n/nulle/part/cata\n0\nun.fr|1\ndeux.fr|0\ntrois.fr|1\n1.0\n";
}

QVariant evaluate(QWebEnginePage* page, const QString& script) {
    auto result = std::make_shared<std::optional<QVariant>>();
    page->runJavaScript(script, [result](const QVariant& value) { *result = value; });
    if (!QTest::qWaitFor([&result] { return result->has_value(); }, kTimeout))
        return QVariant();
    return result->value_or(QVariant());
}

QPoint centreOf(QWebEngineView* view, const char* id) {
    const QVariantList xy =
        evaluate(view->page(),
                 QStringLiteral("(function() { const r = document.getElementById('%1')"
                                ".getBoundingClientRect(); return [r.left + r.width / 2, "
                                "r.top + r.height / 2]; })()")
                     .arg(id))
            .toList();
    if (xy.size() != 2)
        return QPoint(-1, -1);
    return QPoint(int(xy.at(0).toDouble()), int(xy.at(1).toDouble()));
}

QString accessibleName(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QStringLiteral("(none)");
}

} // namespace

class KeyboardTest : public QObject {
    Q_OBJECT

    template <typename T> static T* child(QWidget& window, const char* name) {
        T* widget = window.findChild<T*>(QString::fromLatin1(name));
        if (!widget)
            qWarning("no %s", name);
        return widget;
    }
    static QWebEngineView* news(QWidget& window) { return child<QWebEngineView>(window, "Web"); }

    // Shown, in front, the news loaded and the version found current.
    void ready(MainWindow& window) {
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QPushButton* play = child<QPushButton>(window, "Jouer");
        QVERIFY(play);
        QTRY_VERIFY_WITH_TIMEOUT(play->isEnabled(), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(news(window)->isVisible(), kTimeout);
    }

    // Gives the page the keyboard, on one of its links.
    void focusLink(MainWindow& window, const char* id) {
        QWebEngineView* view = news(window);
        view->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY_WITH_TIMEOUT(view->focusProxy() && view->focusProxy()->hasFocus(), kTimeout);
        // The page may still be building itself: asked until the link is there.
        QTRY_COMPARE_WITH_TIMEOUT(
            evaluate(view->page(), QStringLiteral("(function() { const link = "
                                                  "document.getElementById('%1'); if (link) "
                                                  "link.focus(); return document.activeElement ? "
                                                  "document.activeElement.id : ''; })()")
                                       .arg(id))
                .toString(),
            QString::fromLatin1(id), kTimeout);
    }

    // The page's focused element, by its id.
    QString activeElement(MainWindow& window) {
        return evaluate(news(window)->page(),
                        QStringLiteral("document.activeElement ? document.activeElement.id : ''"))
            .toString();
    }

    // A page shown in place, its controls hidden, the page on screen.
    void showInPlace(MainWindow& window) {
        QSignalSpy loaded(news(window)->page(), &QWebEnginePage::loadFinished);
        // Clicked once, as soon as the page has built the link.
        QTRY_VERIFY_WITH_TIMEOUT(
            evaluate(news(window)->page(),
                     QStringLiteral("(function() { const link = "
                                    "document.getElementById('ex-saison'); if (!link) return "
                                    "false; link.click(); return true; })()"))
                .toBool(),
            kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(window, "Jouer")->isHidden(), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(news(window)->isVisible() &&
                                     news(window)->url().path().endsWith("ex_saison.php"),
                                 kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), kTimeout);
    }

private slots:
    void initTestCase() {
        routeThroughCommunityServer(server);
        for (const char* scheme : {"http", "https", "mailto"})
            QDesktopServices::setUrlHandler(scheme, &browser, "open");
    }
    void init() {
        dir.reset(new QTemporaryDir);
        QVERIFY(QDir::setCurrent(dir->path()));
        browser.opened.clear();
        server.setReply("/launcher/version.php", {200, "text/plain", "1.0"});
        writeFile("launcher.conf", allRealms());
    }
    void cleanup() {
        server.clearReplies();
        QDir::setCurrent(QDir::tempPath());
    }

    // ---- Return and Space ----
    void returnDoesWhatTheFocusedControlDoes_data() {
        QTest::addColumn<QString>("focus"); // an object name, or "link:" and a link of the page
        QTest::addColumn<int>("plays");
        QTest::addColumn<bool>("optionsOpen");
        QTest::addColumn<bool>("inPlace");
        QTest::addColumn<QString>("browserOpens");
        QTest::newRow("checked realm") << "radioButton" << 1 << false << false << "";
        QTest::newRow("another realm") << "radioButton_5" << 1 << false << false << "";
        QTest::newRow("play button") << "Jouer" << 1 << false << false << "";
        QTest::newRow("options button") << "Options" << 0 << true << false << "";
        QTest::newRow("news link shown in place") << "link:ex-saison" << 0 << false << true << "";
        QTest::newRow("news link to the browser")
            << "link:forum" << 0 << false << false << "/forum/";
    }
    void returnDoesWhatTheFocusedControlDoes() {
        QFETCH(QString, focus);
        MainWindow window;
        ready(window);
        QPushButton* play = child<QPushButton>(window, "Jouer");
        QSignalSpy played(play, &QPushButton::clicked);
        QWidget* target = nullptr;
        if (focus.startsWith("link:")) {
            focusLink(window, qPrintable(focus.mid(5)));
            target = news(window)->focusProxy();
        } else {
            target = child<QWidget>(window, qPrintable(focus));
            target->setFocus(Qt::TabFocusReason);
        }
        QVERIFY(target && target->hasFocus());
        QTest::keyClick(target, Qt::Key_Return);
        QFETCH(bool, inPlace);
        QFETCH(QString, browserOpens);
        if (inPlace)
            QTRY_VERIFY_WITH_TIMEOUT(play->isHidden(), kTimeout);
        if (!browserOpens.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(browser.opened.size(), 1, kTimeout);
            QCOMPARE(browser.opened.first().path(), browserOpens);
        }
        QTEST(int(played.size()), "plays");
        // Return on a realm plays that realm: it is the checked one when "Jouer" is pressed.
        if (auto* realm = qobject_cast<QRadioButton*>(target))
            QVERIFY(realm->isChecked());
        QTEST(child<QWidget>(window, "OptionsMenu")->isVisible(), "optionsOpen");
        QCOMPARE(play->isHidden(), inPlace);
        if (browserOpens.isEmpty())
            QVERIFY(browser.opened.isEmpty());
    }

    void optionsCloseAsSavingDoes_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("escape") << "escape";
        QTest::newRow("click beside the panel") << "click";
        QTest::newRow("right click on the panel leaves it open") << "right click";
    }
    void optionsCloseAsSavingDoes() {
        QFETCH(QString, how);
        MainWindow window;
        ready(window);
        QWidget* options = child<QWidget>(window, "Options");
        QWidget* panel = child<QWidget>(window, "OptionsMenu");
        options->setFocus(Qt::TabFocusReason);
        QTest::keyClick(options, Qt::Key_Space);
        QVERIFY(panel->isVisible());
        // A change made in the panel, which closing it saves.
        child<QCheckBox>(window, "checkBox_Realm2")->setChecked(true);
        QVERIFY(QFile::remove("launcher.conf"));
        if (how == "escape")
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        else if (how == "click")
            QTest::mouseClick(child<QWidget>(window, "Fading"), Qt::LeftButton, {}, QPoint(50, 50));
        else
            QTest::mouseClick(panel, Qt::RightButton, {}, QPoint(20, 20));
        const bool closed = how != "right click";
        QCOMPARE(panel->isVisible(), !closed);
        QCOMPARE(child<QWidget>(window, "Fading")->isVisible(), !closed);
        QCOMPARE(QFile::exists("launcher.conf"), closed);
        if (closed)
            QCOMPARE(QApplication::focusWidget(), options);
    }

    void spaceOnTheOptionsButtonOpensThem() {
        MainWindow window;
        ready(window);
        QWidget* options = child<QWidget>(window, "Options");
        options->setFocus(Qt::TabFocusReason);
        QTest::keyClick(options, Qt::Key_Space);
        QVERIFY(child<QWidget>(window, "OptionsMenu")->isVisible());
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("ModifierCheminWoTLK"));
    }

    // ---- A page shown in place ----
    void wayBackFromAPageShownInPlace_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("onTheLink");
        QTest::newRow("escape in the page") << int(Qt::Key_Escape) << false;
        QTest::newRow("return on the way back link") << int(Qt::Key_Return) << true;
    }
    void wayBackFromAPageShownInPlace() {
        QFETCH(int, key);
        QFETCH(bool, onTheLink);
        MainWindow window;
        ready(window);
        showInPlace(window);
        if (onTheLink) {
            focusLink(window, "home");
        } else {
            news(window)->setFocus(Qt::TabFocusReason);
            QTRY_VERIFY_WITH_TIMEOUT(news(window)->focusProxy()->hasFocus(), kTimeout);
        }
        QTest::keyClick(news(window)->focusProxy(), Qt::Key(key));
        QTRY_VERIFY_WITH_TIMEOUT(!child<QWidget>(window, "Jouer")->isHidden(), kTimeout);
        for (const char* name : {"Options", "Texte", "Chargement", "radioButton", "radioButton_6"})
            QVERIFY2(!child<QWidget>(window, name)->isHidden(), name);
        QTRY_VERIFY_WITH_TIMEOUT(news(window)->isVisible() &&
                                     news(window)->url().path().endsWith("launcher.php"),
                                 kTimeout);
    }

    void pageShownInPlaceHasTheKeyboard() {
        MainWindow window;
        ready(window);
        focusLink(window, "ex-saison");
        QTest::keyClick(news(window)->focusProxy(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(news(window)->isVisible() &&
                                     news(window)->url().path().endsWith("ex_saison.php"),
                                 kTimeout);
        // In the page, on its first control; never on a hidden control of the window.
        QTRY_COMPARE_WITH_TIMEOUT(activeElement(window), QString("home"), kTimeout);
        QVERIFY(news(window)->focusProxy()->hasFocus());
        QTest::keyClick(news(window)->focusProxy(), Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(news(window)->isVisible() &&
                                     news(window)->url().path().endsWith("launcher.php"),
                                 kTimeout);
        // Back on the link that showed the page.
        QTRY_COMPARE_WITH_TIMEOUT(activeElement(window), QString("ex-saison"), kTimeout);
        QVERIFY(news(window)->focusProxy()->hasFocus());
    }

    void escapeOnTheNewsHomeChangesNothing() {
        MainWindow window;
        ready(window);
        QSignalSpy loads(news(window)->page(), &QWebEnginePage::loadStarted);
        QWidget* realm = child<QWidget>(window, "radioButton");
        realm->setFocus(Qt::TabFocusReason);
        QTest::keyClick(realm, Qt::Key_Escape);
        QVERIFY(!child<QWidget>(window, "Jouer")->isHidden());
        QVERIFY(news(window)->isVisible());
        // Nothing was asked of the page: the next load started is the one of this test.
        news(window)->reload();
        QTRY_COMPARE_WITH_TIMEOUT(loads.size(), 1, kTimeout);
    }

    void noFocusRingOverAHiddenControl() {
        MainWindow window;
        ready(window);
        QWidget* realm = child<QWidget>(window, "radioButton");
        realm->setFocus(Qt::TabFocusReason);
        QTest::keyClick(realm, Qt::Key_Right);
        QWidget* ring = child<QWidget>(window, "focusFrame");
        QVERIFY(ring && ring->isVisible());
        QCOMPARE(ring->geometry().size(), QApplication::focusWidget()->size());
        showInPlace(window);
        QVERIFY(!ring->isVisible());
        // Back home, the focus on a control again: the ring with it.
        news(window)->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY_WITH_TIMEOUT(news(window)->focusProxy()->hasFocus(), kTimeout);
        QTest::keyClick(news(window)->focusProxy(), Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!child<QWidget>(window, "Jouer")->isHidden(), kTimeout);
        child<QWidget>(window, "Jouer")->setFocus(Qt::TabFocusReason);
        QVERIFY(ring->isVisible());
    }

    // ---- Arrows ----
    void arrowsGoFromRealmToRealm_data() {
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<QString>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("to");
        const QByteArray all = allRealms();
        QTest::newRow("down to the next column")
            << all << "radioButton_2" << int(Qt::Key_Down) << "radioButton_3";
        QTest::newRow("right to the next")
            << all << "radioButton" << int(Qt::Key_Right) << "radioButton_2";
        QTest::newRow("up to the previous")
            << all << "radioButton_3" << int(Qt::Key_Up) << "radioButton_2";
        QTest::newRow("left to the previous")
            << all << "radioButton_5" << int(Qt::Key_Left) << "radioButton_4";
        QTest::newRow("down from the last wraps")
            << all << "radioButton_6" << int(Qt::Key_Down) << "radioButton";
        QTest::newRow("up from the first wraps")
            << all << "radioButton" << int(Qt::Key_Up) << "radioButton_6";
        const QByteArray gap = "1\n/w\n1\n/c\n0\nun.fr|1\n |0\ntrois.fr|0\n1.0\n";
        QTest::newRow("over a realm not shown")
            << gap << "radioButton_4" << int(Qt::Key_Down) << "radioButton_6";
        const QByteArray wrathOnly = "1\n/w\n0\n\n0\nun.fr|1\ndeux.fr|0\n |0\n1.0\n";
        QTest::newRow("over a client not installed")
            << wrathOnly << "radioButton" << int(Qt::Key_Down) << "radioButton_4";
    }
    void arrowsGoFromRealmToRealm() {
        QFETCH(QByteArray, conf);
        QFETCH(QString, from);
        QFETCH(int, key);
        QFETCH(QString, to);
        writeFile("launcher.conf", conf);
        MainWindow window;
        ready(window);
        auto* start = child<QRadioButton>(window, qPrintable(from));
        start->click();
        start->setFocus(Qt::TabFocusReason);
        QTest::keyClick(start, Qt::Key(key));
        auto* now = qobject_cast<QRadioButton*>(QApplication::focusWidget());
        QVERIFY(now);
        QCOMPARE(now->objectName(), to);
        // The check follows the focus, as with Qt's own radio buttons.
        QVERIFY(now->isChecked());
        QVERIFY(!start->isChecked());
    }

    // ---- The news menu ----
    void newsMenuIsFrenchAndWorks_data() {
        QTest::addColumn<QString>("on");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("opens");
        QTest::newRow("a link") << "forum"
                                << QStringList{"Précédent",
                                               "Suivant",
                                               "Actualiser",
                                               "Copier",
                                               "Copier l'adresse du lien",
                                               "Ouvrir dans le navigateur"}
                                << "/forum/";
        QTest::newRow("the page") << ""
                                  << QStringList{"Précédent", "Suivant", "Actualiser", "Copier",
                                                 "Ouvrir dans le navigateur"}
                                  << "/launcher/launcher.php";
    }
    void newsMenuIsFrenchAndWorks() {
        QFETCH(QString, on);
        QFETCH(QStringList, entries);
        MainWindow window;
        ready(window);
        QWebEngineView* view = news(window);
        const QPoint at = on.isEmpty() ? QPoint(400, 300) : centreOf(view, qPrintable(on));
        QVERIFY(view->rect().contains(at));
        QTest::mouseMove(view->focusProxy(), at);
        QTest::mouseClick(view->focusProxy(), Qt::RightButton, {}, at);
        QMenu* menu = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) != nullptr, kTimeout);
        QStringList shown;
        QAction* browserEntry = nullptr;
        for (QAction* action : menu->actions()) {
            if (action->isSeparator())
                continue;
            shown << action->text();
            if (action->text() == "Ouvrir dans le navigateur")
                browserEntry = action;
        }
        QCOMPARE(shown, entries);
        // A fresh page: nothing to go back or forward to, nothing selected. Greyed, not absent.
        for (QAction* action : menu->actions()) {
            const bool available =
                !QStringList{"Précédent", "Suivant", "Copier"}.contains(action->text());
            if (!action->isSeparator())
                QCOMPARE(action->isEnabled(), available);
        }
        QVERIFY(browserEntry);
        browserEntry->trigger();
        menu->close();
        QCOMPARE(browser.opened.size(), 1);
        QTEST(browser.opened.first().path(), "opens");
    }

    void backInTheMenuBringsTheControlsBack() {
        MainWindow window;
        ready(window);
        showInPlace(window);
        QWebEngineView* view = news(window);
        // A click that reaches the page before it takes input opens nothing: the player clicks
        // again, as the test does until the menu is there.
        QMenu* menu = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                if (!menu) {
                    QTest::mouseMove(view->focusProxy(), QPoint(400, 500));
                    QTest::mouseClick(view->focusProxy(), Qt::RightButton, {}, QPoint(400, 500));
                }
                return menu != nullptr;
            }(),
            kTimeout);
        QAction* back = menu->actions().value(0);
        QVERIFY(back && back->isEnabled());
        QCOMPARE(back->text(), QString("Précédent"));
        back->trigger();
        menu->close();
        // The news home, as a click on its link would have it: the controls shown again.
        QTRY_VERIFY_WITH_TIMEOUT(!child<QWidget>(window, "Jouer")->isHidden(), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(view->isVisible() && view->url().path().endsWith("launcher.php"),
                                 kTimeout);
    }

    // ---- Texts cut to fit ----
    void longFolderPathIsCutInTheMiddle_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("cut");
        QTest::newRow("short") << QByteArray("/jeux") << false;
        QTest::newRow("long") << QByteArray("/home/joueur/Jeux/World of Warcraft/Wrath of the "
                                            "Lich King 3.3.5a/edition collector")
                              << true;
        QTest::newRow("long without spaces")
            << QByteArray("/home/joueur/Jeux/WorldOfWarcraftWrathOfTheLichKingCollector") << true;
    }
    void longFolderPathIsCutInTheMiddle() {
        QFETCH(QByteArray, path);
        QFETCH(bool, cut);
        writeFile("launcher.conf", "1\n" + path + "\n1\n/c\n0\n |0\n |0\n |0\n1.0\n");
        MainWindow window;
        ready(window);
        child<QPushButton>(window, "Options")->click();
        auto* label = child<QLabel>(window, "CheminWoTLK");
        QVERIFY(label->isVisible());
        const QString whole = QString::fromLatin1(path);
        QCOMPARE(label->text(), whole);
        const QString shown = ElidedText::shownText(label);
        QCOMPARE(shown != whole, cut);
        if (cut) {
            QVERIFY2(shown.contains(QChar(0x2026)), qPrintable(shown));
            QVERIFY(shown.startsWith(whole.left(2)));
            QVERIFY(shown.endsWith(whole.right(1)));
            QVERIFY(label->fontMetrics().horizontalAdvance(shown) <= label->contentsRect().width());
        }
        // The whole path for the screen reader, and for the mouse when it is cut.
        QCOMPARE(accessibleName(label), whole);
        QHelpEvent help(QEvent::ToolTip, label->rect().center(),
                        label->mapToGlobal(label->rect().center()));
        QApplication::sendEvent(label, &help);
        QCOMPARE(QToolTip::isVisible() ? QToolTip::text() : QString(), cut ? whole : QString());
        QToolTip::hideText();
    }

    void longPersonalRealmSqueezesNoOtherRealm_data() {
        QTest::addColumn<QByteArray>("hosts");
        QTest::newRow("one long in the middle column")
            << QByteArray("un.royaume.personnel.au.nom.vraiment.tres.long.example.fr|1\n |0\n |0");
        QTest::newRow("two long in the last column")
            << QByteArray("ami.fr|1\nun.royaume.personnel.au.nom.vraiment.tres.long.example.fr|1\n"
                          "autre.royaume.personnel.au.nom.tout.aussi.long.example.fr|0");
    }
    void longPersonalRealmSqueezesNoOtherRealm() {
        QFETCH(QByteArray, hosts);
        writeFile("launcher.conf", "1\n/w\n1\n/c\n0\n" + hosts + "\n1.0\n");
        MainWindow window;
        ready(window);
        QWidget* row = child<QWidget>(window, "horizontalLayoutWidget");
        int cutRealms = 0;
        for (int realm = 0; realm < 6; ++realm) {
            auto* button = child<QRadioButton>(window, kRealmNames[realm]);
            if (button->isHidden())
                continue;
            QVERIFY(row->rect().contains(button->geometry()));
            const QString shown = ElidedText::shownText(button);
            if (realm < 3) {
                // The community's realms keep their whole texts and widths.
                QCOMPARE(shown, button->text());
                QVERIFY2(button->width() >= button->sizeHint().width(), kRealmNames[realm]);
                continue;
            }
            QCOMPARE(accessibleName(button), button->text());
            if (shown == button->text())
                continue;
            ++cutRealms;
            QVERIFY(shown.contains(QChar(0x2026)));
            QHelpEvent help(QEvent::ToolTip, QPoint(30, button->height() / 2),
                            button->mapToGlobal(QPoint(30, button->height() / 2)));
            QApplication::sendEvent(button, &help);
            QVERIFY(QToolTip::isVisible());
            QCOMPARE(QToolTip::text(), button->text());
            QToolTip::hideText();
        }
        QVERIFY(cutRealms >= 1);
    }

    // ---- Realm status ----
    void realmsCheckedAgainWhenTheirAnswerIsOld_data() {
        QTest::addColumn<int>("olderThanMs");
        QTest::addColumn<int>("connections");
        QTest::newRow("answer fresher than the limit") << 60000 << 1;
        QTest::newRow("answer older than the limit") << 0 << 2;
    }
    void realmsCheckedAgainWhenTheirAnswerIsOld() {
        QFETCH(int, olderThanMs);
        LogonListener listener;
        LogonListener marker;
        RealmStatus status;
        status.setHost(0, listener.hostText());
        QTRY_VERIFY_WITH_TIMEOUT(status.state(0) == RealmStatus::State::Answering, kTimeout);
        QCOMPARE(listener.connections, 1);
        status.checkOlderThan(olderThanMs);
        // A second realm checked after it: once it has answered, the first is done too.
        status.setHost(1, marker.hostText());
        QTRY_VERIFY_WITH_TIMEOUT(status.state(1) == RealmStatus::State::Answering, kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!status.isChecking(0), kTimeout);
        QTEST(listener.connections, "connections");
    }

private:
    CommunityServer server;
    UrlRecorder browser;
    std::unique_ptr<QTemporaryDir> dir;
};

QTEST_MAIN(KeyboardTest)
#include "tst_keyboard.moc"
