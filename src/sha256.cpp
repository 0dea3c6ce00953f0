#include "sha256.h"

#include <QIODevice>

#include <sodium.h>

struct Sha256::State {
    crypto_hash_sha256_state sodium;
};

Sha256::Sha256()
    : state(new State) {
    // Sets libsodium up once per process; the hash itself needs nothing else of it.
    if (sodium_init() < 0) {
    }
    reset();
}

Sha256::~Sha256() = default;

void Sha256::reset() {
    crypto_hash_sha256_init(&state->sodium);
}

void Sha256::add(QByteArrayView bytes) {
    crypto_hash_sha256_update(&state->sodium, reinterpret_cast<const unsigned char*>(bytes.data()),
                              static_cast<unsigned long long>(bytes.size()));
}

QByteArray Sha256::hex() {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state->sodium, digest);
    return QByteArray(reinterpret_cast<const char*>(digest), sizeof digest).toHex();
}

QByteArray Sha256::ofDevice(QIODevice& device) {
    Sha256 hash;
    // Large reads, one buffer: the hash keeps up with the disk's cache.
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 read = device.read(buffer.data(), buffer.size());
        if (read < 0)
            return {};
        if (read == 0)
            break;
        hash.add(QByteArrayView(buffer.constData(), read));
    }
    return hash.hex();
}

QByteArray Sha256::of(QByteArrayView bytes) {
    Sha256 hash;
    hash.add(bytes);
    return hash.hex();
}

QByteArray Sha256::quickDigest(QByteArrayView bytes) {
    unsigned char digest[32];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(bytes.data()),
                       static_cast<unsigned long long>(bytes.size()), nullptr, 0);
    return QByteArray(reinterpret_cast<const char*>(digest), sizeof digest);
}
