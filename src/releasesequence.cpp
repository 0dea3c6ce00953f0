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

ReleaseCheck checkSignedRelease(const QByteArray& signatureFile, const QByteArray& version,
                                const QByteArray& sha256Hex, const QByteArray& publicKey,
                                quint64 installedSequence) {
    ReleaseCheck check;
    const SignatureFile file = parseSignatureFile(signatureFile);
    if (!file.valid) {
        check.problem = QStringLiteral("not a signature");
        return check;
    }
    check.sequence = file.sequence;
    switch (verifyUpdateSignature(
        file.signature, signedUpdateMessage(version, sha256Hex, file.sequence), publicKey)) {
    case SignatureVerdict::Valid:
        break;
    case SignatureVerdict::Malformed:
        check.problem = QStringLiteral("not a signature");
        return check;
    case SignatureVerdict::Refused:
        check.problem = QStringLiteral("does not verify");
        return check;
    }
    // Only once it is known to be the community's own: a forged sequence says nothing.
    check.replayed = file.sequence <= installedSequence;
    check.accepted = !check.replayed;
    return check;
}
