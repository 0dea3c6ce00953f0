#include "gamefileindex.h"

#include "sha256.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace gamefileindex {

namespace {

constexpr quint32 kMagic = 0x56474649; // "VGFI"
constexpr quint32 kFormat = 1;
// The checksum that closes the file: a damaged index is found, never believed.
constexpr qsizetype kChecksumSize = 64;

} // namespace

QString fileName(const QString& launcherDir, const QString& client, const QString& folder) {
    const QByteArray which = Sha256::of(QFileInfo(folder).absoluteFilePath().toUtf8()).left(16);
    return launcherDir + QStringLiteral("/gamefiles-") + client + u'-' +
           QString::fromLatin1(which) + QStringLiteral(".index");
}

Index load(const QString& fileName, const QString& folder) {
    Index empty;
    empty.folder = QFileInfo(folder).absoluteFilePath();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return empty;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < kChecksumSize ||
        Sha256::of(QByteArrayView(bytes).chopped(kChecksumSize)) != bytes.right(kChecksumSize))
        return empty;
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 magic = 0;
    quint32 format = 0;
    Index index;
    quint32 count = 0;
    in >> magic >> format >> index.folder >> index.sequence >> count;
    if (in.status() != QDataStream::Ok || magic != kMagic || format != kFormat ||
        index.folder != empty.folder || index.sequence < 0)
        return empty;
    index.entries.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        QString path;
        Entry entry;
        in >> path >> entry.size >> entry.modified >> entry.sha256;
        if (in.status() != QDataStream::Ok)
            return empty;
        index.entries.insert(path, entry);
    }
    return index;
}

bool save(const QString& fileName, const Index& index) {
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << kMagic << kFormat << index.folder << index.sequence << quint32(index.entries.size());
        for (auto it = index.entries.cbegin(); it != index.entries.cend(); ++it)
            out << it.key() << it->size << it->modified << it->sha256;
    }
    bytes += Sha256::of(bytes);
    QSaveFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

FileState stateOf(const QString& path) {
    FileState state;
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    state.exists = info.exists() || info.isSymLink();
    state.regular = info.isFile() && !info.isSymLink() && !info.isJunction();
    state.size = info.size();
    state.modified = info.lastModified().toMSecsSinceEpoch() * 1000000;
#else
    // One lstat per file: an unchanged folder of thousands of files is checked by this alone.
    struct stat buffer;
    if (::lstat(QFile::encodeName(path).constData(), &buffer) != 0)
        return state;
    state.exists = true;
    state.regular = S_ISREG(buffer.st_mode);
    state.size = buffer.st_size;
    state.modified = qint64(buffer.st_mtim.tv_sec) * 1000000000 + buffer.st_mtim.tv_nsec;
#endif
    return state;
}

} // namespace gamefileindex
