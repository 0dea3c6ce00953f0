// Preloaded into the real launcher by the kill tests, and built for them only: it kills the
// process with SIGKILL right before or right after one of the calls that move the launcher's
// files, as VESTRAHAL_KILL_AT says ("link:before", "rename:after"...). Only calls that name the
// launcher's executable count; every call goes on to the C library as usual.
#include <dlfcn.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool namesLauncher(const char* path) {
    return path && std::strstr(path, "VestrahalLauncher.exe");
}

void killIfAt(const char* call, const char* when) {
    const char* at = std::getenv("VESTRAHAL_KILL_AT");
    if (at && std::string(call) + ':' + when == at)
        std::raise(SIGKILL);
}

using TwoPaths = int (*)(const char*, const char*);

int around(const char* call, const char* from, const char* to) {
    const auto real = reinterpret_cast<TwoPaths>(dlsym(RTLD_NEXT, call));
    const bool ours = namesLauncher(to);
    if (ours)
        killIfAt(call, "before");
    const int result = real(from, to);
    if (ours)
        killIfAt(call, "after");
    return result;
}

} // namespace

extern "C" int link(const char* from, const char* to) {
    return around("link", from, to);
}

extern "C" int rename(const char* from, const char* to) {
    return around("rename", from, to);
}
