#include "newexecutable.h"

#include "durablefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

using durablefile::taken;

namespace {

// Enough to tell a program from an error page.
constexpr qsizetype kHeadBytes = 64;

// Takes away what stands under the name if it is a link or an empty folder.
bool removeLinkOrEmptyFolder(const QString& name) {
    const QFileInfo entry(name);
    if (!taken(entry))
        return true;
    if (entry.isSymLink()) {
        // The link itself: on Windows a link to a folder goes as a folder does.
        return QFile::remove(name) || QDir().rmdir(name);
    }
    if (entry.isDir())
        return QDir().rmdir(name);
    return true;
}

} // namespace

QString partialName(const QString& executable) {
    return executable + QStringLiteral(".new");
}

NewExecutable::NewExecutable(QObject* parent)
    : QIODevice(parent) {}

NewExecutable::~NewExecutable() {
    file.close();
}

bool NewExecutable::create(const QString& fileName) {
    file.close();
    file.setFileName(fileName);
    hash.reset();
    digest.clear();
    first.clear();
    count = 0;
    failed = false;
    // Straight to the disk: a buffered write counts bytes that a full disk may refuse later.
    fileOpen = file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
    failed = !fileOpen;
    openedIdentity = durablefile::identityOf(file);
    if (!isOpen())
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    return fileOpen;
}

QByteArray NewExecutable::sha256Hex() {
    // The hash's state is spent once read: the text is kept for the next reader.
    if (digest.isEmpty())
        digest = hash.hex();
    return digest;
}

bool NewExecutable::stillUnderItsName() const {
    return openedIdentity.known && durablefile::identityOfName(file.fileName()) == openedIdentity;
}

bool NewExecutable::finish() {
    const bool whole = fileOpen && !failed && durablefile::sync(file);
    close();
    return whole && file.error() == QFileDevice::NoError;
}

void NewExecutable::release() {
    file.close();
    close();
}

void NewExecutable::discard() {
    file.close();
    close();
    if (fileOpen)
        file.remove();
}

qint64 NewExecutable::readData(char*, qint64) {
    return -1;
}

qint64 NewExecutable::writeData(const char* data, qint64 size) {
    if (hashing)
        hash.add(QByteArrayView(data, size));
    if (first.size() < kHeadBytes)
        first.append(data, std::min<qint64>(size, kHeadBytes - first.size()));
    if (failed)
        return -1;
    const qint64 done = file.write(data, size);
    if (done > 0)
        count += done;
    if (done != size) {
        failed = true;
        return -1;
    }
    return done;
}

bool canMoveAside(const QString& executable, const QString& backup) {
    const QFileInfo launcher(executable);
    if (!launcher.isFile())
        return false;
    const QFileInfo previous(backup);
    if (!taken(previous))
        return true;
    return (previous.isFile() || previous.isSymLink()) && !isRunningProgram(backup);
}

bool swapInNewExecutable(const QString& executable, NewExecutable& newFile, const QString& backup) {
    if (!canMoveAside(executable, backup))
        return false;
    if (taken(QFileInfo(backup)) && !QFile::remove(backup))
        return false;
    const bool swapped =
        durablefile::replaceKeepingBackup(executable, newFile.fileName(), backup, [&newFile] {
            if (!newFile.stillUnderItsName())
                return false;
            // Let go once it is known to be ours, where an open file cannot be renamed.
            if (!durablefile::kOpenFileCanBeRenamed)
                newFile.release();
            return true;
        });
    newFile.release();
    return swapped;
}

bool putBackOldExecutable(const QString& executable, const QString& backup) {
    return durablefile::restore(backup, executable);
}

void cleanUpInterruptedUpdate(const QString& executable, const QString& backup) {
    const QString partial = partialName(executable);
    const QFileInfo left(partial);
    if ((left.isFile() || left.isSymLink()) && !isRunningProgram(partial))
        QFile::remove(partial);
    // An older launcher renamed itself before downloading: killed then, it left only its backup.
    if (!taken(QFileInfo(executable)) && QFileInfo(backup).isFile()) {
        if (QFile::copy(backup, partial) && !QFile::rename(partial, executable))
            QFile::remove(partial);
    }
}

QString clearLeftoverNames(const QString& executable, const QString& backup) {
    const QString partial = partialName(executable);
    if (!removeLinkOrEmptyFolder(partial))
        return partial;
    const QFileInfo left(partial);
    // What stays must be a file the download may replace, or nothing at all.
    if (taken(left) && !left.isFile())
        return partial;
    // A link under the backup name would stop the backup at every start (a link to the running
    // launcher looks like the launcher itself); anything else there is the swap's to judge.
    if (QFileInfo(backup).isSymLink() && !QFile::remove(backup) && !QDir().rmdir(backup))
        return backup;
    return {};
}

QString folderRefusesNewFile(const QString& folder) {
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".VestrahalLauncher-XXXXXX")));
    if (probe.open())
        return {};
    return probe.errorString();
}

bool isRunningProgram(const QString& path) {
    const QString running = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QString candidate = QFileInfo(path).canonicalFilePath();
    return !candidate.isEmpty() && candidate == running;
}

bool isProgramOfAnotherSystem(const QByteArray& body) {
#ifdef Q_OS_WIN
    return body.startsWith("\177ELF");
#else
    return body.startsWith("MZ");
#endif
}

bool isProgramImage(const QByteArray& body) {
#ifdef Q_OS_WIN
    return body.startsWith("MZ");
#else
    return body.startsWith("\177ELF");
#endif
}
