#include "gamefilescontrols.h"

#include "gamefiles.h"
#include "playgate.h"
#include "realmsandprogress.h"
#include "ui_mainwindow.h"

#include <algorithm>

GameFilesControls::GameFilesControls(Ui::MainWindow* ui, PlayGate* gate, const Config* config,
                                     QObject* parent)
    : QObject(parent)
    , ui(ui)
    , gate(gate)
    , config(config)
    , files(new GameFiles(parent)) {
    // A build without the community's key shows nothing of it; the button waits for the launcher
    // to be found current.
    ui->VerifierFichiers->setVisible(GameFiles::available());
    ui->VerifierFichiers->setEnabled(false);
    connect(files, &GameFiles::statusChanged, ui->Texte, &QLabel::setText);
    connect(files, &GameFiles::progressChanged, ui->Chargement, [ui](qint64 done, qint64 total) {
        if (total > 0)
            ui->Chargement->setValue(int(std::clamp<qint64>(done * 100 / total, 0, 100)));
    });
    connect(files, &GameFiles::finished, this, [ui, gate] {
        ui->Chargement->setValue(vestrahal::kProgressDone);
        ui->VerifierFichiers->setEnabled(true);
        gate->gameFilesDone();
    });
}

void GameFilesControls::launcherFoundCurrent() {
    check(false);
    gate->launcherFoundCurrent();
    ui->VerifierFichiers->setEnabled(!files->isRunning());
}

void GameFilesControls::verify() {
    if (!gate->holds(PlayGate::Condition::LauncherCurrent) ||
        !gate->holds(PlayGate::Condition::LaunchAllowed))
        return;
    check(true);
}

bool GameFilesControls::check(bool byHash) {
    const QList<GameFiles::Folder> folders = GameFiles::foldersOf(*config);
    if (!GameFiles::available() || folders.isEmpty() || files->isRunning())
        return false;
    gate->set(PlayGate::Condition::GameFilesReady, false);
    ui->VerifierFichiers->setEnabled(false);
    return files->start(folders, byHash ? GameFiles::Check::ByHash : GameFiles::Check::ByIndex);
}
