#include "keyboardnavigation.h"
#include "mainwindow.h"
#include "testfiles.h"
#include "testsupport.h"
#include "translations.h"
#include "windowsupport.h"

#include <QAccessible>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeView>

namespace {} // namespace

class OptionsTest : public QObject {
    Q_OBJECT

    // The server answers the version launcher.conf holds: the launcher is current, and once
    // its news is shown "Jouer" is open.
    void answerCurrent() { server.setReply("/launcher/version.php", {200, "text/plain", "1.0"}); }
    static void readyToPlay(MainWindow& window) {
        QTRY_VERIFY_WITH_TIMEOUT(!ui(window)->Web->isHidden(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(ui(window)->Jouer->isEnabled(), 30000);
    }
    // What launcher.conf holds for a client once the options are saved: whether it is used, and
    // its folder.
    static QPair<bool, QString> savedClient(MainWindow& window, bool wrath) {
        ui(window)->SauvegarderOptions->click();
        const QList<QByteArray> lines = readTextFile("launcher.conf").split('\n');
        return {lines.value(wrath ? 0 : 2) == "1", QString::fromUtf8(lines.value(wrath ? 1 : 3))};
    }
    static void showActive(MainWindow& window) {
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }

    // Plays the player's part: each step answers one dialog, in the order they open, and notes
    // what the dialog was ("folder", or a question's title and text).
    void script(MainWindow& window, const QStringList& steps, QStringList& seen) {
        for (const QString& step : steps) {
            dialogs->then([this, &window, &seen, step](QWidget* widget) {
                if (auto* files = qobject_cast<QFileDialog*>(widget)) {
                    seen << "folder";
                    QCOMPARE(files->parentWidget(), &window);
                    QCOMPARE(files->fileMode(), QFileDialog::Directory);
                    QVERIFY(files->testOption(QFileDialog::ShowDirsOnly));
                    if (step == "cancel") {
                        files->reject();
                    } else {
                        files->setDirectory(games + "/" + step);
                        static_cast<QDialog*>(files)->accept();
                    }
                } else if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                    seen << box->windowTitle() + ": " + box->text();
                    QCOMPARE(box->parentWidget(), &window);
                    if (step == "ok") {
                        QCOMPARE(box->standardButtons(), QMessageBox::Ok);
                        box->button(QMessageBox::Ok)->click();
                        return;
                    }
                    QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
                    QVERIFY(!box->defaultButton());
                    // Qt's own words are French like the question.
                    QCOMPARE(box->button(QMessageBox::Yes)->text().remove('&'), QString("Oui"));
                    QCOMPARE(box->button(QMessageBox::No)->text().remove('&'), QString("Non"));
                    if (step == "close")
                        box->reject();
                    else
                        box->button(step == "yes" ? QMessageBox::Yes : QMessageBox::No)->click();
                }
            });
        }
    }

private slots:
    void initTestCase() {
        // As the program does at start-up.
        QVERIFY(translations::installQtFrench(*qApp) > 0);
        routeThroughCommunityServer(server);
        server.setReply("/launcher/version.php",
                        {200, "text/plain", {}, CommunityServer::Reply::Silent});
    }

    void init() {
        server.setReply("/launcher/version.php",
                        {200, "text/plain", {}, CommunityServer::Reply::Silent});
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
        games = dir->path() + "/jeux";
        writeFile(games + "/officiel/Wow.exe", "client");
        writeFile(games + "/officiel/kvf.vestrahal", "");
        writeFile(games + "/perso/Wow.exe", "client");
        QVERIFY(QDir().mkpath(games + "/vide"));
        for (const char* name : {"Cœur", "Мир", "ligne\ncoupée"})
            QVERIFY(QDir().mkpath(games + "/" + QString::fromUtf8(name)));
        launcher = dir->path() + "/launcher";
        QVERIFY(QDir().mkpath(launcher));
        QVERIFY(QDir::setCurrent(launcher));
        writeFile("launcher.conf", "1\n/ancien/wotlk\n1\n/ancien/cata\n0\n |0\n |0\n |0\n1.0\n");
        dialogs.reset(new DialogScript);
    }
    void cleanup() {
        QCOMPARE(dialogs->unexpected(), 0);
        dialogs.reset();
        QDir::setCurrent(QDir::tempPath());
    }

    void panelOpensAndSavingClosesIt() {
        MainWindow window;
        QVERIFY(ui(window)->Fading->isHidden());
        ui(window)->Options->click();
        QVERIFY(!ui(window)->Fading->isHidden());
        QVERIFY(!ui(window)->OptionsMenu->isHidden());
        ui(window)->SauvegarderOptions->click();
        QVERIFY(ui(window)->Fading->isHidden());
        QVERIFY(ui(window)->OptionsMenu->isHidden());
    }

    void choosingAFolder_data() {
        QTest::addColumn<bool>("wrath");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("seen");
        QTest::addColumn<QString>("folder"); // empty: given up
        const QString ownWrath =
            QString::fromUtf8("Jeu existant: Êtes-vous sûr d'utiliser votre version de WoTLK ?");
        const QString ownCata = QString::fromUtf8(
            "Jeu existant: Êtes-vous sûr d'utiliser votre version de Cataclysme ?");
        const QString noWrath =
            QString::fromUtf8("Pas de dossier: Êtes-vous sûr de ne pas utiliser WoTLK ?");
        const QString noCata =
            QString::fromUtf8("Pas de dossier: Êtes-vous sûr de ne pas utiliser Cataclysme ?");
        const QString refused = QString::fromUtf8(
            "Dossier non valide: Ce dossier ne peut pas être enregistré : son chemin ne doit "
            "contenir que des lettres de l'alphabet latin (sans « œ » ni autre alphabet), et ni "
            "retour à la ligne ni caractère de contrôle.\n\nVeuillez choisir un autre dossier.");
        // launcher.conf would store these with "?" or cut in two, and lose them at the next start.
        for (const char* name : {"Cœur", "Мир", "ligne\ncoupée"}) {
            QTest::addRow("Wrath: %s refused, asked again", name)
                << true << QStringList{QString::fromUtf8(name), "ok", "vide"}
                << QStringList{"folder", refused, "folder"} << "vide";
        }
        QTest::newRow("Cataclysm: Cœur refused, given up")
            << false << QStringList{QString::fromUtf8("Cœur"), "ok", "cancel", "yes"}
            << QStringList{"folder", refused, "folder", noCata} << "";
        for (const bool wrath : {true, false}) {
            const char* client = wrath ? "Wrath" : "Cataclysm";
            const QString own = wrath ? ownWrath : ownCata;
            const QString none = wrath ? noWrath : noCata;
            QTest::addRow("%s: community package, no question", client)
                << wrath << QStringList{"officiel"} << QStringList{"folder"} << "officiel";
            QTest::addRow("%s: empty folder, no question", client)
                << wrath << QStringList{"vide"} << QStringList{"folder"} << "vide";
            QTest::addRow("%s: own game confirmed", client)
                << wrath << QStringList{"perso", "yes"} << QStringList{"folder", own} << "perso";
            QTest::addRow("%s: own game refused, another folder", client)
                << wrath << QStringList{"perso", "no", "officiel"}
                << QStringList{"folder", own, "folder"} << "officiel";
            QTest::addRow("%s: own game box closed counts as no", client)
                << wrath << QStringList{"perso", "close", "vide"}
                << QStringList{"folder", own, "folder"} << "vide";
            QTest::addRow("%s: cancelled, then given up", client)
                << wrath << QStringList{"cancel", "yes"} << QStringList{"folder", none} << "";
            QTest::addRow("%s: cancelled, not given up, dialog again", client)
                << wrath << QStringList{"cancel", "no", "cancel", "no", "vide"}
                << QStringList{"folder", none, "folder", none, "folder"} << "vide";
        }
    }
    void choosingAFolder() {
        QFETCH(bool, wrath);
        QFETCH(QStringList, steps);
        QFETCH(QString, folder);
        answerCurrent();
        MainWindow window;
        readyToPlay(window);
        // A press of "Jouer" that cannot start the game (no such folder) shuts the gate.
        ui(window)->Jouer->click();
        QVERIFY(!ui(window)->Jouer->isEnabled());
        const QByteArray stored = readTextFile("launcher.conf");
        QStringList seen;
        script(window, steps, seen);
        (wrath ? ui(window)->ModifierCheminWoTLK : ui(window)->ModifierCheminCata)->click();
        QTEST(seen, "seen");
        QCOMPARE(dialogs->answered(), steps.size());

        // A build that keeps the game files first asks the site whether it offers its client for
        // a folder without the game: the folder is taken once the answer (none here) has come.
        const QLabel* label = wrath ? ui(window)->CheminWoTLK : ui(window)->CheminCata;
        if (folder.isEmpty()) {
            QCOMPARE(label->text(), QString("Pas de dossier"));
            QVERIFY(!ui(window)->Jouer->isEnabled());
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(label->text(), games + "/" + folder, 30000);
            // A chosen folder opens the way to play again.
            QVERIFY(ui(window)->Jouer->isEnabled());
        }
        // The file is untouched until the player saves; then it holds the choice, and the other
        // client as it was.
        QCOMPARE(readTextFile("launcher.conf"), stored);
        const auto chosen = savedClient(window, wrath);
        QCOMPARE(chosen.first, !folder.isEmpty());
        QCOMPARE(chosen.second, folder.isEmpty() ? QString() : games + "/" + folder);
        QCOMPARE(savedClient(window, !wrath).second,
                 QString(wrath ? "/ancien/cata" : "/ancien/wotlk"));
    }

    void givingUpAClient_data() {
        QTest::addColumn<bool>("wrath");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("question");
        const QString wrath = QString::fromUtf8(
            "Confirmation: Êtes-vous sûr de ne pas utiliser Wrath of the Lich King ?");
        const QString cata =
            QString::fromUtf8("Pas de dossier: Êtes-vous sûr de ne pas utiliser Cataclysme ?");
        QTest::newRow("Wrath, yes") << true << "yes" << wrath;
        QTest::newRow("Wrath, no") << true << "no" << wrath;
        QTest::newRow("Cataclysm, yes") << false << "yes" << cata;
        QTest::newRow("Cataclysm, box closed") << false << "close" << cata;
    }
    void givingUpAClient() {
        QFETCH(bool, wrath);
        QFETCH(QString, answer);
        MainWindow window;
        ui(window)->Jouer->setEnabled(true);
        const QByteArray stored = readTextFile("launcher.conf");
        QStringList seen;
        script(window, {answer}, seen);
        (wrath ? ui(window)->DeleteCheminWoTLK : ui(window)->DeleteCheminCata)->click();
        QFETCH(QString, question);
        QCOMPARE(seen, QStringList{question});
        const bool givenUp = answer == "yes";
        const QString label = (wrath ? ui(window)->CheminWoTLK : ui(window)->CheminCata)->text();
        QCOMPARE(label, givenUp ? QString("Pas de dossier")
                                : QString(wrath ? "/ancien/wotlk" : "/ancien/cata"));
        // Neither saved nor judged by the gate yet.
        QCOMPARE(readTextFile("launcher.conf"), stored);
        QVERIFY(ui(window)->Jouer->isEnabled());
        const auto kept = savedClient(window, wrath);
        QCOMPARE(kept.first, !givenUp);
        QCOMPARE(kept.second.isEmpty(), givenUp);
    }

    void savingWritesTheChoicesAndRefreshes() {
        writeFile("launcher.conf", "0\n\n0\n\n0\n |0\n |0\n |0\n1.0\n");
        MainWindow window;
        QVERIFY(ui(window)->realms()[0]->isHidden());
        QStringList seen;
        script(window, {"officiel", "yes"}, seen);
        ui(window)->ModifierCheminWoTLK->click();
        ui(window)->DeleteCheminCata->click();
        ui(window)->SauvegarderOptions->click();
        QCOMPARE(readTextFile("launcher.conf"),
                 "1\n" + (games + "/officiel").toUtf8() + "\n0\n\n0\n |0\n |0\n |0\n1.0\n");
        QVERIFY(!ui(window)->realms()[0]->isHidden());
        QVERIFY(ui(window)->realms()[1]->isHidden());
        // The given-up folder shows as the stored, empty, folder now.
        QCOMPARE(ui(window)->CheminCata->text(), QString());
    }

    void savingKeepsTheRealmChosen_data() {
        QTest::addColumn<bool>("giveUpCataclysm");
        QTest::addColumn<QString>("checked");
        QTest::newRow("chosen realm still shown") << false << "radioButton_3";
        QTest::newRow("chosen realm gone: the last played") << true << "radioButton";
    }
    void savingKeepsTheRealmChosen() {
        QFETCH(bool, giveUpCataclysm);
        MainWindow window;
        showActive(window);
        QTest::mouseClick(ui(window)->radioButton_3, Qt::LeftButton);
        QVERIFY(ui(window)->radioButton_3->isChecked());
        ui(window)->Options->click();
        if (giveUpCataclysm) {
            QStringList seen;
            script(window, {"yes"}, seen);
            ui(window)->DeleteCheminCata->click();
        }
        ui(window)->SauvegarderOptions->click();
        QFETCH(QString, checked);
        auto* now = window.findChild<QRadioButton*>(checked);
        QVERIFY(now->isChecked());
        // Where the focus is on a realm, it is on the one "Jouer" plays.
        if (auto* focused = qobject_cast<QRadioButton*>(window.focusWidget()))
            QCOMPARE(focused, now);
    }

    // launcher.conf cannot be written (a folder stands in its place): the player is told what
    // and where, over the panel; the choices hold and "Jouer" stays open. Told once, and again
    // after a save that succeeded.
    void failedSaveIsToldAndPlayGoesOn() {
        answerCurrent();
        writeFile("launcher.conf", "0\n\n1\n/ancien/cata\n1\n |0\n |0\n |0\n1.0\n");
        MainWindow window;
        readyToPlay(window);
        QVERIFY(QFile::remove("launcher.conf"));
        QVERIFY(QDir().mkdir("launcher.conf"));
        QStringList seen;
        QString told;
        script(window, {"officiel"}, seen);
        dialogs->then([&](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            QVERIFY(box);
            // Over the options panel, in front of the player.
            QCOMPARE(box->parentWidget(), &window);
            told = box->windowTitle() + ": " + box->text();
            box->button(QMessageBox::Ok)->click();
        });
        ui(window)->Options->click();
        ui(window)->ModifierCheminWoTLK->click();
        ui(window)->SauvegarderOptions->click();
        QTRY_COMPARE_WITH_TIMEOUT(dialogs->answered(), 2, 30000);
        QCOMPARE(told, QString::fromUtf8("Réglages non enregistrés: Les réglages n'ont pas pu être "
                                         "enregistrés dans le fichier ") +
                           QDir::toNativeSeparators(launcher + "/launcher.conf") +
                           QString::fromUtf8(" : un dossier ou un autre objet porte déjà le nom "
                                             "launcher.conf.\n\nVos choix restent valables "
                                             "jusqu'à la fermeture du launcher."));
        QVERIFY(ui(window)->OptionsMenu->isHidden());
        QVERIFY(ui(window)->Jouer->isEnabled());
        // The chosen client is played with: its realm is offered.
        QVERIFY(!ui(window)->radioButton->isHidden());
        QCOMPARE(ui(window)->CheminWoTLK->text(), games + "/officiel");

        // Said already: the same failure again is not said twice.
        ui(window)->Options->click();
        ui(window)->SauvegarderOptions->click();
        QVERIFY(ui(window)->Jouer->isEnabled());
        // Writable again: saved, and the next failure is told anew.
        QVERIFY(QDir().rmdir("launcher.conf"));
        ui(window)->Options->click();
        ui(window)->SauvegarderOptions->click();
        QCOMPARE(readTextFile("launcher.conf").split('\n').value(1),
                 (games + "/officiel").toUtf8());
        QVERIFY(QFile::remove("launcher.conf"));
        QVERIFY(QDir().mkdir("launcher.conf"));
        dialogs->then([](QWidget* widget) { static_cast<QDialog*>(widget)->accept(); });
        ui(window)->Options->click();
        ui(window)->SauvegarderOptions->click();
        QTRY_COMPARE_WITH_TIMEOUT(dialogs->answered(), 3, 30000);
        QVERIFY(ui(window)->Jouer->isEnabled());
    }

    // The folder dialog speaks French, its list of folders included (Qt 6.4's catalogue has no
    // word for a folder's type there).
    void folderDialogIsFrench() {
        MainWindow window;
        QStringList texts;
        dialogs->then([&](QWidget* widget) {
            auto* files = qobject_cast<QFileDialog*>(widget);
            QVERIFY(files);
            files->setDirectory(games);
            auto* list = files->findChild<QTreeView*>("treeView");
            QVERIFY(list);
            QAbstractItemModel* model = list->model();
            QModelIndex officiel;
            QTRY_VERIFY_WITH_TIMEOUT(
                (officiel = model
                                ->match(model->index(0, 0, list->rootIndex()), Qt::DisplayRole,
                                        "officiel", 1, Qt::MatchExactly)
                                .value(0))
                    .isValid(),
                30000);
            texts << model->index(officiel.row(), 2, officiel.parent()).data().toString();
            for (int column = 0; column < model->columnCount(list->rootIndex()); ++column)
                texts << model->headerData(column, Qt::Horizontal).toString();
            for (const char* name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
                texts << files->findChild<QLabel*>(name)->text();
            for (QAbstractButton* button :
                 files->findChildren<QDialogButtonBox*>().value(0)->buttons())
                texts << button->text().remove('&');
            texts << files->windowTitle();
            files->reject();
        });
        dialogs->then([](QWidget* widget) {
            qobject_cast<QMessageBox*>(widget)->button(QMessageBox::Yes)->click();
        });
        ui(window)->ModifierCheminWoTLK->click();
        QCOMPARE(texts, QStringList({"Dossier", "Nom", "Taille", "Type",
                                     QString::fromUtf8("Dernière modification"),
                                     "Voir dans :", "Dossier :", "Fichiers de type :", "Choisir",
                                     "Annuler", "Chercher dans le dossier"}));
    }

    // ---- The keyboard alone ----
    void keyboardStartsOnTheCheckedRealm_data() {
        QTest::addColumn<QByteArray>("selected");
        QTest::addColumn<QString>("focused");
        QTest::newRow("own realms") << QByteArray("0") << "radioButton";
        QTest::newRow("partner realms") << QByteArray("2") << "radioButton_3";
        QTest::newRow("a personal realm not shown") << QByteArray("4") << "radioButton";
    }
    void keyboardStartsOnTheCheckedRealm() {
        QFETCH(QByteArray, selected);
        QFETCH(QString, focused);
        writeFile("launcher.conf",
                  "1\n/ancien/wotlk\n1\n/ancien/cata\n" + selected + "\n |0\n |0\n |0\n1.0\n");
        MainWindow window;
        showActive(window);
        QVERIFY(QApplication::focusWidget());
        QCOMPARE(QApplication::focusWidget()->objectName(), focused);
        // What a screen reader says of the focused realm is what "Jouer" plays.
        QVERIFY(qobject_cast<QRadioButton*>(QApplication::focusWidget())->isChecked());
    }

    void tabGoesRealmsPlayOptionsNews() {
        answerCurrent();
        MainWindow window;
        readyToPlay(window);
        showActive(window);
        QTRY_VERIFY_WITH_TIMEOUT(!ui(window)->Web->isHidden(), 30000);
        QStringList order{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* now = QApplication::focusWidget();
            order << (ui(window)->Web->isAncestorOf(now) ? QString("Web") : now->objectName());
        }
        // The realms are one stop, at the checked one; the arrows move between them.
        QCOMPARE(order, QStringList({"radioButton", "Jouer", "Options", "Web"}));
        // Back from the options button (in the page, Tab goes through the page's links).
        ui(window)->Options->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), ui(window)->radioButton);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        auto* moved = qobject_cast<QRadioButton*>(QApplication::focusWidget());
        QVERIFY(moved && moved != ui(window)->radioButton);
        QVERIFY(moved->isChecked());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), ui(window)->Jouer);
    }

    void returnPlays_data() {
        QTest::addColumn<bool>("ready");
        QTest::addColumn<bool>("panelOpen");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("plays");
        QTest::newRow("return") << true << false << int(Qt::Key_Return) << 1;
        QTest::newRow("enter of the keypad") << true << false << int(Qt::Key_Enter) << 1;
        QTest::newRow("play button shut") << false << false << int(Qt::Key_Return) << 0;
        QTest::newRow("options panel open") << true << true << int(Qt::Key_Return) << 0;
    }
    void returnPlays() {
        QFETCH(bool, ready);
        QFETCH(bool, panelOpen);
        QFETCH(int, key);
        QFETCH(int, plays);
        if (ready)
            answerCurrent();
        MainWindow window;
        if (ready)
            readyToPlay(window);
        showActive(window);
        if (panelOpen) {
            QTest::keyClick(ui(window)->Options, Qt::Key_Space);
            // Return presses the panel's button that has the focus, never "Jouer".
            ui(window)->checkBox_Realm1->setFocus(Qt::TabFocusReason);
        }
        QCOMPARE(ui(window)->OptionsMenu->isHidden(), !panelOpen);
        QSignalSpy played(ui(window)->Jouer, &QPushButton::clicked);
        const bool wrath = ui(window)->checkBox_Realm1->isChecked();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QCOMPARE(played.size(), plays);
        QCOMPARE(ui(window)->checkBox_Realm1->isChecked(), panelOpen ? !wrath : wrath);
    }

    void optionsPanelKeepsTheKeyboard() {
        answerCurrent();
        MainWindow window;
        readyToPlay(window);
        showActive(window);
        QTest::keyClick(ui(window)->Options, Qt::Key_Space);
        QCOMPARE(QApplication::focusWidget(), ui(window)->ModifierCheminWoTLK);
        // The download limit and "Vérifier les fichiers" are there in a build that keeps the
        // community's game files.
        QStringList stops{"ModifierCheminWoTLK", "DeleteCheminWoTLK", "ModifierCheminCata",
                          "DeleteCheminCata",    "checkBox_Realm1",   "SetRealm1",
                          "DeleteRealm1",        "checkBox_Realm2",   "SetRealm2",
                          "DeleteRealm2",        "checkBox_Realm3",   "SetRealm3",
                          "DeleteRealm3"};
        if (ui(window)->LimiteTelechargement->isVisible())
            stops << "LimiteTelechargement";
        if (ui(window)->VerifierFichiers->isVisible())
            stops << "VerifierFichiers";
        stops << "SauvegarderOptions";
        QStringList order;
        for (int i = 0; i < stops.size() + 1; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order, stops.mid(1) + stops.mid(0, 2));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), ui(window)->SauvegarderOptions);
        // Nothing behind the panel takes the focus, however it is asked to.
        ui(window)->Jouer->setFocus(Qt::TabFocusReason);
        QVERIFY(ui(window)->OptionsMenu->isAncestorOf(QApplication::focusWidget()));
        // Return presses the panel's button: here it saves and closes the panel.
        ui(window)->SauvegarderOptions->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(ui(window)->OptionsMenu->isHidden());
        QCOMPARE(QApplication::focusWidget(), ui(window)->Options);
    }

    void focusFrameShowsForTheKeyboardOnly() {
        answerCurrent();
        MainWindow window;
        readyToPlay(window);
        showActive(window);
        auto* keyboard = window.findChild<KeyboardNavigation*>();
        QVERIFY(keyboard);
        QCOMPARE(keyboard->framedButton(), nullptr);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(keyboard->framedButton(), ui(window)->Jouer);
        // The mouse never shows it.
        QTest::mouseClick(ui(window)->radioButton_2, Qt::LeftButton);
        QCOMPARE(keyboard->framedButton(), nullptr);
        ui(window)->Options->setFocus(Qt::TabFocusReason);
        QCOMPARE(keyboard->framedButton(), nullptr);
        QTest::keyClick(ui(window)->Options, Qt::Key_Backtab);
        QCOMPARE(keyboard->framedButton(), ui(window)->Jouer);
        QWidget* frame = window.findChild<QWidget*>("focusFrame");
        QVERIFY(frame && frame->isVisible());
        QCOMPARE(frame->geometry(),
                 QRect(ui(window)->Jouer->mapTo(&window, QPoint()), ui(window)->Jouer->size()));
    }

    // ---- Screen readers ----
    void everyControlHasANameToSay() {
        writeFile("launcher.conf",
                  "1\n/ancien/wotlk\n1\n/ancien/cata\n0\nami.fr|1\n |0\n |0\n1.0\n");
        MainWindow window;
        showActive(window);
        auto name = [](QWidget* widget) {
            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
            return face ? face->text(QAccessible::Name) : QString("(none)");
        };
        const QList<QPair<QWidget*, QString>> expected{
            {ui(window)->Jouer, "Jouer"},
            {ui(window)->Options, "Options"},
            {ui(window)->radioButton, "Vestrahal Servers"},
            {ui(window)->radioButton_3, "Brontavale"},
            {ui(window)->radioButton_4, "ami.fr"},
            {ui(window)->ModifierCheminWoTLK, "Modifier le chemin WoTLK"},
            {ui(window)->DeleteCheminCata, "Supprimer le chemin Cataclysme"},
            {ui(window)->DeleteRealm2, "Supprimer le royaume 2"},
            {ui(window)->checkBox_Realm3, "Wotlk, royaume 3"},
            {ui(window)->SauvegarderOptions, "Sauvegarder les options"}};
        for (const auto& [widget, said] : expected)
            QCOMPARE(name(widget), said);
        // The status line says its text, the bar its value, as they change.
        ui(window)->Texte->setText("Essai");
        QCOMPARE(name(ui(window)->Texte), QString("Essai"));
        ui(window)->Chargement->setValue(75);
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(ui(window)->Chargement);
        QVERIFY(bar && bar->valueInterface());
        QCOMPARE(bar->valueInterface()->currentValue().toInt(), 75);
    }

private:
    CommunityServer server;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<DialogScript> dialogs;
    QString games;
    QString launcher;
};

QTEST_MAIN(OptionsTest)
#include "tst_options.moc"
