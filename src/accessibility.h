#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QLabel;
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

} // namespace accessibility

// Names a screen reader can say for the controls whose face is an image, or whose text alone
// does not say what they act on. The realm buttons, the status line and the progress bar
// already speak through their own text and value.
void nameForScreenReaders(Ui::MainWindow* ui);

// Tells screen readers each new text of the status line, as Orca speaks a notification that
// appears: a text is told once it is on the screen, so what the player hears is what a sighted
// player reads, and texts that replace each other before the screen shows them are not told.
class StatusAnnouncer : public QObject {
    Q_OBJECT
public:
    explicit StatusAnnouncer(QLabel* statusLine);

    // The last text told, empty before the first.
    QString announced() const { return lastAnnounced; }

signals:
    void announcedText(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void announce();

    QPointer<QLabel> statusLine;
    QString lastAnnounced;
    bool pending = false;
};
