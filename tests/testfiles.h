#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHashFunctions>
#include <QTest>

#include "underwine.h"

#ifdef Q_OS_WIN
#include <winioctl.h>

#include <cstring>
#include <string>
#endif

// A symbolic link made by QFile::link: on Windows that call makes a shell shortcut, a file of
// its own that nothing follows, so a case about links starts with
// VESTRAHAL_SKIP_WITHOUT_SYMBOLIC_LINKS().
#ifdef Q_OS_UNIX
#define VESTRAHAL_SKIP_WITHOUT_SYMBOLIC_LINKS() static_cast<void>(0)
#else
#define VESTRAHAL_SKIP_WITHOUT_SYMBOLIC_LINKS()                                                    \
    QSKIP("QFile::link makes a shortcut on this platform, not a symbolic link")
#endif

// A link at `link` to `target` as a player's own tools make one: a symbolic link on POSIX; on
// Windows a junction to a folder, or a symbolic link to a file (which Windows grants in Developer
// Mode or to an administrator). False when the system made none. A case that uses it starts with
// VESTRAHAL_SKIP_WITHOUT_REPARSE_POINTS().
inline bool makeLink(const QString& target, const QString& link) {
#ifdef Q_OS_WIN
    const std::wstring to =
        QDir::toNativeSeparators(QFileInfo(target).absoluteFilePath()).toStdWString();
    const std::wstring at = QDir::toNativeSeparators(link).toStdWString();
    if (QFileInfo(target).isDir()) {
        if (!CreateDirectoryW(at.c_str(), nullptr))
            return false;
        HANDLE folder =
            CreateFileW(at.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (folder == INVALID_HANDLE_VALUE)
            return false;
        // A mount point's reparse data (the layout of REPARSE_DATA_BUFFER, which the SDK keeps
        // in a driver header): the target as the system names it, then as shown, each ending
        // with a null.
        const std::wstring substitute = L"\\??\\" + to;
        const std::wstring names = substitute + L'\0' + to + L'\0';
        const WORD dataLength = WORD(4 * sizeof(WORD) + names.size() * sizeof(wchar_t));
        QByteArray data(int(8 + dataLength), '\0');
        const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
        const WORD fields[] = {dataLength,
                               0,
                               0,
                               WORD(substitute.size() * sizeof(wchar_t)),
                               WORD((substitute.size() + 1) * sizeof(wchar_t)),
                               WORD(to.size() * sizeof(wchar_t))};
        memcpy(data.data(), &tag, sizeof tag);
        memcpy(data.data() + sizeof tag, fields, sizeof fields);
        memcpy(data.data() + sizeof tag + sizeof fields, names.data(),
               names.size() * sizeof(wchar_t));
        DWORD returned = 0;
        const bool made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, data.data(),
                                          DWORD(data.size()), nullptr, 0, &returned, nullptr);
        CloseHandle(folder);
        if (!made) {
            RemoveDirectoryW(at.c_str());
            return false;
        }
    } else if (!CreateSymbolicLinkW(at.c_str(), to.c_str(),
                                    SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
        return false;
    }
    // Wine answers success and makes nothing: only the attribute tells.
    const DWORD attributes = GetFileAttributesW(at.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
#else
    return QFile::link(target, link);
#endif
}

// Wine 8.0 makes no reparse point: CreateSymbolicLinkW is a stub that answers success, and
// FSCTL_SET_REPARSE_POINT answers ERROR_NOT_SUPPORTED.
#define VESTRAHAL_SKIP_WITHOUT_REPARSE_POINTS()                                                    \
    do {                                                                                           \
        if (runningUnderWine())                                                                    \
            QSKIP("Wine 8.0 makes no reparse point: its CreateSymbolicLinkW is a stub "            \
                  "(https://gitlab.winehq.org/wine/wine/-/blob/wine-8.0/dlls/kernelbase/"          \
                  "file.c) and FSCTL_SET_REPARSE_POINT answers ERROR_NOT_SUPPORTED");              \
    } while (false)

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
