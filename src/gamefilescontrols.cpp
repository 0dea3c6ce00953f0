#include "gamefilescontrols.h"

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
        const bool wasCheck = run == Run::Check;
        // An install that ended by itself, not paused, failed or is done: not tried again until
        // the player resumes it or the launcher starts again.
        if (run == Run::Install && !pauseAsked)
            held = true;
        onRunEnded();
        if (!wasCheck)
            return;
        ui->Chargement->setValue(vestrahal::kProgressDone);
        gate->gameFilesDone();
        // Another program's game holds a folder: looked at again until it has ended. The
        // launcher's own game says so itself.
        if (files->leftForAfterTheGame() && !ownGameRuns)
            lookAgain->start(kLookAgainMilliseconds);
    });
    connect(files, &GameFiles::paused, this, &GameFilesControls::onRunEnded);
    // Fetching has held "Jouer" long enough: the player plays the files already whole.
    connect(files, &GameFiles::playable, gate, &PlayGate::gameFilesDone);
    lookAgain->setSingleShot(true);
    connect(lookAgain, &QTimer::timeout, this, [this] { check(false, false); });
}

void GameFilesControls::gameStarted() {
    ownGameRuns = true;
    lookAgain->stop();
    // An install keeps every part for when the game has ended.
    if (run == Run::Install)
        pauseRun();
    else
        files->stop();
}

void GameFilesControls::gameEnded() {
    ownGameRuns = false;
    if (!files->leftForAfterTheGame() || !check(false, false))
        runNext();
}

void GameFilesControls::launcherFoundCurrent() {
    launcherCurrent = true;
    if (!check(false))
        runNext();
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
    if (!GameFiles::available() || folders.isEmpty() || run == Run::Check)
        return false;
    if (run == Run::Install) {
        // The check goes first; the install resumes once it is over.
        checkWaits = true;
        waiting = {byHash, holdTheGate};
        if (holdTheGate)
            gate->set(PlayGate::Condition::GameFilesReady, false);
        ui->VerifierFichiers->setEnabled(false);
        pauseRun();
        return true;
    }
    startCheck(folders, {byHash, holdTheGate});
    return run == Run::Check;
}

void GameFilesControls::startCheck(const QList<GameFiles::Folder>& folders, Wanted how) {
    if (how.holdTheGate)
        gate->set(PlayGate::Condition::GameFilesReady, false);
    ui->VerifierFichiers->setEnabled(false);
    if (files->start(folders, how.byHash ? GameFiles::Check::ByHash : GameFiles::Check::ByIndex))
        run = Run::Check;
}

void GameFilesControls::pauseRun() {
    pauseAsked = true;
    files->pause();
}

void GameFilesControls::setInstalls(const QList<GameFiles::Folder>& folders) {
    installs = folders;
    if (installs.isEmpty())
        held = false;
    runNext();
}

void GameFilesControls::pauseInstalls() {
    held = true;
    if (run == Run::Install)
        pauseRun();
}

void GameFilesControls::resumeInstalls() {
    held = false;
    runNext();
}

void GameFilesControls::onRunEnded() {
    const bool wasInstall = run == Run::Install;
    run = Run::None;
    pauseAsked = false;
    if (!files->isRunning())
        ui->VerifierFichiers->setEnabled(launcherCurrent);
    if (wasInstall)
        emit installsRunningChanged(false);
    // From the event loop: the engine is still inside the call that ended its run.
    QTimer::singleShot(0, this, &GameFilesControls::runNext);
}

void GameFilesControls::runNext() {
    if (run != Run::None || files->isRunning())
        return;
    if (checkWaits) {
        checkWaits = false;
        const QList<GameFiles::Folder> folders = GameFiles::foldersOf(*config);
        if (!folders.isEmpty()) {
            startCheck(folders, waiting);
            if (run == Run::Check)
                return;
        }
        gate->gameFilesDone();
    }
    // Never before the launcher is current (a new launcher may install differently), never
    // while the launcher's game runs, never while held.
    if (installs.isEmpty() || held || ownGameRuns || !launcherCurrent || !GameFiles::available())
        return;
    if (!files->start(installs))
        return;
    run = Run::Install;
    ui->VerifierFichiers->setEnabled(false);
    emit installsRunningChanged(true);
}
