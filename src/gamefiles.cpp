#include "gamefiles.h"

#include "config.h"

#include "buildoptions.h"
#include "communityaddress.h"
#include "durablefile.h"
#include "filehashing.h"
#include "gamerunning.h"
#include "launcherfiles.h"
#include "objectfile.h"
#include "realmplay.h"
#include "sha256.h"
#include "teststeps.h"
#include "updatereport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <functional>
#include <thread>
#include <vector>

namespace {

// A part file beside its target: the same folder, so that the last step is a rename. Its name
// carries the object it is for, and whether a resumed request for it already failed once.
const QString kPartSuffix = QStringLiteral(".vestrahal-part");
const QString kTriedOnce = QStringLiteral(".1");
// A small object that did not take its name because the run stopped for a game: neither placed
// nor refused.
const QString kHalted = QStringLiteral("-");
constexpr qsizetype kPartHashLength = 16;
constexpr qint64 kMegabyte = qint64(1) << 20;
// Below this many listed files one thread looks at them all.
constexpr qsizetype kStatsPerThread = 2000;
// An object up to this size comes whole into memory and is written at once: thousands of small
// objects then cost no thread, no queue and no sync of their own. A larger one is written as it
// comes, and may be resumed.
constexpr qint64 kSmallObject = qint64(1) << 20;
// Small objects are put in place together: written, the file system synced once, then each
// renamed. A group goes once it has this many objects or bytes, or after this long.
constexpr int kGroupObjects = 256;
constexpr qint64 kGroupBytes = qint64(16) << 20;
constexpr int kGroupMilliseconds = 50;
// Large objects fetched at once, at most: each is written as it comes and synced.
constexpr int kLargeAtOnce = 2;
// Small objects written or waiting to be, at most: the network waits beyond that. More buys no
// speed (the writer keeps up with a few megabytes ahead of it) and costs the memory the launcher
// must not take from the game: 20,000 objects of 4 KiB peaked 42 MiB above idle with 16 MiB.
constexpr qint64 kSmallBytesInFlight = qint64(4) << 20;
// A kill loses at most this much of what the index learnt.
constexpr int kIndexSaveMilliseconds = 2000;

const QString kChecking = QStringLiteral("Vérification des fichiers du jeu...");
const QString kUpToDate = QStringLiteral("Fichiers du jeu à jour");
const QString kAfterTheGame = QStringLiteral(
    "Le jeu est en cours : les fichiers du jeu seront mis à jour quand il sera fermé");
// The report's lines are the admins', in English: the player is sent to its French summary, the
// last line of the last report.
const QString kFailed =
    QStringLiteral("Fichiers du jeu non mis à jour : résumé en français à la fin de errors.log");

QString megabytes(qint64 bytes, bool roundUp) {
    return QString::number(roundUp ? (bytes + kMegabyte - 1) / kMegabyte : bytes / kMegabyte);
}

// The folder part and the name of a listed path.
QPair<QString, QString> split(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return {slash < 0 ? QString() : path.left(slash), path.mid(slash + 1)};
}

QString partName(const QString& name, const QByteArray& sha256, bool triedOnce) {
    return name + u'.' + QString::fromLatin1(sha256.left(kPartHashLength)) +
           (triedOnce ? kTriedOnce : QString()) + kPartSuffix;
}

// Whether `part` is a part file of the file `name` (of any object, tried or not).
bool isPartOf(const QString& part, const QString& name) {
    if (part == name + kPartSuffix)
        return true;
    if (!part.startsWith(name + u'.') || !part.endsWith(kPartSuffix))
        return false;
    QStringView middle = QStringView(part).mid(name.size() + 1);
    middle.chop(kPartSuffix.size());
    if (middle.endsWith(kTriedOnce))
        middle.chop(kTriedOnce.size());
    return middle.size() == kPartHashLength &&
           std::all_of(middle.begin(), middle.end(), [](QChar ch) {
               return (ch >= u'0' && ch <= u'9') || (ch >= u'a' && ch <= u'f');
           });
}

} // namespace

struct GameFiles::Lane {
    HttpClient* client = nullptr;
    std::unique_ptr<ObjectFile> file; // a large object's; none for a small one
    Pending current;
    std::shared_ptr<const durablefile::Folder> folder;
    QString relative;
    QString name; // in its folder
    QString part;
    bool busy = false;
    bool headerSeen = false;
    int badStatus = 0;
    QString otherRange; // the range the server answered instead of the one asked for
    int request = 0;    // the client's number of the running request
};

GameFiles::GameFiles(QObject* parent)
    : QObject(parent)
    , publicKey(vestrahal::kUpdatePublicKey)
    , server(communityServer(vestrahal::kWebHost))
    , launcherDir(launcherfiles::folder())
    , objectIdleLimit(vestrahal::kUpdateIdleSeconds * 1000)
    , gameRuns(&gamerunning::runsFrom)
    , cancelled(std::make_shared<std::atomic<bool>>(false))
    , halted(std::make_shared<std::atomic<bool>>(false))
    , hashedBytes(std::make_shared<std::atomic<qint64>>(0)) {}

GameFiles::~GameFiles() {
    // The hashing jobs report to this object: none may outlive it.
    cancelled->store(true);
    pool.waitForDone();
    for (auto& lane : lanes) {
        if (lane && lane->client)
            lane->client->disconnect(this);
        // A part file stays for the next start to resume.
        if (lane)
            lane->file.reset();
    }
    finishing.clear();
}

// Whether the folder held for `relative` is still the one the game folder leads to, through no
// link: one swapped for a link (or moved away) since it was opened takes no file.
bool GameFiles::stillInPlace(const durablefile::Folder& root, const durablefile::Folder& held,
                             const QString& relative, durablefile::Failure* failure) {
    const durablefile::Folder now = root.sub(relative, false, failure);
    if (now.isOpen() && now.sameAs(held))
        return true;
    if (failure->kind == durablefile::Failure::None)
        *failure = {durablefile::Failure::Link,
                    QStringLiteral("%1 is no longer the folder it was").arg(held.path())};
    return false;
}

// The folder of the listed files in `relative` below the game folder, made when missing, held
// open for the files that follow in it; its part files are listed once.
GameFiles::FolderEntry& GameFiles::folderFor(const QString& relative) {
    auto found = folders_.find(relative);
    if (found != folders_.end())
        return *found;
    // Few at once: a list of thousands of folders must not hold thousands of handles.
    if (folders_.size() >= 64)
        folders_.clear();
    FolderEntry entry;
    auto folder =
        std::make_shared<durablefile::Folder>(rootFolder.sub(relative, true, &entry.failure));
    if (folder->isOpen()) {
        entry.folder = folder;
        for (QString& name : folder->namesEndingWith(kPartSuffix))
            entry.parts.insert(std::move(name));
    }
    return *folders_.insert(relative, entry);
}

QList<GameFiles::Folder> GameFiles::foldersOf(const Config& config) {
    QList<Folder> found;
    QString first;
    const auto add = [&](bool enabled, const QString& path, const char* client) {
        if (!enabled || path.isEmpty() || !QFileInfo(realmplay::communityMarkerIn(path)).isFile())
            return;
        // One folder chosen for both clients gets one list, the first client's: two lists would
        // take turns rewriting it.
        const QString real = QFileInfo(path).canonicalFilePath();
        if (!first.isEmpty() && real == first)
            return;
        first = real;
        found.append({QString::fromLatin1(client), path});
    };
    add(config.wotlkEnabled, config.wotlkPath, gamemanifest::kWotlk);
    add(config.cataEnabled, config.cataPath, gamemanifest::kCataclysm);
    return found;
}

bool GameFiles::available() {
    return vestrahal::kGameFiles && vestrahal::kUpdatePublicKey[0] != '\0';
}

bool GameFiles::start(const QList<Folder>& list, Check check) {
    if (running)
        return false;
    running = true;
    allWell = true;
    spoke = false;
    deferred = false;
    stopping = false;
    // A flag of its own for each run: a group still on its way from the last one keeps its own.
    halted = std::make_shared<std::atomic<bool>>(false);
    background = false;
    mode = check;
    // A build without the community's key makes no request and writes nothing.
    folders = publicKey.isEmpty() || !vestrahal::kGameFiles ? QList<Folder>() : list;
    folderIndex = -1;
    QMetaObject::invokeMethod(this, &GameFiles::nextFolder, Qt::QueuedConnection);
    return true;
}

void GameFiles::nextFolder() {
    while (++folderIndex < folders.size()) {
        // The marker is looked at again: a folder that lost it is the player's own now.
        const Folder& folder = folders.at(folderIndex);
        if (!QFileInfo(realmplay::communityMarkerIn(folder.path)).isFile() || stopping)
            continue;
        // Not a file of a folder whose game runs is touched, nor even asked for.
        if (gameRuns && gameRuns(folder.path)) {
            deferred = spoke = true;
            continue;
        }
        fetchManifest();
        return;
    }
    running = false;
    if (holdTimer)
        holdTimer->stop();
    if (spoke)
        emit statusChanged(deferred ? kAfterTheGame : allWell ? kUpToDate : kFailed);
    emit finished(allWell);
}

void GameFiles::fetchManifest() {
    const Folder& folder = folders.at(folderIndex);
    outcome = {};
    outcome.client = folder.client;
    outcome.folder = folder.path;
    manifest = {};
    manifestBytes.clear();
    // The last folder's client may be the one whose signal brought the run here.
    if (listClient)
        listClient->deleteLater();
    listClient = new HttpClient(server, this);
    listClient->setMaxBodySize(kManifestMaxBytes);
    // The list and its signature, each given up as aborted past the limit.
    listClient->setTimeLimit(manifestTimeLimit);
    connect(listClient, &HttpClient::done, this, &GameFiles::onManifest);
    listClient->get(gamemanifest::manifestPath(folder.client));
}

void GameFiles::onManifest(bool error) {
    listClient->disconnect(this);
    const int status = listClient->statusCode();
    // A server that publishes no list for the client: nothing to do, nothing to say.
    if (!error && status == 404) {
        nextFolder();
        return;
    }
    if (error || status != 200) {
        failFolder(error ? QStringLiteral("Error #%1").arg(int(listClient->error()))
                         : QStringLiteral("HTTP Error %1").arg(status));
        return;
    }
    manifestBytes = listClient->readAll();
    listClient->setMaxBodySize(kSignatureMaxBytes);
    connect(listClient, &HttpClient::done, this, &GameFiles::onSignature);
    listClient->get(gamemanifest::signaturePath(folders.at(folderIndex).client));
}

void GameFiles::onSignature(bool error) {
    listClient->disconnect(this);
    const int status = listClient->statusCode();
    if (error || status != 200) {
        failFolder(QStringLiteral("signature: ") +
                   (error ? QStringLiteral("Error #%1").arg(int(listClient->error()))
                          : QStringLiteral("HTTP Error %1").arg(status)));
        return;
    }
    outcome.manifestReceived = true;
    spoke = true;
    emit statusChanged(kChecking);
    const Folder& folder = folders.at(folderIndex);
    indexFile = launcherfiles::gameFilesIndex(launcherDir, folder.client, folder.path);
    // The signature is checked on one core while the index is read on the other: both are a
    // pass over megabytes that needs nothing of the other.
    const QByteArray signature = listClient->readAll();
    QString problem;
    bool trusted = false;
    std::thread checker(
        [&] { trusted = gamemanifest::verify(manifestBytes, signature, publicKey, &problem); });
    index = gamefileindex::load(indexFile, folder.path);
    sequenceFile = launcherfiles::gameFilesSequence(launcherDir, folder.client, folder.path);
    // Whichever record knows the higher sequence: a missing or damaged one never lets an older
    // list back in while the other still knows better.
    recordedSequence = gamefileindex::loadSequence(sequenceFile);
    index.sequence = std::max(index.sequence, recordedSequence);
    // The same list as last time is taken as it was read then: only its signature is checked
    // again, and the disk.
    const QByteArray digest = Sha256::quickDigest(manifestBytes);
    checker.join();
    if (!trusted) {
        failFolder(problem);
        return;
    }
    applyList(digest, !index.manifestDigest.isEmpty() && digest == index.manifestDigest);
}

void GameFiles::applyList(const QByteArray& digest, bool sameList) {
    const Folder& folder = folders.at(folderIndex);
    QString problem;
    if (sameList) {
        manifest = index.manifest;
        entries = index.entries;
    } else if (!gamemanifest::parse(manifestBytes, &manifest, &problem)) {
        failFolder(problem);
        return;
    }
    manifestBytes.clear();
    if (!gamemanifest::fits(manifest, folder.client, index.sequence, &problem)) {
        failFolder(problem);
        return;
    }
    // Below the folder as it really is: a game folder reached through a link is the player's
    // choice, but nothing inside it may lead elsewhere.
    root = QFileInfo(folder.path).canonicalFilePath();
    if (root.isEmpty()) {
        failFolder(QStringLiteral("the game folder %1 does not exist").arg(folder.path));
        return;
    }
    if (!sameList)
        entries = gamefileindex::entriesFor(index, manifest);
    outcome.sequence = manifest.sequence;
    indexChanged = !sameList;
    checkFiles(digest);
}

QString GameFiles::target(const QString& path) const {
    return root + u'/' + path;
}

void GameFiles::checkFiles(const QByteArray& digest) {
    toFetch.clear();
    bytesToHash = 0;
    hashedBytes->store(0);
    hashesLeft = 0;
    // The whole list is looked at on the disk before anything is written.
    const OnDisk disk = lookAtTheDisk();
    if (!refuseLinks(disk) || !recordSequence(digest))
        return;
    startHashing(orderTheWork(disk));
}

GameFiles::OnDisk GameFiles::lookAtTheDisk() const {
    OnDisk disk;
    disk.files.resize(manifest.files.size());
    // A long list is looked at by two threads, each over its half: the stat of every file is
    // what an unchanged folder costs.
    const qsizetype count = manifest.files.size();
    const qsizetype half = count >= kStatsPerThread ? count / 2 : count;
    const auto look = [this, &disk](qsizetype from, qsizetype to) {
        durablefile::FolderStates states(root);
        for (qsizetype i = from; i < to; ++i)
            disk.files[i] = states.stateOf(manifest.files.at(i).path);
    };
    std::thread helper;
    if (half < count)
        helper = std::thread(look, half, count);
    look(0, half);
    if (helper.joinable())
        helper.join();
    disk.removed.reserve(manifest.removed.size());
    for (const gamemanifest::Removed& gone : manifest.removed)
        disk.removed.append(durablefile::stateOf(target(gone.path)));
    return disk;
}

bool GameFiles::refuseLinks(const OnDisk& disk) {
    // A path that leads through a link refuses the list as a whole.
    QSet<QString> sound;
    const auto leadsElsewhere = [&](const QString& path, const gamefileindex::FileState& state) {
        QString problem = gamemanifest::folderProblem(root, path, &sound);
        if (problem.isEmpty() && state.link)
            problem = QStringLiteral("path \"%1\" leads through the link %1").arg(path);
        if (problem.isEmpty())
            return false;
        failFolder(problem);
        return true;
    };
    for (qsizetype i = 0; i < manifest.files.size(); ++i) {
        if (leadsElsewhere(manifest.files.at(i).path, disk.files.at(i)))
            return false;
    }
    for (qsizetype r = 0; r < manifest.removed.size(); ++r) {
        if (leadsElsewhere(manifest.removed.at(r).path, disk.removed.at(r)))
            return false;
    }
    return true;
}

bool GameFiles::recordSequence(const QByteArray& digest) {
    // Recorded before anything changes: a run cut short must not let an older list back in. A
    // list whose sequence cannot be recorded is not applied: an older one could come back.
    if (manifest.sequence > recordedSequence &&
        !gamefileindex::saveSequence(sequenceFile, manifest.sequence)) {
        failFolder(QStringLiteral("cannot record the sequence in %1").arg(sequenceFile));
        return false;
    }
    const bool newer = manifest.sequence > index.sequence;
    index.sequence = std::max(index.sequence, manifest.sequence);
    index.manifestDigest = digest;
    index.manifest = manifest;
    if (newer) {
        index.entries = entries;
        gamefileindex::save(indexFile, index);
    }
    return true;
}

QList<GameFiles::HashWork> GameFiles::orderTheWork(const OnDisk& disk) {
    QList<HashWork> work;
    for (int i = 0; i < manifest.files.size(); ++i) {
        const gamemanifest::File& file = manifest.files.at(i);
        const gamefileindex::FileState& state = disk.files.at(i);
        ++outcome.checked;
        if (!state.exists) {
            toFetch.append(i);
        } else if (!state.regular) {
            refuse(file.path, QStringLiteral("something other than a file stands in its place"));
        } else if (state.size != file.size) {
            // Other bytes for sure: no need to read them.
            toFetch.append(i);
        } else if (mode == Check::ByIndex &&
                   gamefileindex::vouchesFor(entries.at(i), state, file.sha256)) {
            continue;
        } else {
            work.append({i, file.path});
            bytesToHash += state.size;
        }
        // Known no more until it is hashed or written again.
        if (!entries.at(i).sha256.isEmpty()) {
            entries[i] = {};
            indexChanged = true;
        }
    }
    for (int r = 0; r < manifest.removed.size(); ++r) {
        // A link or a folder of that name is not the file that was published.
        if (disk.removed.at(r).regular) {
            work.append({int(manifest.files.size()) + r, manifest.removed.at(r).path});
            bytesToHash += disk.removed.at(r).size;
        }
    }
    return work;
}

void GameFiles::startHashing(const QList<HashWork>& work) {
    hashesLeft = int(work.size());
    durablefile::Failure failure;
    rootFolder = durablefile::Folder::open(root, &failure);
    // Hashing takes every core.
    pool.setMaxThreadCount(QThread::idealThreadCount());
    if (hashesLeft == 0) {
        startFetching();
        return;
    }
    if (!hashProgress) {
        hashProgress = new QTimer(this);
        hashProgress->setInterval(100);
        connect(hashProgress, &QTimer::timeout, this,
                [this] { emit progressChanged(hashedBytes->load(), bytesToHash); });
    }
    emit progressChanged(0, bytesToHash);
    hashProgress->start();
    for (const HashWork& job : work)
        hashInPool(job.item, job.path);
}

void GameFiles::hashInPool(int item, const QString& path) {
    // A removed entry's file stays open until it is deleted: only the file that was read goes.
    const bool removal = item >= manifest.files.size();
    auto* job = new HashJob(rootFolder, path, removal, cancelled, hashedBytes,
                            [this, item](std::shared_ptr<HashJob::Result> result) {
                                QMetaObject::invokeMethod(
                                    this, [this, item, result] { onHashed(item, *result); },
                                    Qt::QueuedConnection);
                            });
    pool.start(job);
}

void GameFiles::onHashed(int item, HashedFile& result) {
    ++outcome.hashed;
    const QByteArray& sha256 = result.hex;
    if (item < manifest.files.size()) {
        const gamemanifest::File& file = manifest.files.at(item);
        if (!sha256.isEmpty() && sha256 == file.sha256) {
            entries[item] = {result.state.size, result.state.modified, file.sha256};
            indexChanged = true;
        } else if (sha256.isEmpty()) {
            refuse(file.path, QStringLiteral("cannot be read: %1").arg(result.problem));
        } else {
            toFetch.append(item);
        }
    } else {
        const gamemanifest::Removed& gone = manifest.removed.at(item - manifest.files.size());
        // Only the published bytes go: a player's own file of that name stays. The folder is
        // gone through again without a link, and the name must still hold the file read.
        if (!sha256.isEmpty() && sha256 == gone.sha256 && !stopping) {
            VESTRAHAL_STEP("removal hashed", target(gone.path));
            const auto [relative, name] = split(gone.path);
            durablefile::Failure failure;
            const durablefile::Folder folder = rootFolder.sub(relative, false, &failure);
            if (folder.isOpen() && folder.remove(name, result.file, &failure))
                ++outcome.removed;
            else
                refuse(gone.path, describe(failure, QStringLiteral("cannot be removed")));
        }
        result.file.close();
    }
    if (--hashesLeft > 0)
        return;
    hashProgress->stop();
    emit progressChanged(bytesToHash, bytesToHash);
    startFetching();
}

void GameFiles::startFetching() {
    std::sort(toFetch.begin(), toFetch.end());
    queue.clear();
    bytesToFetch = 0;
    bytesDone = 0;
    shownMegabytes = -1;
    for (const int i : std::as_const(toFetch)) {
        const gamemanifest::File& file = manifest.files.at(i);
        queue.append({i, 0});
        bytesToFetch += file.size;
        // What a kill left of a large object is resumed: the bar starts where it left off.
        bytesDone += bytesAlreadyFetched(file);
    }
    if (queue.isEmpty() || stopping) {
        endFolder();
        return;
    }
    durablefile::Failure failure;
    rootFolder = durablefile::Folder::open(root, &failure);
    folders_.clear();
    // Files are made one at a time: threads making files in one folder only wait for its lock.
    pool.setMaxThreadCount(1);
    showFetchStatus();
    for (auto& lane : lanes) {
        if (!lane)
            lane = std::make_unique<Lane>();
    }
    fetching = true;
    startFetchTimers();
    // A lane may finish the last object before the others start: the folder ends once.
    for (auto& lane : lanes)
        fetchNext(*lane);
}

qint64 GameFiles::bytesAlreadyFetched(const gamemanifest::File& file) const {
    if (file.size <= kSmallObject)
        return 0;
    const auto [folder, name] = split(file.path);
    for (const bool tried : {true, false}) {
        const gamefileindex::FileState part = durablefile::stateOf(
            target(file.path).chopped(name.size()) + partName(name, file.sha256, tried));
        if (part.regular && part.size < file.size)
            return part.size;
    }
    return 0;
}

void GameFiles::startFetchTimers() {
    if (!indexTimer) {
        indexTimer = new QTimer(this);
        indexTimer->setInterval(kIndexSaveMilliseconds);
        connect(indexTimer, &QTimer::timeout, this, &GameFiles::saveIndexNow);
        groupTimer = new QTimer(this);
        groupTimer->setSingleShot(true);
        connect(groupTimer, &QTimer::timeout, this, &GameFiles::placeGroup);
    }
    indexTimer->start();
    if (!holdTimer) {
        holdTimer = new QTimer(this);
        holdTimer->setSingleShot(true);
        connect(holdTimer, &QTimer::timeout, this, [this] {
            background = true;
            shownMegabytes = -1;
            showFetchStatus();
            emit playable();
        });
    }
    if (!background)
        holdTimer->start(holdLimit);
}

void GameFiles::fetchNext(Lane& lane) {
    lane.busy = false;
    lane.file.reset();
    lane.folder.reset();
    // Small objects waiting for the disk hold the network back.
    if (smallBytesInFlight >= kSmallBytesInFlight) {
        waitingLanes.append(&lane);
        return;
    }
    // A loop, never a call of its own per refused file: the list decides how many there are.
    for (;;) {
        const qsizetype next = nextFor(lane);
        if (next < 0) {
            fetchingMayEnd();
            return;
        }
        lane.current = queue.takeAt(next);
        if (prepareObject(lane))
            break;
    }
    startObject(lane);
}

// The next object in the list for the lane: the first one, but never a third large object at
// once, which would only make the disk seek between three files and wait for three syncs; -1 when
// the lane has nothing to do.
qsizetype GameFiles::nextFor(const Lane& lane) const {
    int large = 0;
    for (const auto& other : lanes) {
        if (other && other.get() != &lane && other->busy && other->file)
            ++large;
    }
    for (qsizetype i = 0; i < queue.size(); ++i) {
        if (large < kLargeAtOnce || manifest.files.at(queue.at(i).file).size <= kSmallObject)
            return i;
    }
    return -1;
}

bool GameFiles::prepareObject(Lane& lane) {
    const gamemanifest::File& file = manifest.files.at(lane.current.file);
    const auto [relative, name] = split(file.path);
    FolderEntry& in = folderFor(relative);
    if (!in.folder) {
        refuse(file.path,
               in.failure.kind == durablefile::Failure::Link
                   ? QStringLiteral("its folder leads through a link: %1").arg(in.failure.text)
                   : QStringLiteral("its folder cannot be made: %1").arg(in.failure.text));
        return false;
    }
    lane.folder = in.folder;
    lane.relative = relative;
    lane.name = name;
    const bool large = file.size > kSmallObject;
    // A part of another object (an earlier publication's) goes before any request; so does a
    // small object's, which is never resumed, and a part whose resume already failed once.
    const QString fresh = partName(name, file.sha256, false);
    const QString tried = partName(name, file.sha256, true);
    QString keep;
    for (auto it = in.parts.begin(); it != in.parts.end();) {
        if (!isPartOf(*it, name)) {
            ++it;
            continue;
        }
        if (large && keep.isEmpty() && (*it == tried || *it == fresh))
            keep = *it;
        else
            in.folder->remove(*it, nullptr);
        it = in.parts.erase(it);
    }
    lane.current.triedOnce = keep == tried;
    lane.part = keep.isEmpty() ? fresh : keep;
    lane.current.resumeFrom = 0;
    if (!large)
        return true;
    durablefile::Failure failure;
    durablefile::File part =
        in.folder->openFile(lane.part, durablefile::Folder::Access::Update, &failure);
    if (!part.isOpen()) {
        refuse(file.path, describe(failure, QStringLiteral("its part file cannot be opened")));
        return false;
    }
    VESTRAHAL_STEP("part opened", in.folder->path() + u'/' + lane.part);
    const qint64 kept = part.size();
    // Never a byte beyond the listed size: a part that long holds something else.
    if (kept > 0 && kept < file.size)
        lane.current.resumeFrom = kept;
    lane.file = std::make_unique<ObjectFile>();
    lane.file->begin(std::move(part), file.size, lane.current.resumeFrom);
    return true;
}

void GameFiles::startObject(Lane& lane) {
    const gamemanifest::File& file = manifest.files.at(lane.current.file);
    lane.busy = true;
    lane.headerSeen = false;
    lane.badStatus = 0;
    lane.otherRange.clear();
    if (!lane.client) {
        lane.client = new HttpClient(server, this);
        connect(lane.client, &HttpClient::headerReceived, this,
                [this, &lane](int status) { onObjectHeader(lane, status); });
        connect(lane.client, &HttpClient::dataReadProgress, this, [this, &lane] {
            // A file that takes no more (a full disk) is given up at once.
            if (lane.file && lane.file->failed()) {
                giveUp(lane);
                return;
            }
            showFetchStatus();
        });
        connect(lane.client, &HttpClient::done, this,
                [this, &lane](bool error) { onObjectDone(lane, error); });
    }
    // The listed size is the limit: a body that grows past it is refused before a byte beyond it
    // is kept (the part file itself takes no byte beyond it either, a resumed one included).
    lane.client->setMaxBodySize(file.size);
    lane.client->setMinimumSpeed(minimumBytes, minimumWindow);
    HttpRequestHeader header(QStringLiteral("GET"), gamemanifest::objectPath(file.sha256));
    if (lane.current.resumeFrom > 0)
        header.setValue(QStringLiteral("Range"),
                        QStringLiteral("bytes=%1-").arg(lane.current.resumeFrom));
    // Given up as aborted when no byte of the reply comes for this long.
    lane.client->setIdleLimit(objectIdleLimit);
    lane.request = lane.client->request(header, lane.file.get());
}

void GameFiles::onObjectHeader(Lane& lane, int status) {
    if (lane.headerSeen)
        return;
    lane.headerSeen = true;
    if (status != 200 && status != 206) {
        // Not the object: none of this body goes into the part file.
        lane.badStatus = status;
        giveUp(lane);
        return;
    }
    const qint64 listed = manifest.files.at(lane.current.file).size;
    if (status == 206) {
        // Only the rest of this very object, up to its listed end; the complete length may be
        // unknown to the server ("*").
        const QByteArray answered = lane.client->responseHeader("Content-Range");
        ContentRange range;
        const bool fits = lane.current.resumeFrom > 0 && parseContentRange(answered, &range) &&
                          range.first == lane.current.resumeFrom && range.last == listed - 1 &&
                          (range.complete < 0 || range.complete == listed);
        if (!fits) {
            lane.otherRange = QString::fromLatin1(answered.isEmpty() ? "none" : answered);
            giveUp(lane);
        }
        return;
    }
    if (lane.current.resumeFrom == 0)
        return;
    // A server that ignores Range sends the whole object: it starts again from its first byte.
    lane.current.resumeFrom = 0;
    lane.file->restart();
}

void GameFiles::giveUp(Lane& lane) {
    // Not from inside the network layer's own signal: the request ends once it has returned.
    if (lane.file)
        lane.file->ignoreTheRest();
    QMetaObject::invokeMethod(
        this,
        [&lane, request = lane.request] {
            // Only the request given up: a lane that has moved on keeps its new one.
            if (lane.busy && lane.request == request)
                lane.client->abort();
        },
        Qt::QueuedConnection);
}

void GameFiles::onObjectDone(Lane& lane, bool error) {
    Finishing done;
    done.pending = lane.current;
    done.folder = lane.folder;
    done.relative = lane.relative;
    done.name = lane.name;
    done.part = lane.part;
    done.badStatus = lane.badStatus;
    done.otherRange = lane.otherRange;
    done.error = error;
    done.status = lane.client->statusCode();
    done.code = int(lane.client->error());
    done.codeText = lane.client->errorString();
    const bool objectBytes = done.status == 200 || done.status == 206;
    done.received = objectBytes && lane.badStatus == 0 ? lane.client->bytesReceived() : 0;
    // Bytes that came over the network in this run, whatever came of them.
    outcome.bytesFetched += done.received;
    bytesDone += done.received;
    if (!lane.file) {
        takeSmallObject(done, lane.client->readAll());
        fetchNext(lane);
        return;
    }
    // The object's file is synced on its own thread while the lane goes on with the next one:
    // the download never waits for the disk.
    done.file = std::move(lane.file);
    finishing.push_back(std::move(done));
    const auto item = std::prev(finishing.end());
    item->file->finishThen(this, [this, item] {
        placeObject(*item);
        finishing.erase(item);
        showFetchStatus();
        fetchingMayEnd();
    });
    fetchNext(lane);
}

// Why a request for an object came to nothing, or an empty text when it brought the object.
QString GameFiles::requestProblem(const Finishing& done) const {
    if (!done.otherRange.isEmpty())
        return QStringLiteral("the server answered the range %1 instead of bytes %2-")
            .arg(done.otherRange)
            .arg(done.pending.resumeFrom);
    if (done.badStatus != 0)
        return QStringLiteral("HTTP Error %1").arg(done.badStatus);
    if (done.error && done.code == HttpClient::TooSlow)
        return QStringLiteral("too slow: %1").arg(done.codeText);
    if (done.error)
        return QStringLiteral("Error #%1").arg(done.code);
    if (done.status != 200 && !(done.status == 206 && done.pending.resumeFrom > 0))
        return QStringLiteral("HTTP Error %1").arg(done.status);
    return {};
}

QString GameFiles::describe(const durablefile::Failure& failure, const QString& what) {
    switch (failure.kind) {
    case durablefile::Failure::DiskFull:
        return QStringLiteral("disk full");
    case durablefile::Failure::Link:
        return QStringLiteral("leads through a link: %1").arg(failure.text);
    case durablefile::Failure::InUse:
        return QStringLiteral("in use by a running program: %1").arg(failure.text);
    default:
        return failure.text.isEmpty() ? what : what + QStringLiteral(": ") + failure.text;
    }
}

void GameFiles::takeSmallObject(const Finishing& done, QByteArray body) {
    const gamemanifest::File& file = manifest.files.at(done.pending.file);
    const QString problem = requestProblem(done);
    if (stopping)
        return;
    if (!problem.isEmpty()) {
        refuse(file.path, problem);
        return;
    }
    // Written on a worker thread: the hash, the part file and its bytes.
    smallBytesInFlight += body.size();
    ++smallWrites;
    SmallObject object{done.pending.file, done.folder, done.relative, done.name,
                       done.part,         file.size,   file.sha256,   {}};
    pool.start([this, object, body = std::move(body), alive = cancelled]() mutable {
        if (alive->load())
            return;
        if (body.size() != object.size || Sha256::of(body) != object.sha256) {
            object.problem = QStringLiteral("the object holds other bytes than listed");
        } else {
            durablefile::Failure failure;
            durablefile::File part = object.folder->openFile(
                object.part, durablefile::Folder::Access::Replace, &failure);
            VESTRAHAL_STEP("part opened", object.folder->path() + u'/' + object.part);
            bool written = part.isOpen() && part.write(body.constData(), body.size(), &failure);
            if (written) {
                object.folder->copyPermissions(object.name, part);
                // Where the file system cannot be synced in one go, each file is.
                if (!durablefile::Folder::canSyncFileSystem())
                    written = part.sync(&failure);
            }
            if (!written) {
                object.problem = describe(failure, QStringLiteral("cannot write its part file"));
                part.close();
                object.folder->remove(object.part, nullptr);
            }
        }
        QMetaObject::invokeMethod(
            this, [this, object, size = body.size()] { onSmallWritten(object, size); },
            Qt::QueuedConnection);
    });
}

void GameFiles::onSmallWritten(const SmallObject& object, qint64 size) {
    --smallWrites;
    smallBytesInFlight -= size;
    if (stopping) {
        // The game has started: a small object waits for no name, it comes again next time.
        if (object.problem.isEmpty())
            object.folder->remove(object.part, nullptr);
    } else if (!object.problem.isEmpty()) {
        refuse(manifest.files.at(object.file).path, object.problem);
    } else {
        group.push_back(object);
        groupBytes += size;
    }
    if (int(group.size()) >= kGroupObjects || groupBytes >= kGroupBytes || !fetchingGoesOn())
        placeGroup();
    else if (!group.empty() && !groupTimer->isActive())
        groupTimer->start(kGroupMilliseconds);
    // Lanes held back by the disk go on.
    while (!waitingLanes.isEmpty() && smallBytesInFlight < kSmallBytesInFlight)
        fetchNext(*waitingLanes.takeFirst());
    showFetchStatus();
    fetchingMayEnd();
}

// Whether a lane still fetches or an object is still on its way to the disk.
bool GameFiles::fetchingGoesOn() const {
    if (!queue.isEmpty() || smallWrites > 0 || !finishing.empty())
        return true;
    for (const auto& lane : lanes) {
        if (lane && lane->busy)
            return true;
    }
    return false;
}

void GameFiles::placeGroup() {
    groupTimer->stop();
    if (placing || group.empty())
        return;
    placing = true;
    std::vector<SmallObject> objects = std::move(group);
    group.clear();
    groupBytes = 0;
    // On a worker thread: the file system synced once for the whole group, then each part takes
    // its name, then the folders' renames go to the disk.
    pool.start([this, objects = std::move(objects), root = rootFolder, alive = cancelled,
                halt = halted]() mutable {
        if (alive->load())
            return;
        if (durablefile::Folder::canSyncFileSystem())
            root.syncFileSystem();
        for (SmallObject& object : objects) {
            VESTRAHAL_STEP("part renamed", object.folder->path() + u'/' + object.part);
            // The game started meanwhile: nothing more takes its name under it.
            if (halt->load()) {
                object.folder->remove(object.part, nullptr);
                object.problem = kHalted;
                continue;
            }
            durablefile::Failure failure;
            if (!stillInPlace(root, *object.folder, object.relative, &failure) ||
                !object.folder->rename(object.part, object.name, &failure)) {
                object.problem = describe(failure, QStringLiteral("cannot take its name"));
                object.folder->remove(object.part, nullptr);
                continue;
            }
            object.state = durablefile::stateOf(object.folder->path() + u'/' + object.name);
        }
        QMetaObject::invokeMethod(
            this, [this, objects = std::move(objects)] { onGroupPlaced(objects); },
            Qt::QueuedConnection);
    });
}

void GameFiles::onGroupPlaced(const std::vector<SmallObject>& objects) {
    placing = false;
    for (const SmallObject& object : objects) {
        const gamemanifest::File& file = manifest.files.at(object.file);
        if (object.problem == kHalted)
            continue;
        if (!object.problem.isEmpty()) {
            refuse(file.path, object.problem);
            continue;
        }
        entries[object.file] = {object.state.size, object.state.modified, file.sha256};
        indexChanged = true;
        ++outcome.fetched;
    }
    if (!group.empty() && (int(group.size()) >= kGroupObjects || !fetchingGoesOn()))
        placeGroup();
    else if (!group.empty() && !groupTimer->isActive())
        groupTimer->start(kGroupMilliseconds);
    fetchingMayEnd();
}

void GameFiles::placeObject(Finishing& done) {
    const gamemanifest::File& file = manifest.files.at(done.pending.file);
    const bool whole = done.file->finish();
    const durablefile::Folder& folder = *done.folder;
    const QString problem = requestProblem(done);
    const bool resumed = done.pending.resumeFrom > 0;
    bool keepPart = false;
    if (stopping) {
        // The game starts: a whole object waits as its part (its hash is checked again when it
        // is resumed), a cut one is resumed later.
        keepPart = whole && done.file->size() < file.size;
    } else if (!whole) {
        // The disk took no more, or the body grew past the listed size: the part goes, and
        // leaves its room to the player.
        refuse(file.path, describe(done.file->failure(), QStringLiteral("cannot write")));
    } else if (!problem.isEmpty()) {
        refuse(file.path, problem);
        // Cut off on the way (the line, a server that stalls): what came is kept, unproven, and
        // the next start resumes it; only a whole object that hashes right takes the name. A
        // range other than the one asked for throws the part away, and so does a second resume
        // that brought nothing.
        const bool brought = done.received > 0;
        // Never bytes as long as the listed size or beyond (an endless body's): only what a cut
        // left short of it may be resumed.
        keepPart = done.otherRange.isEmpty() && (done.error || done.badStatus != 0) &&
                   done.file->size() > 0 && done.file->size() < file.size &&
                   !(resumed && !brought && done.pending.triedOnce);
        if (keepPart && resumed && !brought && !done.pending.triedOnce) {
            const QString tried = partName(done.name, file.sha256, true);
            keepPart = folder.rename(done.part, tried, nullptr);
            done.part = keepPart ? tried : done.part;
        }
    } else if (done.file->size() != file.size || done.file->sha256Hex() != file.sha256) {
        refuse(file.path, QStringLiteral("the object holds other bytes than listed"));
    } else {
        keepPart = givePartItsName(done);
    }
    if (!keepPart)
        folder.remove(done.part, nullptr);
    done.file.reset();
}

bool GameFiles::givePartItsName(const Finishing& done) {
    const gamemanifest::File& file = manifest.files.at(done.pending.file);
    const durablefile::Folder& folder = *done.folder;
    VESTRAHAL_STEP("part renamed", folder.path() + u'/' + done.part);
    durablefile::Failure failure;
    {
        durablefile::File part =
            folder.openFile(done.part, durablefile::Folder::Access::Read, nullptr);
        folder.copyPermissions(done.name, part);
    }
    if (!stillInPlace(rootFolder, folder, done.relative, &failure) ||
        !folder.rename(done.part, done.name, &failure)) {
        refuse(file.path, describe(failure, QStringLiteral("cannot take its name")));
        return false;
    }
    const gamefileindex::FileState state = durablefile::stateOf(folder.path() + u'/' + done.name);
    entries[done.pending.file] = {state.size, state.modified, file.sha256};
    indexChanged = true;
    ++outcome.fetched;
    return true; // nothing left under the part's name
}

void GameFiles::fetchingMayEnd() {
    if (!fetching || fetchingGoesOn())
        return;
    if (!group.empty() || placing) {
        if (!placing)
            placeGroup();
        return;
    }
    fetching = false;
    indexTimer->stop();
    folders_.clear();
    // The renames on the disk, once for the whole run. Each file's bytes were there before it
    // took its name; a rename lost to a power cut only brings the old file back, which the index
    // (its time differs) never vouches for and the next start fetches again.
    if (outcome.fetched > 0 && !rootFolder.syncFileSystem())
        durablefile::syncFolderOf(root + QStringLiteral("/."));
    rootFolder = {};
    endFolder();
}

void GameFiles::saveIndexNow() {
    // A game started from the folder meanwhile (not by this launcher) stops the run too. Looked
    // for every fifth save: reading every process's mapped files costs milliseconds.
    if (fetching && !stopping && gameRuns && ++savesSinceLook % 5 == 0 && gameRuns(root)) {
        deferred = true;
        stopFetching();
    }
    if (!indexChanged || !outcome.manifestProblem.isEmpty())
        return;
    index.entries = entries;
    gamefileindex::save(indexFile, index);
    indexChanged = false;
}

void GameFiles::stop() {
    if (!running || stopping)
        return;
    deferred = true;
    stopFetching();
}

void GameFiles::stopFetching() {
    stopping = true;
    halted->store(true);
    spoke = true;
    outcome.deferred = true;
    queue.clear();
    waitingLanes.clear();
    for (auto& lane : lanes) {
        if (lane && lane->busy)
            giveUp(*lane);
    }
    fetchingMayEnd();
}

void GameFiles::showFetchStatus() {
    qint64 done = bytesDone;
    for (const auto& lane : lanes) {
        if (lane && lane->busy && lane->client)
            done += lane->client->bytesReceived();
    }
    emit progressChanged(done, bytesToFetch);
    const qint64 shown = done / kMegabyte;
    if (shown == shownMegabytes)
        return;
    shownMegabytes = shown;
    emit statusChanged(
        QStringLiteral("Mise à jour des fichiers du jeu : %1 Mo sur %2 Mo")
            .arg(megabytes(done, false), megabytes(bytesToFetch, true)) +
        (background ? QStringLiteral(" (vous pouvez jouer pendant ce temps)") : QString()));
}

void GameFiles::refuse(const QString& path, const QString& why) {
    outcome.refused.append(path + QStringLiteral(": ") + why);
}

void GameFiles::failFolder(const QString& why) {
    outcome.manifestProblem = why;
    // Said even when the list never came: the player sees why nothing changed.
    spoke = true;
    endFolder();
}

void GameFiles::endFolder() {
    // Only a list that was taken leaves its entries in the index.
    if (indexChanged && outcome.manifestProblem.isEmpty()) {
        index.entries = entries;
        gamefileindex::save(indexFile, index);
    }
    indexChanged = false;
    if (!outcome.manifestProblem.isEmpty() || !outcome.refused.isEmpty())
        allWell = false;
    appendUpdateReport(launcherfiles::report(launcherDir),
                       gamemanifest::report(outcome, QDateTime::currentDateTime()));
    nextFolder();
}
