#include "newspage.h"

#include "newserrorpage.h"
#include "newslinks.h"

#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEngineSettings>

namespace {

// Stands in for the new window a link with a target asks for: it takes the first address the
// window would have loaded, hands it back, and goes away without showing anything.
class NewWindowCatcher : public QWebEnginePage {
public:
    NewWindowCatcher(QObject* parent, std::function<void(const QUrl&)> onUrl)
        : QWebEnginePage(parent)
        , onUrl(std::move(onUrl)) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
        if (!caught) {
            caught = true;
            onUrl(url);
            deleteLater();
        }
        return false;
    }

private:
    std::function<void(const QUrl&)> onUrl;
    bool caught = false;
};

} // namespace

NewsPage::NewsPage(QObject* parent)
    : QWebEnginePage(parent) {
    connect(this, &QWebEnginePage::loadingChanged, this, &NewsPage::onLoadingChanged);
    // A script opens nothing by itself: only the player's click on a link with a target does,
    // and that click is handed over like any other.
    settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
}

bool NewsPage::delegates() const {
    return linkPolicy == DelegateAllLinks;
}

void NewsPage::delegate(const QUrl& url) {
    // Handed over from the event loop, not from inside the engine's navigation call: the
    // receiver is free to start another load at once.
    QTimer::singleShot(0, this, [this, url] { emit linkClicked(url); });
}

bool NewsPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    if (type == NavigationTypeLinkClicked && delegates()) {
        // The engine ends the refused navigation as stopped: that end is no page load.
        if (isMainFrame)
            refusedClicks.append(url);
        delegate(url);
        return false;
    }
    // The engine hands addresses it cannot show itself (mailto:, other programs' schemes) to
    // the system. Only a click does that here, through the program's own choice of handler:
    // never a script, a form or a redirect of the page.
    if (delegates() && !newslinks::showsInPage(url))
        return false;
    const bool accepted = QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    // A load that follows a refused click takes its place: the engine reports no end of the
    // refused click then, and the stop of this load is a stop of its own.
    if (accepted && isMainFrame)
        refusedClicks.clear();
    return accepted;
}

QWebEnginePage* NewsPage::createWindow(WebWindowType) {
    return new NewWindowCatcher(this, [this](const QUrl& url) { handOver(url); });
}

void NewsPage::handOver(const QUrl& url) {
    if (delegates())
        delegate(url);
    else
        setUrl(url);
}

void NewsPage::rest() {
    // The ends of refused clicks will not come now.
    refusedClicks.clear();
    errorPageLoading = false;
    setLifecycleState(LifecycleState::Discarded);
}

void NewsPage::onLoadingChanged(const QWebEngineLoadingInfo& info) {
    // A load the rest cut short is nobody's news: no end to report, and no error page, which
    // would bring the page back while the game runs.
    if (isResting())
        return;
    if (errorPageLoading && info.url().scheme() == QLatin1String("data")) {
        if (info.status() != QWebEngineLoadingInfo::LoadStartedStatus)
            errorPageLoading = false;
        return;
    }
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        emit pageLoadFinished(true);
        break;
    case QWebEngineLoadingInfo::LoadFailedStatus:
        showErrorPage(info.url());
        emit pageLoadFinished(false);
        break;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        // A page that answers with no content, a download, a redirect the page refuses: the
        // load is over and shows nothing, which is a failed load. Only the end of a click the
        // page refused and handed over is none.
        if (!refusedClicks.removeOne(info.url()))
            emit pageLoadFinished(false);
        break;
    case QWebEngineLoadingInfo::LoadStartedStatus:
        break;
    }
}

void NewsPage::showErrorPage(const QUrl& failed) {
    // Loaded from the event loop, not from inside the engine's report of the failure; unless
    // the window has gone elsewhere meanwhile (a page shown in place goes back to the news) or
    // the page rests.
    QTimer::singleShot(0, this, [this, failed] {
        if (url() != failed || isResting())
            return;
        errorPageLoading = true;
        setHtml(newsErrorPageHtml());
    });
}
