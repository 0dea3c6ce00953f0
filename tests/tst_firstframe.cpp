#include "firstframe.h"

#include <QTest>
#include <QWidget>

class FirstFrameTest : public QObject {
    Q_OBJECT

    class CountedPaints : public QWidget {
    public:
        int paints = 0;
        void paintEvent(QPaintEvent*) override { ++paints; }
    };

private slots:
    // A shown window paints before the work runs; one never shown holds nothing back: the work
    // runs at the event loop's first turn.
    void workFollowsTheFirstFrame_data() {
        QTest::addColumn<bool>("shown");
        QTest::newRow("shown window") << true;
        QTest::newRow("window never shown") << false;
    }
    void workFollowsTheFirstFrame() {
        QFETCH(bool, shown);
        CountedPaints window;
        int paintsBeforeWork = -1;
        afterFirstFrame(&window, [&] { paintsBeforeWork = window.paints; });
        window.setVisible(shown);
        QCOMPARE(paintsBeforeWork, -1);
        if (shown) {
            QTRY_VERIFY_WITH_TIMEOUT(paintsBeforeWork > 0, 30000);
        } else {
            QCoreApplication::processEvents();
            QCOMPARE(paintsBeforeWork, 0);
        }
    }
};

QTEST_MAIN(FirstFrameTest)
#include "tst_firstframe.moc"
