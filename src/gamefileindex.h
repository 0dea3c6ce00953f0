#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// The launcher's own record of a game folder's files: for each listed file, the size, the
// modification time and the SHA-256 of what it wrote or checked last, and the sequence of the
// last list applied. It lies in the launcher's folder, never in the game folder. A file whose
// size and time still match needs no hashing; an index that is lost, damaged or made for another
// folder is an empty one, which costs a full check and nothing else.
namespace gamefileindex {

struct Entry {
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds since the epoch, as precise as the file system keeps it
    QByteArray sha256;   // lowercase hex
};

struct Index {
    QString folder;
    qint64 sequence = 0;
    QHash<QString, Entry> entries; // by listed path
};

// The index file of a client's game folder in the launcher's folder: one per folder, so that a
// folder chosen again later is not judged by another folder's record.
QString fileName(const QString& launcherDir, const QString& client, const QString& folder);

// An empty index for the folder when the file is missing, damaged or another folder's.
Index load(const QString& fileName, const QString& folder);
// Written whole or not at all.
bool save(const QString& fileName, const Index& index);

// What the disk holds under a name, without following a link.
struct FileState {
    bool exists = false;
    bool regular = false; // a plain file, not a link, a folder or a device
    qint64 size = 0;
    qint64 modified = 0;
};
FileState stateOf(const QString& path);

// Whether the index vouches for the file as it is now holding the listed bytes.
inline bool vouchesFor(const Entry* entry, const FileState& state, const QByteArray& sha256) {
    return entry && state.regular && entry->size == state.size &&
           entry->modified == state.modified && entry->sha256 == sha256;
}

} // namespace gamefileindex
