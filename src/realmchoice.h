#pragma once

#include "realmsandprogress.h"

#include <array>

namespace realmchoice {

// The realm checked once the realm buttons are shown afresh: the player's choice of the moment
// (checked, -1 for none) while its realm is still shown, else the last played realm, shown or
// not. Shown and played from the settings alone, the choice would go back to the last played
// realm at every save of the options, and "Jouer" would play a realm the player left.
int checkedAfterRefresh(int checked, int lastPlayed,
                        const std::array<bool, vestrahal::kRealmCount>& shown);

} // namespace realmchoice
