#include "foldersocket.h"

#include "buildoptions.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace {

// A Unix socket's path must fit its address (108 bytes with its end on Linux, 104 on macOS).
constexpr qsizetype kLongestSocketPath = 100;

} // namespace

namespace foldersocket {

QString name(const QString& folder, const QString& socketFile, const QString& prefix) {
    const QFileInfo info(folder);
    const QString canonical = info.canonicalFilePath();
    const QString path = canonical.isEmpty() ? info.absoluteFilePath() : canonical;
#ifdef Q_OS_UNIX
    if (vestrahal::kPackaged) {
        const QString socket = path + QLatin1Char('/') + socketFile;
        if (QFile::encodeName(socket).size() <= kLongestSocketPath)
            return socket;
    }
#else
    Q_UNUSED(socketFile);
#endif
    // Local server names are short on some systems and must not hold path separators.
    return prefix +
           QString::fromLatin1(QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256)
                                   .toHex()
                                   .left(32));
}

} // namespace foldersocket
