#include "newsview.h"

#include "heaptrim.h"
#include "newspage.h"

#include <QTimer>

namespace {

// The renderer process ends at once; the engine lets go of the rest of what it kept for the page
// over the next moments. The freed memory is handed back twice: soon, and once the engine is
// surely done.
constexpr int kTrimDelaysMs[] = {1000, 5000};

} // namespace

NewsView::NewsView(QWidget* parent)
    : QWebEngineView(parent)
    , news(new NewsPage(this)) {
    setPage(news);
}

void NewsView::hideWhileLoading() {
    hide();
    if (!isResting())
        news->setVisible(true);
}

void NewsView::rest() {
    if (isResting())
        return;
    // The engine lets go of a page only when it is not shown, nor painted behind a hidden view.
    hide();
    news->setVisible(false);
    news->rest();
    for (const int delay : kTrimDelaysMs)
        QTimer::singleShot(delay, this, [] { heaptrim::returnFreeMemory(); });
}

void NewsView::wake(const QUrl& url) {
    // A load, not a return to the discarded page: the news may have changed during the game.
    if (isResting())
        news->setUrl(url);
}

bool NewsView::isResting() const {
    return news->isResting();
}
