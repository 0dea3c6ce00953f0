#include "firstframe.h"

#include <QTest>
#include <QWidget>

namespace {

class CountedPaints : public QWidget {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

} // namespace

class FirstFrameTest : public QObject {
    Q_OBJECT

private slots:
    // A shown window paints before the work runs; one never shown does not hold it back.
    void workFollowsTheFirstFrame_data() {
        QTest::addColumn<bool>("shown");
        QTest::newRow("shown window") << true;
        QTest::newRow("window never shown") << false;
    }
    void workFollowsTheFirstFrame() {
        QFETCH(bool, shown);
        CountedPaints window;
        window.resize(200, 100);
        int paintsBeforeWork = -1;
        afterFirstFrame(&window, [&] { paintsBeforeWork = window.paints; });
        if (shown)
            window.show();
        QCOMPARE(paintsBeforeWork, -1);
        if (!shown) {
            // At the event loop's first turn, not at the last resort for a frame that never came.
            QCoreApplication::processEvents();
            QCOMPARE(paintsBeforeWork, 0);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(paintsBeforeWork >= 0, 30000);
        QVERIFY(paintsBeforeWork > 0);
    }
};

QTEST_MAIN(FirstFrameTest)
#include "tst_firstframe.moc"
