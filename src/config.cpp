#include "config.h"

#include "buildoptions.h"
#include "launcherfiles.h"
#include "realmsandprogress.h"

#include <QDir>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>
#include <algorithm>

namespace {

// One line of the file, without its line end. The file is written with CR LF on Windows and
// with LF elsewhere, and a copy may travel between the two: both read the same. Every CR before
// the end goes with it: a text ending in CR would be saved as one and read back without it.
QByteArray withoutLineEnd(QByteArray line) {
    if (line.endsWith('\n'))
        line.chop(1);
    while (line.endsWith('\r'))
        line.chop(1);
    return line;
}

// A line's text stops at its first NUL byte.
QByteArray upToNul(const QByteArray& line) {
    const qsizetype nul = line.indexOf('\0');
    return nul < 0 ? line : line.left(nul);
}

QString lineText(const QByteArray& line) {
    return QString::fromLatin1(withoutLineEnd(upToNul(line)));
}

bool flagOf(const QByteArray& line) {
    return line.startsWith('1');
}

int realmOf(const QByteArray& line) {
    if (line.isEmpty())
        return vestrahal::kRealmVestrahal;
    const char first = line.at(0);
    return first >= '0' && first < '0' + vestrahal::kRealmCount ? first - '0'
                                                                : vestrahal::kRealmVestrahal;
}

} // namespace

Config::Config()
    : baseDir(launcherFolder()) {
    realmHosts[vestrahal::kRealmVestrahal] = vestrahal::kLogonHost;
    realmHosts[vestrahal::kRealmOfficial] = vestrahal::kOfficialLogonHost;
    realmHosts[vestrahal::kRealmPartner] = vestrahal::kPartnerLogonHost;
    // Only the Vestrahal realms are played with the Wrath of the Lich King client by default.
    for (int realm = 0; realm < vestrahal::kRealmCount; ++realm) {
        if (realm >= vestrahal::kFirstPersonalRealm)
            realmHosts[realm] = kEmptyRealmHost;
        realmWotlk[realm] = realm == vestrahal::kRealmVestrahal;
    }
}

bool Config::canStoreHost(const QString& host) {
    return std::none_of(host.begin(), host.end(), [](QChar ch) {
        return ch == QLatin1Char('|') || ch.category() == QChar::Other_Control;
    });
}

bool Config::canStoreFolder(const QString& folder) {
    return std::none_of(folder.begin(), folder.end(), [](QChar ch) {
        return ch.unicode() > 0xff || ch.category() == QChar::Other_Control;
    });
}

QString Config::serverVersionText(const QByteArray& body) {
    const qsizetype nul = body.indexOf('\0');
    QByteArray text = nul < 0 ? body : body.left(nul);
    text.removeIf([](char ch) { return ch == '\r' || ch == '\n'; });
    return QString::fromLatin1(text);
}

QString Config::filePath() const {
    return launcherfiles::settings(baseDir);
}

QString Config::reportFilePath() const {
    return launcherfiles::report(baseDir);
}

QString Config::launcherFolder() {
    return launcherfiles::folder();
}

QString Config::playerDataFolder() {
    return launcherfiles::playerDataFolder();
}

QByteArray Config::serialized() const {
    QByteArray content;
    content += wotlkEnabled ? "1" : "0";
    content += '\n';
    content += wotlkPath.toLatin1();
    content += '\n';
    content += cataEnabled ? "1" : "0";
    content += '\n';
    content += cataPath.toLatin1();
    content += '\n';
    content += QByteArray::number(selectedRealm);
    content += '\n';
    for (int realm = vestrahal::kFirstPersonalRealm; realm <= vestrahal::kLastPersonalRealm;
         ++realm) {
        content += realmHosts.value(realm);
        content += '|';
        content += realmWotlk.value(realm) ? "1" : "0";
        content += '\n';
    }
    content += version.toLatin1();
    content += '\n';

    return content;
}

bool Config::save() {
    const QByteArray content = serialized();
    // Written beside the old file and moved over it once complete: a crash or a full disk
    // half-way must never leave the player with a cut launcher.conf.
    QSaveFile file(filePath());
    // A file that can be written in a folder that cannot (no room for the new file beside it)
    // is written in place rather than never saved again; only then, and still checked.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    // The content fits in the file's buffer: only the flush says whether it reached the disk,
    // and commit() does not report a failed flush of its own.
    if (file.write(content) != content.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool Config::load() {
    const bool loaded = loadFile();
    // A package's version is the package's, whatever line 9 holds: the package manager installs
    // new launchers, and none of them stores its version there.
    if (vestrahal::kPackaged)
        version = QString::fromLatin1(vestrahal::kLauncherVersion);
    return loaded;
}

bool Config::loadFile() {
    try {
        QFile file(filePath());
        if (!file.open(QIODevice::ReadOnly)) {
            // Only a missing file is created: one that exists but cannot be read still holds
            // the player's settings.
            // A package's folder is the player's own, made at the first start.
            if (QFileInfo::exists(file.fileName()) ||
                (!QFileInfo::exists(baseDir) && !QDir().mkpath(baseDir)) || !save() ||
                !file.open(QIODevice::ReadOnly))
                return false;
        }
        return read(file);
    } catch (...) {
        // The callers know only true or false: nothing may escape.
        return false;
    }
}

bool Config::fileCannotBeMade() const {
    // A failed load creates a missing file first: still missing, it could not be made.
    return !QFileInfo::exists(filePath());
}

QString Config::whyNotWritten() const {
    const QFileInfo folder(baseDir);
    const QFileInfo file(filePath());
    const QString where = QDir::toNativeSeparators(baseDir);
    if (!folder.exists())
        return QStringLiteral("le dossier %1 n'existe pas et ne peut pas être créé").arg(where);
    if (!folder.isDir())
        return QStringLiteral("%1 n'est pas un dossier").arg(where);
    if (file.exists() && !file.isFile())
        return QStringLiteral("un dossier ou un autre objet porte déjà le nom launcher.conf");
    // Tried rather than read from the rights: they say nothing of what the system allows this
    // process (root, access lists, a read-only disk). Nothing is changed by either try.
    QFile existing(filePath());
    const bool fileReadOnly =
        file.isFile() && !existing.open(QIODevice::WriteOnly | QIODevice::Append);
    QTemporaryFile probe(baseDir + QStringLiteral("/.launcher.conf-XXXXXX"));
    const bool folderTakesFiles = probe.open();
    if (fileReadOnly)
        return folderTakesFiles
                   ? QStringLiteral("le fichier est en lecture seule")
                   : QStringLiteral("le fichier et son dossier %1 sont en lecture seule")
                         .arg(where);
    if (!folderTakesFiles && !file.exists())
        return QStringLiteral("le dossier %1 est en lecture seule").arg(where);
    if (file.isSymLink())
        return QStringLiteral("le lien launcher.conf mène à un emplacement qui ne peut pas être "
                              "écrit");
    return QStringLiteral("l'écriture a échoué (disque plein ?)");
}

bool Config::read(QIODevice& file) {
    try {
        QByteArray line = file.readLine();
        if (line.isEmpty())
            return false;
        wotlkEnabled = flagOf(line);

        line = file.readLine();
        if (line.isEmpty())
            return false;
        wotlkPath = lineText(line);

        line = file.readLine();
        if (line.isEmpty())
            return false;
        cataEnabled = flagOf(line);

        line = file.readLine();
        if (line.isEmpty())
            return false;
        cataPath = lineText(line);

        line = file.readLine();
        if (line.isEmpty())
            return false;
        selectedRealm = realmOf(line);

        for (int realm = vestrahal::kFirstPersonalRealm; realm <= vestrahal::kLastPersonalRealm;
             ++realm) {
            const QByteArray text = upToNul(file.readLine());
            const qsizetype bar = text.indexOf('|');
            // A line without a bar is all host; its line end is not part of it.
            QByteArray host = bar < 0 ? withoutLineEnd(text) : text.left(bar);
            if (host.isEmpty())
                host = kEmptyRealmHost;
            realmHosts[realm] = host;
            realmWotlk[realm] = bar >= 0 && text.size() > bar + 1 && text.at(bar + 1) == '1';
        }

        line = file.readLine();
        if (line.isEmpty())
            return false;
        version = lineText(line);
        return true;
    } catch (...) {
        return false;
    }
}

bool Config::setRealmWotlk(int realm, bool wotlk) {
    realmWotlk[realm] = wotlk;
    return save();
}

bool Config::setRealmHost(int realm, const QByteArray& host) {
    realmHosts[realm] = host;
    return save();
}
