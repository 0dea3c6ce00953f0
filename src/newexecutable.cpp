#include "newexecutable.h"

#include <QCoreApplication>

#include "durablefile.h"
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <functional>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Enough to tell a program from an error page.
constexpr qsizetype kHeadBytes = 64;

// Whether anything stands under the name, a link that leads nowhere included.
bool taken(const QFileInfo& file) {
    return file.exists() || file.isSymLink();
}

#ifndef Q_OS_WIN
QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}
#endif

#ifdef Q_OS_WIN
FileIdentity identityOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &information))
        return {};
    return {information.dwVolumeSerialNumber,
            (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow, true};
}
#else
FileIdentity identityOfStat(const struct stat& status) {
    return {quint64(status.st_dev), quint64(status.st_ino), true};
}
#endif

FileIdentity identityOfOpenFile(QFile& file) {
#ifdef Q_OS_WIN
    return identityOfHandle(HANDLE(_get_osfhandle(file.handle())));
#else
    struct stat status;
    if (file.handle() < 0 || ::fstat(file.handle(), &status) != 0)
        return {};
    return identityOfStat(status);
#endif
}

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

FileIdentity identityOfName(const QString& path) {
#ifdef Q_OS_WIN
    HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()), 0,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    const FileIdentity identity = identityOfHandle(handle);
    CloseHandle(handle);
    return identity;
#else
    struct stat status;
    if (::lstat(native(path).constData(), &status) != 0)
        return {};
    return identityOfStat(status);
#endif
}

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
    first.clear();
    count = 0;
    failed = false;
    // Straight to the disk: a buffered write counts bytes that a full disk may refuse later.
    fileOpen = file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
    failed = !fileOpen;
    openedIdentity = fileOpen ? identityOfOpenFile(file) : FileIdentity();
    if (!isOpen())
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    return fileOpen;
}

QByteArray NewExecutable::sha256Hex() const {
    return hash.result().toHex();
}

bool NewExecutable::stillUnderItsName() const {
    return openedIdentity.known && identityOfName(file.fileName()) == openedIdentity;
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
        hash.addData(QByteArrayView(data, size));
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

namespace {

// `stillOurs` is asked right before the new file takes the launcher's name.
bool swapIn(const QString& executable, const QString& newFile, const QString& backup,
            const std::function<bool()>& stillOurs) {
    if (!canMoveAside(executable, backup))
        return false;
    if (taken(QFileInfo(backup))) {
        if (!QFile::remove(backup))
            return false;
    }
    // The new launcher must start like the old one did.
    const QFile::Permissions permissions = QFile::permissions(executable);
    if (permissions)
        QFile::setPermissions(newFile, permissions);
#ifdef Q_OS_WIN
    if (!QFile::rename(executable, backup))
        return false;
    if (!stillOurs() || !QFile::rename(newFile, executable)) {
        QFile::rename(backup, executable);
        return false;
    }
#else
    // The backup is a second name of the running launcher (a copy where the file system has no
    // such names); the new file then replaces the launcher's name in one step.
    if (::link(native(executable).constData(), native(backup).constData()) != 0 &&
        !QFile::copy(executable, backup))
        return false;
    if (!stillOurs() ||
        ::rename(native(newFile).constData(), native(executable).constData()) != 0) {
        QFile::remove(backup);
        return false;
    }
#endif
    durablefile::syncFolderOf(executable);
    return true;
}

} // namespace

bool swapInNewExecutable(const QString& executable, const QString& newFile, const QString& backup) {
    return swapIn(executable, newFile, backup, [] { return true; });
}

bool swapInNewExecutable(const QString& executable, NewExecutable& newFile, const QString& backup) {
    const bool swapped = swapIn(executable, newFile.fileName(), backup, [&newFile] {
        if (!newFile.stillUnderItsName())
            return false;
#ifdef Q_OS_WIN
        // A file open here cannot be renamed on Windows: it is let go once it is known to be ours.
        newFile.release();
#endif
        return true;
    });
    newFile.release();
    return swapped;
}

bool putBackOldExecutable(const QString& executable, const QString& backup) {
    bool done = false;
#ifdef Q_OS_WIN
    done =
        MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(backup).utf16()),
                    reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(executable).utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    done = ::rename(native(backup).constData(), native(executable).constData()) == 0;
#endif
    durablefile::syncFolderOf(executable);
    return done;
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
