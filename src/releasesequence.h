#pragma once

#include <QString>

// The sequence of the release the launcher last installed, kept beside launcher.conf: a signed
// release is installed only when its sequence is greater, so that an older release, however
// genuinely signed, cannot be served again in place of a newer one.
inline QString releaseSequenceFileName() {
    return QStringLiteral("launcher.sequence");
}

// The stored sequence; 0 when there is none (a launcher that never installed a signed release)
// or when the file holds no sequence.
quint64 installedReleaseSequence(const QString& fileName);

// Replaces the stored sequence, whole or not at all. False: nothing was changed.
bool storeInstalledReleaseSequence(const QString& fileName, quint64 sequence);
