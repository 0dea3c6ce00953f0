#pragma once

#include <QUrl>
#include <QWebEnginePage>

class QWebEngineLoadingInfo;

// The news page. With DelegateAllLinks it follows no clicked link by itself but hands each one
// to the program through linkClicked, whether the link opens in place or in a new window.
class NewsPage : public QWebEnginePage {
    Q_OBJECT
public:
    enum LinkDelegationPolicy { DontDelegateLinks, DelegateAllLinks };
    Q_ENUM(LinkDelegationPolicy)

    explicit NewsPage(QObject* parent = nullptr);

    void setLinkDelegationPolicy(LinkDelegationPolicy policy) { linkPolicy = policy; }

    // Discards the page: its renderer and what the engine holds for it go, until the next load.
    // A load running then ends unreported. The page must not be shown.
    void rest();
    // Hands an address over as a clicked link is handed over (through linkClicked, when the
    // page delegates it), or loads it.
    void handOver(const QUrl& url);
    bool isResting() const { return lifecycleState() == LifecycleState::Discarded; }

signals:
    void linkClicked(const QUrl& url);
    // The end of a page load, successful or not; one that stops without a page (no content, a
    // download, a refused redirect) has failed. Unlike loadFinished it says nothing of a click
    // the page refused and handed over, which never was a page load at all.
    void pageLoadFinished(bool ok);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;

private:
    void onLoadingChanged(const QWebEngineLoadingInfo& info);
    bool delegates() const;
    void delegate(const QUrl& url);

    LinkDelegationPolicy linkPolicy = DontDelegateLinks;
    // Clicks refused and handed over whose end the engine has still to report.
    QList<QUrl> refusedClicks;

    // A failed load shows a page of our own, which is no news page load of its own.
    void showErrorPage(const QUrl& failed);
    bool errorPageLoading = false;
};
