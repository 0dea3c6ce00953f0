#include "offlinenames.h"

#include <QHostAddress>
#include <QMutex>

#ifdef Q_OS_LINUX
#include <dlfcn.h>
#include <netdb.h>
#endif

namespace {

QMutex refusedLock;
QByteArrayList refused;

[[maybe_unused]] bool answeredLocally(const char* node) {
    if (!node)
        return true;
    const QByteArray name(node);
    return name == "localhost" || !QHostAddress(QString::fromLatin1(name)).isNull();
}

} // namespace

QByteArrayList refusedNameLookups() {
    QMutexLocker locker(&refusedLock);
    return refused;
}

void clearRefusedNameLookups() {
    QMutexLocker locker(&refusedLock);
    refused.clear();
}

#ifdef Q_OS_LINUX
// Takes the place of the C library's lookup for the whole test process, Qt's lookups included.
extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
    if (!answeredLocally(node)) {
        QMutexLocker locker(&refusedLock);
        refused.append(node);
        return EAI_NONAME;
    }
    using Lookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto next = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return next(node, service, hints, result);
}
#endif
