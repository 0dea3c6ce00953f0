#pragma once

#include <QByteArray>
#include <QString>

// Signed releases: the community signs each new launcher with its Ed25519 key (RFC 8032, the
// pure variant), and a launcher built with the public key installs only what verifies with it.
// The signature binds the executable to the version it was published as.

// The bytes that are signed: "vestrahal-update\n", the version text, "\n", the lowercase hex
// SHA-256 of the executable, "\n".
QByteArray signedUpdateMessage(const QString& version, const QByteArray& sha256Hex);

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
