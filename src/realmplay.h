#pragma once

#include "realmsandprogress.h"

#include <QString>

#include <array>

class Config;

// Which realms the window offers, and what a press of "Jouer" plays for one of them: the game
// folder, the program, and whether a chosen folder holds the community's client or the player's
// own. Decided from the settings alone; the window shows what comes out.
namespace realmplay {

// The file the community's own client package carries. A folder with the game but without it
// holds an installation of the player's own, which the community's files never touch.
inline constexpr char kCommunityMarker[] = "kvf.vestrahal";

// One flag per realm, in the order of the realm buttons.
using Realms = std::array<bool, vestrahal::kRealmCount>;

// A realm is offered when it has a host and the client it is played with is in use.
bool offered(const Config& config, int realm);
Realms offeredRealms(const Config& config);

// The realm checked once the realm buttons are shown afresh: the player's choice of the moment
// (checked, -1 for none) while its realm is still shown, else the last played realm, shown or
// not. Shown and played from the settings alone, the choice would go back to the last played
// realm at every save of the options, and "Jouer" would play a realm the player left.
int checkedAfterRefresh(int checked, int lastPlayed, const Realms& shown);

// The realm "Jouer" plays: the last checked one, the community's own with none checked.
int realmToPlay(const Realms& checked);

// What a press of "Jouer" starts for a realm: the client it is played with (kClientModeWotlk
// or kClientModeCata), that client's folder (empty until one is chosen), and the program, the
// client itself or the partner's start-up program beside it.
struct Play {
    int clientMode = vestrahal::kClientModeWotlk;
    QString folder;
    QString program;
};
int clientModeOf(const Config& config, int realm);
Play playFor(const Config& config, int clientMode, int realm);

// What the player is told when the realm's client has no folder.
QString missingFolderText(int clientMode);

// Where a folder of the community's client holds the marker.
QString communityMarkerIn(const QString& folder);
// A folder with the game's program but without the marker: the player's own installation,
// used only once the player confirms.
bool isOwnInstallation(const QString& folder);

} // namespace realmplay
