#include "realmgems.h"

#include "firstframe.h"
#include "realmindicator.h"
#include "realmstatus.h"

#include <QGuiApplication>
#include <QPointer>
#include <QRadioButton>

RealmGems::RealmGems(QWidget* window, const QList<QRadioButton*>& buttons)
    : QObject(window)
    , status(new RealmStatus(this)) {
    status->setPeriodicCondition(
        [window] { return window->isVisible() && !window->isMinimized(); });
    // Back in the window, the player sees the realms as they are now.
    connect(qApp, &QGuiApplication::applicationStateChanged, status, [this](auto state) {
        if (state == Qt::ApplicationActive)
            status->checkOlderThan(RealmStatus::kFreshForMs);
    });
    for (int realm = 0; realm < int(gems.size()) && realm < buttons.size(); ++realm)
        gems[realm] = new RealmIndicator(buttons[realm]);
    connect(status, &RealmStatus::changed, this, &RealmGems::show);
    // The gems say "Vérification..." from the first frame on; the connections follow it.
    status->setHeld(true);
    afterFirstFrame(window, [status = QPointer<RealmStatus>(status)] {
        if (status)
            status->setHeld(false);
    });
}

void RealmGems::watch(int realm, const QByteArray& host) {
    status->setHost(realm, host);
    // The button's text may have changed: the gem follows it.
    show(realm);
}

void RealmGems::setPaused(bool paused) {
    status->setPaused(paused);
}

void RealmGems::show(int realm) {
    if (gems[realm])
        gems[realm]->showState(status->state(realm), status->milliseconds(realm));
}
