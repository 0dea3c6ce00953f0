// Starts a program and watches it from the X server only, so that the launcher, which must not be
// instrumented, and the bare view are timed by exactly the same method.
//   window_probe TIMEOUT_SECONDS [--end GAME_RECORD] -- PROGRAM [ARGS...]
// Prints "probe t0 MS" (the steady clock, taken just before the fork), "probe pid PID", then
// "probe shown MS" and "probe loaded MS" counted from t0, or "probe timeout" / "probe exited".
// It then stays the program's parent, and the subreaper of whatever the program leaves running
// (the launcher's watcher, and the launcher that watcher starts again), so that the caller can
// sample them all. At SIGUSR1 it takes its mark and watches again: "probe reshown MS" once a main
// window of the program or of a process under the probe is on screen (at once when the program's
// window stayed), "probe again MS" once the news page is back in it. With --end, the mark is the
// game's end: the probe reads the game's process id from GAME_RECORD (the first "pid": N in it),
// asks it to end (SIGTERM) and takes the moment the system reports it gone (a pidfd), printing
// "probe ending MS" then "probe mark MS"; whatever the launcher does about that end comes after
// the mark. Without it, "probe mark MS" is the moment the signal was seen.
// It stops at SIGTERM or SIGINT: then it closes the window it watches as a player would, which
// lets its program end its helper processes itself, kills the program only if it is still there
// 10 s later, and waits up to 5 s more for the rest.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
volatile std::sig_atomic_t markRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

void requestMark(int) {
    markRequested = 1;
}

double nowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// A window can go away between listing it and asking about it; that is no reason to stop.
int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

long windowPid(Display* display, Window window, Atom pidAtom) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) == Success &&
        data) {
        // Xlib hands 32-bit properties back as longs.
        if (type == XA_CARDINAL && format == 32 && count == 1)
            pid = *reinterpret_cast<long*>(data);
        XFree(data);
    }
    return pid;
}

// Matched by owner rather than title: a page may retitle its view. The size rules out the
// small helper windows a toolkit maps. The bench's X server runs no window manager, so top-level
// windows are the root's own children.
Window findMainWindow(Display* display, const std::function<bool(long)>& owner, Atom pidAtom) {
    Window root = DefaultRootWindow(display), parent, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count))
        return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, children[i], &attributes) &&
            attributes.map_state == IsViewable && attributes.width >= 640 &&
            attributes.height >= 480 && owner(windowPid(display, children[i], pidAtom)))
            found = children[i];
    }
    if (children)
        XFree(children);
    return found;
}

long parentOf(long pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    FILE* stat = std::fopen(path, "r");
    if (!stat)
        return 0;
    char line[1024] = {};
    const size_t read = std::fread(line, 1, sizeof line - 1, stat);
    std::fclose(stat);
    const std::string text(line, read);
    const size_t close = text.rfind(')');
    return close == std::string::npos ? 0 : std::atol(text.c_str() + close + 4);
}

// Whether a process runs under the probe: the program, or what it left to the probe.
bool underProbe(long pid) {
    const long probe = long(getpid());
    for (int depth = 0; pid > 1 && depth < 64; ++depth) {
        pid = parentOf(pid);
        if (pid == probe)
            return true;
    }
    return false;
}

bool viewable(Display* display, Window window) {
    XWindowAttributes attributes;
    return window && XGetWindowAttributes(display, window, &attributes) &&
           attributes.map_state == IsViewable;
}

int channel(unsigned long pixel, unsigned long mask) {
    return mask ? int((pixel & mask) >> __builtin_ctzl(mask)) : 0;
}

bool near(XImage* image, int x, int y, int r, int g, int b, int tolerance) {
    const unsigned long pixel = XGetPixel(image, x, y);
    return std::abs(channel(pixel, image->red_mask) - r) <= tolerance &&
           std::abs(channel(pixel, image->green_mask) - g) <= tolerance &&
           std::abs(channel(pixel, image->blue_mask) - b) <= tolerance;
}

// The news page as it looks whatever the fonts: its first article's #974d17 left border runs
// down x = 26 from about y = 95 to 420, and the articles are near black inside, below their text.
// Neither the launcher's background picture nor a view that has painted nothing yet looks so.
bool newsShown(Display* display, Window window) {
    const int left = 20, top = 150, width = 12, height = 251;
    XImage* strip = XGetImage(display, window, left, top, width, height, AllPlanes, ZPixmap);
    if (!strip)
        return false;
    bool shown = true;
    for (int y = 0; y < height && shown; y += 50) {
        bool border = false;
        for (int x = 0; x < width && !border; ++x)
            border = near(strip, x, y, 0x97, 0x4d, 0x17, 32);
        shown = border;
    }
    XDestroyImage(strip);
    const int insides[][2] = {{150, 340}, {400, 340}, {650, 340}};
    for (const auto& point : insides) {
        if (!shown)
            break;
        XImage* pixel = XGetImage(display, window, point[0], point[1], 1, 1, AllPlanes, ZPixmap);
        shown = pixel && near(pixel, 0, 0, 0x14, 0x0c, 0x08, 40);
        if (pixel)
            XDestroyImage(pixel);
    }
    return shown;
}

void closeWindow(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

// The first "pid": N of a game's record, 0 when there is none.
long recordedPid(const char* record) {
    FILE* file = std::fopen(record, "r");
    if (!file)
        return 0;
    char text[4096] = {};
    const size_t read = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    const std::string content(text, read);
    const size_t key = content.find("\"pid\"");
    if (key == std::string::npos)
        return 0;
    const size_t digits = content.find_first_of("0123456789", key);
    return digits == std::string::npos ? 0 : std::atol(content.c_str() + digits);
}

// Ends the game and waits, without polling, until the system has it gone: true once it is.
// Nobody else is told anything sooner than that moment, which makes it the game's end.
bool endGame(long pid) {
    const int pidfd = int(syscall(SYS_pidfd_open, pid_t(pid), 0));
    if (pidfd < 0)
        return false;
    bool gone = false;
    if (kill(pid_t(pid), SIGTERM) == 0) {
        pollfd exited{pidfd, POLLIN, 0};
        for (;;) {
            const int ready = poll(&exited, 1, 30000);
            if (ready < 0 && errno == EINTR)
                continue;
            gone = ready > 0;
            break;
        }
    }
    close(pidfd);
    return gone;
}

bool exitedWithin(pid_t pid, int milliseconds) {
    int status;
    for (int waited = 0; waited < milliseconds; waited += 10) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return true;
        usleep(10000);
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    const char* gameRecord = nullptr;
    int command = 3;
    if (argc >= 6 && std::string_view(argv[2]) == "--end") {
        gameRecord = argv[3];
        command = 5;
    }
    if (argc <= command || std::string_view(argv[command - 1]) != "--") {
        std::fprintf(
            stderr,
            "usage: window_probe TIMEOUT_SECONDS [--end GAME_RECORD] -- PROGRAM [ARGS...]\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "window_probe: cannot open the X display\n");
        return 2;
    }
    XSetErrorHandler(ignoreErrors);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    const double deadline = std::atof(argv[1]) * 1e3;
    // The exec resets these in the program.
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    action.sa_handler = requestMark;
    sigaction(SIGUSR1, &action, nullptr);

    // The engine's helper processes outlive the program by a moment: as their subreaper, the
    // probe collects them, rather than leaving that to whatever init there is.
    prctl(PR_SET_CHILD_SUBREAPER, 1);

    const double t0 = nowMs();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[command], argv + command);
        _exit(127);
    }
    std::printf("probe t0 %.3f\nprobe pid %d\n", t0, int(pid));
    std::fflush(stdout);

    Window window = 0;
    int status = 0;
    while (!stopRequested) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::printf("probe exited\n");
            return 1;
        }
        const double elapsed = nowMs() - t0;
        if (elapsed > deadline) {
            std::printf("probe timeout\n");
            break;
        }
        if (!window) {
            window = findMainWindow(
                display, [pid](long owner) { return owner == long(pid); }, pidAtom);
            if (window)
                std::printf("probe shown %.1f\nprobe window 0x%lx\n", nowMs() - t0, window);
        } else if (newsShown(display, window)) {
            std::printf("probe loaded %.1f\n", nowMs() - t0);
            break;
        }
        std::fflush(stdout);
        // Often enough to time to a few milliseconds, seldom enough not to compete for the CPU.
        usleep(3000);
    }
    std::fflush(stdout);

    // The program may end while the game runs (a launcher that leaves a watcher behind): the
    // probe stays, collecting what ends under it, until it is told to stop.
    bool exited = false;
    bool watching = false;
    bool reshown = false;
    while (!stopRequested) {
        if (markRequested) {
            markRequested = 0;
            if (gameRecord) {
                const long game = recordedPid(gameRecord);
                std::printf("probe ending %.1f\n", nowMs() - t0);
                if (game <= 0 || !endGame(game)) {
                    std::printf("probe unended\n");
                    std::fflush(stdout);
                    continue;
                }
            }
            watching = true;
            reshown = false;
            std::printf("probe mark %.1f\n", nowMs() - t0);
        }
        if (watching && !reshown) {
            if (!viewable(display, window))
                window = findMainWindow(display, underProbe, pidAtom);
            if (viewable(display, window)) {
                reshown = true;
                std::printf("probe reshown %.1f\n", nowMs() - t0);
            }
        }
        if (watching && reshown && newsShown(display, window)) {
            watching = false;
            std::printf("probe again %.1f\n", nowMs() - t0);
        }
        std::fflush(stdout);
        for (pid_t ended; (ended = waitpid(-1, &status, WNOHANG)) > 0;)
            exited = exited || ended == pid;
        usleep(watching ? 3000 : 10000);
    }
    if (viewable(display, window))
        closeWindow(display, window);
    else if (!exited)
        kill(pid, SIGTERM);
    if (!exited && !exitedWithin(pid, 10000)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    for (int waited = 0; waited < 5000 && waitpid(-1, &status, WNOHANG) != -1; waited += 10)
        usleep(10000);
    XCloseDisplay(display);
    return 0;
}
