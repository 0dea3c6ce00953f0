#include "gamefileindex.h"

#include "sha256.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIODevice>
#include <QSaveFile>
#include <QtEndian>

namespace gamefileindex {

namespace {

constexpr quint32 kMagic = 0x56474649; // "VGFI"
constexpr quint32 kFormat = 3;
// The digest that closes the file: a damaged index is found, never believed.
constexpr qsizetype kDigestSize = 32;

// Reads what save()'s QDataStream (Qt 6.0, big-endian) wrote, straight from the bytes: tens of
// thousands of entries in a few milliseconds, where a stream makes a device call per field.
class Reader {
public:
    explicit Reader(QByteArrayView bytes)
        : at(bytes.data())
        , end(bytes.data() + bytes.size()) {}

    bool ok() const { return sound; }
    qsizetype left() const { return end - at; }

    template <typename T> T number() {
        if (!take(sizeof(T)))
            return 0;
        return qFromBigEndian<T>(at - sizeof(T));
    }
    QByteArray bytes() {
        const quint32 length = number<quint32>();
        if (length == kNull || !take(length))
            return {};
        return QByteArray(at - length, qsizetype(length));
    }
    QString string() {
        const quint32 length = number<quint32>();
        if (length == kNull)
            return {};
        if (length % 2 != 0 || !take(length)) {
            sound = false;
            return {};
        }
        QString text(qsizetype(length / 2), Qt::Uninitialized);
        qFromBigEndian<char16_t>(at - length, text.size(), text.data());
        return text;
    }

private:
    // QDataStream's length of a null string or array.
    static constexpr quint32 kNull = 0xffffffff;

    bool take(qsizetype size) {
        if (!sound || left() < size) {
            sound = false;
            return false;
        }
        at += size;
        return true;
    }

    const char* at;
    const char* end;
    bool sound = true;
};

} // namespace

Index load(const QString& fileName, const QString& folder) {
    Index empty;
    empty.folder = QFileInfo(folder).absoluteFilePath();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return empty;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < kDigestSize ||
        Sha256::quickDigest(QByteArrayView(bytes).chopped(kDigestSize)) != bytes.right(kDigestSize))
        return empty;
    Reader in(QByteArrayView(bytes).chopped(kDigestSize));
    Index index;
    const quint32 magic = in.number<quint32>();
    const quint32 format = in.number<quint32>();
    index.folder = in.string();
    index.sequence = in.number<qint64>();
    index.manifestDigest = in.bytes();
    index.manifest.client = in.string();
    index.manifest.sequence = in.number<qint64>();
    const quint32 files = in.number<quint32>();
    const quint32 removed = in.number<quint32>();
    // Each entry takes some bytes: a count beyond them is a damaged file, not a reservation.
    if (!in.ok() || magic != kMagic || format != kFormat || index.folder != empty.folder ||
        index.sequence < 0 || files > in.left() || removed > in.left())
        return empty;
    index.manifest.files.resize(files);
    index.entries.resize(files);
    for (quint32 i = 0; i < files && in.ok(); ++i) {
        gamemanifest::File& listed = index.manifest.files[i];
        Entry& entry = index.entries[i];
        listed.path = in.string();
        listed.size = in.number<qint64>();
        listed.sha256 = in.bytes();
        entry.size = in.number<qint64>();
        entry.modified = in.number<qint64>();
        // What is known of a file is always that it holds the listed bytes.
        if (in.number<quint8>() != 0)
            entry.sha256 = listed.sha256;
    }
    index.manifest.removed.resize(removed);
    for (gamemanifest::Removed& gone : index.manifest.removed) {
        gone.path = in.string();
        gone.sha256 = in.bytes();
    }
    if (!in.ok() || in.left() != 0)
        return empty;
    return index;
}

bool save(const QString& fileName, const Index& index) {
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << kMagic << kFormat << index.folder << index.sequence << index.manifestDigest
            << index.manifest.client << index.manifest.sequence
            << quint32(index.manifest.files.size()) << quint32(index.manifest.removed.size());
        for (qsizetype i = 0; i < index.manifest.files.size(); ++i) {
            const gamemanifest::File& listed = index.manifest.files.at(i);
            const Entry entry = index.entries.value(i);
            // An entry of other bytes than listed vouches for nothing: it is not kept.
            out << listed.path << listed.size << listed.sha256 << entry.size << entry.modified
                << (!entry.sha256.isEmpty() && entry.sha256 == listed.sha256);
        }
        for (const gamemanifest::Removed& gone : index.manifest.removed)
            out << gone.path << gone.sha256;
    }
    bytes += Sha256::quickDigest(bytes);
    QSaveFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

namespace {

QByteArray sequenceCheck(const QByteArray& number) {
    return Sha256::quickDigest("vestrahal-files-sequence " + number).toHex().left(16);
}

} // namespace

qint64 loadSequence(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    // A sequence, its check: a file cut short or changed by a byte is no sequence at all.
    const QList<QByteArray> lines = file.read(128).split('\n');
    if (lines.size() != 3 || !lines.at(2).isEmpty() || lines.at(0).size() > 19 ||
        sequenceCheck(lines.at(0)) != lines.at(1))
        return -1;
    bool number = false;
    const qint64 sequence = lines.at(0).toLongLong(&number);
    return number && sequence >= 0 ? sequence : -1;
}

bool saveSequence(const QString& fileName, qint64 sequence) {
    const QByteArray number = QByteArray::number(sequence);
    const QByteArray text = number + '\n' + sequenceCheck(number) + '\n';
    QSaveFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

QList<Entry> entriesFor(const Index& index, const gamemanifest::Manifest& manifest) {
    QHash<QString, qsizetype> known;
    known.reserve(index.manifest.files.size());
    for (qsizetype i = 0; i < index.manifest.files.size() && i < index.entries.size(); ++i)
        known.insert(index.manifest.files.at(i).path, i);
    QList<Entry> entries(manifest.files.size());
    for (qsizetype i = 0; i < manifest.files.size(); ++i) {
        const auto found = known.constFind(manifest.files.at(i).path);
        if (found != known.constEnd())
            entries[i] = index.entries.at(*found);
    }
    return entries;
}

} // namespace gamefileindex
