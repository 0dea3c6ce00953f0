// The launcher's fixed numbers: realms, client modes and the steps of the progress bar.
#pragma once

namespace vestrahal {

// A realm is an index of the settings' realm tables and of the window's realm buttons.
inline constexpr int kRealmVestrahal = 0;
inline constexpr int kRealmOfficial = 1;
inline constexpr int kRealmPartner = 2;
// The player's own realmlists, rows 1 to 3 of the options; only these are stored.
inline constexpr int kFirstPersonalRealm = 3;
inline constexpr int kLastPersonalRealm = 5;
inline constexpr int kRealmCount = 6;

// The personal realm shown in a row (1 to 3) of the options.
constexpr int personalRealmOfRow(int row) {
    return kFirstPersonalRealm + row - 1;
}

// Which game folder a launch plays from.
inline constexpr int kClientModeWotlk = 1;
inline constexpr int kClientModeCata = 2;

// The progress bar across the start: the news page asked for, the settings loaded, then the
// self-update's download from kProgressDownloadFirst to kProgressDone (or straight to
// kProgressDone when the launcher is current).
inline constexpr int kProgressNewsRequested = 25;
inline constexpr int kProgressSettingsLoaded = 50;
inline constexpr int kProgressDownloadFirst = kProgressSettingsLoaded;
inline constexpr int kProgressDone = 100;

} // namespace vestrahal
