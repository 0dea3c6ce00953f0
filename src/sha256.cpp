#include "sha256.h"

#include <QIODevice>

#include <openssl/evp.h>
#include <sodium.h>

struct Sha256::State {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    // A failed step of the library (out of memory) spoils the hash: hex() then gives nothing,
    // which matches no listed hash.
    bool sound = false;
    ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256()
    : state(new State) {
    reset();
}

Sha256::~Sha256() = default;

void Sha256::reset() {
    // OpenSSL's own SHA-256 uses the processor's SHA instructions where it has them: several
    // times the speed of portable code, which the game files' gigabytes need.
    state->sound = state->context && EVP_DigestInit_ex(state->context, EVP_sha256(), nullptr) == 1;
}

void Sha256::add(QByteArrayView bytes) {
    if (state->sound && !bytes.isEmpty())
        state->sound = EVP_DigestUpdate(state->context, bytes.data(), size_t(bytes.size())) == 1;
}

QByteArray Sha256::hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool sound =
        state->sound && EVP_DigestFinal_ex(state->context, digest, &length) == 1 && length == 32;
    state->sound = false;
    if (!sound)
        return {};
    return QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex();
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
    // Sets libsodium up once per process (its fastest code for this processor).
    static const bool ready = sodium_init() >= 0;
    Q_UNUSED(ready);
    unsigned char digest[32];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(bytes.data()),
                       static_cast<unsigned long long>(bytes.size()), nullptr, 0);
    return QByteArray(reinterpret_cast<const char*>(digest), sizeof digest);
}
