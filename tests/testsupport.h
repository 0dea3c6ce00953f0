#pragma once

#include "buildoptions.h"
#include "communityserver.h"

#include <QList>

#include <QFile>
#include <QNetworkProxy>
#include <QObject>
#include <QSslConfiguration>
#include <QTest>
#include <QUrl>

inline bool httpsBuild() {
    return qstrcmp(vestrahal::kWebScheme, "https") == 0;
}

// An address of the community's web site, as the build names it.
inline QString newsUrl(const char* path) {
    return QString::fromLatin1(vestrahal::kWebScheme) + "://" + vestrahal::kWebDomain + path;
}

// A certificate of tests/tls with its chain up to the tests' authority (tests/tls/make.sh):
// "server" for the test build's hosts, "wrongname" for other names, "untrusted" from an
// authority nobody trusts.
inline QList<QSslCertificate> testChain(const char* name) {
    QList<QSslCertificate> chain = QSslCertificate::fromPath(
        QStringLiteral(VESTRAHAL_SOURCE_DIR "/tests/tls/%1.pem").arg(name));
    if (qstrcmp(name, "untrusted") != 0)
        chain +=
            QSslCertificate::fromPath(QStringLiteral(VESTRAHAL_SOURCE_DIR "/tests/tls/ca.pem"));
    return chain;
}
inline QSslKey testKey(const char* name) {
    QFile file(QStringLiteral(VESTRAHAL_SOURCE_DIR "/tests/tls/%1.key").arg(name));
    file.open(QIODevice::ReadOnly);
    return QSslKey(file.readAll(), QSsl::Ec);
}

// The tests' authority is trusted in this process only, on top of the system's.
inline void trustTestAuthority() {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(
        QSslCertificate::fromPath(QStringLiteral(VESTRAHAL_SOURCE_DIR "/tests/tls/ca.pem")));
    QSslConfiguration::setDefaultConfiguration(configuration);
}

// The launcher's hosts are fixed when it is built. The tests route every request, the web
// view's included, through the local community server acting as a proxy: whatever hosts the
// build names, nothing leaves this machine and the server sees exactly what was asked. In an
// https build the server also answers the tunnels, with a certificate for the build's hosts.
inline void routeThroughCommunityServer(CommunityServer& server) {
    if (httpsBuild()) {
        trustTestAuthority();
        server.setTls(testChain("server"), testKey("server"));
    }
    server.setRoot(QStringLiteral(VESTRAHAL_SOURCE_DIR "/tools/site"));
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), server.serverPort()));
}
