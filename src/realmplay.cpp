#include "realmplay.h"

#include "config.h"

#include <QFile>

namespace realmplay {

using namespace vestrahal;

bool offered(const Config& config, int realm) {
    if (config.realmHosts.value(realm, kEmptyRealmHost) == kEmptyRealmHost)
        return false;
    return config.realmWotlk.value(realm) ? config.wotlkEnabled : config.cataEnabled;
}

Realms offeredRealms(const Config& config) {
    Realms shown{};
    for (int realm = 0; realm < kRealmCount; ++realm)
        shown[std::size_t(realm)] = offered(config, realm);
    return shown;
}

int checkedAfterRefresh(int checked, int lastPlayed, const Realms& shown) {
    if (checked >= 0 && checked < kRealmCount && shown[std::size_t(checked)])
        return checked;
    return lastPlayed;
}

int realmToPlay(const Realms& checked) {
    int realm = kRealmVestrahal;
    for (int i = 0; i < kRealmCount; ++i) {
        if (checked[std::size_t(i)])
            realm = i;
    }
    return realm;
}

int clientModeOf(const Config& config, int realm) {
    return config.realmWotlk.value(realm) ? kClientModeWotlk : kClientModeCata;
}

Play playFor(const Config& config, int clientMode, int realm) {
    const bool wotlk = clientMode == kClientModeWotlk;
    Play play;
    play.clientMode = clientMode;
    play.folder = wotlk ? config.wotlkPath : config.cataPath;
    // The partner's realms are reached through its own start-up program; the official realms
    // take the Cataclysm client as it is.
    const bool client = wotlk || realm == kRealmOfficial;
    play.program =
        play.folder + (client ? QStringLiteral("/Wow.exe") : QStringLiteral("/brontavale.exe"));
    return play;
}

QString missingFolderText(int clientMode) {
    return clientMode == kClientModeWotlk
               ? QStringLiteral(
                     "Merci de sélectionner un chemin valide pour WoTLK dans le menu d'options")
               : QStringLiteral("Merci de sélectionner un chemin valide pour Cataclysme dans le "
                                "menu d'options");
}

QString communityMarkerIn(const QString& folder) {
    return folder + QLatin1Char('/') + QLatin1String(kCommunityMarker);
}

bool isOwnInstallation(const QString& folder) {
    return QFile::exists(folder + QStringLiteral("/Wow.exe")) &&
           !QFile::exists(communityMarkerIn(folder));
}

} // namespace realmplay
