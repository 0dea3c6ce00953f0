#include "signedlist.h"

#include "gamemanifest.h"

#include <QPointer>

#include <thread>

SignedList::SignedList(QObject* parent)
    : QObject(parent) {}

void SignedList::fetch(const QString& clientOfList, Alongside work) {
    abort();
    clientName = clientOfList;
    alongside = std::move(work);
    lastError = HttpClient::NoError;
    lastStatus = 0;
    client = new HttpClient(server, this);
    client->setMaxBodySize(kListMaxBytes);
    client->setTimeLimit(timeLimit);
    connect(client, &HttpClient::done, this, &SignedList::onList);
    client->get(gamemanifest::manifestPath(clientName));
}

void SignedList::abort() {
    if (!client)
        return;
    client->disconnect(this);
    client->abort();
    end();
}

void SignedList::end() {
    // The request's own signal may be the one that brought us here.
    if (client)
        client->deleteLater();
    client = nullptr;
    listBytes.clear();
}

QString SignedList::requestProblem(bool error) const {
    return error ? QStringLiteral("Error #%1").arg(int(lastError))
                 : QStringLiteral("HTTP Error %1").arg(lastStatus);
}

void SignedList::onList(bool error) {
    client->disconnect(this);
    lastError = client->error();
    lastStatus = client->statusCode();
    if (!error && lastStatus == 404) {
        end();
        emit notPublished();
        return;
    }
    if (error || lastStatus != 200) {
        const QString why = requestProblem(error);
        end();
        emit failed(why);
        return;
    }
    listBytes = client->readAll();
    client->setMaxBodySize(kSignatureMaxBytes);
    connect(client, &HttpClient::done, this, &SignedList::onSignature);
    client->get(gamemanifest::signaturePath(clientName));
}

void SignedList::onSignature(bool error) {
    client->disconnect(this);
    lastError = client->error();
    lastStatus = client->statusCode();
    if (error || lastStatus != 200) {
        const QString why = QStringLiteral("signature: ") + requestProblem(error);
        end();
        emit failed(why);
        return;
    }
    const QByteArray signature = client->readAll();
    const QByteArray bytes = listBytes;
    end();
    QString problem;
    bool trustedList = false;
    std::thread checker(
        [&] { trustedList = gamemanifest::verify(bytes, signature, publicKey, &problem); });
    // The caller's work may drop this object; the verification still ends before anything else.
    QPointer<SignedList> alive(this);
    if (const Alongside work = alongside)
        work(bytes);
    checker.join();
    if (!alive)
        return;
    if (trustedList)
        emit trusted(bytes);
    else
        emit failed(problem);
}
