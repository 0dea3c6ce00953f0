// The launcher on a screen at twice the density: the pictures must come from their @2x twins,
// pixel for pixel, and not from the ordinary pictures blown up. Qt reads the scale once, when
// the application starts, so this suite runs on a 2x screen of its own.

#include "imagedifference.h"
#include "mainwindow.h"
#include "testfiles.h"
#include "testsupport.h"
#include "windowsupport.h"

#include <QDir>
#include <QIcon>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>

#include <memory>

namespace {

QImage premultiplied(const QImage& image) {
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

class HiDpiTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { qputenv("QT_SCALE_FACTOR", "2"); }

private slots:
    void initTestCase() {
        QCOMPARE(qApp->devicePixelRatio(), 2.0);
        routeThroughCommunityServer(server);
        server.setReply("/launcher/version.php",
                        {200, "text/plain", {}, CommunityServer::Reply::Silent});
        QVERIFY(dir.isValid());
        QVERIFY(QDir::setCurrent(dir.path()));
        // A personal realm on the first line: its indicator shows checked.
        writeFile("launcher.conf", "1\n/jeux/wotlk\n1\n/jeux/cata\n2\nami.fr|1\n |0\n |0\n2.4.1\n");
        window.reset(new MainWindow);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QPushButton* options = window->findChild<QPushButton*>(QStringLiteral("Options"));
        QVERIFY(options);
        options->click();
    }
    void cleanupTestCase() {
        window.reset();
        QDir::setCurrent(QDir::tempPath());
    }

    void paintsTheTwin_data() {
        QTest::addColumn<QString>("widget");
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QString>("picture");
        // Painted over a background of its own, which shows through the see-through pixels.
        QTest::addColumn<bool>("opaqueOnly");
        // The window's own background, without the news view that covers it once the page is
        // in; the title holds its sharpest edges.
        QTest::newRow("background")
            << "MainWindow" << QRect(0, 0, 800, 240) << ":/load.png" << false;
        // Shut until the news and the version are in.
        QTest::newRow("sliced border-image")
            << "Jouer" << QRect(0, 0, 140, 111) << ":/joueroff.png" << false;
        QTest::newRow("indicator image")
            << "checkBox_Realm1" << QRect(0, 0, 20, 21) << ":/caseon.png" << true;
    }
    void paintsTheTwin() {
        QFETCH(QString, widget);
        QFETCH(QRect, area);
        QFETCH(QString, picture);
        QFETCH(bool, opaqueOnly);
        QWidget* target =
            widget == window->objectName() ? window.get() : window->findChild<QWidget*>(widget);
        QVERIFY(target);
        QImage shown(area.size() * 2, QImage::Format_ARGB32_Premultiplied);
        shown.setDevicePixelRatio(2);
        shown.fill(Qt::transparent);
        // A button's or an indicator's own painting only: with the background flag, a child is
        // painted over whatever lies beneath it in the window.
        target->render(&shown, QPoint(), QRegion(area),
                       target == window.get() ? QWidget::DrawWindowBackground
                                              : QWidget::RenderFlags());
        shown.setDevicePixelRatio(1);

        const QImage twin = premultiplied(QImage(QString(picture).replace(".png", "@2x.png")))
                                .copy(QRect(QPoint(0, 0), shown.size()));
        QCOMPARE(twin.size(), shown.size());
        const QImage ordinary(picture);
        const QImage blownUp =
            premultiplied(ordinary.scaled(ordinary.size() * 2, Qt::IgnoreAspectRatio,
                                          Qt::SmoothTransformation))
                .copy(QRect(QPoint(0, 0), shown.size()));
        const QImage mask = opaqueOnly ? twin : QImage();
        const double fromTwin = meanDifference(shown, twin, mask);
        const double fromBlownUp = meanDifference(shown, blownUp, mask);
        QVERIFY2(fromTwin < 0.5, qPrintable(QString::number(fromTwin)));
        QVERIFY2(fromBlownUp > 1.5, qPrintable(QString::number(fromBlownUp)));
    }

    void windowIconHasBothSizes() {
        const QIcon icon = window->windowIcon();
        QCOMPARE(icon.availableSizes(), (QList<QSize>{QSize(128, 128), QSize(256, 256)}));
        QImage large = premultiplied(icon.pixmap(QSize(256, 256), 1.0).toImage());
        large.setDevicePixelRatio(1);
        // Read from a file named @2x, a picture says it is for twice the density.
        QImage twin = premultiplied(QImage(":/iconlauncher@2x.png"));
        twin.setDevicePixelRatio(1);
        QCOMPARE(large, twin);
    }

private:
    CommunityServer server;
    QTemporaryDir dir;
    std::unique_ptr<MainWindow> window;
};

QTEST_MAIN(HiDpiTest)
#include "tst_hidpi.moc"
