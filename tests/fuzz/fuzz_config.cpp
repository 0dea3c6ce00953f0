// libFuzzer target: launcher.conf as any bytes. Whatever a file holds, reading it must not crash,
// and what a save then writes must read back as the same settings and be written again
// byte for byte.
#include "config.h"

#include <QBuffer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void readFrom(Config& config, const QByteArray& bytes, bool mustSucceed) {
    QBuffer in;
    in.setData(bytes);
    in.open(QIODevice::ReadOnly);
    if (!config.read(in) && mustSucceed) {
        std::fprintf(stderr, "a saved file did not read back\n");
        std::abort();
    }
}

bool sameSettings(const Config& a, const Config& b) {
    return a.wotlkEnabled == b.wotlkEnabled && a.wotlkPath == b.wotlkPath &&
           a.cataEnabled == b.cataEnabled && a.cataPath == b.cataPath &&
           a.selectedRealm == b.selectedRealm && a.realmHosts == b.realmHosts &&
           a.realmWotlk == b.realmWotlk && a.version == b.version;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    Config first;
    readFrom(first, bytes, false);
    const QByteArray saved = first.serialized();

    Config second;
    readFrom(second, saved, true);
    if (!sameSettings(first, second)) {
        std::fprintf(stderr, "the settings changed on their way through the file\n");
        std::abort();
    }
    if (second.serialized() != saved) {
        std::fprintf(stderr, "a second save wrote other bytes\n");
        std::abort();
    }
    return 0;
}
