#pragma once

#include <functional>

class QWidget;

// Runs work from the event loop once the window's first frame has been painted, so that the
// frame does not wait for what the player cannot see yet. A window that is not shown when the
// event loop first turns (a window built and never shown) gets its work then: nothing waits on a
// frame that may never come. A shown window that paints nothing within a moment (started
// minimised) gets it then too.
void afterFirstFrame(QWidget* window, std::function<void()> work);
