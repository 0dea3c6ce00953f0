#pragma once

#include "durablefile.h"
#include "sha256.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class QObject;

// A large object on its way into its part file. The engine's thread hands each piece of the body
// over as it comes; a thread of the object's own writes and hashes it, so that the hashing of
// two objects uses both cores. At most a megabyte waits in between: a slow disk holds the
// download back instead of filling the memory. Never a byte beyond the listed size is kept.
class ObjectFile : public QIODevice {
public:
    ~ObjectFile() override { finish(); }

    // Takes the part file, opened, keeping its first `keep` bytes (which are hashed first).
    void begin(durablefile::File part, qint64 listedSize, qint64 keep);
    // The server sends the whole body after all: the kept bytes go.
    void restart();
    // Every byte on the disk and the file closed; false when anything failed.
    bool finish();
    // finish() without waiting: syncing an object takes the disk's time, which the other lanes'
    // downloads must not wait for. `done` runs in the context's thread once the file is synced
    // and closed; finish() then returns at once.
    void finishThen(QObject* context, std::function<void()> done);
    bool failed() const { return failedFlag.load(); }
    // Why it failed; a full disk says so.
    durablefile::Failure failure() const;
    // The body that comes now is not the object's: it is let go, not written.
    void ignoreTheRest() { ignoring = true; }
    qint64 received() const { return accepted; }
    qint64 size() const override { return written; }
    QByteArray sha256Hex() const { return hex; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override;

private:
    struct Command {
        enum Kind { Bytes, Restart, Finish } kind;
        QByteArray bytes;
    };

    QByteArray copyOf(const char* data, qint64 size);
    void recycle(QByteArray piece);
    void push(Command command);
    Command pop();
    void fail(const durablefile::Failure& failure);
    void work(qint64 keep);
    qint64 keepFirst(Sha256& hash, qint64 keep);

    durablefile::File file;
    qint64 listed = 0;
    qint64 accepted = 0; // bytes given to the device, the kept ones included
    std::thread worker;
    mutable std::mutex mutex;
    std::condition_variable arrived;
    std::condition_variable roomLeft;
    std::deque<Command> commands;
    std::vector<QByteArray> spare; // buffers the worker has done with
    qint64 queued = 0;
    std::atomic<bool> failedFlag{false};
    bool ignoring = false;
    bool finishing = false;     // the worker has been told to finish
    std::function<void()> then; // what the worker calls once it has finished
    durablefile::Failure why;
    qint64 written = 0;
    QByteArray hex;
};
