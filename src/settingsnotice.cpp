#include "settingsnotice.h"

#include "config.h"

#include <QDir>

namespace {

// What could not be written and where, and why.
QString cause(const Config& config) {
    return QStringLiteral("le fichier %1 : %2.")
        .arg(QDir::toNativeSeparators(config.filePath()), config.whyNotWritten());
}

} // namespace

QString SettingsNotice::title() {
    return QStringLiteral("Réglages non enregistrés");
}

QString SettingsNotice::afterSave(bool saved, const Config& config) {
    if (saved) {
        told.clear();
        return {};
    }
    return tell(cause(config), QStringLiteral("Les réglages n'ont pas pu être enregistrés dans "),
                QStringLiteral("Vos choix restent valables jusqu'à la fermeture du launcher."));
}

QString SettingsNotice::atStartWithBuiltInSettings(const Config& config) {
    return tell(cause(config), QStringLiteral("Les réglages ne peuvent pas être enregistrés dans "),
                QStringLiteral("Le launcher utilise ses réglages par défaut ; vos choix resteront "
                               "valables jusqu'à sa fermeture."));
}

QString SettingsNotice::tell(const QString& reason, const QString& lead,
                             const QString& consequence) {
    if (reason == told)
        return {};
    told = reason;
    return lead + reason + QStringLiteral("\n\n") + consequence;
}
