#include "gamemanifest.h"

#include "updatereport.h"
#include "updatesignature.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>

#include <cmath>

namespace gamemanifest {

namespace {

// The largest whole number a JSON reader keeps exactly.
constexpr double kLargestWhole = 9007199254740992.0;

bool wholeNumber(const QJsonValue& value, qint64* number) {
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    if (!(d >= 0 && d <= kLargestWhole) || std::floor(d) != d)
        return false;
    *number = qint64(d);
    return true;
}

bool isSha256Hex(const QString& text) {
    if (text.size() != 64)
        return false;
    for (const QChar ch : text) {
        if (!((ch >= u'0' && ch <= u'9') || (ch >= u'a' && ch <= u'f')))
            return false;
    }
    return true;
}

bool reservedDeviceName(QStringView component) {
    // Windows opens the device whatever follows the name after a dot: "nul.txt" is NUL.
    const qsizetype dot = component.indexOf(u'.');
    const QStringView stem = dot < 0 ? component : component.left(dot);
    for (const char* name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (stem.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return true;
    }
    if (stem.size() == 4 && (stem.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) ||
                             stem.startsWith(QLatin1String("LPT"), Qt::CaseInsensitive))) {
        const QChar digit = stem.at(3);
        // COM0 and LPT0 too, and the superscript digits Windows also takes.
        return (digit >= u'0' && digit <= u'9') || digit == u'\u00b9' || digit == u'\u00b2' ||
               digit == u'\u00b3';
    }
    return false;
}

QString folded(const QString& path) {
    return path.toCaseFolded();
}

bool readPathAndHash(const QJsonObject& entry, QString* path, QByteArray* sha256,
                     QString* problem) {
    const QJsonValue pathValue = entry.value(QLatin1String("path"));
    const QJsonValue hashValue = entry.value(QLatin1String("sha256"));
    if (!pathValue.isString() || !hashValue.isString() || !isSha256Hex(hashValue.toString())) {
        *problem = QStringLiteral("an entry without a path or a SHA-256");
        return false;
    }
    *path = pathValue.toString();
    const QString why = pathProblem(*path);
    if (!why.isEmpty()) {
        *problem = QStringLiteral("path \"%1\": %2").arg(*path, why);
        return false;
    }
    *sha256 = hashValue.toString().toLatin1();
    return true;
}

} // namespace

QString manifestPath(const QString& client) {
    return QStringLiteral("/launcher/files/") + client + QStringLiteral("/manifest.json");
}

QString signaturePath(const QString& client) {
    return manifestPath(client) + QStringLiteral(".sig");
}

QString objectPath(const QByteArray& sha256) {
    return QStringLiteral("/launcher/files/objects/") + QString::fromLatin1(sha256);
}

QByteArray signedMessage(const QByteArray& manifestBytes) {
    return QByteArray("vestrahal-files\n") + manifestBytes;
}

QString pathProblem(const QString& path) {
    if (path.isEmpty())
        return QStringLiteral("empty");
    if (path.startsWith(QLatin1Char('/')))
        return QStringLiteral("absolute");
    if (path.size() >= 2 && path.at(1) == u':' && path.at(0).isLetter())
        return QStringLiteral("drive letter");
    if (path.contains(QLatin1Char('\\')))
        return QStringLiteral("backslash");
    for (const QChar ch : path) {
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7f ||
            (ch.unicode() >= 0x80 && ch.unicode() < 0xa0))
            return QStringLiteral("control character");
        if (QStringView(u"<>:\"|?*").contains(ch))
            return QStringLiteral("character %1 that Windows refuses").arg(ch);
    }
    for (qsizetype begin = 0; begin <= path.size();) {
        qsizetype end = path.indexOf(u'/', begin);
        if (end < 0)
            end = path.size();
        const QStringView component = QStringView(path).mid(begin, end - begin);
        if (component.isEmpty())
            return QStringLiteral("empty component");
        if (component == u"." || component == u"..")
            return QStringLiteral("component %1").arg(component);
        if (component.endsWith(u'.') || component.endsWith(u' '))
            return QStringLiteral("component ending in a dot or a space");
        if (reservedDeviceName(component))
            return QStringLiteral("Windows reserved name %1").arg(component);
        begin = end + 1;
    }
    return {};
}

namespace {

// The list's own fields: its format, client and sequence, and the arrays of its entries.
bool readHead(const QByteArray& bytes, Manifest* read, QJsonArray* files, QJsonArray* removed,
              QString* problem) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        *problem = QStringLiteral("not JSON: %1").arg(error.errorString());
        return false;
    }
    const QJsonObject top = document.object();
    qint64 format = 0;
    if (!wholeNumber(top.value(QLatin1String("format")), &format) || format != 1) {
        *problem = QStringLiteral("not format 1");
        return false;
    }
    const QJsonValue client = top.value(QLatin1String("client"));
    const QJsonValue listed = top.value(QLatin1String("files"));
    const QJsonValue gone = top.value(QLatin1String("removed"));
    if (!client.isString() || !wholeNumber(top.value(QLatin1String("sequence")), &read->sequence) ||
        !listed.isArray() || !(gone.isUndefined() || gone.isArray())) {
        *problem = QStringLiteral("no client, sequence or files");
        return false;
    }
    read->client = client.toString();
    *files = listed.toArray();
    *removed = gone.toArray();
    return true;
}

// Every name of the list as Windows would see it: two entries that differ in case only are one
// file there, and a name that is a file in one entry and a folder in another cannot be both on
// the disk.
class ListedNames {
public:
    bool take(const QString& path, QString* problem) {
        const QString name = folded(path);
        if (names.contains(name)) {
            *problem = QStringLiteral("path \"%1\" listed twice").arg(path);
            return false;
        }
        names.insert(name);
        for (qsizetype slash = name.indexOf(u'/'); slash >= 0;
             slash = name.indexOf(u'/', slash + 1))
            folders.insert(name.left(slash));
        return true;
    }
    bool fileAndFolder(QString* problem) const {
        for (const QString& folder : folders) {
            if (names.contains(folder)) {
                *problem = QStringLiteral("path \"%1\" is both a file and a folder").arg(folder);
                return true;
            }
        }
        return false;
    }

private:
    QSet<QString> names;
    QSet<QString> folders;
};

bool readFiles(const QJsonArray& array, ListedNames& names, QList<File>* files, QString* problem) {
    files->reserve(array.size());
    for (const QJsonValue& value : array) {
        File file;
        if (!value.isObject()) {
            *problem = QStringLiteral("a file that is not an entry");
            return false;
        }
        const QJsonObject entry = value.toObject();
        if (!readPathAndHash(entry, &file.path, &file.sha256, problem))
            return false;
        if (!wholeNumber(entry.value(QLatin1String("size")), &file.size)) {
            *problem = QStringLiteral("path \"%1\" without a size").arg(file.path);
            return false;
        }
        if (!names.take(file.path, problem))
            return false;
        files->append(std::move(file));
    }
    return true;
}

bool readRemoved(const QJsonArray& array, ListedNames& names, QList<Removed>* removed,
                 QString* problem) {
    for (const QJsonValue& value : array) {
        Removed gone;
        if (!value.isObject()) {
            *problem = QStringLiteral("a removed entry that is not an entry");
            return false;
        }
        if (!readPathAndHash(value.toObject(), &gone.path, &gone.sha256, problem))
            return false;
        if (!names.take(gone.path, problem))
            return false;
        removed->append(std::move(gone));
    }
    return true;
}

} // namespace

bool parse(const QByteArray& bytes, Manifest* manifest, QString* problem) {
    Manifest read;
    QJsonArray files;
    QJsonArray removed;
    ListedNames names;
    if (!readHead(bytes, &read, &files, &removed, problem) ||
        !readFiles(files, names, &read.files, problem) ||
        !readRemoved(removed, names, &read.removed, problem) || names.fileAndFolder(problem))
        return false;
    *manifest = std::move(read);
    return true;
}

bool verify(const QByteArray& manifestBytes, const QByteArray& signatureFile,
            const QByteArray& publicKey, QString* problem) {
    switch (verifyUpdateSignature(signatureFile, signedMessage(manifestBytes),
                                  decodePublicKey(publicKey))) {
    case SignatureVerdict::Valid:
        return true;
    case SignatureVerdict::Malformed:
        *problem = QStringLiteral("signature: not a signature");
        return false;
    case SignatureVerdict::Refused:
        break;
    }
    *problem = QStringLiteral("signature: does not verify");
    return false;
}

bool fits(const Manifest& manifest, const QString& client, qint64 lastSequence, QString* problem) {
    if (manifest.client != client) {
        *problem = QStringLiteral("client \"%1\" instead of \"%2\"").arg(manifest.client, client);
        return false;
    }
    if (manifest.sequence < lastSequence) {
        *problem = QStringLiteral("sequence %1 lower than %2 applied before")
                       .arg(manifest.sequence)
                       .arg(lastSequence);
        return false;
    }
    return true;
}

QString folderProblem(const QString& root, const QString& path, QSet<QString>* soundFolders) {
    const qsizetype last = path.lastIndexOf(u'/');
    if (last < 0 || soundFolders->contains(path.left(last)))
        return {};
    for (qsizetype slash = path.indexOf(u'/'); slash >= 0 && slash <= last;
         slash = path.indexOf(u'/', slash + 1)) {
        const QString relative = path.left(slash);
        if (soundFolders->contains(relative))
            continue;
        const QFileInfo info(root + u'/' + relative);
        if (info.isSymLink() || info.isJunction())
            return QStringLiteral("path \"%1\" leads through the link %2").arg(path, relative);
        // Nothing further down exists yet, or a file stands in a folder's place (that file then
        // fails, not the list): nothing leads elsewhere.
        if (!info.isDir())
            return {};
        soundFolders->insert(relative);
    }
    return {};
}

namespace {

// "1 fichier", "3 fichiers": French takes the singular for 0 and 1.
QString count(qint64 n, const char* singular, const char* plural) {
    return QString::number(n) + u' ' + QString::fromUtf8(n > 1 ? plural : singular);
}

QString clientName(const QString& client) {
    return client == QLatin1String(kCataclysm) ? QStringLiteral("Cataclysm")
                                               : QStringLiteral("Wrath of the Lich King");
}

} // namespace

QString escaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t code = ch.unicode();
        if (code == u'\\')
            out += QStringLiteral("\\\\");
        else if (code < 0x20 || (code >= 0x7f && code < 0xa0))
            out += QStringLiteral("\\x%1").arg(uint(code), 2, 16, QLatin1Char('0'));
        else if (code == 0x2028 || code == 0x2029 || code == 0x85)
            out += QStringLiteral("\\u%1").arg(uint(code), 4, 16, QLatin1Char('0'));
        else
            out += ch;
    }
    return out;
}

namespace {

// What the player reads after a file's path for the causes they can act on.
QString frenchReason(const QString& line) {
    const QString why = line.section(QStringLiteral(": "), 1);
    if (why.startsWith(QLatin1String("disk full")))
        return QStringLiteral(" (disque plein)");
    if (why.startsWith(QLatin1String("too slow")))
        return QStringLiteral(" (trop lent)");
    return {};
}

} // namespace

QString frenchSummary(const Outcome& outcome) {
    const QString where =
        QStringLiteral(" dans %1 (%2)").arg(escaped(outcome.folder), clientName(outcome.client));
    const QString again = QStringLiteral(" Le jeu peut être lancé ; le launcher réessaiera à son "
                                         "prochain démarrage.");
    if (!outcome.manifestReceived)
        return QStringLiteral("Résumé : la liste des fichiers du jeu n'a pas pu être "
                              "téléchargée ; rien n'a été modifié") +
               where + u'.' + again;
    if (!outcome.manifestProblem.isEmpty())
        return QStringLiteral("Résumé : la liste des fichiers du jeu a été refusée (le détail "
                              "est en anglais ci-dessus) ; rien n'a été modifié") +
               where + u'.' + again;
    if (outcome.deferred)
        return QStringLiteral("Résumé : le jeu a été lancé depuis le dossier") + where +
               QStringLiteral(" ; les fichiers du jeu qui restent seront mis à jour quand il sera "
                              "fermé.");
    const QString done = count(outcome.checked, "fichier vérifié", "fichiers vérifiés") +
                         QStringLiteral(", ") + count(outcome.fetched, "mis à jour", "mis à jour") +
                         QStringLiteral(", ") + count(outcome.removed, "supprimé", "supprimés");
    if (outcome.refused.isEmpty())
        return QStringLiteral("Résumé : les fichiers du jeu sont à jour") + where +
               QStringLiteral(" : ") + done + u'.';
    // The paths alone: the reasons are in the lines above. A path never holds ":".
    constexpr qsizetype kNamed = 5;
    const qsizetype refused = outcome.refused.size();
    QStringList paths;
    for (const QString& line : outcome.refused.mid(0, kNamed))
        paths << escaped(line.section(u':', 0, 0)) + frenchReason(line);
    QString named = paths.join(QStringLiteral(", "));
    if (refused > kNamed)
        named += QStringLiteral(" et ") + count(refused - kNamed, "autre", "autres");
    const QString lead =
        refused > 1 ? QStringLiteral("Résumé : %1 fichiers du jeu n'ont pas pu être mis à jour")
                          .arg(refused)
                    : QStringLiteral("Résumé : 1 fichier du jeu n'a pas pu être mis à jour");
    return lead + where + QStringLiteral(" : ") + named +
           QStringLiteral(" (le détail est en anglais ci-dessus) ; ") + done + u'.' + again;
}

QString report(const Outcome& outcome, const QDateTime& date) {
    QString text = reportHeader(
        QStringLiteral("Game files of %1 in %2...").arg(outcome.client, escaped(outcome.folder)),
        date);
    const bool taken = outcome.manifestReceived && outcome.manifestProblem.isEmpty();
    text += reportStep(QStringLiteral("Manifest")) + reportStatus(taken);
    if (taken)
        text += QStringLiteral(" sequence %1").arg(outcome.sequence);
    else
        text += u' ' + escaped(outcome.manifestProblem);
    text += u'\n';
    if (taken) {
        text += reportStep(QStringLiteral("Files checked")) +
                QStringLiteral("%1 (hashed %2)\n").arg(outcome.checked).arg(outcome.hashed);
        text += reportStep(QStringLiteral("Files fetched")) +
                QStringLiteral("%1 (%2 Bytes)\n").arg(outcome.fetched).arg(outcome.bytesFetched);
        text +=
            reportStep(QStringLiteral("Files removed")) + QString::number(outcome.removed) + u'\n';
        if (outcome.deferred)
            text += reportStep(QStringLiteral("Files left")) +
                    QStringLiteral("the game started: the rest when it has ended\n");
        text += reportStep(QStringLiteral("Files refused")) +
                reportStatus(outcome.refused.isEmpty()) + u' ' +
                QString::number(outcome.refused.size()) + u'\n';
        for (const QString& line : outcome.refused)
            text += QStringLiteral("  ") + escaped(line) + u'\n';
    }
    // The lines above are the admins', in English; the player, whom the status line sends here,
    // reads this one.
    text += frenchSummary(outcome) + u'\n';
    text += QStringLiteral("\n\n");
    return text;
}

} // namespace gamemanifest
