#pragma once

#include <QObject>

// Whether "Jouer" may be pressed. It opens when every condition holds together, and is judged
// again at each change of a condition.
class PlayGate : public QObject {
    Q_OBJECT

public:
    enum class Condition {
        NewsLoaded,       // a news page finished loading (never cleared)
        SettingsUsable,   // launcher.conf loaded, or the built-in settings are played with
        NoLaunchUnderWay, // no press of "Jouer" is being carried out, and no game runs
        FolderUsable,     // no launch stopped on its game folder since a folder was chosen
        LauncherCurrent,  // the self-update found the launcher current, or installed a new one
        GameFilesReady,   // no check of the community's game files is under way (held at start)
    };
    Q_ENUM(Condition)

    explicit PlayGate(QObject* parent = nullptr);

    bool holds(Condition condition) const;
    bool isOpen() const;

    // Changes a condition and judges the gate again: opened() with every condition held,
    // closed() otherwise, each time, even when nothing changed.
    void set(Condition condition, bool held);
    // Judges the gate without changing anything.
    void evaluate();

    // The self-update found the launcher current. The launcher being current is what players
    // wait for at start (the version check is the slow step of a start): the button opens at
    // once, even before the news page has finished loading, and the next judgement of the gate
    // decides again. A news server that never answers therefore does not keep a current
    // launcher from playing until the next event.
    void launcherFoundCurrent();
    // A new launcher is installed: current, but the player is asked to restart it, so the gate
    // is not judged for it.
    void launcherInstalled();
    // The check of the game files is over, whatever it came to: a player is never kept from
    // playing by the community's file server. A current launcher then opens the button at once,
    // as when it was found current.
    void gameFilesDone();

signals:
    // Every condition holds: the game is ready to be started.
    void opened();
    // "Jouer" is to be enabled without the ready text (a current launcher, see above).
    void openedEarly();
    void closed();

private:
    bool newsLoaded = false;
    bool settingsUsable = false;
    bool noLaunchUnderWay = true;
    bool folderUsable = true;
    bool launcherCurrent = false;
    bool gameFilesReady = true;
};
