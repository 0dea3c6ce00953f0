#include "realmchoice.h"

namespace realmchoice {

int checkedAfterRefresh(int checked, int lastPlayed,
                        const std::array<bool, vestrahal::kRealmCount>& shown) {
    if (checked >= 0 && checked < vestrahal::kRealmCount && shown[std::size_t(checked)])
        return checked;
    return lastPlayed;
}

} // namespace realmchoice
