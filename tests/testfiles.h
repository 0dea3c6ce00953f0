#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

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
