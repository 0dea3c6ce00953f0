#pragma once

#include "config.h"
#include "playedgame.h"
#include "realmsandprogress.h"
#include "settingsnotice.h"

#include <QMainWindow>
#include <QProcess>
#include <QUrl>

#include <array>
#include <functional>
#include <memory>

namespace Ui {
class MainWindow;
}
class GameFilesControls;
class KeyboardNavigation;
class PlayGate;
class QLabel;
class QRadioButton;
class RealmGems;
class updater;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

signals:
    // The window was closed while its own process held the game, and that game has ended:
    // nothing is left for the process to do.
    void closedWithTheGame();

protected:
    // Closed while its own process holds the game, the window goes and the game goes on.
    void closeEvent(QCloseEvent* event) override;

private slots:
    void on_ModifierCheminCata_clicked();
    void on_ModifierCheminWoTLK_clicked();
    void on_DeleteCheminWoTLK_clicked();
    void on_SauvegarderOptions_clicked();
    void on_Options_clicked();
    void LaunchingProcessEnd();
    void ProcessEnd(int);
    void ErrorLaunchingProcess(QProcess::ProcessError erreur);
    // Connected to nothing. They hold places 8 and 9 of the window's table of slots, which is
    // part of the window's interface as the project has set it down and is kept whole; called,
    // the second shows the "(Code 2)" text.
    void LaunchingInjectorProcessEnd(int);
    void ErrorLaunchingInjectorProcess(QProcess::ProcessError erreur);
    void on_Jouer_clicked();
    void newsOnLinkClicked(QUrl url);
    void loadPageFinished(bool);
    void on_DeleteCheminCata_clicked();
    void on_SetRealm1_clicked();
    void on_SetRealm2_clicked();
    void on_SetRealm3_clicked();
    void on_DeleteRealm1_clicked();
    void on_DeleteRealm2_clicked();
    void on_DeleteRealm3_clicked();
    void on_checkBox_Realm1_toggled(bool checked);
    void on_checkBox_Realm2_toggled(bool checked);
    void on_checkBox_Realm3_toggled(bool checked);
    void on_VerifierFichiers_clicked();

private:
    // Plays a realm with a client (kClientModeWotlk or kClientModeCata).
    void LaunchGame(int clientMode, int realm);
    // A launch that stopped on its game folder: said why, and "Jouer" waits for another folder.
    void stopLaunchOnFolder(const QString& why);
    // The start-up, in the order the constructor takes it.
    void showStarting();
    void connectGate();
    void connectGame();
    void connectNews();
    void loadSettings(PlayedGame::FolderGame folderGame);
    void setUpKeyboardAndScreenReaders();
    // The self-update's news on the form: the status line, the bar, the boxes and the quit.
    void startSelfUpdate();
    // Asks for a client's folder until the player picks one or gives the client up.
    void chooseGameFolder(bool& enabled, QString& path, QLabel* label,
                          const QString& cancelQuestion, const QString& ownGameQuestion);
    // A given-up client has no folder until one is chosen again.
    void giveUpClient(bool& enabled, QString& path, QLabel* label);
    // Yes counts as yes; No, or closing the box, as no.
    bool ask(const QString& title, const QString& question);
    void refreshRealmButtons();
    void refreshOptions();
    // Personal realms are rows 1 to 3 of the options, realms 3 to 5.
    void enterPersonalRealm(int row);
    void deletePersonalRealm(int row);
    void reportFailedSave(bool saved);
    // A box over the window, once the event loop turns; nothing for an empty notice.
    void showSettingsNotice(const QString& notice);
    // No self-update can run: the launcher is taken as current.
    void playAsItIs();
    // The folder's watcher holds a game: "Jouer" stays shut and nothing is checked until it
    // ends, then the launcher is checked as at any start.
    void waitForFolderGame(const std::function<void()>& checkLauncher);
    // The window that comes back after the game: maximised, the played realm checked, and why
    // the game ended at once if it did.
    void comeBackFromGame();
    // After a game, "World of Warcraft est prêt à être lancé" once "Jouer" opens, whichever of
    // the news and the version check comes in last.
    void sayReadyWhenCurrent();
    // Back to the news home page, the launcher's controls shown again.
    void showNewsHome();
    // The controls over the news: shown for the news home, hidden under a page shown in place.
    void showControls(bool shown);

    std::unique_ptr<Ui::MainWindow> ui;
    // A server page covers the window and its controls are hidden.
    bool pageShownInPlace = false;
    Config config;
    SettingsNotice settingsNotice;
    PlayGate* gate;
    PlayedGame* game;
    // Closed while the game ran in this process (and not shown again since).
    bool leaveWithTheGame = false;
    GameFilesControls* gameFiles = nullptr;
    // It uses the settings: declared after them, it goes first.
    std::unique_ptr<updater> selfUpdater;
    std::array<QRadioButton*, vestrahal::kRealmCount> realmButtons;
    // Said when "Jouer" opens instead of the ready text: a package's news of a newer launcher.
    QString launcherNotice;
    // Why the last game ended at once; until the next press of "Jouer".
    QString gameNotice;

    // Realm status: whether the logon server of each shown realm answers. Null unless the
    // launcher is built with it (VESTRAHAL_REALM_STATUS).
    void startRealmStatus();
    // The shown realm buttons are the realms watched.
    void watchRealms();
    // Nothing is checked while a game runs.
    void pauseRealmStatusWhileGameRuns();
    RealmGems* realmGems = nullptr;
    KeyboardNavigation* keyboard = nullptr;
};
