#include "accessibility.h"
#include "config.h"
#include "mainwindow.h"
#include "singlelauncher.h"
#include "translations.h"

#include <QApplication>
#include <QNetworkProxyFactory>

int main(int argc, char* argv[]) {
    // Qt WebEngine shows its pages to Linux screen readers only when asked to, and reads the
    // request once, before the application exists. Windows needs nothing.
    qputenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");
    // The news view and the window share one GL context; Qt WebEngine asks for it before the
    // application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    // The launcher works on the files of its folder. A second launcher there would undo the
    // first one's update: it shows the first one instead, before it reads or asks anything.
    SingleLauncher folderLauncher(Config::launcherFolder());
    if (!folderLauncher.claim())
        return 0;
    // A screen reader may ask about the widgets while the form is being built: the launcher's
    // own descriptions of them are in place before the first one exists. After the application,
    // whose own descriptions of Qt's widgets would otherwise come first.
    accessibility::install();
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
    QObject::connect(&window, &MainWindow::closedWithTheGame, &app, &QCoreApplication::quit);
    window.setVisible(true);
    return app.exec();
}
