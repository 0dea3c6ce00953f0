#include "objectfile.h"

#include <QMetaObject>
#include <QObject>

#include <cstring>

namespace {

// What waits between the network and the disk for one object, at most.
constexpr qint64 kQueuedBytes = qint64(1) << 20;
// Buffers kept for the next pieces of an object: what can wait in its queue, and one more.
constexpr size_t kSpareBuffers = 6;
// What is hashed then written at once: small enough to stay in the processor's cache.
constexpr qsizetype kSlice = qsizetype(64) << 10;
// How much of an object is written before the disk is asked to start on it.
constexpr qint64 kWriteBackStep = qint64(2) << 20;

durablefile::Failure failureOf(const QString& text) {
    return {durablefile::Failure::Other, text};
}

} // namespace

void ObjectFile::begin(durablefile::File part, qint64 listedSize, qint64 keep) {
    file = std::move(part);
    listed = listedSize;
    accepted = keep;
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    worker = std::thread([this, keep] { work(keep); });
}

void ObjectFile::restart() {
    accepted = 0;
    push({Command::Restart, {}});
}

bool ObjectFile::finish() {
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

void ObjectFile::finishThen(QObject* context, std::function<void()> done) {
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

durablefile::Failure ObjectFile::failure() const {
    std::lock_guard<std::mutex> lock(mutex);
    return why;
}

qint64 ObjectFile::writeData(const char* data, qint64 size) {
    if (failedFlag.load())
        return -1;
    if (ignoring)
        return size;
    if (accepted + size > listed) {
        fail(failureOf(QStringLiteral("longer than listed")));
        return -1;
    }
    accepted += size;
    push({Command::Bytes, copyOf(data, size)});
    return size;
}

// The piece in a buffer the worker has done with, when one is there: a download of gigabytes
// reuses a few buffers instead of asking the allocator for each piece.
QByteArray ObjectFile::copyOf(const char* data, qint64 size) {
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

void ObjectFile::recycle(QByteArray piece) {
    std::lock_guard<std::mutex> lock(mutex);
    if (spare.size() < kSpareBuffers)
        spare.push_back(std::move(piece));
}

void ObjectFile::push(Command command) {
    std::unique_lock<std::mutex> lock(mutex);
    roomLeft.wait(lock, [this] { return queued < kQueuedBytes || failedFlag.load(); });
    queued += command.bytes.size();
    commands.push_back(std::move(command));
    lock.unlock();
    arrived.notify_one();
}

ObjectFile::Command ObjectFile::pop() {
    std::unique_lock<std::mutex> lock(mutex);
    arrived.wait(lock, [this] { return !commands.empty(); });
    Command command = std::move(commands.front());
    commands.pop_front();
    queued -= command.bytes.size();
    lock.unlock();
    roomLeft.notify_one();
    return command;
}

void ObjectFile::fail(const durablefile::Failure& failure) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!failedFlag.load())
            why = failure;
        failedFlag = true;
    }
    roomLeft.notify_all();
}

// A resumed part is taken only as far as it can be read back.
qint64 ObjectFile::keepFirst(Sha256& hash, qint64 keep) {
    qint64 kept = 0;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    durablefile::Failure failure;
    while (kept < keep) {
        const qint64 read =
            file.read(buffer.data(), std::min<qint64>(buffer.size(), keep - kept), &failure);
        if (read <= 0)
            break;
        hash.add(QByteArrayView(buffer.constData(), read));
        kept += read;
    }
    if (kept != keep)
        fail(failureOf(QStringLiteral("the part file cannot be read back")));
    return kept;
}

void ObjectFile::work(qint64 keep) {
    Sha256 hash;
    durablefile::Failure failure;
    const qint64 kept = keep > 0 ? keepFirst(hash, keep) : 0;
    // Whatever lies beyond what is kept (bytes of an earlier try) goes before anything is added.
    if (!failedFlag.load() && !file.truncate(kept, &failure))
        fail(failure);
    qint64 count = kept;
    qint64 writtenBack = kept;
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
            if (!file.truncate(0, &failure))
                fail(failure);
            continue;
        }
        // Hashed and written a slice at a time: the kernel copies each slice into the file while
        // the hash has just brought it into the processor's cache.
        const QByteArrayView bytes(command.bytes);
        for (qsizetype at = 0; at < bytes.size() && !failedFlag.load(); at += kSlice) {
            const QByteArrayView slice = bytes.sliced(at, std::min(kSlice, bytes.size() - at));
            hash.add(slice);
            if (!file.write(slice.data(), slice.size(), &failure))
                fail(failure);
        }
        if (!failedFlag.load())
            count += bytes.size();
        recycle(std::move(command.bytes));
        // The disk starts on what is written as it comes: the sync before the rename then waits
        // for the last few megabytes only, not for the whole object.
        if (!failedFlag.load() && count - writtenBack >= kWriteBackStep) {
            file.startWriteBack(writtenBack, count - writtenBack);
            writtenBack = count;
        }
    }
    if (file.isOpen() && !failedFlag.load() && !file.sync(&failure))
        fail(failure);
    file.close();
    written = count;
    hex = hash.hex();
    if (then)
        then();
}
