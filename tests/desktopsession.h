#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

// A player's desktop of the suite's own: an X screen (Xvfb), a session bus, and the accessibility
// bus told that a screen reader runs, as Orca tells it, so that a launcher started there
// describes itself on it. Nothing of the caller's own session takes part.
class DesktopSession {
public:
    ~DesktopSession() { stop(); }

    // Fails the calling test when a part does not start: the caller looks at
    // QTest::currentTestFailed() before going on.
    void start(const QString& screen, int timeout) {
        environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "no_proxy", "NO_PROXY", "WAYLAND_DISPLAY",
                                 "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS"})
            environment.remove(name);

        xserver.setProcessEnvironment(environment);
        xserver.start("Xvfb", {"-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp"});
        const QByteArray number = firstLine(xserver, timeout);
        QVERIFY2(!number.isEmpty(), qPrintable("Xvfb: " + xserver.errorString() + " " +
                                               xserver.readAllStandardError()));
        display = ":" + QString::fromLatin1(number);
        environment.insert("DISPLAY", display);

        // The accessibility bus starts on this bus when first asked.
        bus.setProcessEnvironment(environment);
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        const QByteArray address = firstLine(bus, timeout);
        QVERIFY2(address.startsWith("unix:"), qPrintable("dbus-daemon: " + bus.errorString() + " " +
                                                         bus.readAllStandardError()));
        environment.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromLatin1(address));

        QProcess enable;
        enable.setProcessEnvironment(environment);
        enable.start("dbus-send",
                     {"--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                      "org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status",
                      "string:ScreenReaderEnabled", "variant:boolean:true"});
        QVERIFY(enable.waitForFinished(timeout));
        QCOMPARE(enable.exitCode(), 0);
    }

    void stop() {
        for (QProcess* process : {&bus, &xserver}) {
            process->kill();
            process->waitForFinished();
        }
    }

    // The first line a helper writes (the display it serves, the address of its bus); empty
    // when none comes in time, which the caller refuses.
    static QByteArray firstLine(QProcess& process, int timeout) {
        QByteArray line;
        static_cast<void>(QTest::qWaitFor(
            [&] {
                if (!process.canReadLine())
                    return process.state() == QProcess::NotRunning;
                line = process.readLine().trimmed();
                return true;
            },
            timeout));
        return line;
    }

    // The caller's environment with this desktop's screen and bus: for every program started on it.
    QProcessEnvironment environment;
    QString display;

private:
    QProcess xserver;
    QProcess bus;
};
