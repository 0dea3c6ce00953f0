#pragma once

#include <QtGlobal>

class QIcon;
class QString;
class QWidget;

// Every picture of the launcher comes with a twin, NAME@2x.png, drawn at twice the pixels for
// screens at 125 % and more. Qt's style sheets load the twin on their own for background-image
// and image, but a border-image keeps its cuts in the pixels of whichever file it loaded: from
// the twin, the frame slices come out half as wide as the sheet means and the frame is warped.

// The window icon at 128 and 256 pixels, whatever screen the launcher starts on.
QIcon launcherIcon();

// The sheet with each sliced border-image naming its twin outright, at cuts twice as large,
// when pictures are shown at more than one device pixel per pixel. Unsliced border-images, the
// pictures without a twin and every sheet at a ratio of 1 stay as written.
QString sheetForDensity(const QString& sheet, qreal devicePixelRatio);

// Gives the window its icon and fits the sheets of the window and its widgets to the densest
// screen of the system.
void useHighDensityImages(QWidget* window);
