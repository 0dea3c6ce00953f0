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

private:
    NewsPage* news;
};
