#include "durablefile.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
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

} // namespace durablefile
