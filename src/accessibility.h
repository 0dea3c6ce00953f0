#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class Config;
class QLabel;
class QWidget;
namespace Ui {
class MainWindow;
}

namespace accessibility {

// What a screen reader is told about the window, beyond what Qt says of each widget by itself:
// a realm button is one radio button (its status gem is no child of its own), the status line
// is a notification, and the options panel sits directly in the window, never inside the
// dimming overlay that carries it. Installed once for the whole program; a widget takes the
// launcher's description the first time a screen reader asks about it, so this comes before the
// form is built.
void install();

// The accessible name of the options panel, as a screen reader says it.
inline const QString kOptionsPanelName = QStringLiteral("Options du launcher");

// Tells screen readers a short text that the focused control's own change does not get across:
// Qt 6.4 tells a changed description without its text, and Orca then says nothing. A
// notification appearing is spoken, as the status line's are. The window's own, never shown.
void announce(QWidget* window, const QString& text);

} // namespace accessibility

// Names a screen reader can say for the controls whose face is an image, or whose text alone
// does not say what they act on. The realm buttons, the status line and the progress bar
// already speak through their own text and value.
void nameForScreenReaders(Ui::MainWindow* ui);

// The personal realms' rows of the options show each realm's host beside "Royaume N" (cut in
// the middle when long), and their controls say it to screen readers as their description.
void showPersonalRealmHosts(Ui::MainWindow* ui, const Config& config);

// Tells screen readers each new text of the status line, as Orca speaks a notification that
// appears: a text is told once it is on the screen, so what the player hears is what a sighted
// player reads, and texts that replace each other before the screen shows them are not told.
// Orca speaks only for the window in front: a text shown before the window is there is told
// when it comes.
class StatusAnnouncer : public QObject {
    Q_OBJECT
public:
    explicit StatusAnnouncer(QLabel* statusLine);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void announce();

    QPointer<QLabel> statusLine;
    QPointer<QWidget> window;
    QString lastAnnounced;
    bool pending = false;
};
