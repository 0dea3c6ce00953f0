#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <vector>

class QFile;
class QFileInfo;

// The platform's file operations that the launcher's promises rest on: a file written in place
// of another survives a power cut (its bytes on the disk before it takes the other's name, the
// rename on the disk with its folder), and nothing is created, opened, renamed or deleted below a
// folder through a link, whatever appears on the disk while the launcher works there.
namespace durablefile {

// Flushes the open file and waits until its bytes are on the disk; false when they are not.
bool sync(QFile& file);
// Waits until the folder holding `path` has its latest renames on the disk (nothing to do on
// Windows, where a rename is written with the file system's own journal).
void syncFolderOf(const QString& path);

// Whether anything stands under the name, a link that leads nowhere included.
bool taken(const QFileInfo& file);

// Which file a name leads to, the name itself and not what a link leads to: the device and
// inode, or on Windows the volume and file index. Two names with equal identities are one file.
struct Identity {
    quint64 volume = 0;
    quint64 index = 0;
    bool known = false;
    bool operator==(const Identity& other) const {
        return known && other.known && volume == other.volume && index == other.index;
    }
    bool operator!=(const Identity& other) const { return !(*this == other); }
};
Identity identityOfName(const QString& path);
// The identity of the file open in `file`; unknown when it is not open.
Identity identityOf(const QFile& file);

// What the disk holds under a name, without following a link.
struct FileState {
    bool exists = false;
    bool regular = false; // a plain file, not a link, a folder or a device
    bool link = false;    // a symbolic link or a junction
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds since the epoch
};
FileState stateOf(const QString& path);

// The same for paths below one folder, looked at one after the other: each file is looked up
// in its own folder, which is opened once for the files that follow in it, instead of walking
// the whole path again for each (what an unchanged folder of thousands of files costs).
class FolderStates {
public:
    explicit FolderStates(const QString& root)
        : root(root) {}
    ~FolderStates();
    FolderStates(const FolderStates&) = delete;
    FolderStates& operator=(const FolderStates&) = delete;

    // `path` relative to the root, '/' between components.
    FileState stateOf(const QString& path);

private:
    QString root;
    QString folder; // the folder open now, relative to the root
    int folderHandle = -1;
    bool opened = false;
};

// Whether a file may be renamed while this process holds it open (not on Windows, where the
// handle must be let go first).
#ifdef Q_OS_WIN
constexpr bool kOpenFileCanBeRenamed = false;
#else
constexpr bool kOpenFileCanBeRenamed = true;
#endif

// Puts `replacement` under `target`'s name and `target` under `backup`'s (a name that must be
// free), the replacement given `target`'s permissions first: a program must start like the one
// it replaces did. At every moment `target`'s name holds a whole file: where a file can be
// replaced in one step the backup is made first (a second name of the file, or a copy where
// the file system has none) and the replacement then takes the name at once; on Windows, where
// a running program can be renamed but not replaced, the two renames follow each other and a
// failed second one is undone. `lastCheck` is asked right before the replacement takes the
// name; false there, or any failure, leaves `target` as it was. The folder's renames are on the
// disk when it returns true.
bool replaceKeepingBackup(const QString& target, const QString& replacement, const QString& backup,
                          const std::function<bool()>& lastCheck);
// Gives `backup` the name `target` in one step, replacing what `target` held, and waits until
// the rename is on the disk.
bool restore(const QString& backup, const QString& target);

// Why an operation below a folder did not happen, for a report.
struct Failure {
    enum Kind {
        None,
        Link,      // a symbolic link, a junction or another reparse point on the way
        NotFolder, // something other than a folder where one is needed
        Missing,
        DiskFull,
        InUse, // another program holds the file (Windows' sharing violation)
        Other
    };
    Kind kind = None;
    QString text; // in English
    explicit operator bool() const { return kind != None; }
};

#ifdef Q_OS_WIN
using NativeHandle = void*;
#else
using NativeHandle = int;
#endif

// A file opened below a folder, closed with the object.
class File {
public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool isOpen() const;
    // The bytes read, 0 at the end, -1 on a failure.
    qint64 read(char* data, qint64 size, Failure* failure);
    bool write(const char* data, qint64 size, Failure* failure);
    // Cuts the file to `size` bytes and goes on writing there.
    bool truncate(qint64 size, Failure* failure);
    // Its bytes on the disk.
    bool sync(Failure* failure);
    // Asks the disk to start on what is written so far (a hint: sync() still makes sure).
    void startWriteBack(qint64 from, qint64 length);
    qint64 size() const;
    // The time of its last change, in nanoseconds since the epoch (as the index keeps it).
    qint64 modified() const;
    // Makes the file's permissions those of `other` (the game's program must start like the
    // file it replaces did).
    void copyPermissionsOf(const File& other);
    // Whether both are the same file on the disk.
    bool sameAs(const File& other) const;
    void close();

private:
    friend class Folder;
    explicit File(NativeHandle handle, QString name)
        : handle(handle)
        , name(std::move(name)) {}
#ifdef Q_OS_WIN
    NativeHandle handle = reinterpret_cast<void*>(-1);
#else
    NativeHandle handle = -1;
#endif
    QString name; // the full path, for the reports
};

// A folder held open. Every operation below it is made relative to it, component by component,
// never following a link: a link found at any step fails the operation with Failure::Link. A
// folder held open stays the folder it was when it was opened, whatever is renamed or linked in
// its place meanwhile (on Windows it cannot be renamed or deleted while it is held).
// Its operations may be called from any thread.
class Folder {
public:
    Folder() = default;

    // The folder at `path`, as the player chose it: links on the way to it are the player's.
    static Folder open(const QString& path, Failure* failure);
    bool isOpen() const { return bool(held); }
    QString path() const { return where; }

    // The folder at `relative` ('/' between components) below this one, each missing folder made
    // when `create` is set.
    Folder sub(QStringView relative, bool create, Failure* failure) const;

    enum class Access {
        Read,   // an existing file
        Update, // an existing file or a new one, read and written, kept as it is
        Replace // an existing file or a new one, emptied
    };
    // The file `name` of this folder, or a path below it for Access::Read.
    File openFile(QStringView name, Access access, Failure* failure) const;
    // Gives `file` the permissions of the file `name` of this folder, when there is one: a file
    // about to take that name (the game's program) must start like the one it replaces did.
    void copyPermissions(QStringView name, File& file) const;
    // Gives `from` the name `to` in this folder, replacing what `to` held.
    bool rename(QStringView from, QStringView to, Failure* failure) const;
    // Deletes the file `name` of this folder, only when it is still the file `opened`.
    bool remove(QStringView name, const File& opened, Failure* failure) const;
    // Deletes the file `name` of this folder, whatever it holds (never what a link leads to).
    bool remove(QStringView name, Failure* failure) const;
    // The names in the folder that end with `suffix`.
    std::vector<QString> namesEndingWith(QStringView suffix) const;
    // Whether both are the same folder on the disk.
    bool sameAs(const Folder& other) const;
    // The folder's latest renames on the disk.
    void sync() const;
    // Everything written on the folder's file system on the disk, in one go: many small files
    // then cost one wait for the disk instead of one each. False where it cannot be done (the
    // files must then be synced one by one).
    bool syncFileSystem() const;
    static bool canSyncFileSystem();

private:
    struct Held;
    std::shared_ptr<const Held> held;
    QString where;
};

} // namespace durablefile
