#include "releasesequence.h"

#include "updatesignature.h"

#include <QFile>
#include <QSaveFile>

quint64 installedReleaseSequence(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // A sequence is at most twenty digits: anything longer is not one.
    QByteArray text = file.read(64).trimmed();
    quint64 sequence = 0;
    return parseReleaseSequence(text, &sequence) ? sequence : 0;
}

bool storeInstalledReleaseSequence(const QString& fileName, quint64 sequence) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray text = QByteArray::number(sequence) + '\n';
    return file.write(text) == text.size() && file.commit();
}
