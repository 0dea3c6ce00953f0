#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QAbstractButton;
class QPushButton;
class QWidget;
namespace Ui {
class MainWindow;
}

// Playing with the keyboard alone. The focus starts on the checked realm; Tab goes through the
// realms, "Jouer", the options button and the news page; Enter or Return plays whenever
// "Jouer" could be clicked. While the options panel is open, the keyboard stays inside it.
// Buttons that have the focus from the keyboard wear a frame that the mouse never shows.
class KeyboardNavigation : public QObject {
    Q_OBJECT
public:
    KeyboardNavigation(QWidget* window, Ui::MainWindow* ui, const QList<QWidget*>& realmButtons);

    // Where the focus goes when the window opens: the checked realm if it is shown.
    QWidget* startWidget() const;
    // The button that wears the focus frame, or null.
    QAbstractButton* framedButton() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onReturn();
    void onFocusChanged(QWidget* old, QWidget* now);
    bool panelOpen() const;
    bool inPanelChain(QObject* object) const;
    QList<QWidget*> panelStops() const;
    void cyclePanel(bool forward);
    void showFrame(QWidget* focused);
    void placeFrame();

    // Guarded: the window's widgets go before this object does, and focus still moves
    // while they go.
    QPointer<QWidget> window;
    QList<QPointer<QWidget>> realms;
    QPointer<QWidget> jouer;
    QPointer<QWidget> options;
    QPointer<QWidget> panel;
    QList<QPointer<QWidget>> panelChain;
    QPointer<QWidget> frame;
    QPointer<QAbstractButton> framed;
    // Like a browser's focus-visible: the last input was a key, not the mouse.
    bool keyboardInUse = false;
};
