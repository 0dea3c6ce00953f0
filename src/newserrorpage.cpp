#include "newserrorpage.h"

QString newsErrorPageHtml() {
    // The policy forbids every request, so the page stays whole and silent whatever happens to
    // the network; its colours are those of the window's night sky and bronze titles.
    return QStringLiteral(
        "<!DOCTYPE html><html lang=\"fr\"><head><meta charset=\"utf-8\">"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
        "style-src 'unsafe-inline'\">"
        "<title>Nouvelles indisponibles</title>"
        "<style>html,body{margin:0;height:100%;background:#0a0809;color:#ca671f;"
        "font-family:sans-serif;font-size:15px}"
        "body{display:flex;align-items:center;justify-content:center;text-align:center}"
        "p{margin:0 24px}</style></head>"
        "<body><p>Les nouvelles ne peuvent pas être affichées pour le moment.</p></body></html>");
}
