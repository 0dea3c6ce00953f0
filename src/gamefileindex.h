#pragma once

#include "durablefile.h"
#include "gamemanifest.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The launcher's own record of a game folder's files: the last list applied (its digest, its
// sequence and its entries, so that the same list again needs no reading), and for each listed
// file the size, the modification time and the SHA-256 of what the launcher wrote or checked
// last. It lies in the launcher's folder, never in the game folder. A file whose size and time
// still match needs no hashing; an index that is lost, damaged or made for another folder is an
// empty one, which costs a full check and nothing else.
namespace gamefileindex {

struct Entry {
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds since the epoch, as precise as the file system keeps it
    QByteArray sha256;   // lowercase hex; empty: nothing known
};

struct Index {
    QString folder;
    qint64 sequence = 0;       // the last one applied
    QByteArray manifestDigest; // Sha256::quickDigest of the list's bytes
    gamemanifest::Manifest manifest;
    QList<Entry> entries; // one for each of manifest.files, in its order
};

// An empty index for the folder when the file is missing, damaged or another folder's.
Index load(const QString& fileName, const QString& folder);
// Written whole or not at all.
bool save(const QString& fileName, const Index& index);

// The last list's sequence applied to a folder, kept apart from the index in a file of its own
// (written whole, closed by a check): a lost or damaged index then costs a full check, never the
// protection against an older list served again. -1 when the file is missing or damaged.
qint64 loadSequence(const QString& fileName);
bool saveSequence(const QString& fileName, qint64 sequence);

// The entries of `index` for the files of another list, matched by path: a file the old list
// had keeps what is known of it.
QList<Entry> entriesFor(const Index& index, const gamemanifest::Manifest& manifest);

// What the disk holds under a name, as the entries are compared with.
using FileState = durablefile::FileState;

// Whether the entry vouches for the file as it is now holding the listed bytes.
inline bool vouchesFor(const Entry& entry, const FileState& state, const QByteArray& sha256) {
    return state.regular && !entry.sha256.isEmpty() && entry.size == state.size &&
           entry.modified == state.modified && entry.sha256 == sha256;
}

} // namespace gamefileindex
