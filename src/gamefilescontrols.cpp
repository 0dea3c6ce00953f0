#include "gamefilescontrols.h"

#include "gamefiles.h"
#include "playgate.h"
#include "realmsandprogress.h"
#include "ui_mainwindow.h"

#include <QTimer>

#include <algorithm>

GameFilesControls::GameFilesControls(Ui::MainWindow* ui, PlayGate* gate, const Config* config,
                                     QObject* parent)
    : QObject(parent)
    , ui(ui)
    , gate(gate)
    , config(config)
    , files(new GameFiles(parent))
    , lookAgain(new QTimer(this)) {
    // A build without the community's key shows nothing of it; the button waits for the launcher
    // to be found current.
    ui->VerifierFichiers->setVisible(GameFiles::available());
    ui->VerifierFichiers->setEnabled(false);
    connect(files, &GameFiles::statusChanged, ui->Texte, &QLabel::setText);
    connect(files, &GameFiles::progressChanged, ui->Chargement, [ui](qint64 done, qint64 total) {
        if (total > 0)
            ui->Chargement->setValue(int(std::clamp<qint64>(done * 100 / total, 0, 100)));
    });
    connect(files, &GameFiles::finished, this, [this, ui, gate] {
        ui->Chargement->setValue(vestrahal::kProgressDone);
        ui->VerifierFichiers->setEnabled(true);
        gate->gameFilesDone();
        // Another program's game holds a folder: looked at again until it has ended. The
        // launcher's own game says so itself.
        if (files->leftForAfterTheGame() && !ownGameRuns)
            lookAgain->start(kLookAgainMilliseconds);
    });
    // Fetching has held "Jouer" long enough: the player plays the files already whole.
    connect(files, &GameFiles::playable, gate, &PlayGate::gameFilesDone);
    lookAgain->setSingleShot(true);
    connect(lookAgain, &QTimer::timeout, this, [this] { check(false, false); });
}

void GameFilesControls::gameStarted() {
    ownGameRuns = true;
    lookAgain->stop();
    files->stop();
}

void GameFilesControls::gameEnded() {
    ownGameRuns = false;
    if (files->leftForAfterTheGame())
        check(false, false);
}

void GameFilesControls::launcherFoundCurrent() {
    check(false);
    gate->launcherFoundCurrent();
    ui->VerifierFichiers->setEnabled(!files->isRunning());
}

void GameFilesControls::verify() {
    if (!gate->holds(PlayGate::Condition::LauncherCurrent) ||
        !gate->holds(PlayGate::Condition::SettingsUsable) ||
        !gate->holds(PlayGate::Condition::NoLaunchUnderWay))
        return;
    check(true);
}

bool GameFilesControls::check(bool byHash, bool holdTheGate) {
    const QList<GameFiles::Folder> folders = GameFiles::foldersOf(*config);
    if (!GameFiles::available() || folders.isEmpty() || files->isRunning())
        return false;
    if (holdTheGate)
        gate->set(PlayGate::Condition::GameFilesReady, false);
    ui->VerifierFichiers->setEnabled(false);
    return files->start(folders, byHash ? GameFiles::Check::ByHash : GameFiles::Check::ByIndex);
}
