#pragma once

#include "httpclient.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

// The community's signed list of one client's files, fetched from its web host: the list, then
// its signature, each within its limits, and the signature verified against the community's key
// before anyone reads a byte of the list. The game files' runs and the install offer take their
// lists through it alike.
class SignedList : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 kListMaxBytes = qint64(16) << 20;
    static constexpr qint64 kSignatureMaxBytes = 1024;
    static constexpr int kTimeLimit = 30000;

    explicit SignedList(QObject* parent = nullptr);

    void setPublicKey(const QByteArray& base64) { publicKey = base64; }
    void setServer(const WebServer& where) { server = where; }
    // Each of the two requests is given up as aborted past this limit.
    void setTimeLimit(int milliseconds) { timeLimit = milliseconds; }
    // Work of the caller's done on this thread while the signature is verified on another (both
    // are a pass over megabytes that needs nothing of the other); it is handed the list's bytes,
    // not yet trusted.
    using Alongside = std::function<void(const QByteArray& listBytes)>;

    // Fetches the client's list and its signature; exactly one of notPublished(), failed() and
    // trusted() follows, never from inside this call. A fetch under way is dropped.
    void fetch(const QString& client, Alongside alongside = {});
    void abort();
    bool isFetching() const { return client != nullptr; }

    // The last request that failed: its client's error, or its status (0: none came).
    HttpClient::Error error() const { return lastError; }
    int statusCode() const { return lastStatus; }

signals:
    // The server publishes no list for the client (404): nothing to do.
    void notPublished();
    // Why the list could not be had, or is not the community's, in English for the report.
    void failed(const QString& why);
    // The list's bytes, signed with the community's key; not read yet.
    void trusted(const QByteArray& listBytes);

private:
    void onList(bool error);
    void onSignature(bool error);
    QString requestProblem(bool error) const;
    void end();

    QByteArray publicKey;
    WebServer server;
    int timeLimit = kTimeLimit;
    QString clientName;
    Alongside alongside;
    HttpClient* client = nullptr;
    QByteArray listBytes;
    HttpClient::Error lastError = HttpClient::NoError;
    int lastStatus = 0;
};
