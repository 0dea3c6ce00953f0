#include "mainwindow.h"
#include "translations.h"

#include <QApplication>
#include <QNetworkProxyFactory>

int main(int argc, char* argv[]) {
    // The news view and the window share one GL context; Qt WebEngine asks for it before the
    // application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    translations::installQtFrench(app);
    // The news page, the version check and the download all follow the system's proxy
    // settings, whether or not this Qt was built to do so by default.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    MainWindow window;
    window.setVisible(true);
    return app.exec();
}
