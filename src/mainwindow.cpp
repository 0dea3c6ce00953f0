#include "mainwindow.h"

#include "accessibility.h"
#include "buildoptions.h"
#include "elidedtext.h"
#include "gamefilescontrols.h"
#include "gamefolder.h"
#include "gamesession.h"
#include "hidpiimages.h"
#include "keyboardnavigation.h"
#include "newslinks.h"
#include "newspage.h"
#include "playedgame.h"
#include "playgate.h"
#include "realmgems.h"
#include "realmplay.h"
#include "realmsandprogress.h"
#include "ui_mainwindow.h"
#include "updater.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QTimer>

using namespace vestrahal;

namespace {

const QString kReadyText = QStringLiteral("World of Warcraft est prêt à être lancé");

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , gate(new PlayGate(this))
    , game(new PlayedGame(this)) {
    ui->setupUi(this);
    gameFiles = new GameFilesControls(ui.get(), gate, &config, this);
    useHighDensityImages(this);
    realmButtons = {ui->radioButton,   ui->radioButton_2, ui->radioButton_3,
                    ui->radioButton_4, ui->radioButton_5, ui->radioButton_6};
    showStarting();
    connectGate();
    connectGame();
    connectNews();

    // Before anything is asked of the network: a game of the folder may be running.
    const PlayedGame::FolderGame folderGame = game->joinFolderGame(Config::launcherFolder());
    loadSettings(folderGame);
    // Whatever the load came to: the form's own text is a placeholder.
    ui->labelVersion->setText(QStringLiteral("Version ") + config.version);
    if (folderGame == PlayedGame::FolderGame::Ended)
        comeBackFromGame();
    startRealmStatus();
    pauseRealmStatusWhileGameRuns();
    refreshOptions();
    refreshRealmButtons();
    setUpKeyboardAndScreenReaders();
}

void MainWindow::showStarting() {
    ui->Chargement->setValue(0);
    ui->Fading->hide();
    ui->OptionsMenu->hide();
    ui->Jouer->setEnabled(false);
    ui->Texte->setText(QStringLiteral("Démarrage en cours."));
}

void MainWindow::connectGate() {
    connect(gate, &PlayGate::opened, this, [this] {
        // What the player must know outlives the news page's next load.
        const QString notice = gameNotice.isEmpty() ? launcherNotice : gameNotice;
        ui->Texte->setText(notice.isEmpty() ? kReadyText : notice);
        ui->Jouer->setEnabled(true);
    });
    connect(gate, &PlayGate::openedEarly, ui->Jouer, [this] { ui->Jouer->setEnabled(true); });
    connect(gate, &PlayGate::closed, ui->Jouer, [this] { ui->Jouer->setEnabled(false); });
}

void MainWindow::connectGame() {
    connect(game, SIGNAL(started()), this, SLOT(LaunchingProcessEnd()));
    connect(game, SIGNAL(ended(int, qint64)), this, SLOT(ProcessEnd(int)));
    connect(game, SIGNAL(failed(QProcess::ProcessError)), this,
            SLOT(ErrorLaunchingProcess(QProcess::ProcessError)));
    // The community's files are left alone while the game runs.
    connect(game, &PlayedGame::started, gameFiles, &GameFilesControls::gameStarted);
    connect(game, &PlayedGame::ended, gameFiles, &GameFilesControls::gameEnded);
    // Without a word, the player would wait for a game that is already gone, or never learn
    // what to install.
    connect(game, &PlayedGame::notice, ui->Texte, [this](const QString& text) {
        gameNotice = text;
        ui->Texte->setText(gameNotice);
    });
    // The watcher holds the game: this process ends, and the watcher starts the launcher again
    // when the game ends.
    connect(game, &PlayedGame::handedOver, this, [] { QCoreApplication::quit(); });
}

void MainWindow::connectNews() {
    NewsPage* news = ui->Web->newsPage();
    news->setLinkDelegationPolicy(NewsPage::DelegateAllLinks);
    ui->Web->hideWhileLoading();
    connect(news, &NewsPage::linkClicked, this, &MainWindow::newsOnLinkClicked);
    connect(news, &NewsPage::pageLoadFinished, this, &MainWindow::loadPageFinished);
    ui->Chargement->setValue(kProgressNewsRequested);
}

void MainWindow::loadSettings(PlayedGame::FolderGame folderGame) {
    const bool loaded = config.load();
    // A folder that cannot take launcher.conf holds nothing of the player's: the built-in
    // settings are played with, and the player is told why, once.
    const bool builtInSettings = !loaded && config.fileCannotBeMade();
    gate->set(PlayGate::Condition::SettingsUsable, loaded || builtInSettings);
    if (!loaded && !builtInSettings) {
        ui->Texte->setText(
            QStringLiteral("Erreur lors du chargement. launcher.conf n'existe pas."));
        return;
    }
    ui->Texte->setText(QStringLiteral("Launcher chargé correctement"));
    ui->Chargement->setValue(kProgressSettingsLoaded);
    game->setReportFile(config.reportFilePath());
    // A portable launcher that cannot store its settings could not record a new version either
    // (an update not recorded is undone): it plays as it is. A package's version is its own, so
    // it still checks.
    const auto checkLauncher = [this, loaded] {
        if (loaded || kPackaged)
            startSelfUpdate();
        else
            playAsItIs();
    };
    if (folderGame == PlayedGame::FolderGame::Running)
        waitForFolderGame(checkLauncher);
    else
        checkLauncher();
    if (builtInSettings)
        showSettingsNotice(settingsNotice.atStartWithBuiltInSettings(config));
}

void MainWindow::setUpKeyboardAndScreenReaders() {
    nameForScreenReaders(ui.get());
    keepControlsLegible(ui.get(), {realmButtons.begin(), realmButtons.end()});
    keyboard = new KeyboardNavigation(this, ui.get(), {realmButtons.begin(), realmButtons.end()});
    connect(keyboard, &KeyboardNavigation::newsHomeRequested, this, &MainWindow::showNewsHome);
    connect(keyboard, &KeyboardNavigation::optionsCloseRequested, this,
            &MainWindow::on_SauvegarderOptions_clicked);
}

MainWindow::~MainWindow() = default;

void MainWindow::startSelfUpdate() {
    selfUpdater.reset(new updater(&config));
    connect(selfUpdater.get(), &updater::statusChanged, ui->Texte, &QLabel::setText);
    connect(selfUpdater.get(), &updater::progressChanged, ui->Chargement, &QProgressBar::setValue);
    connect(selfUpdater.get(), &updater::current, this, [this] {
        ui->Chargement->setValue(kProgressDone);
        ui->Texte->setText(QStringLiteral("Version à jour"));
        gameFiles->launcherFoundCurrent();
    });
    // The player plays with this launcher, told why it stays as it is.
    const auto playWithNotice = [this](const QString& notice) {
        launcherNotice = notice;
        ui->Texte->setText(notice);
        gameFiles->launcherFoundCurrent();
    };
    connect(selfUpdater.get(), &updater::packageOutdated, this, playWithNotice);
    connect(selfUpdater.get(), &updater::notOffered, this, playWithNotice);
    connect(selfUpdater.get(), &updater::checkFailed, this, [](int code) {
        QMessageBox::information(
            nullptr, QStringLiteral("Erreur lors de la connexion pour vérifier la version"),
            QString::number(code), QMessageBox::Ok, QMessageBox::NoButton);
    });
    connect(selfUpdater.get(), &updater::updated, this, [this] {
        gate->launcherInstalled();
        QMessageBox::information(
            nullptr, QStringLiteral("Mise à jour"),
            QStringLiteral("Votre launcher a été mis à jour avec succès !\n\nMerci de le "
                           "redémarrer pour prendre en compte les modifications."),
            QMessageBox::Ok, QMessageBox::NoButton);
        QCoreApplication::quit();
    });
    selfUpdater->checkVersion();
}

void MainWindow::waitForFolderGame(const std::function<void()>& checkLauncher) {
    gate->set(PlayGate::Condition::NoLaunchUnderWay, false);
    ui->Texte->setText(QStringLiteral("World of Warcraft lancé."));
    connect(game, &PlayedGame::folderGameEnded, this,
            [this, checkLauncher](const gamewatch::GameEnd& end) {
                gameNotice = end.notice;
                gate->set(PlayGate::Condition::NoLaunchUnderWay, true);
                ui->Texte->setText(gameNotice.isEmpty() ? kReadyText : gameNotice);
                pauseRealmStatusWhileGameRuns();
                sayReadyWhenCurrent();
                checkLauncher();
            });
}

void MainWindow::comeBackFromGame() {
    const gamewatch::GameEnd& end = game->endAtStart();
    if (end.realm >= 0 && end.realm < kRealmCount)
        config.selectedRealm = end.realm;
    gameNotice = end.notice;
    setWindowState(windowState() | Qt::WindowMaximized);
    sayReadyWhenCurrent();
}

void MainWindow::sayReadyWhenCurrent() {
    // A launcher found current opens "Jouer" without the ready text, which after a game is what
    // the player waits for: with the news already in, the gate is judged again then and says it.
    // With the news still on its way, its arrival says it.
    connect(
        gate, &PlayGate::openedEarly, this,
        [this] {
            if (gate->isOpen())
                gate->evaluate();
        },
        Qt::SingleShotConnection);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!game->session()->isRunning()) {
        QMainWindow::closeEvent(event);
        return;
    }
    // Ending the process would end the player's game with it, unsaved.
    leaveWithTheGame = true;
    event->ignore();
    hide();
}

void MainWindow::playAsItIs() {
    ui->Chargement->setValue(kProgressDone);
    gameFiles->launcherFoundCurrent();
}

void MainWindow::on_VerifierFichiers_clicked() {
    gameFiles->verify();
}

void MainWindow::refreshRealmButtons() {
    ui->radioButton->setText(QStringLiteral("Vestrahal Servers"));
    ui->radioButton_2->setText(QStringLiteral("Royaumes Officiels"));
    ui->radioButton_3->setText(QStringLiteral("Brontavale"));

    const realmplay::Realms shown = realmplay::offeredRealms(config);
    int checked = -1;
    for (int realm = 0; realm < kRealmCount; ++realm) {
        if (realmButtons[realm]->isChecked())
            checked = realm;
        const QByteArray host = config.realmHosts.value(realm);
        if (realm >= kFirstPersonalRealm && host != kEmptyRealmHost)
            realmButtons[realm]->setText(QString::fromLatin1(host));
        // Shown or hidden once: hidden on the way, the focused realm would lose the focus.
        realmButtons[realm]->setVisible(shown[realm]);
    }
    // Checked even when it stays hidden: "Jouer" plays the checked realm.
    realmButtons[realmplay::checkedAfterRefresh(checked, config.selectedRealm, shown)]->setChecked(
        true);
    showPersonalRealmHosts(ui.get(), config);
    if (keyboard)
        keyboard->realmsRefreshed();
    watchRealms();
}

void MainWindow::refreshOptions() {
    ui->CheminWoTLK->setText(config.wotlkPath);
    ui->CheminCata->setText(config.cataPath);
    // A box set here goes through its toggled slot as a player's click does, and that slot
    // stores the flag at once: a start with a personal realm played with WoTLK writes
    // launcher.conf again, whole, with the values just read. Kept rather than silenced, so that
    // a box can never show a flag other than the stored one.
    ui->checkBox_Realm1->setChecked(config.realmWotlk[personalRealmOfRow(1)]);
    ui->checkBox_Realm2->setChecked(config.realmWotlk[personalRealmOfRow(2)]);
    ui->checkBox_Realm3->setChecked(config.realmWotlk[personalRealmOfRow(3)]);
}

void MainWindow::loadPageFinished(bool ok) {
    gate->set(PlayGate::Condition::NewsLoaded, true);
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
    ui->Web->hideWhileLoading();
    showControls(true);
    ui->Web->setUrl(newslinks::home());
}

void MainWindow::showControls(bool shown) {
    for (QWidget* control :
         std::initializer_list<QWidget*>{ui->Chargement, ui->Jouer, ui->Options, ui->Texte})
        control->setVisible(shown);
    for (int realm = 0; realm < kRealmCount; ++realm)
        realmButtons[realm]->setVisible(shown && realmplay::offered(config, realm));
}

void MainWindow::newsOnLinkClicked(QUrl url) {
    switch (newslinks::routeOf(url)) {
    case newslinks::Route::InPlace:
        pageShownInPlace = true;
        ui->Web->setUrl(url);
        // The controls go first: the keyboard then stays with the page, never on a hidden control.
        showControls(false);
        ui->Web->hideWhileLoading();
        break;
    case newslinks::Route::NewsHome:
        showNewsHome();
        break;
    case newslinks::Route::Outside:
        QDesktopServices::openUrl(url);
        break;
    case newslinks::Route::Nowhere:
        break;
    }
}

void MainWindow::on_Jouer_clicked() {
    gameNotice.clear();
    gate->set(PlayGate::Condition::NoLaunchUnderWay, false);
    realmplay::Realms checked{};
    for (int realm = 0; realm < kRealmCount; ++realm)
        checked[std::size_t(realm)] = realmButtons[realm]->isChecked();
    const int realm = realmplay::realmToPlay(checked);
    LaunchGame(realmplay::clientModeOf(config, realm), realm);
}

void MainWindow::LaunchGame(int clientMode, int realm) {
    const realmplay::Play play = realmplay::playFor(config, clientMode, realm);
    if (play.folder.isEmpty()) {
        stopLaunchOnFolder(realmplay::missingFolderText(clientMode));
        return;
    }
    config.selectedRealm = realm;
    if (!game->session()->prepare(play.folder, config.realmHosts.value(realm))) {
        stopLaunchOnFolder(
            QStringLiteral("Une erreur s'est produite lors du changement du realmlist."));
        return;
    }
    game->start(play.program, realm);
    pauseRealmStatusWhileGameRuns();
}

void MainWindow::stopLaunchOnFolder(const QString& why) {
    // Pressed again, "Jouer" would stop the same way: it waits for a folder chosen in the options.
    gate->set(PlayGate::Condition::FolderUsable, false);
    gate->set(PlayGate::Condition::NoLaunchUnderWay, true);
    ui->Texte->setText(why);
}

void MainWindow::LaunchingProcessEnd() {
    ui->Texte->setText(QStringLiteral("World of Warcraft lancé."));
    showMinimized();
    // Nobody reads the news while the game runs, often for hours.
    if (kRestNewsWhilePlaying)
        ui->Web->rest();
}

void MainWindow::ProcessEnd(int) {
    if (leaveWithTheGame && !isVisible()) {
        // Closed while the game ran: the game was all that kept the process.
        if (!game->session()->isRunning())
            emit closedWithTheGame();
        return;
    }
    leaveWithTheGame = false;
    // Another game of this launcher may still run.
    gate->set(PlayGate::Condition::NoLaunchUnderWay, !game->isRunning());
    ui->Texte->setText(kReadyText);
    // The news comes back, loaded afresh: the page shown in place if there was one (a rest that
    // cut its load short leaves no address), else the news home. The controls are untouched.
    const QUrl inPlace = pageShownInPlace ? ui->Web->url() : QUrl();
    ui->Web->wake(inPlace.isValid() ? inPlace : newslinks::home());
    showMaximized();
    pauseRealmStatusWhileGameRuns();
}

void MainWindow::ErrorLaunchingProcess(QProcess::ProcessError) {
    // The player may try again at once: "Jouer" opens, under the message that says why not yet,
    // unless a game of this launcher still runs.
    gate->set(PlayGate::Condition::NoLaunchUnderWay, !game->isRunning());
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
    showSettingsNotice(settingsNotice.afterSave(saved, config));
}

void MainWindow::showSettingsNotice(const QString& notice) {
    if (notice.isEmpty())
        return;
    // From the event loop: a save may fail inside the constructor or a refresh, and the box is
    // over whatever is open then, the options panel included.
    QTimer::singleShot(
        0, this, [this, notice] { QMessageBox::warning(this, SettingsNotice::title(), notice); });
}

void MainWindow::on_SauvegarderOptions_clicked() {
    // The choices hold whether or not they reached the file: a failed save is told, and never
    // keeps the player from playing.
    reportFailedSave(config.save());
    refreshOptions();
    refreshRealmButtons();
    gate->evaluate();
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
        if (!Config::canStoreFolder(folder)) {
            QMessageBox::warning(
                this, QStringLiteral("Dossier non valide"),
                QStringLiteral("Ce dossier ne peut pas être enregistré : son chemin ne doit "
                               "contenir que des lettres de l'alphabet latin (sans « œ » ni "
                               "autre alphabet), et ni retour à la ligne ni caractère de "
                               "contrôle.\n\nVeuillez choisir un autre dossier."));
            continue;
        }
        if (realmplay::isOwnInstallation(folder) &&
            !ask(QStringLiteral("Jeu existant"), ownGameQuestion))
            continue;
        enabled = true;
        path = folder;
        label->setText(folder);
        // A launch that stopped on its folder may be tried again; a game that runs still keeps
        // "Jouer" shut until it ends.
        gate->set(PlayGate::Condition::FolderUsable, true);
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
                     QStringLiteral("Êtes-vous sûr de ne pas utiliser WoTLK ?"),
                     QStringLiteral("Êtes-vous sûr d'utiliser votre version de WoTLK ?"));
}

void MainWindow::on_ModifierCheminCata_clicked() {
    chooseGameFolder(config.cataEnabled, config.cataPath, ui->CheminCata,
                     QStringLiteral("Êtes-vous sûr de ne pas utiliser Cataclysme ?"),
                     QStringLiteral("Êtes-vous sûr d'utiliser votre version de Cataclysme ?"));
}

void MainWindow::on_DeleteCheminWoTLK_clicked() {
    if (!ask(QStringLiteral("Confirmation"),
             QStringLiteral("Êtes-vous sûr de ne pas utiliser Wrath of the Lich King ?")))
        return;
    giveUpClient(config.wotlkEnabled, config.wotlkPath, ui->CheminWoTLK);
}

void MainWindow::on_DeleteCheminCata_clicked() {
    if (!ask(QStringLiteral("Pas de dossier"),
             QStringLiteral("Êtes-vous sûr de ne pas utiliser Cataclysme ?")))
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
    if (!Config::canStoreHost(host)) {
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
    if (vestrahal::kRealmStatus)
        realmGems = new RealmGems(this, {realmButtons.begin(), realmButtons.end()});
}

void MainWindow::watchRealms() {
    for (int realm = 0; realmGems && realm < kRealmCount; ++realm)
        realmGems->watch(realm, realmplay::offered(config, realm) ? config.realmHosts.value(realm)
                                                                  : QByteArray());
}

void MainWindow::pauseRealmStatusWhileGameRuns() {
    if (realmGems)
        realmGems->setPaused(game->isRunning());
}
