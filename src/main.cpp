#include "mainwindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // The news view and the window share one GL context; Qt WebEngine asks for it before the
    // application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    MainWindow window;
    window.setVisible(true);
    return app.exec();
}
