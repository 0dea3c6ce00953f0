#include "newsview.h"

#include "newspage.h"

NewsView::NewsView(QWidget* parent)
    : QWebEngineView(parent)
    , news(new NewsPage(this)) {
    setPage(news);
}
