#pragma once

#include <QByteArrayList>
#include <QTest>
#include <QtGlobal>

// The test executables that link offlinenames.cpp answer every name lookup themselves: a name
// that is not an address literal or "localhost" is not found, at once, and no name server is
// ever asked. "Host not found" can then be seen with no network at all, and nothing a test does
// reaches a real server by its name.

// Only where the C library's getaddrinfo can be replaced from the executable (Linux, glibc): a
// case that needs the refusal starts with VESTRAHAL_SKIP_WITHOUT_OFFLINE_NAMES(); elsewhere a
// lookup would go out to the network, so such a case is skipped, never run.
#if defined(Q_OS_LINUX)
inline constexpr bool kOfflineNameLookups = true;
#define VESTRAHAL_SKIP_WITHOUT_OFFLINE_NAMES() static_cast<void>(0)
#else
inline constexpr bool kOfflineNameLookups = false;
#define VESTRAHAL_SKIP_WITHOUT_OFFLINE_NAMES()                                                     \
    QSKIP("name lookups cannot be answered inside the test process on this platform")
#endif

// The names refused so far, in the order they were asked for.
QByteArrayList refusedNameLookups();
void clearRefusedNameLookups();
