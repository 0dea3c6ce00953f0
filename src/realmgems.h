#pragma once

#include "realmsandprogress.h"

#include <QByteArray>
#include <QList>
#include <QObject>

#include <array>

class QRadioButton;
class QWidget;
class RealmIndicator;
class RealmStatus;

// Whether each shown realm's logon server answers, as a gem beside its button: the checks run
// while the window is on screen (the first ones once its first frame is painted), again when the
// player comes back to it, and never while a game runs.
class RealmGems : public QObject {
    Q_OBJECT

public:
    RealmGems(QWidget* window, const QList<QRadioButton*>& buttons);

    // The host a realm's button plays, empty for a realm not shown: it is not checked.
    void watch(int realm, const QByteArray& host);
    void setPaused(bool paused);

private:
    void show(int realm);

    RealmStatus* status;
    std::array<RealmIndicator*, vestrahal::kRealmCount> gems{};
};
