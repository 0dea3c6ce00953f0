// VestrahalWatcher.exe: what is left of the launcher while the game runs (see gamewatcher.h).
// The window starts it in the launcher's folder and asks it for the game over the folder's
// watcher socket; it reads no argument. Qt Core alone, so that it weighs next to nothing.
#include "gamewatcher.h"

#include <QCoreApplication>
#include <QDir>

#ifdef Q_OS_UNIX
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/syscall.h>
#endif

namespace {

// The window starts the watcher from a process full of the browser engine's descriptors (its
// sockets, its shared memory). Held here, and in the game after it, they would keep the engine's
// helper processes alive, and their memory taken, for as long as the game runs.
void closeInheritedDescriptors() {
#if defined(Q_OS_LINUX) && defined(SYS_close_range)
    if (::syscall(SYS_close_range, 3U, ~0U, 0U) == 0)
        return;
#endif
    const long last = ::sysconf(_SC_OPEN_MAX);
    for (long descriptor = 3; descriptor < (last > 0 ? last : 1024); ++descriptor)
        ::close(int(descriptor));
}

} // namespace
#endif

int main(int argc, char* argv[]) {
#ifdef Q_OS_UNIX
    closeInheritedDescriptors();
#endif
    QCoreApplication app(argc, argv);
    GameWatcher watcher(QDir::currentPath());
    // Another watcher holds the folder: the window that started this one hears nothing and
    // plays as before.
    if (!watcher.start())
        return 1;
    QObject::connect(&watcher, &GameWatcher::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    return app.exec();
}
