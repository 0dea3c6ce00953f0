#include "playgate.h"

PlayGate::PlayGate(QObject* parent)
    : QObject(parent) {}

bool PlayGate::holds(Condition condition) const {
    switch (condition) {
    case Condition::NewsLoaded:
        return newsLoaded;
    case Condition::LaunchAllowed:
        return launchAllowed;
    case Condition::LauncherCurrent:
        return launcherCurrent;
    }
    return false;
}

bool PlayGate::isOpen() const {
    return newsLoaded && launchAllowed && launcherCurrent;
}

void PlayGate::set(Condition condition, bool held) {
    switch (condition) {
    case Condition::NewsLoaded:
        newsLoaded = held;
        break;
    case Condition::LaunchAllowed:
        launchAllowed = held;
        break;
    case Condition::LauncherCurrent:
        launcherCurrent = held;
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
    emit openedEarly();
}

void PlayGate::launcherInstalled() {
    launcherCurrent = true;
}
