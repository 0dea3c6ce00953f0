#pragma once

#include <QString>

class Config;

// What the player is told when launcher.conf cannot be written: what could not be written and
// where, in French, and that the choices hold until the launcher closes. Said once for a cause,
// and again only after a save has succeeded meanwhile: a folder that stays read-only would
// otherwise say the same thing at every tick of a box. Nothing here keeps the player from
// playing.
class SettingsNotice {
public:
    // After a save: the text to show, or nothing when the save succeeded or the player already
    // knows.
    QString afterSave(bool saved, const Config& config);
    // At start-up, when launcher.conf cannot be made: the launcher plays with its built-in
    // settings, and says why.
    QString atStartWithBuiltInSettings(const Config& config);

    static QString title();

private:
    QString tell(const QString& reason, const QString& lead, const QString& consequence);

    // The reason last told; empty after a save succeeded.
    QString told;
};
