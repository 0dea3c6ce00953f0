#pragma once

#include <QUrl>

// What a link of the news does. The news page follows nothing by itself: each click is routed
// here, and only addresses of the schemes below ever leave the launcher.
namespace newslinks {

// The news home page.
QUrl home();

enum class Route {
    InPlace,  // a launcher page of the server, shown over the whole window
    NewsHome, // back to the news home page, the launcher's controls shown again
    Outside,  // handed to the system: the player's browser, or mail
    Nowhere,  // files and other programs' schemes: a news page never reaches them
};
// The route of a clicked link. The launcher's own pages are told by the start of the address's
// text, exactly as written, on the community's web domain.
Route routeOf(const QUrl& url);

// The one list of schemes the launcher deals with, each for what it may do.
enum class Scheme {
    Web,    // http and https: shown in the news, opened in the browser
    Mail,   // mailto: handed to the system on a click, never shown
    Engine, // the engine's own (about, data, blob): shown, never handed to the system
    Other,  // files and other programs' schemes: nothing
};
Scheme schemeOf(const QUrl& url);

// Whether the news view may show the address itself. The engine hands those it cannot show to
// the system, which a page must not be able to do on its own.
bool showsInPage(const QUrl& url);
// Whether "Ouvrir dans le navigateur" may open the address: only what a browser shows.
bool opensInBrowser(const QUrl& url);

} // namespace newslinks
