#pragma once

#include "gameinstall.h"

#include <QList>
#include <QObject>
#include <QString>

namespace Ui {
class MainWindow;
}
class Config;
class GameFilesControls;
class PlayGate;
class QWidget;

// Installing the community's client from the options panel: the offer when a client's folder is
// chosen without the game, the installs under way (their record beside launcher.conf, resumed at
// each start), "Pause" and "Reprendre", "Jouer" shut for a client being installed while the other
// plays, and the download speed limit. What the window must do with a folder it says through its
// signals.
class InstallControls : public QObject {
    Q_OBJECT

public:
    // The window, the form, the gate, the settings and the game files' controls outlive these.
    InstallControls(QWidget* window, Ui::MainWindow* ui, PlayGate* gate, const Config* config,
                    GameFilesControls* gameFiles, const QList<QWidget*>& realmButtons,
                    QObject* parent);

    // A folder chosen for a client. True when it may get the offer: the answer comes later,
    // through folderTaken() or folderDeclined(). False: the window takes the folder as before.
    bool offer(const QString& client, const QString& folder);
    // The realm buttons were shown afresh: "Jouer" follows the checked realm's client.
    void realmsRefreshed();

    // Whether the client is being installed.
    bool installs(const QString& client) const;

    // The screen reader hears an install's progress at most this often.
    static constexpr int kAnnouncePace = 10000;

signals:
    // The folder is the client's, as any folder chosen in the options.
    void folderTaken(const QString& client, const QString& folder);
    // The player said no, or the disk has no room: the folder dialog opens again.
    void folderDeclined(const QString& client);
    // The client is whole in the folder: it is the client's folder now.
    void installed(const QString& client, const QString& folder);

private:
    void onReady(const QString& client, const QString& folder, const gameinstall::Plan& plan,
                 qint64 freeBytes);
    void startInstall(const QString& client, const QString& folder);
    void onInstalled(const QString& client, const QString& folder);
    void record();
    void showButtons();
    void followCheckedRealm();
    void setPace(bool installing);

    QWidget* window;
    Ui::MainWindow* ui;
    PlayGate* gate;
    const Config* config;
    GameFilesControls* gameFiles;
    QList<QWidget*> realms;
    InstallOffer* offers;
    QString launcherDir;
    QList<gameinstall::Install> under;
    QString textBeforeLook;
};
