#include "buildoptions.h"
#include "logonlistener.h"
#include "mainwindow.h"
#include "offlinenames.h"
#include "realmindicator.h"
#include "realmstatus.h"
#include "testfiles.h"
#include "testsupport.h"
#include "ui_mainwindow.h"
#include "windowsupport.h"

#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QMessageBox>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

namespace {

QByteArray conf() {
    return readTextFile("launcher.conf");
}

QByteArray confLine(int line) {
    return conf().split('\n').value(line - 1);
}

void writeConf(const QByteArray& bytes) {
    writeFile("launcher.conf", bytes);
}

constexpr int kTimeout = 30000;

QImage gemImage(const char* name) {
    return QImage(QString::fromLatin1(name)).convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

class RealmsTest : public QObject {
    Q_OBJECT

    // Types a host into the dialog that the row's "Modifier" button opens.
    static void enter(QPushButton* button, const QString& text, bool accept,
                      QString* title = nullptr, QString* label = nullptr) {
        answerNextDialog([=](QWidget* widget) {
            auto* dialog = qobject_cast<QInputDialog*>(widget);
            QVERIFY(dialog);
            if (title)
                *title = dialog->windowTitle();
            if (label)
                *label = dialog->labelText();
            dialog->setTextValue(text);
            accept ? dialog->accept() : dialog->reject();
        });
        button->click();
    }

    // The gem beside a realm's button, and what it shows.
    static RealmIndicator* gem(MainWindow& window, int realm) {
        return ui(window)->realms()[realm]->findChild<RealmIndicator*>();
    }
    static RealmStatus* status(MainWindow& window) { return window.findChild<RealmStatus*>(); }
    // Every watched realm has had its first answer.
    static bool settled(MainWindow& window) {
        for (int realm = 0; realm < vestrahal::kRealmCount; ++realm) {
            if (status(window)->state(realm) == RealmStatus::State::Unknown)
                return false;
        }
        return true;
    }

private slots:
    void initTestCase() { routeThroughCommunityServer(server); }

    void init() {
        dir.reset(new QTemporaryDir);
        QVERIFY(QDir::setCurrent(dir->path()));
        // Both clients installed; personal realm 2 already holds a host on Cataclysm.
        writeConf("1\n/w\n1\n/c\n0\n |0\nexistant.fr|0\n |0\n1.0\n");
        // The version check never answers: no update runs while the realms are edited.
        server.setReply("/launcher/version.php",
                        {200, "text/plain", {}, CommunityServer::Reply::Silent});
    }
    void cleanup() { QDir::setCurrent(QDir::tempPath()); }

    void dialogTexts_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("label");
        const QString tail = QString::fromUtf8(
            " Realmlist personnel\n\nVeillez à ne pas indiquer le 'set realmlist'");
        QTest::newRow("row 1") << 1 << QString::fromUtf8("Realmlist numéro 1")
                               << "Veuillez entrer l'adresse de votre premier" + tail;
        QTest::newRow("row 2") << 2 << QString::fromUtf8("Realmlist numéro 2")
                               << "Veuillez entrer l'adresse de votre second" + tail;
        QTest::newRow("row 3") << 3 << QString::fromUtf8("Realmlist numéro 3")
                               << QString::fromUtf8(
                                      "Veuillez entrer l'adresse de votre troisième") +
                                      tail;
    }
    void dialogTexts() {
        QFETCH(int, row);
        MainWindow window;
        QString title, label;
        enter(window.findChild<QPushButton*>(QString("SetRealm%1").arg(row)), "x.fr", false, &title,
              &label);
        QTEST(title, "title");
        QTEST(label, "label");
    }

    void enteringAHost_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accept");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("shown");
        QTest::newRow("new host on the Cataclysm client")
            << 1 << "mon.serveur.fr" << true << QByteArray("mon.serveur.fr|0") << "mon.serveur.fr"
            << true;
        QTest::newRow("replacing a host")
            << 2 << "nouveau.fr" << true << QByteArray("nouveau.fr|0") << "nouveau.fr" << true;
        QTest::newRow("row 3") << 3 << "trois.fr" << true << QByteArray("trois.fr|0") << "trois.fr"
                               << true;
        QTest::newRow("cancelled: nothing changes")
            << 2 << "ignore.fr" << false << QByteArray("existant.fr|0") << "existant.fr" << true;
        QTest::newRow("empty: nothing changes")
            << 2 << "" << true << QByteArray("existant.fr|0") << "existant.fr" << true;
        QTest::newRow("one space empties the realm")
            << 2 << " " << true << QByteArray(" |0") << " " << false;
        QTest::newRow("spaces kept as typed")
            << 1 << " a b " << true << QByteArray(" a b |0") << " a b " << true;
        QTest::newRow("set realmlist kept as typed")
            << 1 << "set realmlist x.fr" << true << QByteArray("set realmlist x.fr|0")
            << "set realmlist x.fr" << true;
        QTest::newRow("Latin-1 host")
            << 1 << QString::fromUtf8("château.fr") << true << QByteArray("ch\xe2teau.fr|0")
            << QString::fromUtf8("château.fr") << true;
        QTest::newRow("outside Latin-1 becomes ?")
            << 1 << QString::fromUtf8("москва.ru") << true << QByteArray("??????.ru|0")
            << "??????.ru" << true;
    }
    void enteringAHost() {
        QFETCH(int, row);
        QFETCH(QString, text);
        QFETCH(bool, accept);
        MainWindow window;
        const QByteArray before = conf();
        enter(window.findChild<QPushButton*>(QString("SetRealm%1").arg(row)), text, accept);
        QTEST(confLine(5 + row), "line");
        QRadioButton* button = ui(window)->realms()[row + 2];
        QTEST(button->text(), "label");
        QTEST(!button->isHidden(), "shown");
        // Every other line stays as it was.
        QList<QByteArray> expected = before.split('\n');
        QFETCH(QByteArray, line);
        expected[4 + row] = line;
        QCOMPARE(conf().split('\n'), expected);
    }

    void refusedHosts_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("bar") << "a|1";
        QTest::newRow("line feed") << "a\nb";
        QTest::newRow("carriage return") << "a\rb";
        QTest::newRow("tab") << "a\tb";
        QTest::newRow("NUL") << QString("a") + QChar(0) + "b";
        QTest::newRow("C1 control") << QString("a") + QChar(0x85) + "b";
    }
    void refusedHosts() {
        QFETCH(QString, text);
        MainWindow window;
        const QByteArray before = conf();
        QString warning;
        answerNextDialog([&](QWidget* widget) {
            auto* dialog = qobject_cast<QInputDialog*>(widget);
            QVERIFY(dialog);
            // The refusal comes as a box of its own once the entry is accepted.
            answerNextDialog([&](QWidget* box) {
                auto* message = qobject_cast<QMessageBox*>(box);
                QVERIFY(message);
                warning = message->text();
                message->accept();
            });
            dialog->setTextValue(text);
            dialog->accept();
        });
        ui(window)->SetRealm2->click();
        QVERIFY(warning.contains(QString::fromUtf8("Rien n'a été modifié")));
        QCOMPARE(conf(), before);
        QCOMPARE(ui(window)->realms()[4]->text(), QString("existant.fr"));
    }

    void deletingARealm() {
        MainWindow window;
        ui(window)->checkBox_Realm2->setChecked(true);
        QCOMPARE(confLine(7), QByteArray("existant.fr|1"));
        const QStringList labels{ui(window)->realms()[3]->text(), ui(window)->realms()[5]->text()};
        ui(window)->DeleteRealm2->click();
        QCOMPARE(confLine(7), QByteArray(" |0"));
        QCOMPARE(ui(window)->realms()[4]->text(), QString(" "));
        QVERIFY(ui(window)->realms()[4]->isHidden());
        QCOMPARE(QStringList({ui(window)->realms()[3]->text(), ui(window)->realms()[5]->text()}),
                 labels);
        // The box stays as the player left it until the options are shown again.
        QVERIFY(ui(window)->checkBox_Realm2->isChecked());
    }

    void togglingTheClientSavesAtOnce() {
        writeConf("0\n\n1\n/c\n4\n |0\nexistant.fr|0\n |0\n1.0\n");
        MainWindow window;
        QVERIFY(!ui(window)->realms()[4]->isHidden());
        ui(window)->checkBox_Realm2->setChecked(true);
        QCOMPARE(conf(), QByteArray("0\n\n1\n/c\n4\n |0\nexistant.fr|1\n |0\n1.0\n"));
        // Visibility follows at the next refresh only.
        QVERIFY(!ui(window)->realms()[4]->isHidden());
        ui(window)->checkBox_Realm2->setChecked(false);
        QCOMPARE(confLine(7), QByteArray("existant.fr|0"));
    }

    // A change that cannot be saved is told in a box over the window, and holds: the next save
    // that succeeds stores it.
    void failedSaveIsToldAndTheChangeHolds_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QByteArray>("stored"); // launcher.conf once it can be written again
        QTest::newRow("host entered")
            << "enter" << QByteArray("1\n/w\n1\n/c\n0\nnouveau.fr|0\nexistant.fr|0\n |0\n1.0\n");
        QTest::newRow("realm deleted")
            << "delete" << QByteArray("1\n/w\n1\n/c\n0\n |0\n |0\n |0\n1.0\n");
        QTest::newRow("Wrath box ticked")
            << "tick" << QByteArray("1\n/w\n1\n/c\n0\n |0\nexistant.fr|0\n |1\n1.0\n");
    }
    void failedSaveIsToldAndTheChangeHolds() {
        QFETCH(QString, change);
        MainWindow window;
        // A folder standing where the file should be: no save can replace it.
        QVERIFY(QFile::remove("launcher.conf"));
        QVERIFY(QDir().mkdir("launcher.conf"));
        if (change == "enter")
            enter(ui(window)->SetRealm1, "nouveau.fr", true);
        QStringList told;
        answerNextDialog([&told, &window](QWidget* widget) {
            // Over the window, in front of the options panel.
            told << widget->windowTitle() + (widget->parentWidget() == &window ? "" : " (alone)");
            static_cast<QDialog*>(widget)->accept();
        });
        if (change == "delete")
            ui(window)->DeleteRealm2->click();
        else if (change == "tick")
            ui(window)->checkBox_Realm3->setChecked(true);
        QTRY_COMPARE_WITH_TIMEOUT(told, QStringList{QString::fromUtf8("Réglages non enregistrés")},
                                  kTimeout);
        if (change == "enter")
            QCOMPARE(ui(window)->realms()[3]->text(), QString("nouveau.fr"));
        if (change == "delete")
            QVERIFY(ui(window)->realms()[4]->isHidden());
        QVERIFY(QDir().rmdir("launcher.conf"));
        ui(window)->SauvegarderOptions->click();
        QTEST(conf(), "stored");
    }

    void startUpRewritesTheFileForWrathRealms() {
        // The stored flag turns the box on at start-up, which stores it again: the realms keep
        // their flags and the file keeps its bytes.
        const QByteArray file("1\n/w\n0\n\n3\nun.fr|1\n |0\ntrois.fr|1\n1.0\n");
        writeConf(file);
        MainWindow window;
        QVERIFY(ui(window)->checkBox_Realm1->isChecked());
        QVERIFY(!ui(window)->checkBox_Realm2->isChecked());
        QVERIFY(ui(window)->checkBox_Realm3->isChecked());
        QCOMPARE(conf(), file);
    }

    // The gems are in the window's first frame; the connections wait for it.
    void firstChecksFollowTheFirstFrame() {
        if (!vestrahal::kRealmStatus)
            QSKIP("built without the realm status");
        MainWindow window;
        window.show();
        QVERIFY(!settled(window));
        for (int realm = 0; realm < vestrahal::kRealmCount; ++realm)
            QVERIFY(!status(window)->isChecking(realm));
        QTRY_VERIFY_WITH_TIMEOUT(settled(window), kTimeout);
    }

    void realmStatusAtStartUp_data() {
        QTest::addColumn<QByteArray>("clients");
        // Per realm: "up", "down", "no gem" (shown, but its text names no host) or "hidden".
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QByteArrayList>("lookups");
        QTest::addColumn<int>("connections");
        const QByteArray vestrahal(vestrahal::kLogonHost), officiel(vestrahal::kOfficialLogonHost),
            brontavale(vestrahal::kPartnerLogonHost);
        QTest::newRow("both clients") << QByteArray("1\n/w\n1\n/c\n")
                                      << QStringList{"down", "down", "down", "up", "down", "no gem"}
                                      << QByteArrayList{vestrahal, officiel, brontavale} << 1;
        QTest::newRow("Wrath of the Lich King only")
            << QByteArray("1\n/w\n0\n\n")
            << QStringList{"down", "hidden", "hidden", "up", "hidden", "hidden"}
            << QByteArrayList{vestrahal} << 1;
        QTest::newRow("Cataclysm only")
            << QByteArray("0\n\n1\n/c\n")
            << QStringList{"hidden", "down", "down", "hidden", "down", "no gem"}
            << QByteArrayList{officiel, brontavale} << 0;
    }
    void realmStatusAtStartUp() {
        if (!vestrahal::kRealmStatus)
            QSKIP("built without the realm status");
        QFETCH(QByteArray, clients);
        QFETCH(QStringList, expected);
        LogonListener listener;
        // Personal realms: a server that answers, a port that refuses, a text that is no host.
        writeConf(clients + "0\n" + listener.hostText() + "|1\n127.0.0.1:" +
                  QByteArray::number(closedPort()) + "|0\nset realmlist x.fr|0\n1.0\n");
        clearRefusedNameLookups();
        MainWindow window;
        // Nothing is known before the event loop has run.
        for (int realm = 0; realm < vestrahal::kRealmCount; ++realm) {
            if (expected[realm] == "up" || expected[realm] == "down")
                QCOMPARE(gem(window, realm)->toolTip(), QString("Vérification..."));
        }
        QTRY_VERIFY_WITH_TIMEOUT(settled(window), kTimeout);

        const QRegularExpression answering(QStringLiteral("^En ligne \\(\\d+ ms\\)$"));
        for (int realm = 0; realm < vestrahal::kRealmCount; ++realm) {
            const QString what = expected[realm];
            RealmIndicator* indicator = gem(window, realm);
            QCOMPARE(ui(window)->realms()[realm]->isHidden(), what == "hidden");
            QCOMPARE(indicator->isHidden(), what == "hidden" || what == "no gem");
            QCOMPARE(ui(window)->realms()[realm]->accessibleDescription(), indicator->toolTip());
            const QImage shown =
                indicator->pixmap().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
            if (what == "up") {
                QVERIFY2(answering.match(indicator->toolTip()).hasMatch(),
                         qPrintable(indicator->toolTip()));
                QCOMPARE(shown, gemImage(":/realmup.png"));
            } else if (what == "down") {
                QCOMPARE(indicator->toolTip(), QString("Ne répond pas"));
                QCOMPARE(shown, gemImage(":/realmdown.png"));
            } else {
                QCOMPARE(status(window)->state(realm), RealmStatus::State::None);
            }
        }
        // Only the shown realms' names were asked for, each once.
        QByteArrayList asked = refusedNameLookups();
        std::sort(asked.begin(), asked.end());
        QFETCH(QByteArrayList, lookups);
        std::sort(lookups.begin(), lookups.end());
        QCOMPARE(asked, lookups);
        QTEST(listener.connections, "connections");
        QCOMPARE(listener.received, QByteArray());
    }

    void gemForTheScreen_data() {
        QTest::addColumn<int>("state");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<QString>("image");
        using State = RealmStatus::State;
        const std::pair<State, QString> gems[] = {
            {State::Answering, "up"}, {State::Silent, "down"}, {State::Unknown, "unknown"}};
        for (const auto& [state, name] : gems) {
            QTest::addRow("%s", qPrintable(name)) << int(state) << 1.0 << ":/realm" + name + ".png";
            QTest::addRow("%s, twice the density", qPrintable(name))
                << int(state) << 2.0 << ":/realm" + name + "@2x.png";
        }
    }
    void gemForTheScreen() {
        QFETCH(int, state);
        QFETCH(qreal, ratio);
        QFETCH(QString, image);
        const QPixmap pixmap = RealmIndicator::gem(RealmStatus::State(state), ratio);
        QCOMPARE(pixmap.deviceIndependentSize(), QSizeF(12, 12));
        QCOMPARE(pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 gemImage(qPrintable(image)));
    }

    void realmButtonsKeepTheirLookAndBehaviour() {
        if (!vestrahal::kRealmStatus)
            QSKIP("built without the realm status");
        LogonListener listener;
        // Hosts that fit: a longer one is cut to fit instead (tst_keyboard).
        writeConf("1\n/w\n1\n/c\n1\n" + listener.hostText() +
                  "|1\nun.royaume.example.fr|0\n |0\n1.0\n");
        MainWindow window;
        window.show();
        // The same form alone, with the texts and visibility the refresh gives.
        QMainWindow plain;
        Ui::MainWindow form;
        form.setupUi(&plain);
        const std::array<QRadioButton*, 6> plainButtons{form.radioButton,   form.radioButton_2,
                                                        form.radioButton_3, form.radioButton_4,
                                                        form.radioButton_5, form.radioButton_6};
        for (int realm = 0; realm < 6; ++realm) {
            plainButtons[realm]->setText(ui(window)->realms()[realm]->text());
            plainButtons[realm]->setVisible(!ui(window)->realms()[realm]->isHidden());
        }
        plain.show();
        QTRY_VERIFY_WITH_TIMEOUT(settled(window), kTimeout);
        for (int realm = 0; realm < 5; ++realm) {
            QRadioButton* button = ui(window)->realms()[realm];
            QCOMPARE(button->geometry(), plainButtons[realm]->geometry());
            QCOMPARE(button->sizeHint(), plainButtons[realm]->sizeHint());
            RealmIndicator* indicator = gem(window, realm);
            QVERIFY(indicator->isVisible());
            QVERIFY(button->rect().contains(indicator->geometry()));
            // Right of the button's own check mark (20 pixels wide).
            QVERIFY(indicator->x() > 20);
            // A click on the gem does what a click on that spot of the bare button does.
            const QPoint spot = indicator->geometry().center();
            QTest::mouseClick(indicator, Qt::LeftButton, {}, indicator->rect().center());
            QTest::mouseClick(plainButtons[realm], Qt::LeftButton, {}, spot);
            QCOMPARE(button->isChecked(), plainButtons[realm]->isChecked());
        }
        QCOMPARE(ui(window)->realms()[3]->text(), QString::fromLatin1(listener.hostText()));
    }

    void enteredRealmIsCheckedAndDeletedOneForgotten() {
        if (!vestrahal::kRealmStatus)
            QSKIP("built without the realm status");
        LogonListener listener;
        MainWindow window;
        QTRY_VERIFY_WITH_TIMEOUT(settled(window), kTimeout);
        QVERIFY(gem(window, 3)->isHidden());
        enter(ui(window)->SetRealm1, QString::fromLatin1(listener.hostText()), true);
        QCOMPARE(gem(window, 3)->toolTip(), QString("Vérification..."));
        QVERIFY(gem(window, 3)->isVisibleTo(&window));
        QTRY_VERIFY_WITH_TIMEOUT(gem(window, 3)->toolTip().startsWith("En ligne"), kTimeout);
        QCOMPARE(listener.connections, 1);
        ui(window)->DeleteRealm1->click();
        QVERIFY(gem(window, 3)->isHidden());
        QCOMPARE(status(window)->state(3), RealmStatus::State::None);
        QCOMPARE(listener.connections, 1);
    }

    void periodicChecksOnlyWhileTheWindowIsShown() {
        if (!vestrahal::kRealmStatus)
            QSKIP("built without the realm status");
        LogonListener listener;
        writeConf("1\n/w\n1\n/c\n0\n |0\n" + listener.hostText() + "|0\n |0\n1.0\n");
        MainWindow window;
        QTRY_COMPARE_WITH_TIMEOUT(listener.connections, 1, kTimeout);
        QSignalSpy ticks(status(window)->findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly),
                         &QTimer::timeout);
        status(window)->setInterval(20);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 3, kTimeout);
        QCOMPARE(listener.connections, 1);
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(listener.connections >= 3, kTimeout);
    }

private:
    CommunityServer server;
    std::unique_ptr<QTemporaryDir> dir;
};

QTEST_MAIN(RealmsTest)
#include "tst_realms.moc"
