#pragma once

#include <QByteArray>
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

// What the launcher makes of a new launcher's signature file.
struct ReleaseCheck {
    bool accepted = false;
    // Why it was refused, as the report says it ("not a signature", "does not verify"); empty
    // when the signature verified, including for a replayed release.
    QString problem;
    // The signature verified, but its sequence is not above the installed one.
    bool replayed = false;
    quint64 sequence = 0;
};

// Checks a signature file for the version's bytes (as the server sent them) and the executable's
// SHA-256, by the public key, against the sequence of the release installed last.
ReleaseCheck checkSignedRelease(const QByteArray& signatureFile, const QByteArray& version,
                                const QByteArray& sha256Hex, const QByteArray& publicKey,
                                quint64 installedSequence);
