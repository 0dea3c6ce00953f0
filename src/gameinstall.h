#pragma once

#include "gamemanifest.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <memory>

class GameFiles;
class SignedList;

// Installing the community's client into a folder the player chose: whether the folder gets the
// offer, what installing there would fetch and replace, whether the disk has room for it, what
// the player is asked, and the launcher's record of the installs under way. Plain functions the
// window and the tests call alike; the files written are the launcher's own, never the game
// folder's.
namespace gameinstall {

// Whether a folder chosen for a client gets the offer once its client's list is found published:
// the launcher keeps the community's files at all, and the folder holds neither the game's
// program (that is the player's own installation) nor the package's marker (that one is brought
// up to date as it is).
bool getsOffer(bool gameFilesKept, const QString& folder);

// What installing the listed files into a folder comes to.
struct Plan {
    int filesToFetch = 0;
    qint64 bytesToFetch = 0;
    qint64 largestToFetch = 0; // its part file stands beside the others until it takes its name
    // Listed files the folder holds with other bytes: fetched too, and replaced.
    int filesReplaced = 0;
    bool cancelled = false;
};

// Looks at the folder for each listed file: absent, or of another size, it is fetched; of the
// listed size, it is hashed and fetched only when its bytes differ. Hashing a whole client takes
// time: this runs off the window's thread, and stops early (cancelled) once `cancelled` is set.
Plan planFor(const gamemanifest::Manifest& list, const QString& folder,
             const std::atomic<bool>* cancelled = nullptr);

// The room an install needs on the disk: what is still to fetch, the largest part file beside
// it, and 1 % to spare.
qint64 spaceNeeded(const Plan& plan);
// The free space of the disk that holds the folder, for the player (-1: unknown).
qint64 freeSpace(const QString& folder);
bool hasRoom(const Plan& plan, qint64 freeBytes);

// The question, with the free space beside the size (sizes as the install's status line
// shows them) and, when files would be replaced, how many.
QString questionText(const Plan& plan, qint64 freeBytes);
// Why the install is refused, naming the room needed and the room there is.
QString refusalText(qint64 neededBytes, qint64 freeBytes);
inline const QString kQuestionTitle = QStringLiteral("Installer le jeu");
inline const QString kRefusalTitle = QStringLiteral("Espace disque insuffisant");

// An install under way: the client's folder, until its marker comes.
struct Install {
    QString client; // gamemanifest::kWotlk or gamemanifest::kCataclysm
    QString path;
    bool operator==(const Install& other) const {
        return client == other.client && path == other.path;
    }
};
// The record beside launcher.conf: one line per install, its client, a tab and its folder. A
// missing or unreadable record holds none; a line that is not an install is left out.
QList<Install> loadInstalls(const QString& file);
// Written whole or not at all; no install left removes the record.
bool saveInstalls(const QString& file, const QList<Install>& installs);

// The player's download speed limit, in Mo/s (0: none), in its own file beside launcher.conf.
inline constexpr int kMostMegabytesPerSecond = 1000;
int loadSpeedLimit(const QString& file);
bool saveSpeedLimit(const QString& file, int megabytesPerSecond);
inline qint64 bytesPerSecond(int megabytesPerSecond) {
    return qint64(megabytesPerSecond) << 20;
}

} // namespace gameinstall

// Looks whether a chosen folder gets the install: its client's signed list fetched as the game
// files' runs fetch theirs, then the folder looked at off the window's thread. One look at a
// time: a new one drops the last.
class InstallOffer : public QObject {
    Q_OBJECT

public:
    // The list is fetched with the key, host and limits of `files`, which outlives this object.
    InstallOffer(const GameFiles* files, QObject* parent = nullptr);
    ~InstallOffer() override;

    void look(const QString& client, const QString& folder);
    void cancel();
    bool isLooking() const { return looking; }

signals:
    // The community publishes no list for the client: the folder is taken as any other.
    void notPublished(const QString& client, const QString& folder);
    // The list could not be had or was refused (in English, as the report says it).
    void failed(const QString& client, const QString& folder, const QString& why);
    // What installing there comes to, and the disk's free space (-1: unknown).
    void ready(const QString& client, const QString& folder, const gameinstall::Plan& plan,
               qint64 freeBytes);

private:
    void onTrusted(const QByteArray& bytes);
    void onPlanned(const gameinstall::Plan& plan, qint64 freeBytes, int lookNumber);

    const GameFiles* files;
    SignedList* list;
    QThreadPool pool;
    std::shared_ptr<std::atomic<bool>> cancelled;
    QString client;
    QString folder;
    int lookNumber = 0;
    bool looking = false;
};
