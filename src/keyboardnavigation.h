#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

class NewsView;
class QAbstractButton;
class QFocusEvent;
class QKeyEvent;
class QMouseEvent;
class QPushButton;
class QWidget;
namespace Ui {
class MainWindow;
}

// Playing with the keyboard alone. The focus starts on the checked realm; Tab goes through the
// realms, "Jouer", the options button and the news page; the arrows go from realm to realm in
// the order of their indices, wrapping. Enter or Return does what the focused control does: on
// a realm it plays that realm, on "Jouer" the checked one, whenever "Jouer" could be clicked; on
// the options button it opens the options, in the news page it is the page's. A page shown in
// place has the keyboard, and Escape leaves it for the link that showed it. While the options
// panel is open, the keyboard stays inside it, Escape or a click beside it closes it, and
// closing it gives the focus back to the options button. Buttons that have the focus from the
// keyboard wear a frame that the mouse never shows.
class KeyboardNavigation : public QObject {
    Q_OBJECT
public:
    KeyboardNavigation(QWidget* window, Ui::MainWindow* ui, const QList<QWidget*>& realmButtons);

    // Where the focus goes when the window opens: the checked realm if it is shown.
    QWidget* startWidget() const;
    // The button that wears the focus frame, or null.
    QAbstractButton* framedButton() const;
    // The realm buttons were shown afresh: a focused realm is the checked one.
    void realmsRefreshed();

signals:
    // Escape on a page shown in place: the player wants the news home and the controls back.
    void newsHomeRequested();
    // Escape in the options panel, or a click beside it: closed as its "Sauvegarder" closes it,
    // the choices made in it being already made.
    void optionsCloseRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Each returns whether the key was used.
    bool onKeyPress(QWidget* widget, const QKeyEvent* key);
    bool onReturn(QWidget* focused);
    bool onArrow(QWidget* focused, int key);
    bool onEscape();
    void onMousePress(QObject* watched, const QMouseEvent* event);
    bool onNewsFocusIn(QObject* watched, const QFocusEvent* event);
    void onShow(QObject* watched);
    void onHide(QObject* watched);
    // The checked realm if it is shown, else null.
    QAbstractButton* checkedShownRealm() const;
    void agreeOnRealm(QWidget* focusedRealm);
    bool inNews(const QWidget* widget) const;
    // A page shown in place: the play and options buttons are hidden.
    bool controlsHidden() const;
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
    QPointer<NewsView> news;
    QPointer<QWidget> overlay;
    // The last link the page handed over, and the one that showed the page in place: Escape
    // goes back to it.
    QUrl lastLink;
    QUrl opener;
    QList<QPointer<QWidget>> panelChain;
    QPointer<QWidget> frame;
    QPointer<QAbstractButton> framed;
    // Like a browser's focus-visible: the last input was a key, not the mouse.
    bool keyboardInUse = false;
};
