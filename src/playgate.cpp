#include "playgate.h"

PlayGate::PlayGate(QObject* parent)
    : QObject(parent) {}

bool PlayGate::holds(Condition condition) const {
    switch (condition) {
    case Condition::NewsLoaded:
        return newsLoaded;
    case Condition::SettingsUsable:
        return settingsUsable;
    case Condition::NoLaunchUnderWay:
        return noLaunchUnderWay;
    case Condition::FolderUsable:
        return folderUsable;
    case Condition::LauncherCurrent:
        return launcherCurrent;
    case Condition::GameFilesReady:
        return gameFilesReady;
    }
    return false;
}

bool PlayGate::isOpen() const {
    return newsLoaded && settingsUsable && noLaunchUnderWay && folderUsable && launcherCurrent &&
           gameFilesReady;
}

void PlayGate::set(Condition condition, bool held) {
    switch (condition) {
    case Condition::NewsLoaded:
        newsLoaded = held;
        break;
    case Condition::SettingsUsable:
        settingsUsable = held;
        break;
    case Condition::NoLaunchUnderWay:
        noLaunchUnderWay = held;
        break;
    case Condition::FolderUsable:
        folderUsable = held;
        break;
    case Condition::LauncherCurrent:
        launcherCurrent = held;
        break;
    case Condition::GameFilesReady:
        gameFilesReady = held;
        break;
    }
    evaluate();
}

void PlayGate::evaluate() {
    if (isOpen())
        emit opened();
    else
        emit closed();
}

void PlayGate::launcherFoundCurrent() {
    launcherCurrent = true;
    // While the game files are brought up to date the button waits for them.
    if (gameFilesReady)
        emit openedEarly();
}

void PlayGate::gameFilesDone() {
    gameFilesReady = true;
    if (launcherCurrent)
        emit openedEarly();
}

void PlayGate::launcherInstalled() {
    launcherCurrent = true;
}
