#pragma once

#include "durablefile.h"
#include "filehashing.h"
#include "gamefileindex.h"
#include "gamemanifest.h"
#include "httpclient.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <list>
#include <memory>

class Config;
class ObjectFile;
class QTimer;

// Keeps the community's client package current: for each of its game folders it fetches the
// signed list of the files the package must hold, checks which ones differ, fetches those from
// their content addresses and puts each in place only once it is whole and holds the listed
// bytes. It never writes, moves or deletes a file the list does not name, and it tells what
// happens through its signals only. Without a public key it does nothing at all.
class GameFiles : public QObject {
    Q_OBJECT

public:
    struct Folder {
        QString client; // gamemanifest::kWotlk or gamemanifest::kCataclysm
        QString path;
    };
    enum class Check {
        ByIndex, // files whose size and time the index vouches for are taken as they are
        ByHash   // every listed file is hashed ("Vérifier les fichiers")
    };

    explicit GameFiles(QObject* parent = nullptr);
    ~GameFiles() override;

    // The folders of the settings that the community's package fills: enabled, and holding the
    // package's marker file. A player's own installation is never written.
    static QList<Folder> foldersOf(const Config& config);
    // Whether this build keeps the game files at all: it has the community's public key and the
    // ability is on. Without, nothing of it shows.
    static bool available();

    // The build's values unless set: the community's key and web host, the launcher's folder
    // (index files, errors.log), the version check's time limit for the list, the self-update's
    // idle limit for the objects.
    void setPublicKey(const QByteArray& base64) { publicKey = base64; }
    void setServer(const WebServer& where) { server = where; }
    void setLauncherFolder(const QString& dir) { launcherDir = dir; }
    void setManifestTimeLimit(int milliseconds) { manifestTimeLimit = milliseconds; }
    void setObjectIdleLimit(int milliseconds) { objectIdleLimit = milliseconds; }
    void setMinimumSpeed(qint64 bytes, int windowMilliseconds) {
        minimumBytes = bytes;
        minimumWindow = windowMilliseconds;
    }

    static constexpr qint64 kManifestMaxBytes = qint64(16) << 20;
    static constexpr qint64 kSignatureMaxBytes = 1024;
    static constexpr int kManifestTimeLimit = 30000;
    // An object that brings less than this in any such window is given up as too slow ("trop
    // lent"): a server that trickles cannot hold the files, nor the player, for ever.
    static constexpr qint64 kMinimumBytes = qint64(32) << 10;
    static constexpr int kMinimumWindow = 30000;
    // Objects are fetched four at a time, each lane over a connection it keeps: thousands of
    // small objects do not wait for one another's round trips, large ones hash while others
    // arrive.
    static constexpr int kLanes = 4;

    // Starts a run over the folders; false (and nothing happens) while one runs. finished()
    // follows in every case, also when there is nothing to do.
    bool start(const QList<Folder>& folders, Check check = Check::ByIndex);
    bool isRunning() const { return running; }
    // The launcher's game starts: nothing more is put in place, what is on its way is left as a
    // part file to resume, and the run ends (finished() follows).
    void stop();
    // Whether the last run left files for when a game has ended.
    bool leftForAfterTheGame() const { return deferred; }

    // How long fetching may keep "Jouer" shut before the player may play the files already whole
    // (the rest goes on meanwhile, and stops when the game starts); and how a game running from
    // a folder is found (gamerunning::runsFrom unless set).
    static constexpr int kHoldLimit = 60000;
    void setHoldLimit(int milliseconds) { holdLimit = milliseconds; }
    void setGameRunning(std::function<bool(const QString&)> check) { gameRuns = std::move(check); }

signals:
    // The status line's text, in French.
    void statusChanged(const QString& text);
    // Bytes done of the bytes to hash, then of the bytes to fetch.
    void progressChanged(qint64 done, qint64 total);
    // The run is over; false when anything failed (what was replaced stays, each file whole).
    void finished(bool success);
    // Fetching has kept "Jouer" shut for the hold limit: the player may play now.
    void playable();

private:
    struct Lane;
    struct Pending {
        int file = -1; // in manifest.files
        qint64 resumeFrom = 0;
        bool triedOnce = false; // its part's resume already failed once
    };
    // An object whose request has ended, on its way to the disk before it takes its name.
    struct Finishing {
        std::unique_ptr<ObjectFile> file; // a large object's
        Pending pending;
        std::shared_ptr<const durablefile::Folder> folder;
        QString relative; // the folder below the game folder
        QString name;
        QString part;
        int badStatus = 0;
        QString otherRange;
        bool error = false;
        int status = 0;
        int code = 0;
        QString codeText;
        qint64 received = 0;
    };
    // A small object, whole in memory, on its way to its name with others.
    struct SmallObject {
        int file = -1;
        std::shared_ptr<const durablefile::Folder> folder;
        QString relative;
        QString name;
        QString part;
        qint64 size = 0;
        QByteArray sha256;
        QString problem;
        gamefileindex::FileState state = {};
    };
    struct FolderEntry {
        std::shared_ptr<const durablefile::Folder> folder;
        durablefile::Failure failure;
        QSet<QString> parts; // its part files when it was first opened
    };

    void nextFolder();
    void fetchManifest();
    void onManifest(bool error);
    void onSignature(bool error);
    // The check, step by step: what the disk holds under every listed and removed path, a path
    // through a link refusing the whole list, the list's sequence recorded before anything
    // changes, then which files are fetched and which hashed first.
    struct OnDisk {
        QList<gamefileindex::FileState> files;
        QList<gamefileindex::FileState> removed;
    };
    struct HashWork {
        int item; // a listed file's index, or past them a removed entry's
        QString path;
    };
    void applyList(const QByteArray& digest, bool sameList);
    void checkFiles(const QByteArray& digest);
    OnDisk lookAtTheDisk() const;
    bool refuseLinks(const OnDisk& disk);
    bool recordSequence(const QByteArray& digest);
    QList<HashWork> orderTheWork(const OnDisk& disk);
    void startHashing(const QList<HashWork>& work);
    void hashInPool(int item, const QString& path);
    void onHashed(int item, HashedFile& result);
    void startFetching();
    qint64 bytesAlreadyFetched(const gamemanifest::File& file) const;
    void startFetchTimers();
    void fetchNext(Lane& lane);
    qsizetype nextFor(const Lane& lane) const;
    bool prepareObject(Lane& lane);
    void startObject(Lane& lane);
    void onObjectHeader(Lane& lane, int status);
    void giveUp(Lane& lane);
    void onObjectDone(Lane& lane, bool error);
    QString requestProblem(const Finishing& done) const;
    static QString describe(const durablefile::Failure& failure, const QString& what);
    void takeSmallObject(const Finishing& done, QByteArray body);
    void onSmallWritten(const SmallObject& object, qint64 size);
    bool fetchingGoesOn() const;
    void placeGroup();
    void onGroupPlaced(const std::vector<SmallObject>& objects);
    void placeObject(Finishing& done);
    bool givePartItsName(const Finishing& done);
    void fetchingMayEnd();
    void saveIndexNow();
    void stopFetching();
    FolderEntry& folderFor(const QString& relative);
    static bool stillInPlace(const durablefile::Folder& root, const durablefile::Folder& held,
                             const QString& relative, durablefile::Failure* failure);
    void refuse(const QString& path, const QString& why);
    void endFolder();
    void failFolder(const QString& why);
    void showFetchStatus();
    QString target(const QString& path) const;

    QByteArray publicKey;
    WebServer server;
    QString launcherDir;
    int manifestTimeLimit = kManifestTimeLimit;
    int objectIdleLimit;
    qint64 minimumBytes = kMinimumBytes;
    int minimumWindow = kMinimumWindow;

    bool running = false;
    bool deferred = false;   // a game ran from a folder: its files wait for the game's end
    bool stopping = false;   // nothing more is put in place in this run
    bool background = false; // the player may play meanwhile
    int holdLimit = kHoldLimit;
    QTimer* holdTimer = nullptr;
    std::function<bool(const QString&)> gameRuns;
    bool allWell = true;
    bool spoke = false; // the run said something: it says how it ended
    Check mode = Check::ByIndex;
    QList<Folder> folders;
    int folderIndex = -1;
    QString root;                   // the current folder, as it really is on the disk
    durablefile::Folder rootFolder; // held while its files are hashed and fetched
    QHash<QString, FolderEntry> folders_;

    HttpClient* listClient = nullptr;
    QByteArray manifestBytes;

    gamemanifest::Manifest manifest;
    gamemanifest::Outcome outcome;
    gamefileindex::Index index;
    QList<gamefileindex::Entry> entries; // what is known of each listed file, kept up to date
    QString indexFile;
    QString sequenceFile;
    qint64 recordedSequence = -1;
    bool indexChanged = false;

    // Checking: one hashing job per file that needs it, on every core.
    QThreadPool pool;
    std::shared_ptr<std::atomic<bool>> cancelled;
    // Set when the run stops for a game: the writer's thread puts nothing more in place.
    std::shared_ptr<std::atomic<bool>> halted;
    std::shared_ptr<std::atomic<qint64>> hashedBytes;
    qint64 bytesToHash = 0;
    int hashesLeft = 0;
    QTimer* hashProgress = nullptr;
    QList<int> toFetch;

    QList<Pending> queue;
    bool fetching = false;
    std::unique_ptr<Lane> lanes[kLanes];
    std::list<Finishing> finishing;
    std::vector<SmallObject> group; // written, waiting to take their names together
    qint64 groupBytes = 0;
    bool placing = false;
    int smallWrites = 0;
    qint64 smallBytesInFlight = 0;
    QList<Lane*> waitingLanes; // held back while small objects wait for the disk
    QTimer* groupTimer = nullptr;
    QTimer* indexTimer = nullptr;
    int savesSinceLook = 0;
    qint64 bytesToFetch = 0;
    qint64 bytesDone = 0;
    qint64 shownMegabytes = -1;
};
