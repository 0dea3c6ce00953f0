#include "processwatch.h"

#include <QTimer>

#if defined(Q_OS_WIN)
#include <QWinEventNotifier>
#include <qt_windows.h>
#elif defined(Q_OS_LINUX)
#include <QSocketNotifier>

#include <cerrno>
#include <sys/syscall.h>
#include <unistd.h>
#endif
#ifdef Q_OS_UNIX
#include <csignal>
#endif

struct ProcessWatch::Handle {
#if defined(Q_OS_WIN)
    HANDLE process = nullptr;
    QWinEventNotifier* notifier = nullptr;
#elif defined(Q_OS_LINUX)
    int pidfd = -1;
    QSocketNotifier* notifier = nullptr;
#endif
};

ProcessWatch::ProcessWatch(qint64 processId, QObject* parent)
    : QObject(parent)
    , handle(std::make_unique<Handle>()) {
#if defined(Q_OS_WIN)
    handle->process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(processId));
    if (handle->process) {
        handle->notifier = new QWinEventNotifier(handle->process, this);
        connect(handle->notifier, &QWinEventNotifier::activated, this, &ProcessWatch::end);
        return;
    }
#elif defined(Q_OS_LINUX)
    handle->pidfd = int(::syscall(SYS_pidfd_open, pid_t(processId), 0));
    if (handle->pidfd >= 0) {
        // Readable once the process has ended.
        handle->notifier = new QSocketNotifier(qintptr(handle->pidfd), QSocketNotifier::Read, this);
        connect(handle->notifier, &QSocketNotifier::activated, this, &ProcessWatch::end);
        return;
    }
    // A kernel older than 5.3 has no pidfd: looked at below, as on other systems.
    if (errno == ESRCH)
        processId = 0;
#endif
#ifdef Q_OS_UNIX
    if (processId > 0 && (::kill(pid_t(processId), 0) == 0 || errno == EPERM)) {
        auto* look = new QTimer(this);
        connect(look, &QTimer::timeout, this, [this, processId] {
            if (::kill(pid_t(processId), 0) != 0 && errno == ESRCH)
                end();
        });
        look->start(500);
        return;
    }
#endif
    // Gone already, or never known: told as an end, once the caller is listening.
    QMetaObject::invokeMethod(this, &ProcessWatch::end, Qt::QueuedConnection);
}

ProcessWatch::~ProcessWatch() {
    // The notifier, a child, goes after the handle it watched: it must not watch it meanwhile.
#if defined(Q_OS_WIN)
    if (handle->notifier)
        handle->notifier->setEnabled(false);
    if (handle->process)
        CloseHandle(handle->process);
#elif defined(Q_OS_LINUX)
    if (handle->notifier)
        handle->notifier->setEnabled(false);
    if (handle->pidfd >= 0)
        ::close(handle->pidfd);
#endif
}

void ProcessWatch::end() {
    if (told)
        return;
    told = true;
    // A handle that has ended stays signalled: nothing more is to be heard from it.
#if defined(Q_OS_WIN) || defined(Q_OS_LINUX)
    if (handle->notifier)
        handle->notifier->setEnabled(false);
#endif
    for (QTimer* look : findChildren<QTimer*>())
        look->stop();
    emit ended();
}
