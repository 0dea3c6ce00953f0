#pragma once

namespace Ui {
class MainWindow;
}

// Names a screen reader can say for the controls whose face is an image, or whose text alone
// does not say what they act on. The realm buttons, the status line and the progress bar
// already speak through their own text and value.
void nameForScreenReaders(Ui::MainWindow* ui);
