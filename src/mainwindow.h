#pragma once

#include "config.h"

#include <QMainWindow>
#include <QProcess>
#include <QUrl>

#include <array>

namespace Ui {
class MainWindow;
}
class QLabel;
class QRadioButton;
class RealmIndicator;
class RealmStatus;
class updater;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

private slots:
    void on_ModifierCheminCata_clicked();
    void on_ModifierCheminWoTLK_clicked();
    void on_DeleteCheminWoTLK_clicked();
    void on_SauvegarderOptions_clicked();
    void on_Options_clicked();
    void LaunchingProcessEnd();
    void ProcessEnd(int);
    void ErrorLaunchingProcess(QProcess::ProcessError erreur);
    // Connected to nothing: kept on purpose, for the partner's start-up program of old, so that
    // the slot table stays the one the form and the tests know.
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

private:
    void checkReadyToPlay();
    // clientMode 1 plays from the Wrath of the Lich King folder, 2 from the Cataclysm folder.
    void LaunchGame(int clientMode, int realm);
    // Asks for a client's folder until the player picks one or gives the client up.
    void chooseGameFolder(bool& enabled, QString& path, QLabel* label,
                          const QString& cancelQuestion, const QString& ownGameQuestion);
    // A given-up client has no folder until one is chosen again.
    void giveUpClient(bool& enabled, QString& path, QLabel* label);
    // Yes counts as yes; No, or closing the box, as no.
    bool ask(const QString& title, const QString& question);
    void refreshRealmButtons();
    void refreshOptions();
    // A realm's button is offered when the realm has a host and its client is installed.
    bool realmOffered(int realm);
    // Personal realms are rows 1 to 3 of the options, realms 3 to 5.
    void enterPersonalRealm(int row);
    void deletePersonalRealm(int row);
    void reportFailedSave(bool saved);
    // Back to the news home page, the launcher's controls shown again.
    void showNewsHome();

    // Deleted by the destructor in this order: the game process (its end no longer reaches the
    // window), the updater (it uses the form and the settings), the form; then the members.
    updater* selfUpdater;
    Ui::MainWindow* ui;
    QProcess* gameProcess;
    bool newsLoaded;
    bool launchAllowed;
    // A server page covers the window and its controls are hidden.
    bool pageShownInPlace = false;
    Config config;
    std::array<QRadioButton*, 6> realmButtons;

    // Realm status: whether the logon server of each shown realm answers. Null unless the
    // launcher is built with it (VESTRAHAL_REALM_STATUS).
    void startRealmStatus();
    // The shown realm buttons are the realms watched.
    void watchRealms();
    // Nothing is checked while a game runs.
    void pauseRealmStatusWhileGameRuns();
    RealmStatus* realmStatus = nullptr;
    std::array<RealmIndicator*, 6> realmIndicators{};

    friend class MainWindowTest;
};
