#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

// Debian's nginx serving a site folder on a loopback port, with the locations the README
// recommends to community admins (tools/nginx/launcher.conf). Used as the launcher's proxy: nginx
// answers a request for a whole address like one for its path, so the launcher's built-in hosts
// reach it as they would reach the community's server.
class NginxServer {
public:
    ~NginxServer() { stop(); }

    // Starts nginx on a free port; false (with the reason in error()) when it does not answer.
    bool start(const QString& root) {
        const QString nginx = QStandardPaths::findExecutable("nginx", {"/usr/sbin", "/usr/bin"});
        if (nginx.isEmpty()) {
            problem = "nginx is not installed (tools/setup.sh installs nginx-light)";
            return false;
        }
        // A port is free for a moment only: another program may take it in between, so try again.
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (startOn(nginx, root, freePort()))
                return true;
            stop();
        }
        return false;
    }

    void stop() {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(10000))
                process.kill();
            process.waitForFinished();
        }
    }

    quint16 port() const { return listening; }
    QString error() const { return problem; }
    QByteArray accessLog() const {
        QFile log(prefix.path() + "/access.log");
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    }

private:
    static quint16 freePort() {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
    }

    bool startOn(const QString& nginx, const QString& root, quint16 port) {
        QFile in(QStringLiteral(VESTRAHAL_SOURCE_DIR "/tools/nginx/test-nginx.conf.in"));
        if (!in.open(QIODevice::ReadOnly)) {
            problem = in.errorString();
            return false;
        }
        QByteArray text = in.readAll();
        text.replace("@PORT@", QByteArray::number(port));
        text.replace("@ROOT@", QFile::encodeName(root));
        text.replace("@PREFIX@", QFile::encodeName(prefix.path()));
        text.replace("@LOCATIONS@", VESTRAHAL_SOURCE_DIR "/tools/nginx/launcher.conf");
        QFile conf(prefix.path() + "/nginx.conf");
        if (!conf.open(QIODevice::WriteOnly) || conf.write(text) != text.size()) {
            problem = conf.errorString();
            return false;
        }
        conf.close();
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(nginx, {"-p", prefix.path(), "-e", prefix.path() + "/error.log", "-c",
                              conf.fileName()});
        if (!process.waitForStarted(10000)) {
            problem = process.errorString();
            return false;
        }
        // Ready once it accepts a connection; an nginx that failed has exited by then.
        for (int wait = 0; wait < 200 && process.state() == QProcess::Running; ++wait) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(100)) {
                listening = port;
                return true;
            }
            QTest::qWait(50);
        }
        QFile log(prefix.path() + "/error.log");
        problem = "nginx did not start: " + process.readAll() +
                  (log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray());
        return false;
    }

    QTemporaryDir prefix;
    QProcess process;
    quint16 listening = 0;
    QString problem;
};
