#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// The community's list of the files its client package must hold: the manifest that
// /launcher/files/<client>/manifest.json serves, signed with the launcher's key. These functions
// decide whether a manifest may be applied at all; nothing here touches a file.
namespace gamemanifest {

struct File {
    QString path; // relative to the game folder, '/' between components
    qint64 size = 0;
    QByteArray sha256; // 64 lowercase hex digits
};

struct Removed {
    QString path;
    QByteArray sha256;
};

struct Manifest {
    QString client;
    qint64 sequence = 0;
    QList<File> files;
    QList<Removed> removed;
    // Other hosts that serve the same objects (format 2), tried after the community's own host,
    // in this order. Each ends in '/': an object's address is the mirror followed by its sha256.
    // Only where the bytes come from: the list's hashes alone decide what is written.
    QStringList mirrors;
};

// The most mirrors a list may name: each one failing costs an object a request, and a list that
// names more is a mistake, not a plan.
inline constexpr int kMaxMirrors = 16;

// The server's name of a game folder's client: "wotlk" or "cataclysm".
inline const char kWotlk[] = "wotlk";
inline const char kCataclysm[] = "cataclysm";

// Where the manifest of a client lies on the web host, its signature beside it, and an object.
QString manifestPath(const QString& client);
QString signaturePath(const QString& client);
QString objectPath(const QByteArray& sha256);

// The bytes that are signed: "vestrahal-files\n" followed by the manifest file's exact bytes.
QByteArray signedMessage(const QByteArray& manifestBytes);

// Why a listed path may not be used, in English for the report; empty when it may. Refused:
// absolute paths, drive letters, backslashes, empty, "." or ".." components, control characters,
// the characters Windows keeps for itself (<>:"|?*), components ending in a dot or a space
// (Windows drops them, so "a." would be "a"), and Windows' reserved device names (CON, NUL,
// COM1...) with or without an extension.
QString pathProblem(const QString& path);

// Why a mirror's address may not be used, in English for the report; empty when it may. It must
// be an absolute http or https address of a host, ending in '/', with neither user, password,
// query nor fragment.
QString mirrorProblem(const QString& url);

// Reads the JSON of a manifest (format 1, or 2 with its mirrors). On any problem (not the format, a
// refused path, two entries equal without regard to case, an entry that is also the folder of
// another) returns false with the reason in `problem`; the manifest is then refused as a whole. A
// mirror that is not one refuses it too, as do more than kMaxMirrors; one named twice counts once.
bool parse(const QByteArray& bytes, Manifest* manifest, QString* problem);

// Whether the signature file holds the key's signature of the manifest's bytes (the key as its
// base64 text); false with the reason in `problem`.
bool verify(const QByteArray& manifestBytes, const QByteArray& signatureFile,
            const QByteArray& publicKey, QString* problem);

// Whether the list is the folder's: its client, and a sequence no lower than the last one applied
// to the folder (an equal one is the same list again).
bool fits(const Manifest& manifest, const QString& client, qint64 lastSequence, QString* problem);

// Why the folders leading to the listed path (not the path itself) go through a link or a
// junction on the disk as it is now; empty when they do not. `root` is the game folder as it
// really is (canonical). Folders found sound are remembered in `soundFolders`, so that a list of
// thousands of files looks at each folder once.
QString folderProblem(const QString& root, const QString& path, QSet<QString>* soundFolders);

// What one run over a game folder came to, as errors.log tells it.
struct Outcome {
    QString client;
    QString folder;
    bool manifestReceived = false; // the list and its signature came with status 200
    QString manifestProblem;       // why it was refused or not received; empty when taken
    qint64 sequence = 0;
    int checked = 0;
    int hashed = 0;
    int fetched = 0;
    qint64 bytesFetched = 0;
    int removed = 0;
    bool deferred = false; // a game started from the folder: the rest waits for its end
    QStringList refused;   // "path: reason", one per file that could not be brought up to date
};

// A text from outside (a path, a folder, a reason quoting them) as the report writes it: control
// characters, line and paragraph separators and backslashes as escapes ("\x01", "\u2028", "\\"),
// so that a line of the report is always one line, whatever a list or a folder holds.
QString escaped(const QString& text);

// The report appended to errors.log after a run, "\n" for each line end: the admins' lines in
// English, then the player's summary in French.
QString report(const Outcome& outcome, const QDateTime& date);
// That summary, one line: what came of the folder, and which files could not be brought up to
// date.
QString frenchSummary(const Outcome& outcome);

} // namespace gamemanifest
