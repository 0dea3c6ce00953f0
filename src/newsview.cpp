#include "newsview.h"

#include "heaptrim.h"
#include "newslinks.h"
#include "newspage.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFocusEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWebEngineContextMenuRequest>
#include <QWebEngineHistory>
#include <QWebEngineScript>

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

void NewsView::focusLink(const QUrl& link, bool last) {
    // The address as a script's string, quoted by the JSON writer.
    const QByteArray address =
        QJsonDocument(QJsonArray{link.isEmpty() ? QString() : link.toString(QUrl::FullyEncoded)})
            .toJson(QJsonDocument::Compact);
    const QString script =
        QStringLiteral(
            "(function(address, last) {"
            " const stops = Array.from(document.querySelectorAll("
            "  'a[href], area[href], button, input, select, textarea, [tabindex]'))"
            "  .filter(e => e.tabIndex >= 0 && !e.disabled && e.getClientRects().length > 0);"
            " const wanted = address ? stops.filter(e => e.href === address)"
            "  : (last ? stops.reverse() : stops);"
            " if (wanted.length > 0) wanted[0].focus({preventScroll: false});"
            " return wanted.length > 0; })(%1[0], %2)")
            .arg(QString::fromUtf8(address),
                 last ? QStringLiteral("true") : QStringLiteral("false"));
    // The view takes the keyboard once the page has its focused element.
    news->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                        [view = QPointer<NewsView>(this)](const QVariant&) {
                            if (view)
                                view->focusPage();
                        });
}

void NewsView::focusPage() {
    QWidget* proxy = focusProxy();
    if (!proxy)
        return;
    if (proxy->hasFocus()) {
        // Qt gave the keyboard without the engine being told (see KeyboardNavigation): told now.
        QFocusEvent in(QEvent::FocusIn, Qt::OtherFocusReason);
        QCoreApplication::sendEvent(proxy, &in);
    } else {
        setFocus(Qt::OtherFocusReason);
    }
}

void NewsView::contextMenuEvent(QContextMenuEvent* event) {
    QWebEngineContextMenuRequest* request = lastContextMenuRequest();
    const QUrl link = request ? request->linkUrl() : QUrl();
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setObjectName(QStringLiteral("newsMenu"));

    // Back and forward go where a click would have gone: the window decides whether a page is
    // shown in place, with the controls hidden, or is the news home, with the controls shown.
    QWebEngineHistory* pages = history();
    QAction* back = menu->addAction(QStringLiteral("Précédent"));
    back->setEnabled(pages->canGoBack());
    connect(back, &QAction::triggered, this,
            [this] { news->handOver(history()->backItem().url()); });
    QAction* forward = menu->addAction(QStringLiteral("Suivant"));
    forward->setEnabled(pages->canGoForward());
    connect(forward, &QAction::triggered, this,
            [this] { news->handOver(history()->forwardItem().url()); });
    QAction* reload = menu->addAction(QStringLiteral("Actualiser"));
    connect(reload, &QAction::triggered, this,
            [this] { news->triggerAction(QWebEnginePage::Reload); });
    menu->addSeparator();

    QAction* copy = menu->addAction(QStringLiteral("Copier"));
    copy->setEnabled(request && !request->selectedText().isEmpty());
    connect(copy, &QAction::triggered, this, [this] { news->triggerAction(QWebEnginePage::Copy); });
    if (link.isValid()) {
        QAction* copyLink = menu->addAction(QStringLiteral("Copier l'adresse du lien"));
        connect(copyLink, &QAction::triggered, this,
                [this] { news->triggerAction(QWebEnginePage::CopyLinkToClipboard); });
    }
    // The link, or else the page itself; only what a browser shows.
    const QUrl outside = link.isValid() ? link : url();
    QAction* browser = menu->addAction(QStringLiteral("Ouvrir dans le navigateur"));
    browser->setEnabled(newslinks::opensInBrowser(outside));
    connect(browser, &QAction::triggered, this, [outside] { QDesktopServices::openUrl(outside); });

    menu->popup(event->globalPos());
}
