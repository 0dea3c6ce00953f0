#pragma once

#include <QWebEngineView>

class NewsPage;

// The web view of the main window, showing its pages through a NewsPage from the start, so that
// the address the form gives it is already loaded by the page that delegates the links.
class NewsView : public QWebEngineView {
    Q_OBJECT
public:
    explicit NewsView(QWidget* parent = nullptr);

    NewsPage* newsPage() const { return news; }

    // Hides the view until its page has loaded. The page goes on laying out and painting
    // meanwhile, so that once shown it is on screen at once, instead of only then starting on
    // its first frame as a hidden page would.
    void hideWhileLoading();

    // Lets go of what the page holds while nobody looks at it (the game runs): its renderer
    // process ends, and the memory the engine and the allocator kept for it goes back to the
    // system. The view is hidden meanwhile; the page object stays, so asking it anything brings
    // nothing back.
    void rest();
    // Loads url into the resting page. The view stays hidden: whoever showed it after the first
    // load shows it after this one.
    void wake(const QUrl& url);
    bool isResting() const;

    // Gives the page the keyboard on one of its links: the first one whose address is link, or
    // with an empty address the page's first (last) control. The link takes the focus before the
    // view does, so that a screen reader hears the link, never the document around it first.
    void focusLink(const QUrl& link, bool last = false);
    // Gives the keyboard to the page as it is, its own focused element kept.
    void focusPage();

protected:
    // The launcher's own menu, in French whatever Qt's translations hold, with only what works
    // here: the engine's own offers saving and viewing the source, which the launcher has no
    // place for.
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    NewsPage* news;
};
