#include "updatesignature.h"

#include <QList>

#include <sodium.h>

namespace {

// Strict base64: what does not decode whole is not a key or a signature.
QByteArray fromBase64(const QByteArray& text, qsizetype size) {
    const auto decoded =
        QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != size)
        return {};
    return decoded.decoded;
}

} // namespace

QByteArray signedUpdateMessage(const QByteArray& version, const QByteArray& sha256Hex,
                               quint64 sequence) {
    return "vestrahal-update\n" + version + '\n' + sha256Hex + '\n' + QByteArray::number(sequence) +
           '\n';
}

bool parseReleaseSequence(const QByteArray& text, quint64* sequence) {
    // One way to write each number: the signed message holds the number's own digits.
    if (text.isEmpty() || text.size() > 20 || (text.size() > 1 && text.startsWith('0')))
        return false;
    for (const char digit : text) {
        if (digit < '0' || digit > '9')
            return false;
    }
    bool ok = false;
    const quint64 value = text.toULongLong(&ok, 10);
    if (!ok)
        return false;
    *sequence = value;
    return true;
}

SignatureFile parseSignatureFile(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\n');
    // The file ends with its last line's line end, or without one.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    SignatureFile file;
    if (lines.size() != 2)
        return file;
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    const QByteArray prefix = "sequence ";
    if (!lines[1].startsWith(prefix) ||
        !parseReleaseSequence(lines[1].mid(prefix.size()), &file.sequence))
        return file;
    file.signature = lines[0];
    // A line end is CR LF at most: a CR left in the line is no part of a signature.
    file.valid = !file.signature.isEmpty() && !file.signature.contains('\r');
    return file;
}

QByteArray decodePublicKey(const QByteArray& base64) {
    return fromBase64(base64.trimmed(), crypto_sign_PUBLICKEYBYTES);
}

SignatureVerdict verifyUpdateSignature(const QByteArray& signatureFile, const QByteArray& message,
                                       const QByteArray& publicKey) {
    // One line: its line end, if any, is not part of the text.
    QByteArray line = signatureFile;
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    const QByteArray signature = fromBase64(line, crypto_sign_BYTES);
    if (signature.isEmpty() || publicKey.size() != crypto_sign_PUBLICKEYBYTES)
        return SignatureVerdict::Malformed;
    if (!signaturesAvailable())
        return SignatureVerdict::Refused;
    const int verified =
        crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.constData()),
                                    reinterpret_cast<const unsigned char*>(message.constData()),
                                    static_cast<unsigned long long>(message.size()),
                                    reinterpret_cast<const unsigned char*>(publicKey.constData()));
    return verified == 0 ? SignatureVerdict::Valid : SignatureVerdict::Refused;
}

bool signaturesAvailable() {
    return sodium_init() >= 0;
}
