#include "newslinks.h"

#include "buildoptions.h"

namespace newslinks {

namespace {

QByteArray address(const char* path) {
    return QByteArray(vestrahal::kWebScheme) + "://" + vestrahal::kWebDomain + path;
}

} // namespace

QUrl home() {
    return QUrl(QString::fromLatin1(address("/launcher/launcher.php")));
}

Route routeOf(const QUrl& url) {
    const QByteArray text = url.toString().toLatin1();
    if (text.startsWith(address("/launcher/ex")))
        return Route::InPlace;
    if (text.startsWith(address("/launcher/la")))
        return Route::NewsHome;
    switch (schemeOf(url)) {
    case Scheme::Web:
    case Scheme::Mail:
        return Route::Outside;
    case Scheme::Engine:
    case Scheme::Other:
        break;
    }
    return Route::Nowhere;
}

Scheme schemeOf(const QUrl& url) {
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return Scheme::Web;
    if (scheme == QLatin1String("mailto"))
        return Scheme::Mail;
    if (scheme == QLatin1String("about") || scheme == QLatin1String("data") ||
        scheme == QLatin1String("blob"))
        return Scheme::Engine;
    return Scheme::Other;
}

bool showsInPage(const QUrl& url) {
    const Scheme scheme = schemeOf(url);
    return scheme == Scheme::Web || scheme == Scheme::Engine;
}

bool opensInBrowser(const QUrl& url) {
    return schemeOf(url) == Scheme::Web;
}

} // namespace newslinks
