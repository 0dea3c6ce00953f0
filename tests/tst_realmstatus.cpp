#include "logonlistener.h"
#include "offlinenames.h"
#include "realmstatus.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>

using State = RealmStatus::State;

namespace {

constexpr int kTimeout = 30000;

// Stands in hosts that never complete their handshake, and counts the attempts.
class SilentRealmStatus : public RealmStatus {
public:
    int attempts = 0;

protected:
    void connectSocket(QTcpSocket*, const QString&, quint16) override { ++attempts; }
};

} // namespace

class RealmStatusTest : public QObject {
    Q_OBJECT

private slots:
    void init() { clearRefusedNameLookups(); }

    void endpoint_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("name, logon port")
            << QByteArray("logon.vestrahal.fr") << true << "logon.vestrahal.fr" << 3724;
        QTest::newRow("name with port")
            << QByteArray("my.realm.example:3725") << true << "my.realm.example" << 3725;
        QTest::newRow("single label") << QByteArray("localhost") << true << "localhost" << 3724;
        QTest::newRow("trailing dot") << QByteArray("realm.fr.") << true << "realm.fr." << 3724;
        QTest::newRow("hyphens inside")
            << QByteArray("my-realm.fr") << true << "my-realm.fr" << 3724;
        QTest::newRow("IPv4") << QByteArray("192.0.2.7") << true << "192.0.2.7" << 3724;
        QTest::newRow("IPv6") << QByteArray("2001:db8::1") << true << "2001:db8::1" << 3724;
        QTest::newRow("IPv6 bracketed with port")
            << QByteArray("[2001:db8::1]:3725") << true << "2001:db8::1" << 3725;

        const auto invalid = [](const char* name, const QByteArray& text) {
            QTest::newRow(name) << text << false << QString() << 0;
        };
        // How a port and brackets are read is tst_httpclient's parseHostAndPort; here, which names
        // are hosts.
        invalid("empty-slot marker", " ");
        invalid("port not a number", "a.fr:abc");
        invalid("spaces", "mon realm.fr");
        invalid("set realmlist typed in", "set realmlist x.fr");
        invalid("accented letter", "ch\xe2teau.fr");
        invalid("empty label", "a..fr");
        invalid("leading hyphen", "-a.fr");
        invalid("name too long", QByteArray(300, 'a'));
        invalid("underscore", "my_realm.fr");
    }
    void endpoint() {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        const auto target = RealmStatus::endpoint(text);
        QCOMPARE(bool(target), valid);
        if (!valid)
            return;
        QTEST(target->host, "host");
        QTEST(int(target->port), "port");
    }

    void outcomeOfACheck_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("state");
        QTest::newRow("open listener, custom port") << "open" << int(State::Answering);
        QTest::newRow("refused") << "closed" << int(State::Silent);
        QTest::newRow("name that does not resolve") << "unresolved" << int(State::Silent);
        QTest::newRow("host that never answers") << "silent" << int(State::Silent);
    }
    void outcomeOfACheck() {
        QFETCH(QString, kind);
        if (kind == "unresolved")
            VESTRAHAL_SKIP_WITHOUT_OFFLINE_NAMES();
        LogonListener listener;
        std::unique_ptr<RealmStatus> status(kind == "silent" ? new SilentRealmStatus
                                                             : new RealmStatus);
        status->setAttemptTimeLimit(kind == "silent" ? 300 : 3000);
        QByteArray host = listener.hostText();
        if (kind == "closed")
            host = "127.0.0.1:" + QByteArray::number(closedPort());
        else if (kind == "unresolved")
            host = "logon.vestrahal.test";
        else if (kind == "silent")
            host = "192.0.2.1";

        QSignalSpy changed(status.get(), &RealmStatus::changed);
        // A refusal may come back while the connection is being made (Wine's loopback says it
        // at once), so the check is followed by the states it announced.
        QList<int> announced;
        connect(status.get(), &RealmStatus::changed, this,
                [&status, &announced](int realm) { announced << int(status->state(realm)); });
        status->setHost(4, host);
        QTRY_VERIFY_WITH_TIMEOUT(!status->isChecking(4), kTimeout);
        QTEST(int(status->state(4)), "state");
        QFETCH(int, state);
        QCOMPARE(announced, QList<int>({int(State::Unknown), state}));
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(1).at(0).toInt(), 4);
        for (int realm = 0; realm < vestrahal::kRealmCount; ++realm) {
            if (realm != 4)
                QCOMPARE(status->state(realm), State::None);
        }
        if (kind == "open") {
            QVERIFY(status->milliseconds(4) >= 0);
            // Connected, then closed with nothing sent.
            QCOMPARE(listener.connections, 1);
            QTRY_COMPARE_WITH_TIMEOUT(listener.closed, 1, kTimeout);
            QCOMPARE(listener.received, QByteArray());
        } else {
            QCOMPARE(listener.connections, 0);
        }
        if (kind == "unresolved")
            QCOMPARE(refusedNameLookups(), QByteArrayList{"logon.vestrahal.test"});
    }

    void invalidHostOpensNoConnection() {
        SilentRealmStatus status;
        QSignalSpy changed(&status, &RealmStatus::changed);
        status.setHost(3, "set realmlist x.fr");
        status.checkAll();
        QCOMPARE(status.state(3), State::None);
        QVERIFY(!status.isChecking(3));
        QCOMPARE(status.attempts, 0);
        QCOMPARE(changed.count(), 1);
    }

    void oneAttemptAtATimePerRealm() {
        SilentRealmStatus status;
        status.setAttemptTimeLimit(kTimeout);
        status.setHost(0, "logon.a.test");
        status.setHost(1, "logon.b.test");
        QCOMPARE(status.attempts, 2);
        status.checkAll();
        status.checkAll();
        // The same host again is no change and no new attempt.
        status.setHost(0, "logon.a.test");
        QCOMPARE(status.attempts, 2);
        // A new host replaces the running attempt instead of joining it.
        status.setHost(0, "logon.c.test");
        QCOMPARE(status.attempts, 3);
        QTRY_COMPARE_WITH_TIMEOUT(findSockets(status), 2, kTimeout);
    }

    void nothingWhilePaused() {
        SilentRealmStatus status;
        status.setAttemptTimeLimit(kTimeout);
        status.setHost(0, "logon.a.test");
        QCOMPARE(status.attempts, 1);
        status.setPaused(true);
        // The running check goes, and the realm keeps what was known of it.
        QVERIFY(!status.isChecking(0));
        QCOMPARE(status.state(0), State::Unknown);
        status.setHost(3, "perso.test");
        status.checkAll();
        QCOMPARE(status.attempts, 1);
        QCOMPARE(status.state(3), State::Unknown);
        // What fell due meanwhile runs once the pause ends, once per realm.
        status.setPaused(false);
        QCOMPARE(status.attempts, 3);
        QVERIFY(status.isChecking(0));
        QVERIFY(status.isChecking(3));
    }

    // Held or paused, the checks wait; they run once neither holds, whichever ends last.
    void heldChecksWaitForTheRelease_data() {
        QTest::addColumn<bool>("pausedMeanwhile");
        QTest::newRow("held only") << false;
        QTest::newRow("paused while held, the pause ends last") << true;
    }
    void heldChecksWaitForTheRelease() {
        QFETCH(bool, pausedMeanwhile);
        SilentRealmStatus status;
        status.setHeld(true);
        status.setHost(0, "logon.a.test");
        status.checkAll();
        QCOMPARE(status.attempts, 0);
        QCOMPARE(status.state(0), State::Unknown);
        status.setPaused(pausedMeanwhile);
        status.setHeld(false);
        QCOMPARE(status.attempts, 0 + !pausedMeanwhile);
        status.setPaused(false);
        QCOMPARE(status.attempts, 1);
        QVERIFY(status.isChecking(0));
    }

    void periodicChecks_data() {
        QTest::addColumn<bool>("paused");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("checked");
        QTest::newRow("window shown, no game") << false << true << true;
        QTest::newRow("game running") << true << true << false;
    }
    void periodicChecks() {
        QFETCH(bool, paused);
        QFETCH(bool, shown);
        LogonListener listener;
        RealmStatus status;
        int asked = 0;
        status.setPeriodicCondition([&] {
            ++asked;
            return shown;
        });
        status.setHost(3, listener.hostText());
        QTRY_COMPARE_WITH_TIMEOUT(status.state(3), State::Answering, kTimeout);
        status.setPaused(paused);
        QSignalSpy ticks(status.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly),
                         &QTimer::timeout);
        status.setInterval(20);
        QFETCH(bool, checked);
        if (checked) {
            QTRY_VERIFY_WITH_TIMEOUT(listener.connections >= 3, kTimeout);
            return;
        }
        // Some ticks have passed: the window was asked, or the pause held them back.
        QTRY_VERIFY_WITH_TIMEOUT(asked >= 3 || (paused && ticks.count() >= 3), kTimeout);
        QCOMPARE(listener.connections, 1);
    }

private:
    static int findSockets(const RealmStatus& status) {
        return int(status.findChildren<QTcpSocket*>().size());
    }
};

QTEST_MAIN(RealmStatusTest)
#include "tst_realmstatus.moc"
