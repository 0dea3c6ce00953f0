#pragma once

#include "durablefile.h"
#include "sha256.h"

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QString>

// A new launcher is downloaded beside the running one, under this fixed name: the final move is
// then a rename on the same volume, and what a killed update left behind is found again.
QString partialName(const QString& executable);

// The file a new launcher is downloaded into, written as its body arrives. It keeps count of
// the bytes that reached the file, the first bytes (is it a program at all?) and the SHA-256 of
// everything it was given. After a failed write it takes nothing more: the file never has a hole.
class NewExecutable : public QIODevice {
    Q_OBJECT

public:
    explicit NewExecutable(QObject* parent = nullptr);
    ~NewExecutable() override;

    // Creates (or empties) the file. The device itself opens whatever happens, so that a body can
    // be given to it anyway; what was refused shows in written() and fileError().
    bool create(const QString& fileName);
    QString fileName() const { return file.fileName(); }
    bool created() const { return fileOpen; }
    QFileDevice::FileError fileError() const { return file.error(); }
    // Bytes that reached the file.
    qint64 written() const { return count; }
    QByteArray head() const { return first; }
    // Lowercase hex SHA-256 of every byte given to the device, when asked for before create().
    void setHashing(bool on) { hashing = on; }
    QByteArray sha256Hex();

    // Which file this is, as it was opened; unknown when it was not.
    durablefile::Identity identity() const { return openedIdentity; }
    // Whether the file's name still leads to the file this object wrote: nobody put another
    // file in its place since.
    bool stillUnderItsName() const;

    // Every byte on the disk: only then may it take the launcher's name. The file is kept open
    // until it has (or is discarded), so that no other file can take its identity meanwhile.
    bool finish();
    // Closes the file; the name stays.
    void release();
    // Closes and removes the file.
    void discard();

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    QFile file;
    Sha256 hash;
    QByteArray digest;
    QByteArray first;
    qint64 count = 0;
    bool fileOpen = false;
    bool failed = false;
    bool hashing = false;
    durablefile::Identity openedIdentity;
};

// Whether the launcher under `executable` can be moved aside to `backup` at all: it is a file in
// the folder, and the backup name is free or holds a file that may go (never the running
// program itself, which a player may have started from its backup by hand).
bool canMoveAside(const QString& executable, const QString& backup);

// Puts the file this process downloaded under the launcher's name and the launcher under the
// backup name, at every moment with a whole program under the launcher's name (see
// durablefile::replaceKeepingBackup). The rename happens only if the file's name still leads to
// that very file, which another process may have replaced meanwhile. False: the launcher is
// still the old one. The file is closed afterwards.
bool swapInNewExecutable(const QString& executable, NewExecutable& newFile, const QString& backup);

// Undoes the swap: the backup takes the launcher's name again, replacing the new one.
bool putBackOldExecutable(const QString& executable, const QString& backup);

// At start-up: removes the file of a download that a kill cut short, and gives the launcher's
// name back its backup when an interrupted update left the name empty.
void cleanUpInterruptedUpdate(const QString& executable, const QString& backup);

// Before a download: what an earlier update or a player left under the names the update writes
// and that would make it fail at every start. A link or an empty folder under the download's
// name, and a link under the backup name, are removed (the link, never what it leads to); a
// regular file under the download's name is left to the download, which replaces it. Returns
// the name that is still in the way, or an empty text when none is.
QString clearLeftoverNames(const QString& executable, const QString& backup);

// Why a new file cannot be created in the folder (one that cannot be written, for instance); an
// empty text when it can.
QString folderRefusesNewFile(const QString& folder);

// Whether the file is the program that runs now.
bool isRunningProgram(const QString& path);

// Whether the body can be a launcher for this platform at all: an error page or a captive
// portal's answer served with status 200 must never take the launcher's place.
bool isProgramImage(const QByteArray& body);
// Whether it is a program, but one for the other system the community publishes for (a
// Windows program served to a Linux launcher, or the other way round).
bool isProgramOfAnotherSystem(const QByteArray& body);
