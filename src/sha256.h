#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

class QIODevice;

// SHA-256 through OpenSSL's libcrypto, which uses the processor's SHA instructions where it has
// them (about five times libsodium's portable code here): the game files and their objects are
// hashed with it, gigabytes at a time. hex() is empty when the library failed.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void reset();
    void add(QByteArrayView bytes);
    // Lowercase hex of what was added; the state is spent: reset() before adding again.
    QByteArray hex();

    // The hex hash of what the device reads until its end; empty when a read fails.
    static QByteArray ofDevice(QIODevice& device);
    static QByteArray of(QByteArrayView bytes);

    // BLAKE2b-256 (libsodium), about three times faster than SHA-256: the launcher's check that a
    // file of its own is the one it wrote, and that a list is the same as the last one.
    static QByteArray quickDigest(QByteArrayView bytes);

private:
    struct State;
    std::unique_ptr<State> state;
};
