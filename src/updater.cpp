#include "updater.h"

#include "buildoptions.h"
#include "communityaddress.h"
#include "config.h"
#include "httpclient.h"
#include "launcherfiles.h"
#include "newexecutable.h"
#include "realmsandprogress.h"
#include "releasesequence.h"
#include "updatereport.h"
#include "updatesignature.h"
#include "versionorder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

namespace {

const QString kVersionPath = QStringLiteral("/launcher/version.php");

QString executableName() {
    return QString::fromLatin1(vestrahal::kExecutableName);
}

QString backupName() {
    return executableName() + QStringLiteral(".bak");
}

bool signedUpdates() {
    return vestrahal::kUpdatePublicKey[0] != '\0';
}

} // namespace

updater::updater(Config* config, QObject* parent)
    : QObject(parent)
    , downloadClient(nullptr)
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
    } else if (signatureClient && !attempt.signatureChecked) {
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
    // A server that never answers ends like any failed check: aborted, code 7.
    versionClient->setTimeLimit(checkTimeLimit);
    // Asked twice on purpose, the explicit header first: the server counts on both requests.
    versionClient->request(header);
    versionClient->get(kVersionPath);
    emit statusChanged(QStringLiteral("Vérification des mises à jour disponibles..."));
    connect(versionClient, &HttpClient::done, this, &updater::onCheckComplete);
}

void updater::onCheckComplete(bool erreur) {
    if (erreur) {
        emit checkFailed(int(versionClient->error()));
        return;
    }

    const QString serverVersion = Config::serverVersionText(versionClient->readAll());
    if (serverVersion == config->version) {
        emit current();
    } else if (!installsUpdates) {
        // The package manager installs new launchers, and takes only a later version as one: an
        // older text, or one that is no version at all, leaves this package as current as it is.
        if (!versionorder::isNewer(serverVersion, config->version)) {
            emit current();
            return;
        }
        emit progressChanged(vestrahal::kProgressDone);
        emit packageOutdated(QStringLiteral("Une nouvelle version du launcher existe : mettez à "
                                            "jour le paquet vestrahal-launcher."));
    } else {
        newVersion = serverVersion;
        emit statusChanged(QStringLiteral("Téléchargement de la nouvelle version en cours..."));
        downloadUpdate();
    }
}

bool updater::namesAreFree() {
    const QString refused = folderRefusesNewFile(QDir::currentPath());
    if (!refused.isEmpty()) {
        attempt.downloadFailed = true;
        attempt.fileError = int(QFileDevice::OpenError);
        finishUpdate(false, QStringLiteral("Le dossier du launcher n'accepte aucun nouveau "
                                           "fichier (%1) : mise à jour impossible")
                                .arg(refused));
        return false;
    }
    attempt.inTheWay = clearLeftoverNames(executableName(), backupName());
    if (!attempt.inTheWay.isEmpty()) {
        attempt.downloadFailed = true;
        finishUpdate(false);
        return false;
    }
    return true;
}

void updater::downloadUpdate() {
    // Whatever stands in the way is known before a byte is asked for.
    if (!namesAreFree())
        return;
    // Nothing is moved yet, but an update that could not put its file in place is not started.
    if (!canMoveAside(executableName(), backupName())) {
        emit statusChanged(QStringLiteral(
            "Le launcher ne parvient pas à créer/modifier le fichier 'VestrahalLauncher.exe.bak'"));
        return;
    }
    newExeFile.setHashing(signedUpdates());
    newExeFile.create(partialName(executableName()));

    downloadClient = new HttpClient(communityServer(vestrahal::kWebHost));
    downloadClient->setMaxBodySize(downloadMaxBytes);
    // A slow line may take its time as long as bytes keep coming; a stalled one is given up,
    // and so is any download after the whole time limit. Either closes the connection.
    downloadClient->setTimeLimit(downloadTimeLimit);
    downloadClient->setIdleLimit(downloadIdleLimit);
    downloadClient->get(updater::downloadPath(), &newExeFile);
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
    attempt.downloadFailed = bol_errorWhiledownload;
    if (downloadClient) {
        attempt.requestSent = true;
        attempt.httpStatus = downloadClient->statusCode();
        // What arrived, however the download ended: closed, aborted, refused or cut off.
        attempt.bytesReceived = downloadClient->bytesReceived();
    }

    if (bol_errorWhiledownload || attempt.httpStatus != 200) {
        attempt.bytesWritten = newExeFile.created() ? newExeFile.written() : -1;
        newExeFile.discard();
        // The community publishes no launcher for this system: nothing to install, and nothing
        // that keeps the player from playing with this one.
        attempt.notOfferedHere = !bol_errorWhiledownload && attempt.httpStatus == 404;
        const QString notice = QStringLiteral(
            "Aucune nouvelle version du launcher n'est proposée pour ce système : le jeu peut être "
            "lancé.");
        finishUpdate(false, attempt.notOfferedHere ? notice : QString());
        if (attempt.notOfferedHere)
            emit notOffered(notice);
        return;
    }
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

void updater::finishUpdate(bool installed, const QString& failure) {
    // On success the status line keeps the download's text until updated() takes over.
    const QString status =
        installed           ? QStringLiteral("Téléchargement de la nouvelle version en cours...")
        : failure.isEmpty() ? QStringLiteral("Problème lors du téléchargement de la mise à jour, "
                                             "merci de relancer le launcher")
                            : failure;
    if (!installed)
        emit statusChanged(status);

    UpdateOutcome outcome = attempt;
    outcome.clientError = downloadClient ? int(downloadClient->error()) : 0;
    // Written in full before anyone is told: the report must not wait on the player. Nothing
    // else keeps a trace of the attempt, so a report that cannot be written is said.
    if (!appendUpdateReport(config->reportFilePath(),
                            updateReport(outcome, executableName(), QDateTime::currentDateTime())))
        emit statusChanged(statusWithUnwrittenReport(status));

    if (installed)
        emit updated();
}

QString updater::downloadPath() {
    // A Windows launcher keeps the address it always had; other systems have a folder of their
    // own, so that a release for one never reaches another.
#ifdef Q_OS_WIN
    const QString platform;
#else
    const QString platform = QStringLiteral("linux-x86_64/");
#endif
    return QStringLiteral("/launcher/download/") + platform + executableName();
}

bool updater::newExecutableIsWhole() {
    // Nothing takes the launcher's place unless it can be a launcher at all.
    if (!isProgramImage(newExeFile.head())) {
        attempt.notAProgram = true;
        attempt.programForAnotherSystem = isProgramOfAnotherSystem(newExeFile.head());
        attempt.bytesWritten = newExeFile.created() ? newExeFile.written() : -1;
        newExeFile.discard();
        return false;
    }
    attempt.fileCreated = newExeFile.created();
    if (!attempt.fileCreated) {
        attempt.fileError = int(newExeFile.fileError());
        attempt.bytesWritten = -1;
        newExeFile.discard();
        return false;
    }
    attempt.bytesWritten = newExeFile.written();
    // Only a file that reached the disk whole may take the launcher's name.
    attempt.fileWritten = attempt.bytesWritten == attempt.bytesReceived && newExeFile.finish();
    if (!attempt.fileWritten)
        newExeFile.discard();
    return attempt.fileWritten;
}

bool updater::installNewExecutable() {
    // Only the very file this launcher wrote: another one put under its name meanwhile never
    // takes the launcher's.
    if (swapInNewExecutable(executableName(), newExeFile, backupName()))
        return true;
    // A file that could not be put in place was not written where it belongs.
    attempt.fileWritten = false;
    newExeFile.discard();
    return false;
}

void updater::fetchSignature() {
    signatureClient = new HttpClient(communityServer(vestrahal::kWebHost));
    // One line of base64: anything longer is not a signature.
    signatureClient->setMaxBodySize(kVersionMaxBytes);
    signatureClient->setTimeLimit(checkTimeLimit);
    signatureClient->get(updater::downloadPath() + QStringLiteral(".sig"));
    connect(signatureClient, &HttpClient::done, this, &updater::onSignatureComplete);
}

void updater::onSignatureComplete(bool error) {
    attempt.signatureChecked = true;
    const int status = signatureClient->statusCode();
    if (error) {
        attempt.signatureProblem =
            QStringLiteral("Error #") + QString::number(signatureClient->error());
    } else if (status != 200) {
        attempt.signatureProblem = QStringLiteral("HTTP Error ") + QString::number(status);
    } else {
        // The version text's own bytes, as the server sent them: it was read one byte a
        // character.
        attempt.installedSequence =
            installedReleaseSequence(launcherfiles::releaseSequence(config->baseDir));
        const ReleaseCheck check = checkSignedRelease(
            signatureClient->readAll(), newVersion.toLatin1(), newExeFile.sha256Hex(),
            decodePublicKey(QByteArray(vestrahal::kUpdatePublicKey)), attempt.installedSequence);
        attempt.signatureProblem = check.problem;
        attempt.sequenceRefused = check.replayed;
        attempt.sequence = check.sequence;
    }
    if (!attempt.signatureProblem.isEmpty() || attempt.sequenceRefused) {
        newExeFile.discard();
        finishUpdate(false);
        return;
    }
    finishUpdate(installNewExecutable() && recordNewVersion());
}

bool updater::recordNewVersion() {
    const QString previous = config->version;
    config->version = newVersion;
    attempt.versionSaved = config->save();
    // A signed release is known by its sequence from now on: an older one is refused.
    if (attempt.versionSaved && signedUpdates()) {
        attempt.sequenceSaved = storeInstalledReleaseSequence(
            launcherfiles::releaseSequence(config->baseDir), attempt.sequence);
        if (!attempt.sequenceSaved) {
            config->version = previous;
            config->save();
        }
    }
    if (!attempt.versionSaved || !attempt.sequenceSaved) {
        config->version = previous;
        putBackOldExecutable(executableName(), backupName());
        return false;
    }
    return true;
}
