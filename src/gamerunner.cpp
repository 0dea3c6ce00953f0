#include "buildoptions.h"
#include "gamefolder.h"

// Alone in its unit so that a build's choice of runner is read in one place, and the tests can
// link a unit of the same source built with a runner of their own.
QString gamefolder::gameRunner() {
    return QString::fromUtf8(vestrahal::kGameRunner);
}
