#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHashFunctions>
#include <QTest>

// A symbolic link made by QFile::link: on Windows that call makes a shell shortcut, a file of
// its own that nothing follows, so a case about links starts with
// VESTRAHAL_SKIP_WITHOUT_SYMBOLIC_LINKS().
#ifdef Q_OS_UNIX
#define VESTRAHAL_SKIP_WITHOUT_SYMBOLIC_LINKS() static_cast<void>(0)
#else
#define VESTRAHAL_SKIP_WITHOUT_SYMBOLIC_LINKS()                                                    \
    QSKIP("QFile::link makes a shortcut on this platform, not a symbolic link")
#endif

// Lays a file down whole, with the folders it needs.
inline void writeFile(const QString& path, const QByteArray& bytes) {
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A file's bytes; a missing or unreadable file reads as a marker no content can equal.
inline QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.exists())
        return "<absent>";
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// launcher.conf as the launcher writes it, in text mode: its CR LF line ends on Windows read as
// LF here, so that one expectation serves every platform. Elsewhere the bytes are left as read.
inline QByteArray readTextFile(const QString& path) {
    QByteArray bytes = readFile(path);
#ifdef Q_OS_WIN
    bytes.replace("\r\n", "\n");
#endif
    return bytes;
}

// Bytes that differ from one seed to the next, so that no two game files or objects are the same.
inline QByteArray content(const QByteArray& seed, qint64 size) {
    QByteArray data(size, Qt::Uninitialized);
    quint32 x = quint32(qHash(seed)) | 1;
    // Through the pointer: the suites are unoptimised, and hundreds of MiB through
    // QByteArray::operator[] would take seconds.
    char* out = data.data();
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x);
    }
    return data;
}
