#include "installcontrols.h"

#include "accessibility.h"
#include "config.h"
#include "gamefiles.h"
#include "gamefilescontrols.h"
#include "launcherfiles.h"
#include "playgate.h"
#include "realmplay.h"
#include "realmsandprogress.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QMessageBox>

namespace {

const QString kLooking = QStringLiteral("Recherche du jeu de la communauté pour ce dossier...");
const QString kStarting = QStringLiteral("Installation du jeu : préparation...");
const QString kInstalled = QStringLiteral("Le jeu est installé.");
const QString kNoList = QStringLiteral(
    "Le jeu de la communauté n'a pas pu être proposé pour ce dossier : sa liste de fichiers n'a "
    "pas pu être obtenue. Le dossier est enregistré tel quel.");

QList<GameFiles::Folder> foldersOf(const QList<gameinstall::Install>& installs) {
    QList<GameFiles::Folder> folders;
    for (const gameinstall::Install& install : installs) {
        GameFiles::Folder folder{install.client, install.path};
        folder.install = true;
        folders.append(folder);
    }
    return folders;
}

} // namespace

InstallControls::InstallControls(QWidget* window, Ui::MainWindow* ui, PlayGate* gate,
                                 const Config* config, GameFilesControls* gameFiles,
                                 const QList<QWidget*>& realmButtons, QObject* parent)
    : QObject(parent)
    , window(window)
    , ui(ui)
    , gate(gate)
    , config(config)
    , gameFiles(gameFiles)
    , realms(realmButtons)
    , offers(new InstallOffer(gameFiles->engine(), this))
    , launcherDir(launcherfiles::folder()) {
    // A build without the community's key installs nothing and limits nothing.
    const bool kept = GameFiles::available();
    ui->labelLimiteTelechargement->setVisible(kept);
    ui->LimiteTelechargement->setVisible(kept);
    ui->LimiteTelechargement->setValue(
        gameinstall::loadSpeedLimit(launcherfiles::downloadLimit(launcherDir)));
    gameFiles->engine()->setSpeedLimit(
        gameinstall::bytesPerSecond(ui->LimiteTelechargement->value()));
    connect(ui->LimiteTelechargement, &QSpinBox::valueChanged, this, [this](int megabytes) {
        // Stored at once, as the personal realms are: the options have no "Annuler".
        gameinstall::saveSpeedLimit(launcherfiles::downloadLimit(launcherDir), megabytes);
        this->gameFiles->engine()->setSpeedLimit(gameinstall::bytesPerSecond(megabytes));
    });

    connect(offers, &InstallOffer::notPublished, this,
            [this](const QString& client, const QString& folder) {
                this->ui->Texte->setText(textBeforeLook);
                emit folderTaken(client, folder);
            });
    // Nothing can be offered without the list: the folder is taken as it would have been.
    connect(offers, &InstallOffer::failed, this,
            [this](const QString& client, const QString& folder) {
                this->ui->Texte->setText(kNoList);
                emit folderTaken(client, folder);
            });
    connect(offers, &InstallOffer::ready, this, &InstallControls::onReady);
    connect(gameFiles->engine(), &GameFiles::folderInstalled, this, &InstallControls::onInstalled);
    connect(gameFiles, &GameFilesControls::installsRunningChanged, this, [this](bool running) {
        setPace(running);
        showButtons();
    });
    connect(ui->PauseInstallation, &QPushButton::clicked, this, [this] {
        this->gameFiles->pauseInstalls();
        showButtons();
    });
    connect(ui->ReprendreInstallation, &QPushButton::clicked, this, [this] {
        this->gameFiles->resumeInstalls();
        showButtons();
    });
    for (QWidget* realm : realms) {
        if (auto* button = qobject_cast<QAbstractButton*>(realm))
            connect(button, &QAbstractButton::toggled, this, &InstallControls::followCheckedRealm);
    }

    // An install under way when the launcher last closed goes on by itself.
    under = gameinstall::loadInstalls(launcherfiles::gameInstalls(launcherDir));
    if (!kept)
        under.clear();
    gameFiles->setInstalls(foldersOf(under));
    showButtons();
    followCheckedRealm();
}

bool InstallControls::offer(const QString& client, const QString& folder) {
    if (!gameinstall::getsOffer(GameFiles::available(), folder))
        return false;
    if (!offers->isLooking())
        textBeforeLook = ui->Texte->text();
    ui->Texte->setText(kLooking);
    offers->look(client, folder);
    return true;
}

bool InstallControls::installs(const QString& client) const {
    return std::any_of(under.begin(), under.end(), [&](const gameinstall::Install& install) {
        return install.client == client;
    });
}

void InstallControls::realmsRefreshed() {
    followCheckedRealm();
}

void InstallControls::onReady(const QString& client, const QString& folder,
                              const gameinstall::Plan& plan, qint64 freeBytes) {
    ui->Texte->setText(textBeforeLook);
    // Refused before a byte is fetched: a disk filled to the last byte would fail the game's
    // files and the player's own alike.
    if (!gameinstall::hasRoom(plan, freeBytes)) {
        QMessageBox::warning(window, gameinstall::kRefusalTitle,
                             gameinstall::refusalText(gameinstall::spaceNeeded(plan), freeBytes));
        emit folderDeclined(client);
        return;
    }
    if (QMessageBox::question(
            window, gameinstall::kQuestionTitle, gameinstall::questionText(plan, freeBytes),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton) != QMessageBox::Yes) {
        emit folderDeclined(client);
        return;
    }
    startInstall(client, folder);
}

void InstallControls::startInstall(const QString& client, const QString& folder) {
    // A client has one folder: an install elsewhere before is given up (its parts stay there).
    under.removeIf([&](const gameinstall::Install& install) { return install.client == client; });
    under.append({client, folder});
    ui->Texte->setText(kStarting);
    record();
    // The player has just said yes: an install held before goes on with this one.
    gameFiles->resumeInstalls();
    showButtons();
}

void InstallControls::onInstalled(const QString& client, const QString& folder) {
    under.removeIf([&](const gameinstall::Install& install) {
        return install.client == client && install.path == folder;
    });
    record();
    setPace(false);
    emit installed(client, folder);
    ui->Chargement->setValue(vestrahal::kProgressDone);
    ui->Texte->setText(kInstalled);
}

void InstallControls::record() {
    // Never in the game folder: until its marker comes, the launcher alone knows of the install.
    gameinstall::saveInstalls(launcherfiles::gameInstalls(launcherDir), under);
    gameFiles->setInstalls(foldersOf(under));
    followCheckedRealm();
    showButtons();
}

void InstallControls::showButtons() {
    const bool any = !under.isEmpty();
    const bool held = gameFiles->installsHeld();
    QWidget* focused = QApplication::focusWidget();
    ui->PauseInstallation->setVisible(any && !held);
    ui->ReprendreInstallation->setVisible(any && held);
    // The keyboard stays on the button that took the place of the one pressed.
    if (focused == ui->PauseInstallation && ui->PauseInstallation->isHidden())
        ui->ReprendreInstallation->setFocus(Qt::OtherFocusReason);
    else if (focused == ui->ReprendreInstallation && ui->ReprendreInstallation->isHidden())
        ui->PauseInstallation->setFocus(Qt::OtherFocusReason);
}

void InstallControls::followCheckedRealm() {
    int realm = vestrahal::kRealmVestrahal;
    for (int i = 0; i < realms.size(); ++i) {
        auto* button = qobject_cast<QAbstractButton*>(realms.at(i));
        if (button && button->isChecked())
            realm = i;
    }
    const QString client =
        QLatin1String(realmplay::clientModeOf(*config, realm) == vestrahal::kClientModeWotlk
                          ? gamemanifest::kWotlk
                          : gamemanifest::kCataclysm);
    const bool free = !installs(client);
    // Judged again only on a change: each judgement writes the ready text.
    if (gate->holds(PlayGate::Condition::CheckedClientInstalled) != free)
        gate->set(PlayGate::Condition::CheckedClientInstalled, free);
}

void InstallControls::setPace(bool installing) {
    if (auto* announcer = ui->Texte->findChild<StatusAnnouncer*>())
        announcer->setPace(installing ? kAnnouncePace : 0);
}
