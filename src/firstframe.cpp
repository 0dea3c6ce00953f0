#include "firstframe.h"

#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace {

// Long enough for any first frame, short enough that a window started minimised is not held.
constexpr int kLongestFirstFrameMs = 1000;

class FirstFrameWatcher : public QObject {
public:
    FirstFrameWatcher(QWidget* window, std::function<void()> work)
        : QObject(window)
        , window(window)
        , work(std::move(work)) {
        window->installEventFilter(this);
        QTimer::singleShot(0, this, [this] {
            if (!this->window->isVisible())
                run();
        });
        QTimer::singleShot(kLongestFirstFrameMs, this, &FirstFrameWatcher::run);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Posted from inside the paint: it runs once the frame has been handed to the screen.
        if (watched == window && event->type() == QEvent::Paint)
            QTimer::singleShot(0, this, &FirstFrameWatcher::run);
        return QObject::eventFilter(watched, event);
    }

private:
    void run() {
        if (done)
            return;
        done = true;
        window->removeEventFilter(this);
        work();
        deleteLater();
    }

    QWidget* window;
    std::function<void()> work;
    bool done = false;
};

} // namespace

void afterFirstFrame(QWidget* window, std::function<void()> work) {
    new FirstFrameWatcher(window, std::move(work));
}
