#include "updatesignature.h"

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

QByteArray signedUpdateMessage(const QString& version, const QByteArray& sha256Hex) {
    return "vestrahal-update\n" + version.toLatin1() + '\n' + sha256Hex + '\n';
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
