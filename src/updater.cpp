#include "updater.h"

#include "config.h"
#include "constants.h"
#include "httpclient.h"
#include "launcherconstants.h"
#include "newexecutable.h"
#include "updatereport.h"
#include "updatesignature.h"

#include <QDateTime>
#include <QFile>
#include <QTimer>

namespace {

const QString kVersionPath = QStringLiteral("/launcher/version.php");

QString executableName() {
    return QString::fromLatin1(vestrahal::kExecutableName);
}

QString backupName() {
    return executableName() + QStringLiteral(".bak");
}

QString downloadPath() {
    return QStringLiteral("/launcher/download/") + executableName();
}

// A single-shot timer, owned by `owner`, that gives the client's request up when it fires: the
// client then ends it as aborted (code 7), like any failed request.
QTimer* abortTimerFor(QObject* owner, HttpClient* client) {
    auto* timer = new QTimer(owner);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, client, &HttpClient::abort);
    return timer;
}

bool signedUpdates() {
    return vestrahal::kUpdatePublicKey[0] != '\0';
}

} // namespace

updater::updater(Config* config, QObject* parent)
    : QObject(parent)
    , requestSent(false)
    , fileCreated(false)
    , fileWritten(false)
    , downloadClient(nullptr)
    , bytesWritten(0)
    , bytesReceived(0)
    , httpStatus(0)
    , config(config)
    , versionClient(nullptr)
    , downloadTimeLimit(vestrahal::kUpdateMaxSeconds * 1000)
    , downloadIdleLimit(vestrahal::kUpdateIdleSeconds * 1000)
    , downloadMaxBytes(vestrahal::kUpdateMaxBytes) {}

updater::~updater() {
    // The player closed the launcher during the download: the attempt ends like any failed one,
    // its file removed and its report written. Nobody is left to read the status line.
    blockSignals(true);
    if (downloadClient && !downloadEnded) {
        downloadClient->disconnect(this);
        downloadClient->abort();
        onDownloadComplete(true);
    } else if (signatureClient && !signatureEnded) {
        signatureClient->disconnect(this);
        signatureClient->abort();
        onSignatureComplete(true);
    }
    delete signatureClient;
    delete downloadClient;
    delete versionClient;
}

void updater::checkVersion() {
    // A package never writes in the folder it is started from.
    if (installsUpdates)
        cleanUpInterruptedUpdate(executableName(), backupName());

    const QString domain = QString::fromLatin1(vestrahal::kWebDomain);
    HttpRequestHeader header(QStringLiteral("GET"), kVersionPath, 1, 1);
    header.setValue(QStringLiteral("Host"), domain);

    versionClient = new HttpClient(communityServer(vestrahal::kWebDomain));
    // A version is a short line: anything longer is not one.
    versionClient->setMaxBodySize(kVersionMaxBytes);
    // Asked twice on purpose, the explicit header first: the server counts on both requests.
    versionClient->request(header);
    versionClient->get(kVersionPath);
    emit statusChanged(QStringLiteral("Vérification des mises à jours disponibles..."));
    connect(versionClient, &HttpClient::done, this, &updater::onCheckComplete);
    // A server that never answers ends like any failed check: aborted, code 7.
    checkTimer = abortTimerFor(this, versionClient);
    checkTimer->start(checkTimeLimit);
}

void updater::onCheckComplete(bool erreur) {
    if (checkTimer)
        checkTimer->stop();
    if (erreur) {
        emit checkFailed(int(versionClient->error()));
        return;
    }

    const QString serverVersion = serverVersionText(versionClient->readAll());
    if (serverVersion == config->version) {
        emit current();
    } else if (!installsUpdates) {
        emit progressChanged(vestrahal::kProgressDone);
        emit packageOutdated(QStringLiteral("Une nouvelle version du launcher existe : mettez à "
                                            "jour le paquet vestrahal-launcher."));
    } else {
        newVersion = serverVersion;
        emit statusChanged(QStringLiteral("Telechargement de la nouvelle version en cours..."));
        downloadUpdate();
    }
}

void updater::downloadUpdate() {
    // Nothing is moved yet, but an update that could not put its file in place is not started.
    if (!canMoveAside(executableName(), backupName())) {
        emit statusChanged(QStringLiteral(
            "Le launcher ne parvient pas à créer/modifier le fichier 'LauncherVestrahal.exe.bak'"));
        return;
    }
    newExeFile.setHashing(signedUpdates());
    newExeFile.create(partialName(executableName()));

    downloadClient = new HttpClient(communityServer(vestrahal::kWebHost));
    downloadClient->setMaxBodySize(downloadMaxBytes);
    // A slow line may take its time as long as bytes keep coming; a stalled one is given up,
    // and so is any download after the whole time limit.
    abortTimer = abortTimerFor(this, downloadClient);
    idleTimer = abortTimerFor(this, downloadClient);
    connect(downloadClient, &HttpClient::dataReadProgress, idleTimer,
            [this] { idleTimer->start(downloadIdleLimit); });
    abortTimer->start(downloadTimeLimit);
    idleTimer->start(downloadIdleLimit);
    downloadClient->get(downloadPath(), &newExeFile);
    connect(downloadClient, &HttpClient::dataReadProgress, this, &updater::onDownloadProgress);
    connect(downloadClient, &HttpClient::done, this, &updater::onDownloadComplete);
}

void updater::onDownloadProgress(int done, int total) {
    if (total == 0 || total < done)
        return;
    constexpr qint64 range = vestrahal::kProgressDone - vestrahal::kProgressDownloadFirst;
    emit progressChanged(int(vestrahal::kProgressDownloadFirst + (range * done) / total));
}

void updater::onDownloadComplete(bool bol_errorWhiledownload) {
    downloadEnded = true;
    downloadFailed = bol_errorWhiledownload;
    if (abortTimer)
        abortTimer->stop();
    if (idleTimer)
        idleTimer->stop();
    if (downloadClient) {
        requestSent = true;
        httpStatus = downloadClient->statusCode();
    }

    if (bol_errorWhiledownload || httpStatus != 200) {
        newExeFile.discard();
        finishUpdate(false);
        return;
    }
    bytesReceived = downloadClient->bytesReceived();
    if (!newExecutableIsWhole()) {
        finishUpdate(false);
        return;
    }
    if (signedUpdates()) {
        fetchSignature();
        return;
    }
    finishUpdate(installNewExecutable() && recordNewVersion());
}

void updater::finishUpdate(bool installed) {
    if (!installed) {
        emit statusChanged(QStringLiteral(
            "Problème lors du téléchargement de la mise à jour, merci de relancer le launcher"));
    }

    UpdateOutcome outcome;
    outcome.requestSent = requestSent;
    outcome.downloadFailed = downloadFailed;
    outcome.clientError = downloadClient ? int(downloadClient->error()) : 0;
    outcome.httpStatus = httpStatus;
    outcome.bytesReceived = bytesReceived;
    outcome.fileCreated = fileCreated;
    outcome.fileError = fileCreated ? 0 : fileError;
    outcome.fileWritten = fileWritten;
    outcome.bytesWritten = bytesWritten;
    outcome.signatureChecked = signatureEnded;
    outcome.signatureProblem = signatureProblem;
    outcome.versionSaved = versionSaved;
    // Written in full before anyone is told: the report must not wait on the player.
    appendUpdateReport(config->reportFilePath(),
                       updateReport(outcome, executableName(), QDateTime::currentDateTime()));

    if (installed)
        emit updated();
}

bool updater::newExecutableIsWhole() {
    // Nothing takes the launcher's place unless it can be a launcher at all.
    if (!isProgramImage(newExeFile.head())) {
        newExeFile.discard();
        return false;
    }
    fileCreated = newExeFile.created();
    if (!fileCreated) {
        fileError = int(newExeFile.fileError());
        bytesWritten = -1;
        newExeFile.discard();
        return false;
    }
    bytesWritten = newExeFile.written();
    // Only a file that reached the disk whole may take the launcher's name.
    fileWritten = bytesWritten == bytesReceived && newExeFile.finish();
    if (!fileWritten)
        newExeFile.discard();
    return fileWritten;
}

bool updater::installNewExecutable() {
    if (swapInNewExecutable(executableName(), newExeFile.fileName(), backupName()))
        return true;
    // A file that could not be put in place was not written where it belongs.
    fileWritten = false;
    newExeFile.discard();
    return false;
}

void updater::fetchSignature() {
    signatureClient = new HttpClient(communityServer(vestrahal::kWebHost));
    // One line of base64: anything longer is not a signature.
    signatureClient->setMaxBodySize(kVersionMaxBytes);
    signatureTimer = abortTimerFor(this, signatureClient);
    signatureTimer->start(checkTimeLimit);
    signatureClient->get(downloadPath() + QStringLiteral(".sig"));
    connect(signatureClient, &HttpClient::done, this, &updater::onSignatureComplete);
}

void updater::onSignatureComplete(bool error) {
    signatureEnded = true;
    signatureTimer->stop();
    const int status = signatureClient->statusCode();
    if (error) {
        signatureProblem = QStringLiteral("Error #") + QString::number(signatureClient->error());
    } else if (status != 200) {
        signatureProblem = QStringLiteral("HTTP Error ") + QString::number(status);
    } else {
        const QByteArray message = signedUpdateMessage(newVersion, newExeFile.sha256Hex());
        const QByteArray key = decodePublicKey(QByteArray(vestrahal::kUpdatePublicKey));
        switch (verifyUpdateSignature(signatureClient->readAll(), message, key)) {
        case SignatureVerdict::Valid:
            break;
        case SignatureVerdict::Malformed:
            signatureProblem = QStringLiteral("not a signature");
            break;
        case SignatureVerdict::Refused:
            signatureProblem = QStringLiteral("does not verify");
            break;
        }
    }
    if (!signatureProblem.isEmpty()) {
        newExeFile.discard();
        finishUpdate(false);
        return;
    }
    finishUpdate(installNewExecutable() && recordNewVersion());
}

bool updater::recordNewVersion() {
    const QString previous = config->version;
    config->version = newVersion;
    versionSaved = config->save();
    if (!versionSaved) {
        config->version = previous;
        putBackOldExecutable(executableName(), backupName());
    }
    return versionSaved;
}
