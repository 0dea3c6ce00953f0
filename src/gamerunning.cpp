#include "gamerunning.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace gamerunning {

#ifdef Q_OS_LINUX

namespace {

struct Program {
    dev_t device;
    ino_t inode;
    QByteArray path;
};

// "08:01 1234 /path": the device and the inode that /proc/PID/maps gives each mapped file.
bool mapsOne(const QByteArray& maps, const std::vector<Program>& programs) {
    for (const QByteArray& line : maps.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6)
            continue;
        const QList<QByteArray> device = fields.at(3).split(':');
        bool number = false;
        const qulonglong inode = fields.at(4).toULongLong(&number);
        if (!number || inode == 0 || device.size() != 2)
            continue;
        const dev_t id =
            makedev(device.at(0).toUInt(nullptr, 16), device.at(1).toUInt(nullptr, 16));
        for (const Program& program : programs) {
            if (program.inode == ino_t(inode) && program.device == id)
                return true;
        }
    }
    return false;
}

} // namespace

bool runsFrom(const QString& folder) {
    std::vector<Program> programs;
    for (const char* name : {"Wow.exe", "brontavale.exe"}) {
        const QByteArray path = QFile::encodeName(QDir(folder).filePath(QString::fromLatin1(name)));
        struct stat buffer;
        if (::stat(path.constData(), &buffer) == 0)
            programs.push_back({buffer.st_dev, buffer.st_ino, path});
    }
    if (programs.empty())
        return false;
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : processes) {
        if (pid.isEmpty() || !pid.at(0).isDigit())
            continue;
        const QByteArray base = "/proc/" + pid.toLatin1();
        struct stat program;
        if (::stat((base + "/exe").constData(), &program) == 0) {
            for (const Program& known : programs) {
                if (known.device == program.st_dev && known.inode == program.st_ino)
                    return true;
            }
        }
        QFile maps(QString::fromLatin1(base + "/maps"));
        if (maps.open(QIODevice::ReadOnly) && mapsOne(maps.readAll(), programs))
            return true;
    }
    return false;
}

#else

bool runsFrom(const QString&) {
    return false;
}

#endif

} // namespace gamerunning
