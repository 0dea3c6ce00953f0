#include "buildoptions.h"
#include "newsview.h"
#include "testsupport.h"
#include "ui_mainwindow.h"
#include "windowsupport.h"

#include <QImage>
#include <QRegularExpression>

namespace {

QString borderRule(const QString& selector, const QString& image) {
    return selector + "\n\tborder-image: url(:/" + image +
           ") 3 10 3 10;\n\tborder-top: 3px transparent;\n\tborder-bottom: 3px "
           "transparent;\n\tborder-right: 10px transparent;\n\tborder-left: 10px transparent;\n}";
}

const QString kWindowSheet =
    QStringList{"QMainWindow\n{\n\tbackground-image: url(:/load.png);\n}",
                "QProgressBar \n{\n    border: 2px solid #974d17;\n    border-radius: 5px;\n    "
                "text-align : center;\n}",
                "QProgressBar::chunk \n{\n    background: #CA671f;\n    width: 1px;\n}",
                borderRule("QPushButton#Jouer {", "joueron.png"),
                borderRule("QPushButton#Jouer:pressed{", "jouerpressed.png"),
                borderRule("QPushButton#Jouer:disabled {", "joueroff.png"),
                borderRule("QPushButton#Options {", "optionson.png"),
                borderRule("QPushButton#Options:pressed{", "optionspressed.png"),
                borderRule("QPushButton#Options:disabled {", "optionsoff.png")}
        .join("\n\n");

const QString kRealmSheet =
    "QRadioButton::indicator {\n     width: 20px;\n     height: 21px;\n }\n\nQRadioButton {\n     "
    "color : qlineargradient(spread:repeat, x1:0, y1:0, x2:1, y2:0, stop:0 rgba(175, 69, 5, "
    "255), stop:0.508 rgba(217, 121, 45, 255), stop:1 rgba(175, 69, 5, 255));\n "
    "}\n\nQRadioButton::indicator::unchecked {\n     image: url(:/caseoff.png);\n }\n\n "
    "QRadioButton::indicator:unchecked:hover {\n     image: url(:/caseoff.png);\n }\n\n "
    "QRadioButton::indicator:unchecked:pressed {\n     image: url(:/caseoff.png);\n }\n\n "
    "QRadioButton::indicator::checked {\n     image: url(:/caseon.png);\n }\n\n "
    "QRadioButton::indicator:checked:hover {\n     image: url(:/caseon.png);\n }\n\n "
    "QRadioButton::indicator:checked:pressed {\n     image: url(:/caseon.png);\n }";

const QString kPanelButtonSheet =
    "QPushButton \n{\n\twidth:73px;\n\theight:23px;\n\tborder-image: url(:/paraon.png) 0 0 0 "
    "0;\n}\n\nQPushButton:pressed{\n\twidth:73px;\n\theight:23px;\n\tborder-image: "
    "url(:/parapressed.png) 0 0 0 0;\n}";
const QString kTransparentSheet = "background: rgba(255, 255, 255, 0);";

const QStringList kPanelButtons{"ModifierCheminWoTLK", "DeleteCheminWoTLK", "ModifierCheminCata",
                                "DeleteCheminCata",    "SetRealm1",         "DeleteRealm1",
                                "SetRealm2",           "DeleteRealm2",      "SetRealm3",
                                "DeleteRealm3",        "SauvegarderOptions"};
const QStringList kTransparentLabels{"Spacer",  "label_2",    "CheminWoTLK",
                                     "label_5", "CheminCata", "CheminWoTLK_2",
                                     "label_1", "label_4",    "label_3"};

QStringList widgetChildNames(const QObject* parent) {
    QStringList names;
    for (const QObject* child : parent->children()) {
        if (child->isWidgetType())
            names << child->objectName();
    }
    return names;
}

} // namespace

class FormTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        routeThroughCommunityServer(server);
        window.reset(new QMainWindow);
        ui.setupUi(window.get());
    }
    void cleanupTestCase() { window.reset(); }

    void windowIsFixedAt800By600() {
        QCOMPARE(window->objectName(), QString("MainWindow"));
        QCOMPARE(window->size(), QSize(800, 600));
        QCOMPARE(window->minimumSize(), QSize(800, 600));
        QCOMPARE(window->maximumSize(), QSize(800, 600));
        QCOMPARE(window->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(window->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
        QVERIFY(!window->acceptDrops());
        QCOMPARE(window->windowTitle(), QString("Vestrahal Launcher"));
        QVERIFY(!window->windowIcon().isNull());
        QCOMPARE(window->centralWidget(), ui.centralWidget);
        QCOMPARE(window->styleSheet(), kWindowSheet);
    }

    void widgetsAreCreatedInStackingOrder() {
        QCOMPARE(widgetChildNames(ui.centralWidget),
                 QStringList({"Web", "Jouer", "Chargement", "Texte", "horizontalLayoutWidget",
                              "Options", "Fading", "labelVersion"}));
        QCOMPARE(widgetChildNames(ui.horizontalLayoutWidget),
                 QStringList({"radioButton", "radioButton_2", "radioButton_3", "radioButton_4",
                              "radioButton_5", "radioButton_6"}));
        QCOMPARE(widgetChildNames(ui.Fading), QStringList({"OptionsMenu"}));
        QCOMPARE(widgetChildNames(ui.OptionsMenu), QStringList({"Spacer",
                                                                "label_2",
                                                                "CheminWoTLK",
                                                                "ModifierCheminWoTLK",
                                                                "DeleteCheminWoTLK",
                                                                "label_5",
                                                                "CheminCata",
                                                                "ModifierCheminCata",
                                                                "DeleteCheminCata",
                                                                "CheminWoTLK_2",
                                                                "label_1",
                                                                "checkBox_Realm1",
                                                                "SetRealm1",
                                                                "DeleteRealm1",
                                                                "label_4",
                                                                "checkBox_Realm2",
                                                                "SetRealm2",
                                                                "DeleteRealm2",
                                                                "label_3",
                                                                "checkBox_Realm3",
                                                                "SetRealm3",
                                                                "DeleteRealm3",
                                                                "VerifierFichiers",
                                                                "SauvegarderOptions"}));
    }

    // The news view and the overlay each hide the window's background wholly.
    void coverTheWindow_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("news view") << "Web";
        QTest::newRow("options overlay") << "Fading";
    }
    void coverTheWindow() {
        QFETCH(QString, name);
        auto* widget = window->findChild<QWidget*>(name);
        QVERIFY(widget);
        QVERIFY(widget->geometry().contains(window->rect()));
    }

    // Every control is whole on screen, none cut by the window's edge or the overlay's. (The
    // version label's box runs one pixel past the bottom, below its one line of text.)
    void controlsLieWhole_data() {
        QTest::addColumn<QString>("name");
        for (const char* name :
             {"Jouer", "Chargement", "Texte", "horizontalLayoutWidget", "Options", "OptionsMenu"})
            QTest::newRow(name) << name;
    }
    void controlsLieWhole() {
        QFETCH(QString, name);
        auto* widget = window->findChild<QWidget*>(name);
        QVERIFY(widget);
        QVERIFY(
            window->rect().contains(QRect(widget->mapTo(window.get(), QPoint()), widget->size())));
    }

    void formTexts_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        const QList<std::pair<const char*, const char*>> texts{
            {"Jouer", ""},
            {"Texte", "Test"},
            {"radioButton", "WoTLK"},
            {"radioButton_2", "Cataclysm (beta)"},
            {"radioButton_3", ""},
            {"radioButton_4", ""},
            {"radioButton_5", ""},
            {"radioButton_6", ""},
            {"Options", ""},
            {"Spacer", ""},
            {"label_2", "Chemin\nWoTLK"},
            {"CheminWoTLK", "chemin"},
            {"ModifierCheminWoTLK", "Modifier"},
            {"DeleteCheminWoTLK", "Supprimer"},
            {"label_5", "Chemin\nCataclysme"},
            {"CheminCata", "chemin"},
            {"ModifierCheminCata", "Modifier"},
            {"DeleteCheminCata", "Supprimer"},
            {"CheminWoTLK_2", "Royaumes personnels (hors Vestrahal)"},
            {"label_1", "Royaume 1"},
            {"checkBox_Realm1", "Wotlk"},
            {"SetRealm1", "Modifier"},
            {"DeleteRealm1", "Supprimer"},
            {"label_4", "Royaume 2"},
            {"checkBox_Realm2", "Wotlk"},
            {"SetRealm2", "Modifier"},
            {"DeleteRealm2", "Supprimer"},
            {"label_3", "Royaume 3"},
            {"checkBox_Realm3", "Wotlk"},
            {"SetRealm3", "Modifier"},
            {"DeleteRealm3", "Supprimer"},
            {"VerifierFichiers", "Vérifier les fichiers"},
            {"SauvegarderOptions", "Sauvegarder"},
            {"labelVersion", "Version 1.2.3"},
        };
        for (const auto& [name, text] : texts)
            QTest::newRow(name) << QString(name) << QString::fromUtf8(text);
    }
    void formTexts() {
        QFETCH(QString, name);
        QWidget* widget = window->findChild<QWidget*>(name);
        QVERIFY(widget);
        QTEST(widget->property("text").toString(), "text");
    }

    void styleSheets_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("sheet");
        QTest::newRow("status line") << "Texte"
                                     << "color : white;";
        QTest::newRow("overlay") << "Fading"
                                 << "background-color: rgba(0, 0, 0, 150);";
        QTest::newRow("options panel") << "OptionsMenu"
                                       << "background-image: url(:/parabg.png);\nborder: "
                                          "none;\nmargin-top: 0;\ncolor: #ca671f;";
        for (const char* name : {"radioButton", "radioButton_2", "radioButton_3", "radioButton_4",
                                 "radioButton_5", "radioButton_6"})
            QTest::newRow(name) << name << kRealmSheet;
        for (const char* name : {"checkBox_Realm1", "checkBox_Realm2", "checkBox_Realm3"})
            QTest::newRow(name) << name
                                << QString(kRealmSheet).replace("QRadioButton", "QCheckBox");
        for (const QString& name : kPanelButtons)
            QTest::newRow(qPrintable(name)) << name << kPanelButtonSheet;
        for (const QString& name : kTransparentLabels)
            QTest::newRow(qPrintable(name)) << name << kTransparentSheet;
        for (const char* name : {"Web", "Jouer", "Chargement", "Options", "labelVersion"})
            QTest::newRow(name) << name << QString();
    }
    void styleSheets() {
        QFETCH(QString, name);
        QWidget* widget = window->findChild<QWidget*>(name);
        QVERIFY(widget);
        QTEST(widget->styleSheet(), "sheet");
    }

    void everyImageOfTheSheetsResolves() {
        const QHash<QString, QSize> sizes{
            {":/iconlauncher.png", {128, 128}}, {":/load.png", {800, 600}},
            {":/joueron.png", {140, 111}},      {":/jouerpressed.png", {140, 111}},
            {":/joueroff.png", {140, 111}},     {":/optionson.png", {77, 57}},
            {":/optionspressed.png", {77, 57}}, {":/optionsoff.png", {77, 57}},
            {":/parabg.png", {370, 320}},       {":/paraon.png", {73, 23}},
            {":/parapressed.png", {73, 23}},    {":/caseon.png", {20, 21}},
            {":/caseoff.png", {19, 20}}};
        QSet<QString> used{":/iconlauncher.png"};
        static const QRegularExpression url(QStringLiteral("url\\((:/[^)]+)\\)"));
        QList<QWidget*> widgets = window->findChildren<QWidget*>();
        widgets << window.get();
        for (const QWidget* widget : widgets) {
            for (const auto& match : url.globalMatch(widget->styleSheet()))
                used.insert(match.captured(1));
        }
        QCOMPARE(used.size(), sizes.size());
        for (const QString& path : used) {
            QVERIFY2(sizes.contains(path), qPrintable(path));
            const QImage image(path);
            QVERIFY2(!image.isNull(), qPrintable(path));
            QCOMPARE(image.size(), sizes.value(path));
        }
    }

    void fontsPalettesAndProperties() {
        QCOMPARE(ui.Jouer->font().pointSize(), 18);
        QCOMPARE(ui.Texte->font().family(), QString("Verdana"));
        QCOMPARE(ui.Texte->font().pointSize(), 8);
        QVERIFY(ui.Texte->font().kerning());
        QVERIFY(ui.Texte->hasScaledContents());
        QCOMPARE(ui.Texte->alignment(), Qt::AlignCenter);
        QVERIFY(ui.Texte->wordWrap());
        QCOMPARE(ui.Texte->margin(), 0);
        QCOMPARE(ui.Chargement->value(), 24);
        QCOMPARE(ui.Chargement->minimum(), 0);
        QCOMPARE(ui.Chargement->maximum(), 100);
        QVERIFY(ui.labelVersion->font().bold());
        QVERIFY(ui.labelVersion->font().italic());
        const QPalette palette = ui.labelVersion->palette();
        QCOMPARE(palette.color(QPalette::Active, QPalette::WindowText), QColor(94, 94, 94));
        QCOMPARE(palette.color(QPalette::Inactive, QPalette::WindowText), QColor(94, 94, 94));
        QCOMPARE(palette.color(QPalette::Disabled, QPalette::WindowText), QColor(120, 120, 120));
        QCOMPARE(ui.Fading->frameShape(), QFrame::NoFrame);
        QCOMPARE(ui.Fading->frameShadow(), QFrame::Raised);
        QVERIFY(ui.OptionsMenu->isFlat());
        QCOMPARE(ui.OptionsMenu->title(), QString());
        QCOMPARE(ui.Spacer->minimumSize(), QSize(351, 36));
        QCOMPARE(ui.Spacer->maximumSize(), QSize(351, 36));
        QCOMPARE(ui.Spacer->font().pointSize(), 12);
        QVERIFY(ui.CheminWoTLK->wordWrap());
        QVERIFY(ui.CheminCata->wordWrap());
        QVERIFY(ui.CheminWoTLK_2->wordWrap());
        for (const QString& name : kPanelButtons) {
            auto* button = window->findChild<QPushButton*>(name);
            QCOMPARE(button->minimumWidth(), 100);
            QCOMPARE(button->maximumWidth(), 100);
        }
        QVERIFY(ui.SauvegarderOptions->isFlat());
        QCOMPARE(ui.SauvegarderOptions->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
        QCOMPARE(ui.SauvegarderOptions->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(ui.verticalLayout_4->contentsMargins().bottom(), 9);
        QCOMPARE(ui.horizontalLayout->contentsMargins(), QMargins(0, 0, 0, 0));
        QCOMPARE(ui.horizontalLayout->spacing(), 6);
    }

    void realmButtonsStandInThreeColumns() {
        const QList<std::pair<QVBoxLayout*, QList<QRadioButton*>>> columns{
            {ui.verticalLayout, {ui.radioButton, ui.radioButton_2}},
            {ui.verticalLayout_3, {ui.radioButton_3, ui.radioButton_4}},
            {ui.verticalLayout_2, {ui.radioButton_5, ui.radioButton_6}}};
        for (int i = 0; i < columns.size(); ++i) {
            QCOMPARE(ui.horizontalLayout->itemAt(i)->layout(), columns[i].first);
            QCOMPARE(columns[i].first->itemAt(0)->widget(), columns[i].second[0]);
            QCOMPARE(columns[i].first->itemAt(1)->widget(), columns[i].second[1]);
        }
        // One parent, auto-exclusive: checking one realm unchecks the other.
        ui.radioButton_2->setChecked(true);
        ui.radioButton_6->setChecked(true);
        QVERIFY(!ui.radioButton_2->isChecked());
    }

    void newsViewStartsOnTheHomePage() {
        QCOMPARE(ui.Web->url(), QUrl(QString("%1://%2/launcher/launcher.php")
                                         .arg(vestrahal::kWebScheme, vestrahal::kWebDomain)));
        QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor("/launcher/launcher.php").isEmpty(), 30000);
    }

private:
    CommunityServer server;
    std::unique_ptr<QMainWindow> window;
    Ui::MainWindow ui;
};

QTEST_MAIN(FormTest)
#include "tst_form.moc"
