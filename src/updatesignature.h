#pragma once

#include <QByteArray>
#include <QString>

// Signed releases: the community signs each new launcher with its Ed25519 key (RFC 8032, the
// pure variant), and a launcher built with the public key installs only what verifies with it.
// The signature binds the executable to the version it was published as, and to the place of
// that publication among the others: its release sequence, a number that grows with each one.

// The bytes that are signed: "vestrahal-update\n", the version text exactly as the server sends
// it, "\n", the lowercase hex SHA-256 of the executable, "\n", the sequence in decimal, "\n".
QByteArray signedUpdateMessage(const QByteArray& version, const QByteArray& sha256Hex,
                               quint64 sequence);

// A sequence as it is written: decimal digits, without sign or leading zero, that fit 64 bits.
bool parseReleaseSequence(const QByteArray& text, quint64* sequence);

// The signature file published beside an executable: the base64 signature on its first line,
// "sequence N" on its second. `valid` is false when the text is not laid out so.
struct SignatureFile {
    QByteArray signature; // the first line, without its line end
    quint64 sequence = 0;
    bool valid = false;
};
SignatureFile parseSignatureFile(const QByteArray& text);

// The public key from its base64 text (32 bytes); empty when the text is not one.
QByteArray decodePublicKey(const QByteArray& base64);

// Why a signature was not taken.
enum class SignatureVerdict { Valid, Malformed, Refused };

// Checks the text of a signature file: one line, the base64 text of a 64-byte signature, of the
// message, by the key.
SignatureVerdict verifyUpdateSignature(const QByteArray& signatureFile, const QByteArray& message,
                                       const QByteArray& publicKey);

// Whether libsodium could start; nothing verifies without it.
bool signaturesAvailable();
