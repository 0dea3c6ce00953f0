#include "mainwindow.h"
#include "singlelauncher.h"
#include "translations.h"

#include <QApplication>
#include <QDir>
#include <QNetworkProxyFactory>

int main(int argc, char* argv[]) {
    // The news view and the window share one GL context; Qt WebEngine asks for it before the
    // application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    // The launcher works on the files of the folder it was started in. A second launcher there
    // would undo the first one's update: it shows the first one instead, before it reads or
    // asks anything.
    SingleLauncher folderLauncher(QDir::currentPath());
    if (!folderLauncher.claim())
        return 0;
    translations::installQtFrench(app);
    // The news page, the version check and the download all follow the system's proxy
    // settings, whether or not this Qt was built to do so by default.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    MainWindow window;
    QObject::connect(&folderLauncher, &SingleLauncher::raiseRequested, &window, [&window] {
        window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        window.show();
        window.raise();
        window.activateWindow();
    });
    window.setVisible(true);
    return app.exec();
}
