#include "gamefiles.h"

#include "config.h"

#include "buildoptions.h"
#include "communityaddress.h"
#include "durablefile.h"
#include "launcherfiles.h"
#include "sha256.h"
#include "updatereport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRunnable>
#include <QTimer>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// The part file beside its target: the same folder, so that the last step is a rename.
const QString kPartSuffix = QStringLiteral(".vestrahal-part");
// What waits between the network and the disk for one object, at most.
constexpr qint64 kQueuedBytes = qint64(1) << 20;
// Buffers kept for the next pieces of an object: what can wait in its queue, and one more.
constexpr size_t kSpareBuffers = 6;
// What is hashed then written at once: small enough to stay in the processor's cache.
constexpr qsizetype kSlice = qsizetype(64) << 10;
// How much of an object is written before the disk is asked to start on it.
[[maybe_unused]] constexpr qint64 kWriteBackStep = qint64(2) << 20;
constexpr qint64 kMegabyte = qint64(1) << 20;
// Below this many listed files one thread looks at them all.
constexpr qsizetype kStatsPerThread = 2000;

const QString kChecking = QStringLiteral("Vérification des fichiers du jeu...");
const QString kUpToDate = QStringLiteral("Fichiers du jeu à jour");
// The report's lines are the admins', in English: the player is sent to its French summary, the
// last line of the last report.
const QString kFailed =
    QStringLiteral("Fichiers du jeu non mis à jour : résumé en français à la fin de errors.log");

// The whole new file takes the name in one step, replacing what it held.
bool replaceFile(const QString& from, const QString& to) {
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(from).utf16()),
                       reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(to).utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

QString megabytes(qint64 bytes, bool roundUp) {
    return QString::number(roundUp ? (bytes + kMegabyte - 1) / kMegabyte : bytes / kMegabyte);
}

// Hashes one file on a worker thread and hands the result back to the engine's thread.
class HashJob : public QRunnable {
public:
    using Done = std::function<void(QByteArray, gamefileindex::FileState)>;
    HashJob(QString path, std::shared_ptr<std::atomic<bool>> cancelled,
            std::shared_ptr<std::atomic<qint64>> progress, Done done)
        : path(std::move(path))
        , cancelled(std::move(cancelled))
        , progress(std::move(progress))
        , done(std::move(done)) {}

    void run() override {
        if (cancelled->load())
            return;
        // The state before the bytes: a file changed while it is read gets a time the index
        // does not vouch for at the next start.
        const gamefileindex::FileState state = gamefileindex::stateOf(path);
        QByteArray hex;
        QFile file(path);
        if (state.regular && file.open(QIODevice::ReadOnly)) {
            Sha256 hash;
            QByteArray buffer(1 << 20, Qt::Uninitialized);
            for (;;) {
                if (cancelled->load())
                    return;
                const qint64 read = file.read(buffer.data(), buffer.size());
                if (read < 0) {
                    hash.reset();
                    break;
                }
                if (read == 0) {
                    hex = hash.hex();
                    break;
                }
                hash.add(QByteArrayView(buffer.constData(), read));
                progress->fetch_add(read);
            }
        }
        done(hex, state);
    }

private:
    QString path;
    std::shared_ptr<std::atomic<bool>> cancelled;
    std::shared_ptr<std::atomic<qint64>> progress;
    Done done;
};

} // namespace

// An object on its way into its part file. The network's thread of the engine hands each piece
// over as it comes; a thread of the object's own writes and hashes it, so that the hashing of two
// objects uses both cores. At most kQueuedBytes wait in between: a slow disk holds the download
// back instead of filling the memory.
class ObjectFile : public QIODevice {
public:
    ~ObjectFile() override { finish(); }

    // Opens the part file, keeping its first `keep` bytes (which are hashed first).
    void begin(const QString& path, qint64 listedSize, qint64 keep) {
        partPath = path;
        listed = listedSize;
        accepted = keep;
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        worker = std::thread([this, keep] { work(keep); });
    }
    // The server sends the whole body after all: the kept bytes go.
    void restart() {
        accepted = 0;
        push({Command::Restart, {}});
    }
    // Every byte on the disk and the file closed; false when anything failed.
    bool finish() {
        if (worker.joinable()) {
            if (!finishing) {
                finishing = true;
                push({Command::Finish, {}});
            }
            worker.join();
            close();
        }
        return !failedFlag.load();
    }
    // finish() without waiting: syncing an object takes the disk's time, which the other lane's
    // download must not wait for. `done` runs in the context's thread once the file is synced
    // and closed; finish() then returns at once.
    void finishThen(QObject* context, std::function<void()> done) {
        if (!worker.joinable() || finishing) {
            QMetaObject::invokeMethod(context, std::move(done), Qt::QueuedConnection);
            return;
        }
        then = [context, done = std::move(done)] {
            QMetaObject::invokeMethod(context, done, Qt::QueuedConnection);
        };
        finishing = true;
        push({Command::Finish, {}});
    }
    void discard() {
        finish();
        QFile::remove(partPath);
    }
    bool failed() const { return failedFlag.load(); }
    // The body that comes now is not the object's: it is let go, not written.
    void ignoreTheRest() { ignoring = true; }
    QString problem() const { return why; }
    qint64 received() const { return accepted; }
    qint64 size() const override { return written; }
    QByteArray sha256Hex() const { return hex; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        if (failedFlag.load())
            return -1;
        if (ignoring)
            return size;
        if (accepted + size > listed) {
            fail(QStringLiteral("longer than listed"));
            return -1;
        }
        accepted += size;
        push({Command::Bytes, copyOf(data, size)});
        return size;
    }

private:
    struct Command {
        enum Kind { Bytes, Restart, Finish } kind;
        QByteArray bytes;
    };

    // The piece in a buffer the worker has done with, when one is there: a download of
    // gigabytes reuses a few buffers instead of asking the allocator for each piece.
    QByteArray copyOf(const char* data, qint64 size) {
        QByteArray piece;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!spare.empty()) {
                piece = std::move(spare.back());
                spare.pop_back();
            }
        }
        piece.resize(size);
        std::memcpy(piece.data(), data, size_t(size));
        return piece;
    }

    void recycle(QByteArray piece) {
        std::lock_guard<std::mutex> lock(mutex);
        if (spare.size() < kSpareBuffers)
            spare.push_back(std::move(piece));
    }

    void push(Command command) {
        std::unique_lock<std::mutex> lock(mutex);
        roomLeft.wait(lock, [this] { return queued < kQueuedBytes || failedFlag.load(); });
        queued += command.bytes.size();
        commands.push_back(std::move(command));
        lock.unlock();
        arrived.notify_one();
    }

    Command pop() {
        std::unique_lock<std::mutex> lock(mutex);
        arrived.wait(lock, [this] { return !commands.empty(); });
        Command command = std::move(commands.front());
        commands.pop_front();
        queued -= command.bytes.size();
        lock.unlock();
        roomLeft.notify_one();
        return command;
    }

    void fail(const QString& problem) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!failedFlag.load())
                why = problem;
            failedFlag = true;
        }
        roomLeft.notify_all();
    }

    void work(qint64 keep) {
        QFile file(partPath);
        Sha256 hash;
        bool usable = file.open(QIODevice::ReadWrite);
        if (!usable)
            fail(QStringLiteral("cannot open %1: %2").arg(partPath, file.errorString()));
        // A resumed part is taken only as far as it can be read back.
        qint64 kept = 0;
        if (usable && keep > 0) {
            QByteArray buffer(1 << 20, Qt::Uninitialized);
            while (kept < keep) {
                const qint64 read =
                    file.read(buffer.data(), std::min<qint64>(buffer.size(), keep - kept));
                if (read <= 0)
                    break;
                hash.add(QByteArrayView(buffer.constData(), read));
                kept += read;
            }
            if (kept != keep)
                fail(QStringLiteral("the part file cannot be read back"));
        }
        if (usable && (!file.resize(kept) || !file.seek(kept)))
            fail(QStringLiteral("cannot write %1: %2").arg(partPath, file.errorString()));
        qint64 count = kept;
        [[maybe_unused]] qint64 writtenBack = kept;
        for (;;) {
            Command command = pop();
            if (command.kind == Command::Finish) {
                // The buffers go now, not when the object has taken its name.
                std::lock_guard<std::mutex> lock(mutex);
                spare.clear();
                break;
            }
            if (failedFlag.load())
                continue;
            if (command.kind == Command::Restart) {
                hash.reset();
                count = 0;
                writtenBack = 0;
                if (!file.resize(0) || !file.seek(0))
                    fail(QStringLiteral("cannot write %1: %2").arg(partPath, file.errorString()));
                continue;
            }
            // Hashed and written a slice at a time: the kernel copies each slice into the file
            // while the hash has just brought it into the processor's cache.
            const QByteArrayView bytes(command.bytes);
            for (qsizetype at = 0; at < bytes.size() && !failedFlag.load(); at += kSlice) {
                const QByteArrayView slice = bytes.sliced(at, std::min(kSlice, bytes.size() - at));
                hash.add(slice);
                if (file.write(slice.data(), slice.size()) != slice.size())
                    fail(QStringLiteral("cannot write %1: %2").arg(partPath, file.errorString()));
            }
            if (!failedFlag.load())
                count += bytes.size();
            recycle(std::move(command.bytes));
#ifdef Q_OS_LINUX
            // The disk starts on what is written as it comes: the sync before the rename then
            // waits for the last few megabytes only, not for the whole object. A hint, no more:
            // the sync still makes sure.
            if (!failedFlag.load() && count - writtenBack >= kWriteBackStep && file.flush()) {
                ::sync_file_range(file.handle(), writtenBack, count - writtenBack,
                                  SYNC_FILE_RANGE_WRITE);
                writtenBack = count;
            }
#endif
        }
        if (usable && !failedFlag.load() && !durablefile::sync(file))
            fail(QStringLiteral("cannot write %1: %2").arg(partPath, file.errorString()));
        file.close();
        written = count;
        hex = hash.hex();
        if (then)
            then();
    }

    QString partPath;
    qint64 listed = 0;
    qint64 accepted = 0; // bytes given to the device, the kept ones included
    std::thread worker;
    std::mutex mutex;
    std::condition_variable arrived;
    std::condition_variable roomLeft;
    std::deque<Command> commands;
    std::vector<QByteArray> spare; // buffers the worker has done with
    qint64 queued = 0;
    std::atomic<bool> failedFlag{false};
    bool ignoring = false;
    bool finishing = false;     // the worker has been told to finish
    std::function<void()> then; // what the worker calls once it has finished
    QString why;
    qint64 written = 0;
    QByteArray hex;
};

struct GameFiles::Lane {
    HttpClient* client = nullptr;
    QTimer* idle = nullptr;
    std::unique_ptr<ObjectFile> file;
    Pending current;
    bool busy = false;
    bool headerSeen = false;
    int badStatus = 0;
    int request = 0; // the client's number of the running request
};

GameFiles::GameFiles(QObject* parent)
    : QObject(parent)
    , publicKey(vestrahal::kUpdatePublicKey)
    , server(communityServer(vestrahal::kWebHost))
    , launcherDir(launcherfiles::folder())
    , objectIdleLimit(vestrahal::kUpdateIdleSeconds * 1000)
    , cancelled(std::make_shared<std::atomic<bool>>(false))
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

QList<GameFiles::Folder> GameFiles::foldersOf(const Config& config) {
    QList<Folder> found;
    QString first;
    const auto add = [&](bool enabled, const QString& path, const char* client) {
        if (!enabled || path.isEmpty() ||
            !QFileInfo(path + QStringLiteral("/kvf.vestrahal")).isFile())
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
        if (QFileInfo(folder.path + QStringLiteral("/kvf.vestrahal")).isFile()) {
            fetchManifest();
            return;
        }
    }
    running = false;
    if (spoke)
        emit statusChanged(allWell ? kUpToDate : kFailed);
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
    if (!listTimer) {
        listTimer = new QTimer(this);
        listTimer->setSingleShot(true);
    }
    listTimer->disconnect();
    connect(listTimer, &QTimer::timeout, listClient, &HttpClient::abort);
    connect(listClient, &HttpClient::done, this, &GameFiles::onManifest);
    listClient->get(gamemanifest::manifestPath(folder.client));
    listTimer->start(manifestTimeLimit);
}

void GameFiles::onManifest(bool error) {
    listTimer->stop();
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
    listTimer->start(manifestTimeLimit);
}

void GameFiles::onSignature(bool error) {
    listTimer->stop();
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
    const bool sameList = !index.manifestDigest.isEmpty() && digest == index.manifestDigest;
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
    struct Job {
        int item;
        QString path;
    };
    QList<Job> jobs;
    QList<gamefileindex::FileState> states(manifest.files.size());
    QSet<QString> sound;
    // The whole list is looked at on the disk before anything is written: a path that leads
    // through a link refuses it as a whole.
    const auto leadsElsewhere = [&](const QString& path, const gamefileindex::FileState& state) {
        QString problem = gamemanifest::folderProblem(root, path, &sound);
        if (problem.isEmpty() && state.link)
            problem = QStringLiteral("path \"%1\" leads through the link %1").arg(path);
        if (problem.isEmpty())
            return false;
        failFolder(problem);
        return true;
    };
    // A long list is looked at by two threads, each over its half: the stat of every file is
    // what an unchanged folder costs.
    const qsizetype count = manifest.files.size();
    const qsizetype half = count >= kStatsPerThread ? count / 2 : count;
    const auto look = [this, &states](qsizetype from, qsizetype to) {
        gamefileindex::FolderStates disk(root);
        for (qsizetype i = from; i < to; ++i)
            states[i] = disk.stateOf(manifest.files.at(i).path);
    };
    std::thread helper;
    if (half < count)
        helper = std::thread(look, half, count);
    look(0, half);
    if (helper.joinable())
        helper.join();
    for (int i = 0; i < count; ++i) {
        if (leadsElsewhere(manifest.files.at(i).path, states.at(i)))
            return;
    }
    QList<gamefileindex::FileState> removedStates(manifest.removed.size());
    for (int r = 0; r < manifest.removed.size(); ++r) {
        removedStates[r] = gamefileindex::stateOf(target(manifest.removed.at(r).path));
        if (leadsElsewhere(manifest.removed.at(r).path, removedStates.at(r)))
            return;
    }
    // Recorded before anything changes: a run cut short must not let an older list back in. A
    // list whose sequence cannot be recorded is not applied: an older one could come back.
    if (manifest.sequence > recordedSequence &&
        !gamefileindex::saveSequence(sequenceFile, manifest.sequence)) {
        failFolder(QStringLiteral("cannot record the sequence in %1").arg(sequenceFile));
        return;
    }
    const bool newer = manifest.sequence > index.sequence;
    index.sequence = std::max(index.sequence, manifest.sequence);
    index.manifestDigest = digest;
    index.manifest = manifest;
    if (newer) {
        index.entries = entries;
        gamefileindex::save(indexFile, index);
    }

    for (int i = 0; i < manifest.files.size(); ++i) {
        const gamemanifest::File& file = manifest.files.at(i);
        const gamefileindex::FileState& state = states.at(i);
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
            jobs.append({i, target(file.path)});
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
        if (removedStates.at(r).regular) {
            jobs.append({int(manifest.files.size()) + r, target(manifest.removed.at(r).path)});
            bytesToHash += removedStates.at(r).size;
        }
    }
    hashesLeft = int(jobs.size());
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
    for (const Job& job : std::as_const(jobs))
        hashInPool(job.item, job.path);
}

void GameFiles::hashInPool(int item, const QString& path) {
    auto* job = new HashJob(path, cancelled, hashedBytes,
                            [this, item](QByteArray hex, gamefileindex::FileState state) {
                                QMetaObject::invokeMethod(
                                    this, [this, item, hex, state] { onHashed(item, hex, state); },
                                    Qt::QueuedConnection);
                            });
    pool.start(job);
}

void GameFiles::onHashed(int item, const QByteArray& sha256, gamefileindex::FileState state) {
    ++outcome.hashed;
    if (item < manifest.files.size()) {
        const gamemanifest::File& file = manifest.files.at(item);
        if (!sha256.isEmpty() && sha256 == file.sha256) {
            entries[item] = {state.size, state.modified, file.sha256};
            indexChanged = true;
        } else if (sha256.isEmpty()) {
            refuse(file.path, QStringLiteral("cannot be read"));
        } else {
            toFetch.append(item);
        }
    } else {
        const gamemanifest::Removed& gone = manifest.removed.at(item - manifest.files.size());
        // Only the published bytes go: a player's own file of that name stays.
        if (sha256 == gone.sha256) {
            if (QFile::remove(target(gone.path)))
                ++outcome.removed;
            else
                refuse(gone.path, QStringLiteral("cannot be removed"));
        }
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
        // What a kill left of the object is resumed: its bytes are hashed again on the way.
        const gamefileindex::FileState part =
            gamefileindex::stateOf(target(file.path) + kPartSuffix);
        Pending pending{i, 0};
        if (part.regular && part.size > 0 && part.size < file.size)
            pending.resumeFrom = part.size;
        queue.append(pending);
        bytesToFetch += file.size;
        bytesDone += pending.resumeFrom;
    }
    if (queue.isEmpty()) {
        endFolder();
        return;
    }
    showFetchStatus();
    for (auto& lane : lanes) {
        if (!lane)
            lane = std::make_unique<Lane>();
    }
    fetching = true;
    // A lane may finish the last object before the other one starts: the folder ends once.
    for (auto& lane : lanes)
        fetchNext(*lane);
}

void GameFiles::fetchNext(Lane& lane) {
    lane.busy = false;
    // A loop, never a call of its own per refused file: the list decides how many there are.
    for (;;) {
        if (queue.isEmpty()) {
            fetchingMayEnd();
            return;
        }
        lane.current = queue.takeFirst();
        if (prepareObject(lane))
            break;
    }
    startObject(lane);
}

bool GameFiles::prepareObject(Lane& lane) {
    const gamemanifest::File& file = manifest.files.at(lane.current.file);
    const QString path = target(file.path);
    const QString part = path + kPartSuffix;
    const gamefileindex::FileState partState = gamefileindex::stateOf(part);
    if (partState.exists && !partState.regular) {
        refuse(file.path, QStringLiteral("something other than a file stands at %1").arg(part));
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        refuse(file.path, QStringLiteral("its folder cannot be made"));
        return false;
    }
    return true;
}

void GameFiles::startObject(Lane& lane) {
    const gamemanifest::File& file = manifest.files.at(lane.current.file);
    const QString part = target(file.path) + kPartSuffix;
    lane.busy = true;
    lane.headerSeen = false;
    lane.badStatus = 0;
    lane.file = std::make_unique<ObjectFile>();
    lane.file->begin(part, file.size, lane.current.resumeFrom);
    if (!lane.client) {
        lane.client = new HttpClient(server, this);
        lane.idle = new QTimer(this);
        lane.idle->setSingleShot(true);
        connect(lane.idle, &QTimer::timeout, lane.client, &HttpClient::abort);
        connect(lane.client, &HttpClient::headerReceived, this,
                [this, &lane](int status) { onObjectHeader(lane, status); });
        connect(lane.client, &HttpClient::dataReadProgress, this, [this, &lane] {
            lane.idle->start(objectIdleLimit);
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
    // The listed size is the limit; a slow line may take its time as long as bytes come.
    lane.client->setMaxBodySize(file.size);
    HttpRequestHeader header(QStringLiteral("GET"), gamemanifest::objectPath(file.sha256));
    if (lane.current.resumeFrom > 0)
        header.setValue(QStringLiteral("Range"),
                        QStringLiteral("bytes=%1-").arg(lane.current.resumeFrom));
    lane.request = lane.client->request(header, lane.file.get());
    lane.idle->start(objectIdleLimit);
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
    if (lane.current.resumeFrom == 0)
        return;
    const qint64 listed = manifest.files.at(lane.current.file).size;
    if (status == 206) {
        // Only the rest of this very object, up to its listed end.
        const QByteArray expected =
            QByteArray("bytes ") + QByteArray::number(lane.current.resumeFrom) + '-' +
            QByteArray::number(listed - 1) + '/' + QByteArray::number(listed);
        if (lane.client->responseHeader("Content-Range").trimmed() != expected) {
            lane.badStatus = status;
            giveUp(lane);
        }
        return;
    }
    // A server that ignores Range sends the whole object: it starts again from its first byte.
    bytesDone -= lane.current.resumeFrom;
    lane.current.resumeFrom = 0;
    lane.file->restart();
}

void GameFiles::giveUp(Lane& lane) {
    // Not from inside the network layer's own signal: the request ends once it has returned.
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
    lane.idle->stop();
    // The object's file is synced on its own thread while the lane goes on with the next one:
    // the download never waits for the disk.
    Finishing done;
    done.file = std::move(lane.file);
    done.pending = lane.current;
    done.badStatus = lane.badStatus;
    done.error = error;
    done.status = lane.client->statusCode();
    done.code = int(lane.client->error());
    bytesDone += done.file->received() - done.pending.resumeFrom;
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

void GameFiles::placeObject(Finishing& done) {
    const gamemanifest::File& file = manifest.files.at(done.pending.file);
    const bool whole = done.file->finish();
    const QString path = target(file.path);
    const QString part = path + kPartSuffix;
    const int status = done.status;
    const bool statusOk = status == 200 || (status == 206 && done.pending.resumeFrom > 0);
    if (!whole) {
        // The disk took no more, or the body grew past the listed size: the part goes, and
        // leaves its room to the player.
        refuse(file.path, done.file->problem());
        QFile::remove(part);
    } else if (done.badStatus != 0) {
        refuse(file.path, QStringLiteral("HTTP Error %1").arg(done.badStatus));
    } else if (done.error) {
        // Cut off on the way (the line, a server that stalls): what came is kept, unproven, and
        // the next start resumes it; only a whole object that hashes right takes the name.
        refuse(file.path, QStringLiteral("Error #%1").arg(done.code));
    } else if (!statusOk) {
        refuse(file.path, QStringLiteral("HTTP Error %1").arg(status));
        QFile::remove(part);
    } else if (done.file->size() != file.size || done.file->sha256Hex() != file.sha256) {
        refuse(file.path, QStringLiteral("the object holds other bytes than listed"));
        QFile::remove(part);
    } else {
        // The game's program must start like the old one did.
        const QFile::Permissions permissions = QFile::permissions(path);
        if (permissions)
            QFile::setPermissions(part, permissions);
        if (replaceFile(part, path)) {
            durablefile::syncFolderOf(path);
            const gamefileindex::FileState state = gamefileindex::stateOf(path);
            entries[done.pending.file] = {state.size, state.modified, file.sha256};
            indexChanged = true;
            ++outcome.fetched;
            outcome.bytesFetched += file.size;
        } else {
            refuse(file.path, QStringLiteral("cannot take its name"));
            QFile::remove(part);
        }
    }
    // An empty part holds nothing to resume.
    if (QFileInfo(part).isFile() && QFileInfo(part).size() == 0)
        QFile::remove(part);
    done.file.reset();
}

void GameFiles::fetchingMayEnd() {
    if (!fetching || !queue.isEmpty() || !finishing.empty())
        return;
    for (const auto& lane : lanes) {
        if (lane && lane->busy)
            return;
    }
    fetching = false;
    endFolder();
}

void GameFiles::showFetchStatus() {
    qint64 done = bytesDone;
    for (const auto& lane : lanes) {
        if (lane && lane->busy && lane->file)
            done += lane->file->received() - lane->current.resumeFrom;
    }
    emit progressChanged(done, bytesToFetch);
    const qint64 shown = done / kMegabyte;
    if (shown == shownMegabytes)
        return;
    shownMegabytes = shown;
    emit statusChanged(QStringLiteral("Mise à jour des fichiers du jeu : %1 Mo sur %2 Mo")
                           .arg(megabytes(done, false), megabytes(bytesToFetch, true)));
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
