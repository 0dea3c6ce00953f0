#pragma once

#include "durablefile.h"
#include "gamefileindex.h"

#include <QByteArray>
#include <QRunnable>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

// A listed or removed file as a worker read it.
struct HashedFile {
    QByteArray hex; // empty when the file could not be read
    gamefileindex::FileState state;
    durablefile::File file; // still open when asked for
    QString problem;
};

// Hashes one file below the game folder on a worker thread, opened without following a link,
// and hands the result back to the engine's thread (with the file still open when asked: a
// removed entry is deleted only while its name still holds the very file that was read).
class HashJob : public QRunnable {
public:
    using Result = HashedFile;
    using Done = std::function<void(std::shared_ptr<Result>)>;
    HashJob(durablefile::Folder root, QString path, bool keepOpen,
            std::shared_ptr<std::atomic<bool>> cancelled,
            std::shared_ptr<std::atomic<qint64>> progress, Done done)
        : root(std::move(root))
        , path(std::move(path))
        , keepOpen(keepOpen)
        , cancelled(std::move(cancelled))
        , progress(std::move(progress))
        , done(std::move(done)) {}

    void run() override;

private:
    durablefile::Folder root;
    QString path;
    bool keepOpen;
    std::shared_ptr<std::atomic<bool>> cancelled;
    std::shared_ptr<std::atomic<qint64>> progress;
    Done done;
};
