#pragma once

#include <QObject>

namespace Ui {
class MainWindow;
}
class Config;
class GameFiles;
class PlayGate;
class QTimer;

// The community's game files on the form: the status line and the bar while they are checked
// and fetched, the "Vérifier les fichiers" button, and "Jouer" shut until they are done.
class GameFilesControls : public QObject {
    Q_OBJECT

public:
    // The form, the gate and the settings outlive the controls.
    GameFilesControls(Ui::MainWindow* ui, PlayGate* gate, const Config* config, QObject* parent);

    // The launcher is current: its update came first, the files are brought up to date now.
    void launcherFoundCurrent();
    // Every listed file checked by its hash, whatever the index says; never while a game runs
    // from the folders, nor before the launcher is current.
    void verify();
    // The launcher's game starts, and ends: the files are left alone while it runs, and what
    // was left is brought up to date once it has ended, without shutting "Jouer".
    void gameStarted();
    void gameEnded();

    // How often a folder left because another program ran its game is looked at again.
    static constexpr int kLookAgainMilliseconds = 10000;

private:
    bool check(bool byHash, bool holdTheGate = true);

    Ui::MainWindow* ui;
    PlayGate* gate;
    const Config* config;
    GameFiles* files;
    QTimer* lookAgain;
    bool ownGameRuns = false;
};
