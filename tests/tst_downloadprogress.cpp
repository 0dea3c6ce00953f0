#include "downloadprogress.h"

#include <QTest>

namespace {

constexpr qint64 kMiB = qint64(1) << 20;
constexpr qint64 kGiB = qint64(1) << 30;

// (milliseconds, bytes done)
using Samples = QList<QPair<qint64, qint64>>;

// A sample every second for `seconds`, at `bytesPerSecond` from `from` bytes on.
Samples steady(qint64 from, double bytesPerSecond, int seconds, qint64 startMs = 0) {
    Samples samples;
    for (int s = 0; s <= seconds; ++s)
        samples.append({startMs + s * 1000, from + qint64(bytesPerSecond * s)});
    return samples;
}

} // namespace

Q_DECLARE_METATYPE(Samples)

class DownloadProgressTest : public QObject {
    Q_OBJECT

private slots:
    void sizes_data() {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing yet") << qint64(0) << "0 o";
        QTest::newRow("a few bytes") << qint64(512) << "512 o";
        QTest::newRow("just under a kilobyte") << qint64(1000) << "1,0 Ko";
        QTest::newRow("hundreds of kilobytes, no decimal") << 840 * 1024LL << "840 Ko";
        QTest::newRow("megabytes, decimal comma") << qint64(11.4 * kMiB) << "11,4 Mo";
        QTest::newRow("would show 1000 Ko: the next unit") << 1023 * 1024LL + 1000 << "1,0 Mo";
        QTest::newRow("99,96 Mo rounds to 100 Mo") << qint64(99.96 * kMiB) << "100 Mo";
        QTest::newRow("gigabytes") << qint64(3.1 * kGiB) << "3,1 Go";
        QTest::newRow("a whole client") << qint64(15.2 * kGiB) << "15,2 Go";
        QTest::newRow("hundreds of gigabytes") << qint64(152.4 * kGiB) << "152 Go";
    }
    void sizes() {
        QFETCH(qint64, bytes);
        QTEST(downloadprogress::size(bytes), "text");
    }

    void timesLeft_data() {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("done any moment") << qint64(0) << "1 s restante";
        QTest::newRow("seconds") << qint64(45) << "45 s restantes";
        QTest::newRow("last seconds of the first minute") << qint64(59) << "59 s restantes";
        QTest::newRow("one minute") << qint64(60) << "1 min restante";
        QTest::newRow("a minute and a half rounds up") << qint64(90) << "2 min restantes";
        QTest::newRow("minutes") << qint64(18 * 60 + 10) << "18 min restantes";
        QTest::newRow("rounds to an hour") << qint64(3570) << "1 h 00 restantes";
        QTest::newRow("hours, minutes on two digits") << qint64(3900) << "1 h 05 restantes";
        QTest::newRow("many hours") << qint64(7 * 3600 + 59 * 60) << "7 h 59 restantes";
    }
    void timesLeft() {
        QFETCH(qint64, seconds);
        QTEST(downloadprogress::timeLeft(seconds), "text");
    }

    // Growing waits between tries while the network is gone, never beyond the cap, for ever.
    void retryWaits_data() {
        QTest::addColumn<int>("failures");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("cap");
        QTest::addColumn<int>("wait");
        QTest::newRow("first failure") << 1 << 1000 << 60000 << 1000;
        QTest::newRow("second") << 2 << 1000 << 60000 << 2000;
        QTest::newRow("fourth") << 4 << 1000 << 60000 << 8000;
        QTest::newRow("sixth, just under the cap") << 6 << 1000 << 60000 << 32000;
        QTest::newRow("seventh, capped") << 7 << 1000 << 60000 << 60000;
        QTest::newRow("thousandth, still capped") << 1000 << 1000 << 60000 << 60000;
        QTest::newRow("small waits of a test") << 3 << 50 << 400 << 200;
        QTest::newRow("small waits, capped") << 5 << 50 << 400 << 400;
    }
    void retryWaits() {
        QFETCH(int, failures);
        QFETCH(int, first);
        QFETCH(int, cap);
        QTEST(downloadprogress::retryWait(failures, first, cap), "wait");
    }

    // The status line over a download: no speed nor time before they are known, none while
    // nothing comes, and a slow download that still brings bytes is never shown as a stall.
    void installLines_data() {
        QTest::addColumn<Samples>("samples");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QString>("line");
        const qint64 client = qint64(15.2 * kGiB);
        const double speed = 11.4 * kMiB;
        QTest::newRow("just started: sizes only")
            << Samples{{0, 0}, {1000, 3 * kMiB}} << client
            << QString::fromUtf8("Installation du jeu : 3,0 Mo sur 15,2 Go");
        QTest::newRow("steady: speed and time left")
            << steady(qint64(3.1 * kGiB - 5 * speed), speed, 5) << client
            << QString::fromUtf8(
                   "Installation du jeu : 3,1 Go sur 15,2 Go — 11,4 Mo/s — 18 min restantes");
        QTest::newRow("resumed from a part: only what comes counts")
            << steady(qint64(14 * kGiB), 2 * kMiB, 10) << client
            << QString::fromUtf8(
                   "Installation du jeu : 14,0 Go sur 15,2 Go — 2,0 Mo/s — 10 min restantes");
        Samples stalled = steady(kGiB, speed, 5);
        stalled += steady(stalled.last().second, 0, 2, 6000);
        QTest::newRow("nothing for three seconds: no speed")
            << stalled << client
            << QString::fromUtf8("Installation du jeu : 1,1 Go sur 15,2 Go — en attente du réseau");
        QTest::newRow("slow but coming: not a stall")
            << steady(10 * kMiB, 1024, 8) << 10 * kMiB + 8 * 1024 + 30 * 1024
            << QString::fromUtf8(
                   "Installation du jeu : 10,0 Mo sur 10,0 Mo — 1,0 Ko/s — 30 s restantes");
        Samples back = stalled;
        back += steady(back.last().second, 4 * kMiB, 3, 10000);
        QTest::newRow("bytes again after a stall")
            << back << kGiB + 100 * kMiB
            << QString::fromUtf8(
                   "Installation du jeu : 1,1 Go sur 1,1 Go — 2,4 Mo/s — 13 s restantes");
    }
    void installLines() {
        QFETCH(Samples, samples);
        QFETCH(qint64, total);
        downloadprogress::Rate rate;
        for (const auto& [ms, done] : samples)
            rate.add(ms, done);
        QTEST(downloadprogress::installLine(samples.last().second, total, rate), "line");
    }

    // Pieces that come in bursts (2 MiB every other second) show a speed near their average
    // (1 MiB/s) at every tick once it is known, never the 0 or 2 MiB/s of a single second.
    void burstsAreSmoothed() {
        downloadprogress::Rate rate;
        int shown = 0;
        for (int s = 0; s <= 30; ++s) {
            rate.add(s * 1000, (s / 2) * 2 * kMiB);
            if (!rate.known())
                continue;
            ++shown;
            const double perSecond = rate.bytesPerSecond() / kMiB;
            QVERIFY2(perSecond >= 0.6 && perSecond <= 1.4,
                     qPrintable(QString("%1 MiB/s at %2 s").arg(perSecond).arg(s)));
        }
        QCOMPARE(shown, 29);
    }

    void waitingLine() {
        QCOMPARE(downloadprogress::waitingLine(7200),
                 QString::fromUtf8(
                     "Installation du jeu : en attente du réseau (nouvel essai dans 8 s)"));
    }
};

QTEST_GUILESS_MAIN(DownloadProgressTest)
#include "tst_downloadprogress.moc"
