#pragma once

#include <QTest>
#include <QtGlobal>

// Files larger than the limit cannot be written while it is set: how a full disk looks to the
// launcher, and one way to make a write fail even for root. Only POSIX systems have such a limit:
// elsewhere a case that needs one starts with VESTRAHAL_SKIP_WITHOUT_FILE_SIZE_LIMIT().
#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>

#define VESTRAHAL_SKIP_WITHOUT_FILE_SIZE_LIMIT() static_cast<void>(0)

class FileSizeLimit {
public:
    explicit FileSizeLimit(quint64 bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = rlim_t(bytes);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved{};
};
#else
#define VESTRAHAL_SKIP_WITHOUT_FILE_SIZE_LIMIT()                                                   \
    QSKIP("no file-size limit on this platform to make a write fail part way")

// Never limits anything: a case that reaches it without the skip above fails.
class FileSizeLimit {
public:
    explicit FileSizeLimit(quint64) {
        QTest::qFail("no file-size limit on this platform: the case must skip", __FILE__, __LINE__);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
};
#endif
