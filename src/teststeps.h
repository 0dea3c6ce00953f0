#pragma once

// The points between two steps of the game files' work on the disk (a folder made, a part file
// opened, a part about to take its name, a removed file hashed) where the test build plants a
// link, to show that nothing after it goes through. The program itself has no such point: the
// macro is nothing there.
#ifdef VESTRAHAL_TEST_STEPS
#include <QString>
namespace teststeps {
// Defined by the suite that builds the engine with the steps.
void reached(const char* step, const QString& path);
} // namespace teststeps
#define VESTRAHAL_STEP(step, path) teststeps::reached(step, path)
#else
#define VESTRAHAL_STEP(step, path) static_cast<void>(0)
#endif
