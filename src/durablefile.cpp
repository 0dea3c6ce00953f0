#include "durablefile.h"

#include "teststeps.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <atomic>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif
#endif

namespace durablefile {

bool sync(QFile& file) {
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    return FlushFileBuffers(HANDLE(_get_osfhandle(file.handle())));
#else
    return ::fsync(file.handle()) == 0;
#endif
}

void syncFolderOf(const QString& path) {
#ifndef Q_OS_WIN
    const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
#else
    Q_UNUSED(path);
#endif
}

namespace {

#ifdef Q_OS_WIN
std::wstring nativeName(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

Identity identityOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &information))
        return {};
    return {information.dwVolumeSerialNumber,
            (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow, true};
}
#else
QByteArray nativeName(const QString& path) {
    return QFile::encodeName(path);
}

Identity identityOfStat(const struct stat& status) {
    return {quint64(status.st_dev), quint64(status.st_ino), true};
}

FileState stateOfStat(const struct stat& buffer) {
    FileState state;
    state.exists = true;
    state.regular = S_ISREG(buffer.st_mode);
    state.link = S_ISLNK(buffer.st_mode);
    state.size = buffer.st_size;
    state.modified = qint64(buffer.st_mtim.tv_sec) * 1000000000 + buffer.st_mtim.tv_nsec;
    return state;
}
#endif

} // namespace

bool taken(const QFileInfo& file) {
    return file.exists() || file.isSymLink();
}

Identity identityOfName(const QString& path) {
#ifdef Q_OS_WIN
    HANDLE handle = CreateFileW(
        nativeName(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    const Identity identity = identityOfHandle(handle);
    CloseHandle(handle);
    return identity;
#else
    struct stat status;
    if (::lstat(nativeName(path).constData(), &status) != 0)
        return {};
    return identityOfStat(status);
#endif
}

Identity identityOf(const QFile& file) {
    if (file.handle() < 0)
        return {};
#ifdef Q_OS_WIN
    return identityOfHandle(HANDLE(_get_osfhandle(file.handle())));
#else
    struct stat status;
    if (::fstat(file.handle(), &status) != 0)
        return {};
    return identityOfStat(status);
#endif
}

FileState stateOf(const QString& path) {
    FileState state;
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    state.link = info.isSymLink() || info.isJunction();
    state.exists = info.exists() || state.link;
    state.regular = info.isFile() && !state.link;
    state.size = info.size();
    state.modified = info.lastModified().toMSecsSinceEpoch() * 1000000;
#else
    // One lstat per file: an unchanged folder of thousands of files is checked by this alone.
    struct stat buffer;
    if (::lstat(nativeName(path).constData(), &buffer) != 0)
        return state;
    state = stateOfStat(buffer);
#endif
    return state;
}

FolderStates::~FolderStates() {
#ifndef Q_OS_WIN
    if (folderHandle >= 0)
        ::close(folderHandle);
#endif
}

FileState FolderStates::stateOf(const QString& path) {
#ifdef Q_OS_WIN
    return durablefile::stateOf(root + u'/' + path);
#else
    const qsizetype slash = path.lastIndexOf(u'/');
    const QStringView in = slash < 0 ? QStringView() : QStringView(path).left(slash);
    if (!opened || in != folder) {
        if (folderHandle >= 0)
            ::close(folderHandle);
        folder = in.toString();
        opened = true;
        // Reached the way lstat would reach the file: a folder on the way that is missing or
        // not a folder leaves its files missing; one that is a link is the list's to refuse.
        // O_PATH needs no right to read the folder, only to go through it, as lstat.
#ifdef O_PATH
        constexpr int kFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
        constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
        folderHandle = ::open(nativeName(root + u'/' + folder).constData(), kFlags);
    }
    if (folderHandle < 0)
        return {};
    struct stat buffer;
    const QByteArray name = QFile::encodeName(slash < 0 ? path : path.mid(slash + 1));
    if (::fstatat(folderHandle, name.constData(), &buffer, AT_SYMLINK_NOFOLLOW) != 0)
        return {};
    return stateOfStat(buffer);
#endif
}

bool replaceKeepingBackup(const QString& target, const QString& replacement, const QString& backup,
                          const std::function<bool()>& lastCheck) {
    if (taken(QFileInfo(backup)))
        return false;
    const QFile::Permissions permissions = QFile::permissions(target);
    if (permissions)
        QFile::setPermissions(replacement, permissions);
#ifdef Q_OS_WIN
    if (!QFile::rename(target, backup))
        return false;
    if (!lastCheck() || !QFile::rename(replacement, target)) {
        QFile::rename(backup, target);
        return false;
    }
#else
    if (::link(nativeName(target).constData(), nativeName(backup).constData()) != 0 &&
        !QFile::copy(target, backup))
        return false;
    if (!lastCheck() ||
        ::rename(nativeName(replacement).constData(), nativeName(target).constData()) != 0) {
        QFile::remove(backup);
        return false;
    }
#endif
    syncFolderOf(target);
    return true;
}

bool restore(const QString& backup, const QString& target) {
#ifdef Q_OS_WIN
    const bool done = MoveFileExW(nativeName(backup).c_str(), nativeName(target).c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    const bool done = ::rename(nativeName(backup).constData(), nativeName(target).constData()) == 0;
#endif
    syncFolderOf(target);
    return done;
}

namespace {

void fail(Failure* failure, Failure::Kind kind, const QString& text) {
    if (failure) {
        failure->kind = kind;
        failure->text = text;
    }
}

QString joined(const QString& folder, QStringView name) {
    return name.isEmpty() ? folder : folder + u'/' + name.toString();
}

#ifndef Q_OS_WIN

// What an error number means for the report.
Failure::Kind kindOf(int error) {
    switch (error) {
    case ELOOP:
        return Failure::Link;
    case ENOTDIR:
    case EISDIR:
        return Failure::NotFolder;
    case ENOENT:
        return Failure::Missing;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return Failure::DiskFull;
    case ETXTBSY:
    case EBUSY:
        return Failure::InUse;
    default:
        return Failure::Other;
    }
}

void failWith(Failure* failure, int error, const QString& what) {
    const Failure::Kind kind = kindOf(error);
    QString text;
    switch (kind) {
    case Failure::Link:
        text = QStringLiteral("%1 is a link").arg(what);
        break;
    case Failure::DiskFull:
        text = QStringLiteral("disk full writing %1").arg(what);
        break;
    default:
        text = QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(error)));
        break;
    }
    fail(failure, kind, text);
}

// Why `name` in the folder could not be gone through as a folder: a link, or something else.
void failOnFolder(Failure* failure, int dir, const QByteArray& name, int error,
                  const QString& what) {
    struct stat buffer;
    if (::fstatat(dir, name.constData(), &buffer, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(buffer.st_mode)) {
            failWith(failure, ELOOP, what);
            return;
        }
        if (!S_ISDIR(buffer.st_mode)) {
            fail(failure, Failure::NotFolder, QStringLiteral("%1 is not a folder").arg(what));
            return;
        }
    }
    failWith(failure, error, what);
}

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

#ifdef SYS_openat2
// Whether the kernel has openat2 (Linux 5.6): without it, or where a sandbox refuses it, paths
// are walked one component at a time.
std::atomic<bool> noOpenat2{false};
#endif

#endif

} // namespace

#ifndef Q_OS_WIN

struct Folder::Held {
    explicit Held(int fd)
        : fd(fd) {}
    ~Held() { ::close(fd); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    int fd;
};

File::~File() {
    close();
}

File::File(File&& other) noexcept
    : handle(std::exchange(other.handle, -1))
    , name(std::move(other.name)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        handle = std::exchange(other.handle, -1);
        name = std::move(other.name);
    }
    return *this;
}

bool File::isOpen() const {
    return handle >= 0;
}

void File::close() {
    if (handle >= 0)
        ::close(std::exchange(handle, -1));
}

qint64 File::read(char* data, qint64 size, Failure* failure) {
    for (;;) {
        const ssize_t got = ::read(handle, data, size_t(size));
        if (got >= 0)
            return got;
        if (errno != EINTR) {
            failWith(failure, errno, name);
            return -1;
        }
    }
}

bool File::write(const char* data, qint64 size, Failure* failure) {
    while (size > 0) {
        const ssize_t put = ::write(handle, data, size_t(size));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            failWith(failure, put < 0 ? errno : ENOSPC, name);
            return false;
        }
        data += put;
        size -= put;
    }
    return true;
}

bool File::truncate(qint64 size, Failure* failure) {
    if (::ftruncate(handle, off_t(size)) != 0 || ::lseek(handle, off_t(size), SEEK_SET) < 0) {
        failWith(failure, errno, name);
        return false;
    }
    return true;
}

bool File::sync(Failure* failure) {
    if (::fsync(handle) != 0) {
        failWith(failure, errno, name);
        return false;
    }
    return true;
}

void File::startWriteBack(qint64 from, qint64 length) {
#ifdef Q_OS_LINUX
    ::sync_file_range(handle, from, length, SYNC_FILE_RANGE_WRITE);
#else
    Q_UNUSED(from)
    Q_UNUSED(length)
#endif
}

qint64 File::size() const {
    struct stat buffer;
    return ::fstat(handle, &buffer) == 0 ? qint64(buffer.st_size) : -1;
}

qint64 File::modified() const {
    struct stat buffer;
    return ::fstat(handle, &buffer) == 0
               ? qint64(buffer.st_mtim.tv_sec) * 1000000000 + buffer.st_mtim.tv_nsec
               : 0;
}

void File::copyPermissionsOf(const File& other) {
    struct stat buffer;
    if (::fstat(other.handle, &buffer) == 0)
        ::fchmod(handle, buffer.st_mode & 07777);
}

bool File::sameAs(const File& other) const {
    struct stat mine;
    struct stat theirs;
    return ::fstat(handle, &mine) == 0 && ::fstat(other.handle, &theirs) == 0 &&
           mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
}

Folder Folder::open(const QString& path, Failure* failure) {
    Folder folder;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        failWith(failure, errno, path);
        return folder;
    }
    folder.held = std::make_shared<const Held>(fd);
    folder.where = path;
    return folder;
}

Folder Folder::sub(QStringView relative, bool create, Failure* failure) const {
    Folder folder;
    if (!held)
        return folder;
    int dir = held->fd;
    QString path = where;
    bool first = true;
    for (const QStringView component : relative.split(u'/', Qt::SkipEmptyParts)) {
        path = joined(path, component);
        const QByteArray name = QFile::encodeName(component.toString());
        int next = ::openat(dir, name.constData(), kFolderFlags);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(dir, name.constData(), 0777) != 0 && errno != EEXIST) {
                failWith(failure, errno, path);
                next = -1;
            } else {
                VESTRAHAL_STEP("folder made", path);
                next = ::openat(dir, name.constData(), kFolderFlags);
            }
            if (next < 0 && failure && failure->kind == Failure::None)
                failOnFolder(failure, dir, name, errno, path);
        } else if (next < 0) {
            failOnFolder(failure, dir, name, errno, path);
        }
        if (!first)
            ::close(dir);
        first = false;
        if (next < 0)
            return folder;
        dir = next;
    }
    folder.held = first ? held : std::make_shared<const Held>(dir);
    folder.where = path;
    return folder;
}

File Folder::openFile(QStringView name, Access access, Failure* failure) const {
    if (!held)
        return {};
    // Never blocks on a pipe or a device that stands in a file's place: only a plain file is
    // taken.
    int flags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    if (access == Access::Read)
        flags |= O_RDONLY;
    else
        flags |= O_RDWR | O_CREAT | (access == Access::Replace ? O_TRUNC : 0);
    const QString path = joined(where, name);
    const QByteArray relative = QFile::encodeName(name.toString());
    int fd = -1;
#ifdef SYS_openat2
    if (!noOpenat2.load()) {
        open_how how{};
        how.flags = quint64(flags);
        how.mode = (flags & O_CREAT) ? 0666 : 0;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        fd = int(::syscall(SYS_openat2, held->fd, relative.constData(), &how, sizeof how));
        if (fd < 0 && errno == ENOSYS)
            noOpenat2 = true;
    }
    if (noOpenat2.load())
#endif
    {
        const qsizetype slash = name.lastIndexOf(u'/');
        if (slash >= 0) {
            const Folder in = sub(name.left(slash), false, failure);
            return in.isOpen() ? in.openFile(name.mid(slash + 1), access, failure) : File();
        }
        fd = ::openat(held->fd, relative.constData(), flags, 0666);
    }
    if (fd < 0) {
        failWith(failure, errno, path);
        return {};
    }
    File file(fd, path);
    struct stat buffer;
    if (::fstat(fd, &buffer) != 0 || !S_ISREG(buffer.st_mode)) {
        fail(failure, Failure::NotFolder, QStringLiteral("%1 is not a file").arg(path));
        return {};
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return file;
}

bool Folder::rename(QStringView from, QStringView to, Failure* failure) const {
    if (!held)
        return false;
    // Names in this very folder: a link in `to`'s place is replaced, never followed.
    if (::renameat(held->fd, QFile::encodeName(from.toString()).constData(), held->fd,
                   QFile::encodeName(to.toString()).constData()) != 0) {
        failWith(failure, errno, joined(where, to));
        return false;
    }
    return true;
}

bool Folder::remove(QStringView name, const File& opened, Failure* failure) const {
    if (!held)
        return false;
    const QByteArray relative = QFile::encodeName(name.toString());
    struct stat now;
    struct stat read;
    if (::fstatat(held->fd, relative.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fstat(opened.handle, &read) != 0) {
        failWith(failure, errno, joined(where, name));
        return false;
    }
    if (now.st_dev != read.st_dev || now.st_ino != read.st_ino) {
        fail(failure, Failure::Other,
             QStringLiteral("%1 changed after it was read").arg(joined(where, name)));
        return false;
    }
    return remove(name, failure);
}

bool Folder::remove(QStringView name, Failure* failure) const {
    if (!held)
        return false;
    if (::unlinkat(held->fd, QFile::encodeName(name.toString()).constData(), 0) != 0) {
        failWith(failure, errno, joined(where, name));
        return false;
    }
    return true;
}

std::vector<QString> Folder::namesEndingWith(QStringView suffix) const {
    std::vector<QString> names;
    if (!held)
        return names;
    const int fd = ::openat(held->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return names;
    }
    const QByteArray end = QFile::encodeName(suffix.toString());
    while (const dirent* entry = ::readdir(dir)) {
        const qsizetype length = qsizetype(std::strlen(entry->d_name));
        if (length > end.size() &&
            std::memcmp(entry->d_name + length - end.size(), end.constData(), end.size()) == 0)
            names.push_back(QFile::decodeName(entry->d_name));
    }
    ::closedir(dir);
    return names;
}

bool Folder::sameAs(const Folder& other) const {
    struct stat mine;
    struct stat theirs;
    return held && other.held && ::fstat(held->fd, &mine) == 0 &&
           ::fstat(other.held->fd, &theirs) == 0 && mine.st_dev == theirs.st_dev &&
           mine.st_ino == theirs.st_ino;
}

void Folder::sync() const {
    if (held)
        ::fsync(held->fd);
}

bool Folder::syncFileSystem() const {
#ifdef Q_OS_LINUX
    return held && ::syncfs(held->fd) == 0;
#else
    return false;
#endif
}

bool Folder::canSyncFileSystem() {
#ifdef Q_OS_LINUX
    return true;
#else
    return false;
#endif
}

#else // Q_OS_WIN

namespace {

Failure::Kind kindOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return Failure::Missing;
    case ERROR_DIRECTORY:
        return Failure::NotFolder;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return Failure::DiskFull;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_ACCESS_DENIED:
        return Failure::InUse;
    default:
        return Failure::Other;
    }
}

void failWith(Failure* failure, DWORD error, const QString& what) {
    const Failure::Kind kind = kindOf(error);
    switch (kind) {
    case Failure::DiskFull:
        fail(failure, kind, QStringLiteral("disk full writing %1").arg(what));
        break;
    case Failure::InUse:
        fail(failure, kind, QStringLiteral("%1 is in use by another program").arg(what));
        break;
    default:
        fail(failure, kind, QStringLiteral("%1: Windows error %2").arg(what).arg(error));
        break;
    }
}

// The handle's own file: a reparse point (a link, a junction) is reported as such, never gone
// through, since every handle here is opened with FILE_FLAG_OPEN_REPARSE_POINT.
bool checkKind(HANDLE handle, bool folder, const QString& what, Failure* failure) {
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) {
        failWith(failure, GetLastError(), what);
        return false;
    }
    if (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        fail(failure, Failure::Link, QStringLiteral("%1 is a link").arg(what));
        return false;
    }
    if (bool(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != folder) {
        fail(failure, Failure::NotFolder,
             folder ? QStringLiteral("%1 is not a folder").arg(what)
                    : QStringLiteral("%1 is not a file").arg(what));
        return false;
    }
    return true;
}

// A folder held without FILE_SHARE_DELETE cannot be renamed, deleted or replaced by a junction
// while it is held.
HANDLE openFolderHandle(const QString& path, bool reparsePoint) {
    return CreateFileW(
        nativeName(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (reparsePoint ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
}

bool sameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION first{};
    BY_HANDLE_FILE_INFORMATION second{};
    return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

// A file about to be renamed or deleted by its handle: opened without going through a reparse
// point, and checked to be a file, not a link or a folder. Null when it is not.
HANDLE openFileToChange(const QString& path, DWORD access, Failure* failure) {
    const HANDLE handle = CreateFileW(
        nativeName(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        failWith(failure, GetLastError(), path);
        return nullptr;
    }
    if (!checkKind(handle, false, path, failure)) {
        CloseHandle(handle);
        return nullptr;
    }
    return handle;
}

} // namespace

struct Folder::Held {
    Held(HANDLE handle, std::shared_ptr<const Held> parent)
        : handle(handle)
        , parent(std::move(parent)) {}
    ~Held() { CloseHandle(handle); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    HANDLE handle;
    // Every folder on the way stays held: none of them can be swapped for a junction either.
    std::shared_ptr<const Held> parent;
};

File::~File() {
    close();
}

File::File(File&& other) noexcept
    : handle(std::exchange(other.handle, INVALID_HANDLE_VALUE))
    , name(std::move(other.name)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        handle = std::exchange(other.handle, INVALID_HANDLE_VALUE);
        name = std::move(other.name);
    }
    return *this;
}

bool File::isOpen() const {
    return handle != INVALID_HANDLE_VALUE;
}

void File::close() {
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(std::exchange(handle, INVALID_HANDLE_VALUE));
}

qint64 File::read(char* data, qint64 size, Failure* failure) {
    DWORD got = 0;
    if (!ReadFile(handle, data, DWORD(std::min<qint64>(size, 1 << 30)), &got, nullptr)) {
        failWith(failure, GetLastError(), name);
        return -1;
    }
    return qint64(got);
}

bool File::write(const char* data, qint64 size, Failure* failure) {
    while (size > 0) {
        DWORD put = 0;
        if (!WriteFile(handle, data, DWORD(std::min<qint64>(size, 1 << 30)), &put, nullptr) ||
            put == 0) {
            failWith(failure, GetLastError(), name);
            return false;
        }
        data += put;
        size -= put;
    }
    return true;
}

bool File::truncate(qint64 size, Failure* failure) {
    LARGE_INTEGER at;
    at.QuadPart = size;
    if (!SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) || !SetEndOfFile(handle)) {
        failWith(failure, GetLastError(), name);
        return false;
    }
    return true;
}

bool File::sync(Failure* failure) {
    if (!FlushFileBuffers(handle)) {
        failWith(failure, GetLastError(), name);
        return false;
    }
    return true;
}

void File::startWriteBack(qint64, qint64) {}

qint64 File::size() const {
    LARGE_INTEGER size;
    return GetFileSizeEx(handle, &size) ? qint64(size.QuadPart) : -1;
}

qint64 File::modified() const {
    FILETIME written;
    if (!GetFileTime(handle, nullptr, nullptr, &written))
        return 0;
    // 100-nanosecond steps since 1601, as QFileInfo's milliseconds since 1970 keep it.
    const qint64 steps = (qint64(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    return (steps - 116444736000000000LL) / 10000 * 1000000;
}

void File::copyPermissionsOf(const File&) {
    // A new file takes its folder's rights on Windows, as the file it replaces did.
}

bool File::sameAs(const File& other) const {
    return sameFile(handle, other.handle);
}

Folder Folder::open(const QString& path, Failure* failure) {
    Folder folder;
    const HANDLE handle = openFolderHandle(path, false);
    if (handle == INVALID_HANDLE_VALUE) {
        failWith(failure, GetLastError(), path);
        return folder;
    }
    folder.held = std::make_shared<const Held>(handle, nullptr);
    folder.where = path;
    return folder;
}

Folder Folder::sub(QStringView relative, bool create, Failure* failure) const {
    Folder folder;
    if (!held)
        return folder;
    std::shared_ptr<const Held> at = held;
    QString path = where;
    for (const QStringView component : relative.split(u'/', Qt::SkipEmptyParts)) {
        path = joined(path, component);
        HANDLE handle = openFolderHandle(path, true);
        if (handle == INVALID_HANDLE_VALUE && create &&
            kindOf(GetLastError()) == Failure::Missing) {
            if (!CreateDirectoryW(nativeName(path).c_str(), nullptr) &&
                GetLastError() != ERROR_ALREADY_EXISTS) {
                failWith(failure, GetLastError(), path);
                return folder;
            }
            VESTRAHAL_STEP("folder made", path);
            handle = openFolderHandle(path, true);
        }
        if (handle == INVALID_HANDLE_VALUE) {
            failWith(failure, GetLastError(), path);
            return folder;
        }
        if (!checkKind(handle, true, path, failure)) {
            CloseHandle(handle);
            return folder;
        }
        at = std::make_shared<const Held>(handle, at);
    }
    folder.held = at;
    folder.where = path;
    return folder;
}

File Folder::openFile(QStringView name, Access access, Failure* failure) const {
    if (!held)
        return {};
    const qsizetype slash = name.lastIndexOf(u'/');
    if (slash >= 0) {
        const Folder in = sub(name.left(slash), false, failure);
        return in.isOpen() ? in.openFile(name.mid(slash + 1), access, failure) : File();
    }
    const QString path = joined(where, name);
    const DWORD rights = access == Access::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD disposition = access == Access::Read ? OPEN_EXISTING
                              : access == Access::Update ? OPEN_ALWAYS
                                                         : CREATE_ALWAYS;
    const HANDLE handle =
        CreateFileW(nativeName(path).c_str(), rights, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        failWith(failure, GetLastError(), path);
        return {};
    }
    File file(handle, path);
    if (!checkKind(handle, false, path, failure))
        return {};
    return file;
}

bool Folder::rename(QStringView from, QStringView to, Failure* failure) const {
    if (!held)
        return false;
    const QString source = joined(where, from);
    const QString target = joined(where, to);
    // Renamed by its handle: the file opened, checked, is the file that takes the name.
    const HANDLE handle = openFileToChange(source, DELETE | SYNCHRONIZE, failure);
    if (!handle)
        return false;
    const std::wstring name = nativeName(target);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = DWORD(name.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, name.data(), name.size() * sizeof(wchar_t));
    const bool done =
        SetFileInformationByHandle(handle, FileRenameInfo, info, DWORD(buffer.size()));
    // A running game holds its files: the sharing violation leaves the file as it was.
    if (!done)
        failWith(failure, GetLastError(), target);
    CloseHandle(handle);
    return done;
}

bool Folder::remove(QStringView name, const File& opened, Failure* failure) const {
    if (!held)
        return false;
    const QString path = joined(where, name);
    const HANDLE handle = openFileToChange(path, DELETE | FILE_READ_ATTRIBUTES, failure);
    if (!handle)
        return false;
    bool done = true;
    if (opened.isOpen() && !sameFile(handle, opened.handle)) {
        fail(failure, Failure::Other, QStringLiteral("%1 changed after it was read").arg(path));
        done = false;
    }
    if (done) {
        FILE_DISPOSITION_INFO info{};
        info.DeleteFile = TRUE;
        done = SetFileInformationByHandle(handle, FileDispositionInfo, &info, sizeof info);
        if (!done)
            failWith(failure, GetLastError(), path);
    }
    CloseHandle(handle);
    return done;
}

bool Folder::remove(QStringView name, Failure* failure) const {
    return remove(name, File(), failure);
}

std::vector<QString> Folder::namesEndingWith(QStringView suffix) const {
    std::vector<QString> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(nativeName(where + QStringLiteral("/*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const QString name = QString::fromWCharArray(found.cFileName);
        if (name.size() > suffix.size() && name.endsWith(suffix))
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

bool Folder::sameAs(const Folder& other) const {
    return held && other.held && sameFile(held->handle, other.held->handle);
}

void Folder::sync() const {}

bool Folder::syncFileSystem() const {
    return false;
}

bool Folder::canSyncFileSystem() {
    return false;
}

#endif

void Folder::copyPermissions(QStringView name, File& file) const {
    const File old = openFile(name, Access::Read, nullptr);
    if (old.isOpen() && file.isOpen())
        file.copyPermissionsOf(old);
}

} // namespace durablefile
