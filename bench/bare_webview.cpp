// The floor the launcher's start-up is measured against: a window that is nothing but the news
// view. It also says when it called show() and when the load finished, to check the outside
// probe against; the launcher is timed by the probe alone.
#include <QApplication>
#include <QUrl>
#include <QWebEngineView>

#include <chrono>
#include <cstdio>

namespace {

// The steady clock, as the probe reads it, so that both sets of times line up.
void stamp(const char* event) {
    using namespace std::chrono;
    const double now = duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
    std::printf("bare %s %.3f\n", event, now);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    // Qt WebEngine asks for it before the application object exists, as in the launcher.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bare_webview URL\n");
        return 2;
    }
    QWebEngineView view;
    view.setWindowTitle(QStringLiteral("bare_webview"));
    view.resize(800, 600);
    QObject::connect(&view, &QWebEngineView::loadFinished,
                     [](bool ok) { stamp(ok ? "loaded" : "failed"); });
    view.setUrl(QUrl(QString::fromLocal8Bit(argv[1])));
    view.show();
    stamp("shown");
    return app.exec();
}
