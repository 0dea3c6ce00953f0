#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

class QIODevice;

// The launcher's settings: what launcher.conf holds. The other parts of the program read and
// write the members directly.
class Config {
public:
    Config();
    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;

    // Reads the nine lines of launcher.conf, creating the file first (and its folder) when it is
    // missing. False when a line is missing, the file cannot be read, or it cannot be made; the
    // lines read so far stay in. A package's version is then the package's own.
    bool load();
    // After a failed load: launcher.conf is still missing, its folder cannot be made or written.
    // The built-in settings stand, and nothing of the player's is lost by playing with them.
    bool fileCannotBeMade() const;
    // Why launcher.conf could not be written, in French for the player, once a save failed.
    QString whyNotWritten() const;
    // Writes all nine lines, whole or not at all.
    bool save();
    // Reads the nine lines from an open device, as load does from the file.
    bool read(QIODevice& in);
    // The nine lines, as save writes them.
    QByteArray serialized() const;
    bool setRealmWotlk(int realm, bool wotlk);
    bool setRealmHost(int realm, const QByteArray& host);

    QString filePath() const;

    // Whether a personal realm's host can be stored: launcher.conf ends it at "|" and a line
    // break ends the line; the game's realmlist takes it after "set realmlist ".
    static bool canStoreHost(const QString& host);
    // Whether a game folder can be stored: launcher.conf holds it as one line of Latin-1 text,
    // where any other character would come back as "?" and the folder be lost.
    static bool canStoreFolder(const QString& folder);
    // The version text the server answered, as it is stored: up to its first NUL, one character
    // per byte, without CR or LF anywhere. launcher.conf keeps the version on one line and reads
    // it back without line ends, so a text with a line break would never again equal the stored
    // one.
    static QString serverVersionText(const QByteArray& body);
    // errors.log, beside launcher.conf (see launcherfiles).
    QString reportFilePath() const;
    // The player's own folder for the program, under $XDG_DATA_HOME (~/.local/share when the
    // variable is unset): a package's baseDir.
    static QString playerDataFolder();
    // The folder of the launcher's own files (launcher.conf, errors.log, its lock): the player's
    // folder for the program in a package, else the working folder.
    static QString launcherFolder();

    QString baseDir;
    QString version;
    int selectedRealm = 0;
    bool wotlkEnabled = false;
    QString wotlkPath;
    bool cataEnabled = false;
    QString cataPath;
    QMap<int, QByteArray> realmHosts;
    QMap<int, bool> realmWotlk;

private:
    bool loadFile();
};

// A host of exactly one space: the personal realm has no host.
inline constexpr char kEmptyRealmHost[] = " ";
