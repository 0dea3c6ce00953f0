#pragma once

#include "gamefiles.h"

#include <QList>
#include <QObject>

namespace Ui {
class MainWindow;
}
class Config;
class PlayGate;
class QTimer;

// The community's game files on the form: the status line and the bar while they are checked
// and fetched, the "Vérifier les fichiers" button, and "Jouer" shut until they are done. Installs
// under way share the engine with those checks: they run once the checks are over, are paused
// for a check or the launcher's game, and resume after.
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

    // The installs under way (each folder with `install` set): run as soon as nothing else runs,
    // unless the player paused them.
    void setInstalls(const QList<GameFiles::Folder>& installs);
    void pauseInstalls();
    void resumeInstalls();
    bool installsRunning() const { return run == Run::Install; }
    // Paused by the player, or ended without being done: waiting for "Reprendre".
    bool installsHeld() const { return held; }

    GameFiles* engine() const { return files; }

    // How often a folder left because another program ran its game is looked at again.
    static constexpr int kLookAgainMilliseconds = 10000;

signals:
    // An install run started, or ended (paused, failed or done).
    void installsRunningChanged(bool running);

private:
    enum class Run { None, Check, Install };
    struct Wanted {
        bool byHash = false;
        bool holdTheGate = true;
    };

    bool check(bool byHash, bool holdTheGate = true);
    void startCheck(const QList<GameFiles::Folder>& folders, Wanted how);
    void pauseRun();
    void onRunEnded();
    void runNext();

    Ui::MainWindow* ui;
    PlayGate* gate;
    const Config* config;
    GameFiles* files;
    QTimer* lookAgain;
    bool ownGameRuns = false;
    bool launcherCurrent = false;
    Run run = Run::None;
    QList<GameFiles::Folder> installs;
    bool held = false;
    bool pauseAsked = false; // for a check or the game: the install resumes after
    // A check asked for while an install ran: the install is paused for it.
    bool checkWaits = false;
    Wanted waiting;
};
