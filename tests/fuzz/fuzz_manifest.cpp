// libFuzzer target: any bytes as a game-files manifest. What parse() takes has only paths that
// pathProblem() takes, no two equal without regard to case, and sizes and hashes of the format;
// mirrors that mirrorProblem() takes, each once, no more than the most a list may name.
#include "gamemanifest.h"

#include <QSet>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    gamemanifest::Manifest manifest;
    QString problem;
    if (!gamemanifest::parse(bytes, &manifest, &problem)) {
        if (problem.isEmpty())
            fail("refused without a reason");
        return 0;
    }
    QSet<QString> names;
    const auto check = [&](const QString& path, const QByteArray& sha256) {
        if (!gamemanifest::pathProblem(path).isEmpty())
            fail("a refused path was taken");
        if (sha256.size() != 64)
            fail("a hash of another length was taken");
        const QString folded = path.toCaseFolded();
        if (names.contains(folded))
            fail("a path was taken twice");
        names.insert(folded);
    };
    for (const auto& file : manifest.files) {
        if (file.size < 0)
            fail("a negative size was taken");
        check(file.path, file.sha256);
    }
    for (const auto& gone : manifest.removed)
        check(gone.path, gone.sha256);
    if (manifest.mirrors.size() > gamemanifest::kMaxMirrors)
        fail("more mirrors than a list may name were taken");
    for (const QString& mirror : manifest.mirrors) {
        if (!gamemanifest::mirrorProblem(mirror).isEmpty())
            fail("a refused mirror was taken");
        if (manifest.mirrors.count(mirror) != 1)
            fail("a mirror was taken twice");
    }
    return 0;
}
