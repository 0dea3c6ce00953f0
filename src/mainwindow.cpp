#include "mainwindow.h"

#include "accessibility.h"
#include "constants.h"
#include "elidedtext.h"
#include "gamefolder.h"
#include "hidpiimages.h"
#include "keyboardnavigation.h"
#include "launcherconstants.h"
#include "newspage.h"
#include "realmindicator.h"
#include "realmstatus.h"
#include "ui_mainwindow.h"
#include "updater.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>

using namespace vestrahal;

namespace {

const QString kReadyText = QStringLiteral("World of Warcraft est prêt à être lancé");
const QString kSaveFailedText = QStringLiteral("Impossible de save");

QByteArray newsAddress(const char* path) {
    return QByteArray(vestrahal::kWebScheme) + "://" + vestrahal::kWebDomain + path;
}

QUrl newsHome() {
    return QUrl(QString::fromLatin1(newsAddress("/launcher/launcher.php")));
}

// The host goes into launcher.conf, where "|" ends it and a line break ends the line, and into
// the game's realmlist after "set realmlist ": neither may be cut or gain a line.
bool isStorableHost(const QString& host) {
    for (const QChar ch : host) {
        if (ch == QLatin1Char('|') || ch.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

// launcher.conf holds the folder as one line of Latin-1 text: any other character would be
// stored as "?" and the folder lost at the next start, and a line break would cut the file.
bool isStorableFolder(const QString& folder) {
    for (const QChar ch : folder) {
        if (ch.unicode() > 0xff || ch.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , selfUpdater(nullptr)
    , ui(new Ui::MainWindow)
    , gameProcess(nullptr)
    , newsLoaded(false)
    , launchAllowed(false) {
    ui->setupUi(this);
    useHighDensityImages(this);
    ui->Chargement->setValue(0);
    ui->Fading->hide();
    ui->OptionsMenu->hide();
    gameProcess = nullptr;
    ui->Jouer->setEnabled(false);
    launchAllowed = false;
    ui->Texte->setText(QStringLiteral("Démarrage en cours."));
    newsLoaded = false;

    NewsPage* news = ui->Web->newsPage();
    news->setLinkDelegationPolicy(NewsPage::DelegateAllLinks);
    ui->Web->hide();
    connect(news, &NewsPage::linkClicked, this, &MainWindow::newsOnLinkClicked);
    connect(news, &NewsPage::pageLoadFinished, this, &MainWindow::loadPageFinished);
    ui->Chargement->setValue(kProgressNewsRequested);

    realmButtons = {ui->radioButton,   ui->radioButton_2, ui->radioButton_3,
                    ui->radioButton_4, ui->radioButton_5, ui->radioButton_6};

    if (config.load()) {
        // The gate is judged twice, before and after the flag is set: deliberate, the first
        // look can only keep "Jouer" shut and changes nothing.
        checkReadyToPlay();
        launchAllowed = true;
        checkReadyToPlay();
        ui->Texte->setText(QStringLiteral("Launcher chargé correctement"));
        ui->Chargement->setValue(kProgressSettingsLoaded);
        ui->labelVersion->setText(QStringLiteral("Version ") + config.version);
        selfUpdater = new updater(ui, &config);
        selfUpdater->checkVersion();
    } else {
        ui->Texte->setText(
            QStringLiteral("Erreur lors du chargement. launcher.conf n'existe pas."));
        launchAllowed = false;
        checkReadyToPlay();
    }

    startRealmStatus();
    refreshOptions();
    refreshRealmButtons();

    // Playing with the keyboard alone, and with a screen reader.
    nameForScreenReaders(ui);
    keepControlsLegible(ui, {realmButtons.begin(), realmButtons.end()});
    auto* keyboard = new KeyboardNavigation(this, ui, {realmButtons.begin(), realmButtons.end()});
    connect(keyboard, &KeyboardNavigation::newsHomeRequested, this, &MainWindow::showNewsHome);
}

MainWindow::~MainWindow() {
    // No check may start while the game processes below go and report their end.
    delete realmStatus;
    realmStatus = nullptr;
    // Deleting a process object ends a game that still runs: it goes with the launcher. Its
    // end must not reach the window that is being destroyed (which would show itself again), so
    // every game process is cut off from the window first, the earlier ones kept as children too.
    const QList<QProcess*> games = findChildren<QProcess*>(Qt::FindDirectChildrenOnly);
    for (QProcess* process : games) {
        process->disconnect(this);
        delete process;
    }
    if (gameProcess)
        gameProcess->disconnect(this);
    delete gameProcess;
    // The updater writes to the form and to the settings until it goes: it goes before the
    // form; the settings, a member, outlive both. The widgets go last, with the window.
    delete selfUpdater;
    delete ui;
}

void MainWindow::checkReadyToPlay() {
    if (newsLoaded && launchAllowed && config.upToDate) {
        ui->Texte->setText(kReadyText);
        ui->Jouer->setEnabled(true);
    } else {
        ui->Jouer->setEnabled(false);
    }
}

bool MainWindow::realmOffered(int realm) {
    if (config.realmHosts[realm] == kEmptyRealmHost)
        return false;
    return config.realmWotlk[realm] ? config.wotlkEnabled : config.cataEnabled;
}

void MainWindow::refreshRealmButtons() {
    ui->radioButton->setText(QStringLiteral("Vestrahal Servers"));
    ui->radioButton_2->setText(QStringLiteral("Royaumes Officiels"));
    ui->radioButton_3->setText(QStringLiteral("Brontavale"));

    const QMap<int, QByteArray> hosts = config.realmHosts;
    for (int realm = 0; realm < kRealmCount; ++realm) {
        QRadioButton* button = realmButtons[realm];
        button->hide();
        // Checked even when it stays hidden: "Jouer" plays the checked realm.
        if (realm == config.selectedRealm)
            button->setChecked(true);
        const QByteArray host = hosts.value(realm);
        if (host == kEmptyRealmHost)
            continue;
        if (realm >= kFirstPersonalRealm)
            button->setText(QString::fromLatin1(host));
        if (realmOffered(realm))
            button->show();
    }
    watchRealms();
}

void MainWindow::refreshOptions() {
    ui->CheminWoTLK->setText(config.wotlkPath);
    ui->CheminCata->setText(config.cataPath);
    // Setting a box that changes it stores the settings again (its toggled slot saves at once):
    // at start-up that rewrites launcher.conf with the same bytes. Deliberate, and harmless.
    ui->checkBox_Realm1->setChecked(config.realmWotlk[personalRealmOfRow(1)]);
    ui->checkBox_Realm2->setChecked(config.realmWotlk[personalRealmOfRow(2)]);
    ui->checkBox_Realm3->setChecked(config.realmWotlk[personalRealmOfRow(3)]);
}

void MainWindow::loadPageFinished(bool ok) {
    newsLoaded = true;
    checkReadyToPlay();
    // A page shown in place hides every control: failed, it would leave the player on an error
    // page with nothing but the way out of the launcher.
    if (!ok && pageShownInPlace) {
        showNewsHome();
        return;
    }
    ui->Web->show();
}

void MainWindow::showNewsHome() {
    pageShownInPlace = false;
    ui->Web->hide();
    ui->Chargement->show();
    ui->Jouer->show();
    ui->Options->show();
    ui->Texte->show();
    for (int realm = 0; realm < kRealmCount; ++realm) {
        if (realmOffered(realm))
            realmButtons[realm]->show();
    }
    ui->Web->setUrl(newsHome());
}

void MainWindow::newsOnLinkClicked(QUrl url) {
    const QByteArray text = url.toString().toLatin1();

    if (text.startsWith(newsAddress("/launcher/ex"))) {
        // A launcher page of the server, shown over the whole window once it has loaded.
        pageShownInPlace = true;
        ui->Web->setUrl(url);
        ui->Web->hide();
        ui->Chargement->hide();
        ui->Jouer->hide();
        ui->Options->hide();
        ui->Texte->hide();
        for (QRadioButton* button : realmButtons)
            button->hide();
    } else if (text.startsWith(newsAddress("/launcher/la"))) {
        showNewsHome();
    } else {
        // A news page decides what the player's click opens: never let it reach files or other
        // programs' URL schemes through the system's handler.
        const QString scheme = url.scheme();
        if (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
            scheme == QLatin1String("mailto"))
            QDesktopServices::openUrl(url);
    }
}

void MainWindow::on_Jouer_clicked() {
    launchAllowed = false;
    checkReadyToPlay();
    int realm = kRealmVestrahal;
    for (int i = 0; i < kRealmCount; ++i) {
        if (realmButtons[i]->isChecked())
            realm = i;
    }
    LaunchGame(config.realmWotlk[realm] ? kClientModeWotlk : kClientModeCata, realm);
}

void MainWindow::LaunchGame(int clientMode, int realm) {
    QString folder = QString::fromLatin1(kEmptyRealmHost);
    if (clientMode == kClientModeWotlk)
        folder = config.wotlkPath;
    else if (clientMode == kClientModeCata)
        folder = config.cataPath;
    else
        return;
    if (folder.isEmpty()) {
        ui->Texte->setText(
            clientMode == kClientModeWotlk
                ? QStringLiteral(
                      "Merci de séléctionner un chemin valide pour WoTLK dans le menu d'options")
                : QStringLiteral("Merci de séléctionner un chemin valide pour Cataclysme dans le "
                                 "menu d'options"));
        return;
    }
    config.selectedRealm = realm;
    gamefolder::removeTopLevelRealmlist(folder);
    gamefolder::sweepCache(folder);
    const QMap<int, QByteArray> hosts = config.realmHosts;
    if (!gamefolder::writeRealmlist(folder, hosts.value(realm))) {
        ui->Texte->setText(
            QStringLiteral("Une erreur s'est produite lors du changement du realmlist."));
        return;
    }

    if (gameProcess) {
        // The earlier game may still run: it goes when it ends, or with the window. Never
        // deleted here, where its own signals may still be on their way.
        QProcess* earlier = gameProcess;
        earlier->setParent(this);
        if (earlier->state() == QProcess::NotRunning)
            earlier->deleteLater();
        else
            connect(earlier, &QProcess::finished, earlier, &QObject::deleteLater);
    }
    gameProcess = new QProcess;
    connect(gameProcess, SIGNAL(errorOccurred(QProcess::ProcessError)), this,
            SLOT(ErrorLaunchingProcess(QProcess::ProcessError)));
    connect(gameProcess, SIGNAL(started()), this, SLOT(LaunchingProcessEnd()));
    connect(gameProcess, SIGNAL(finished(int)), this, SLOT(ProcessEnd(int)));
    // What the game prints is of no use to the launcher, and read into memory it would grow
    // for as long as the game runs.
    gameProcess->setStandardOutputFile(QProcess::nullDevice());
    gameProcess->setStandardErrorFile(QProcess::nullDevice());
    // The whole path as the program (or as the runner's only argument), so that a folder with
    // spaces stays one path; the game runs in the launcher's own working directory.
    const QString program = folder + gamefolder::executableFor(config.realmWotlk[realm], realm);
    const QString runner = gamefolder::gameRunner();
    // A runner would start and then fail on a missing game: that is a game that cannot start.
    if (!runner.isEmpty() && !QFileInfo(program).isFile()) {
        ErrorLaunchingProcess(QProcess::FailedToStart);
        return;
    }
    const gamefolder::GameCommand command = gamefolder::gameCommand(runner, program);
    gameProcess->start(command.program, command.arguments, QIODevice::ReadWrite);
    pauseRealmStatusWhileGameRuns();
}

void MainWindow::LaunchingProcessEnd() {
    ui->Texte->setText(QStringLiteral("World Of Warcraft lancé."));
    showMinimized();
    // Nobody reads the news while the game runs, often for hours.
    if (kRestNewsWhilePlaying)
        ui->Web->rest();
}

void MainWindow::ProcessEnd(int) {
    launchAllowed = true;
    checkReadyToPlay();
    ui->Texte->setText(kReadyText);
    // The news comes back, loaded afresh: the page shown in place if there was one (a rest that
    // cut its load short leaves no address), else the news home. The controls are untouched.
    const QUrl inPlace = pageShownInPlace ? ui->Web->url() : QUrl();
    ui->Web->wake(inPlace.isValid() ? inPlace : newsHome());
    showMaximized();
    pauseRealmStatusWhileGameRuns();
}

void MainWindow::ErrorLaunchingProcess(QProcess::ProcessError) {
    ui->Texte->setText(QStringLiteral(
        "Une erreur s'est produite lors du démarrage de World of Warcraft - (Code 1)."));
    pauseRealmStatusWhileGameRuns();
}

void MainWindow::LaunchingInjectorProcessEnd(int) {}

void MainWindow::ErrorLaunchingInjectorProcess(QProcess::ProcessError) {
    ui->Texte->setText(QStringLiteral(
        "Une erreur s'est produite lors du démarrage de World of Warcraft - (Code 2)."));
}

void MainWindow::on_Options_clicked() {
    ui->Fading->show();
    ui->OptionsMenu->show();
}

void MainWindow::reportFailedSave(bool saved) {
    // Shown in memory but not stored, the change would be gone at the next start.
    if (!saved)
        ui->Texte->setText(kSaveFailedText);
}

void MainWindow::on_SauvegarderOptions_clicked() {
    if (config.save()) {
        refreshOptions();
        refreshRealmButtons();
    } else {
        ui->Texte->setText(kSaveFailedText);
        launchAllowed = false;
    }
    checkReadyToPlay();
    ui->Fading->hide();
    ui->OptionsMenu->hide();
}

bool MainWindow::ask(const QString& title, const QString& question) {
    return QMessageBox::question(this, title, question, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::NoButton) == QMessageBox::Yes;
}

void MainWindow::chooseGameFolder(bool& enabled, QString& path, QLabel* label,
                                  const QString& cancelQuestion, const QString& ownGameQuestion) {
    for (;;) {
        const QString folder = QFileDialog::getExistingDirectory(this, QString(), QString(),
                                                                 QFileDialog::ShowDirsOnly);
        if (folder.isEmpty()) {
            if (!ask(QStringLiteral("Pas de dossier"), cancelQuestion))
                continue;
            giveUpClient(enabled, path, label);
            return;
        }
        if (!isStorableFolder(folder)) {
            QMessageBox::warning(
                this, QStringLiteral("Dossier non valide"),
                QStringLiteral("Ce dossier ne peut pas être enregistré : son chemin ne doit "
                               "contenir que des lettres de l'alphabet latin (sans « œ » ni "
                               "autre alphabet), et ni retour à la ligne ni caractère de "
                               "contrôle.\n\nVeuillez choisir un autre dossier."));
            continue;
        }
        // A client with Wow.exe but without the community's marker is the player's own
        // installation: used only once the player confirms.
        const bool ownGame = QFile::exists(folder + QStringLiteral("/Wow.exe")) &&
                             !QFile::exists(folder + QStringLiteral("/kvf.vestrahal"));
        if (ownGame && !ask(QStringLiteral("Jeu existant"), ownGameQuestion))
            continue;
        enabled = true;
        path = folder;
        label->setText(folder);
        launchAllowed = true;
        checkReadyToPlay();
        return;
    }
}

void MainWindow::giveUpClient(bool& enabled, QString& path, QLabel* label) {
    enabled = false;
    path.clear();
    label->setText(QStringLiteral("Pas de dossier"));
}

void MainWindow::on_ModifierCheminWoTLK_clicked() {
    chooseGameFolder(config.wotlkEnabled, config.wotlkPath, ui->CheminWoTLK,
                     QStringLiteral("Etes-vous sûr de ne pas utiliser WoTLK?"),
                     QStringLiteral("Etes-vous sûr d'utiliser votre version de WoTLK?"));
}

void MainWindow::on_ModifierCheminCata_clicked() {
    chooseGameFolder(config.cataEnabled, config.cataPath, ui->CheminCata,
                     QStringLiteral("Etes-vous sûr de ne pas utiliser Cataclysme ?"),
                     QStringLiteral("Etes-vous sûr d'utiliser votre version de Cataclyme ?"));
}

void MainWindow::on_DeleteCheminWoTLK_clicked() {
    if (!ask(QStringLiteral("Confirmation"),
             QStringLiteral("Etes-vous sûr de ne pas utiliser Wrath of the Lich King ?")))
        return;
    giveUpClient(config.wotlkEnabled, config.wotlkPath, ui->CheminWoTLK);
}

void MainWindow::on_DeleteCheminCata_clicked() {
    if (!ask(QStringLiteral("Pas de dossier"),
             QStringLiteral("Etes-vous sûr de ne pas utiliser Cataclysme ?")))
        return;
    giveUpClient(config.cataEnabled, config.cataPath, ui->CheminCata);
}

void MainWindow::on_SetRealm1_clicked() {
    enterPersonalRealm(1);
}
void MainWindow::on_SetRealm2_clicked() {
    enterPersonalRealm(2);
}
void MainWindow::on_SetRealm3_clicked() {
    enterPersonalRealm(3);
}
void MainWindow::on_DeleteRealm1_clicked() {
    deletePersonalRealm(1);
}
void MainWindow::on_DeleteRealm2_clicked() {
    deletePersonalRealm(2);
}
void MainWindow::on_DeleteRealm3_clicked() {
    deletePersonalRealm(3);
}
void MainWindow::on_checkBox_Realm1_toggled(bool checked) {
    reportFailedSave(config.setRealmWotlk(personalRealmOfRow(1), checked));
}
void MainWindow::on_checkBox_Realm2_toggled(bool checked) {
    reportFailedSave(config.setRealmWotlk(personalRealmOfRow(2), checked));
}
void MainWindow::on_checkBox_Realm3_toggled(bool checked) {
    reportFailedSave(config.setRealmWotlk(personalRealmOfRow(3), checked));
}

void MainWindow::enterPersonalRealm(int row) {
    static const char* const ordinals[] = {"premier", "second", "troisième"};
    bool accepted = false;
    const QString host = QInputDialog::getText(
        this, QStringLiteral("Realmlist numéro %1").arg(row),
        QStringLiteral("Veuillez entrer l'adresse de votre %1 Realmlist personnel\n\nVeillez à ne "
                       "pas indiquer le 'set realmlist'")
            .arg(QString::fromUtf8(ordinals[row - 1])),
        QLineEdit::Normal, QString(), &accepted);
    if (!accepted || host.isEmpty())
        return;
    if (!isStorableHost(host)) {
        QMessageBox::warning(this, QStringLiteral("Realmlist numéro %1").arg(row),
                             QStringLiteral("Cette adresse ne peut pas être enregistrée : elle ne "
                                            "doit contenir ni « | », ni retour à la ligne, ni "
                                            "caractère de contrôle.\n\nRien n'a été modifié."));
        return;
    }
    const int realm = personalRealmOfRow(row);
    reportFailedSave(config.setRealmHost(realm, host.toLatin1()));
    realmButtons[realm]->setText(host);
    refreshRealmButtons();
}

void MainWindow::deletePersonalRealm(int row) {
    const int realm = personalRealmOfRow(row);
    const bool hostSaved = config.setRealmHost(realm, kEmptyRealmHost);
    realmButtons[realm]->setText(QString::fromLatin1(kEmptyRealmHost));
    reportFailedSave(config.setRealmWotlk(realm, false) && hostSaved);
    refreshRealmButtons();
}

void MainWindow::startRealmStatus() {
    if (!vestrahal::kRealmStatus)
        return;
    realmStatus = new RealmStatus(this);
    realmStatus->setPeriodicCondition([this] { return isVisible() && !isMinimized(); });
    // Back in the window, the player sees the realms as they are now.
    connect(qApp, &QGuiApplication::applicationStateChanged, realmStatus, [this](auto state) {
        if (state == Qt::ApplicationActive)
            realmStatus->checkOlderThan(RealmStatus::kFreshForMs);
    });
    for (int realm = 0; realm < 6; ++realm)
        realmIndicators[realm] = new RealmIndicator(realmButtons[realm]);
    connect(realmStatus, &RealmStatus::changed, this, [this](int realm) {
        realmIndicators[realm]->showState(realmStatus->state(realm),
                                          realmStatus->milliseconds(realm));
    });
}

void MainWindow::watchRealms() {
    if (!realmStatus)
        return;
    for (int realm = 0; realm < 6; ++realm) {
        realmStatus->setHost(realm,
                             realmOffered(realm) ? config.realmHosts.value(realm) : QByteArray());
        // The button's text may have changed: the gem follows it.
        realmIndicators[realm]->showState(realmStatus->state(realm),
                                          realmStatus->milliseconds(realm));
    }
}

void MainWindow::pauseRealmStatusWhileGameRuns() {
    if (!realmStatus)
        return;
    // An earlier game may still run beside the current one: it is a child of the window.
    bool running = gameProcess && gameProcess->state() != QProcess::NotRunning;
    for (const QProcess* game : findChildren<QProcess*>(Qt::FindDirectChildrenOnly))
        running = running || game->state() != QProcess::NotRunning;
    realmStatus->setPaused(running);
}
