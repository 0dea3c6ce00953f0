#include "updater.h"

#include "config.h"
#include "constants.h"
#include "httpclient.h"
#include "ui_mainwindow.h"
#include "updatereport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

namespace {

const QString kVersionPath = QStringLiteral("/launcher/version.php");

QString executableName() {
    return QString::fromLatin1(vestrahal::kExecutableName);
}

QString backupName() {
    return executableName() + QStringLiteral(".bak");
}

} // namespace

updater::updater(Ui::MainWindow* ui, Config* config)
    : QObject(nullptr)
    , requestSent(false)
    , fileCreated(false)
    , fileWritten(false)
    , downloadClient(nullptr)
    , bytesWritten(0)
    , bytesReceived(0)
    , httpStatus(0)
    , ui(ui)
    , config(config)
    , versionClient(nullptr) {}

updater::~updater() {
    // The player closed the launcher during the download: the old executable is still under
    // the backup name, and the launcher's own name must not be left empty.
    if (downloadClient && !downloadEnded) {
        downloadClient->disconnect(this);
        downloadClient->abort();
        onDownloadComplete(true);
    }
    delete downloadClient;
    delete versionClient;
}

void updater::checkVersion() {
    const QString domain = QString::fromLatin1(vestrahal::kWebDomain);
    HttpRequestHeader header(QStringLiteral("GET"), kVersionPath, 1, 1);
    header.setValue(QStringLiteral("Host"), domain);

    versionClient = new HttpClient;
    const HostAndPort server = splitHostAndPort(domain);
    versionClient->setHost(server.host, server.port);
    versionClient->request(header);
    versionClient->get(kVersionPath);
    ui->Texte->setText(QStringLiteral("Vérification des mises à jours disponibles..."));
    connect(versionClient, &HttpClient::done, this, &updater::onCheckComplete);
}

void updater::onCheckComplete(bool erreur) {
    if (erreur) {
        QMessageBox::information(
            nullptr, QStringLiteral("Erreur lors de la connexion pour vérifier la version"),
            QString::number(versionClient->error()), QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }

    const QString serverVersion = serverVersionText(versionClient->readAll());
    if (serverVersion == config->version) {
        ui->Chargement->setValue(100);
        config->upToDate = true;
        ui->Texte->setText(QStringLiteral("Version à jour"));
        ui->Jouer->setEnabled(true);
    } else {
        newVersion = serverVersion;
        ui->Texte->setText(QStringLiteral("Telechargement de la nouvelle version en cours..."));
        downloadUpdate();
    }
}

void updater::downloadUpdate() {
    QFile::remove(backupName());
    if (!QFile::rename(executableName(), backupName())) {
        ui->Texte->setText(QStringLiteral(
            "Le launcher ne parvient pas à créer/modifier le fichier 'LauncherVestrahal.exe.bak'"));
        return;
    }

    const HostAndPort server = splitHostAndPort(QString::fromLatin1(vestrahal::kWebHost));
    downloadClient = new HttpClient(server.host, server.port);
    // One limit for the whole download, counted from its request: progress does not extend it.
    abortTimer = new QTimer(this);
    abortTimer->setSingleShot(true);
    connect(abortTimer, &QTimer::timeout, downloadClient, &HttpClient::abort);
    abortTimer->start(downloadTimeLimit);
    downloadClient->get(QStringLiteral("/launcher/download/") + executableName());
    connect(downloadClient, &HttpClient::dataReadProgress, this, &updater::onDownloadProgress);
    connect(downloadClient, &HttpClient::done, this, &updater::onDownloadComplete);
}

void updater::onDownloadProgress(int done, int total) {
    if (total == 0 || total < done)
        return;
    ui->Chargement->setValue(int(50 + (qint64(50) * done) / total));
}

void updater::onDownloadComplete(bool bol_errorWhiledownload) {
    downloadEnded = true;
    if (abortTimer)
        abortTimer->stop();
    if (downloadClient) {
        requestSent = true;
        httpStatus = downloadClient->statusCode();
    }

    if (!bol_errorWhiledownload && httpStatus == 200) {
        bytesReceived = downloadClient->bytesAvailable();
        installNewExecutable(downloadClient->readAll());
    }

    if (fileCreated && fileWritten) {
        config->version = newVersion;
        config->save();
        config->upToDate = true;
    } else {
        // Whatever went wrong, the old launcher goes back under its name.
        QFile::rename(backupName(), executableName());
        ui->Texte->setText(QStringLiteral(
            "Problème lors du téléchargement de la mise à jour, merci de relancer le launcher"));
    }

    UpdateOutcome outcome;
    outcome.requestSent = requestSent;
    outcome.downloadFailed = bol_errorWhiledownload;
    outcome.clientError = downloadClient ? int(downloadClient->error()) : 0;
    outcome.httpStatus = httpStatus;
    outcome.bytesReceived = bytesReceived;
    outcome.fileCreated = fileCreated;
    outcome.fileError = int(newExeFile.error());
    outcome.fileWritten = fileWritten;
    outcome.bytesWritten = bytesWritten;
    // Written in full before the message: the report must not wait on the player.
    appendUpdateReport(QString::fromLatin1(vestrahal::kReportFileName),
                       updateReport(outcome, executableName(), QDateTime::currentDateTime()));

    if (config->upToDate) {
        QMessageBox::information(
            nullptr, QStringLiteral("Mise à jour"),
            QStringLiteral("Votre launcher a été mis à jour avec succès ! \n\n Merci de le "
                           "re-démarrer pour prendre en compte les modifications"),
            QMessageBox::Ok, QMessageBox::NoButton);
        QCoreApplication::quit();
    }
}

void updater::installNewExecutable(const QByteArray& body) {
    // Nothing is written unless the body can be a launcher at all.
    if (!isProgramImage(body))
        return;
    newExeFile.setFileName(executableName());
    // Straight to the disk: a buffered write counts bytes that a full disk may refuse later.
    fileCreated = newExeFile.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (!fileCreated) {
        bytesWritten = -1;
        return;
    }
    bytesWritten = newExeFile.write(body.constData(), body.size());
    fileWritten = bytesReceived == bytesWritten;
    if (!fileWritten) {
        newExeFile.cancelWriting();
        newExeFile.commit();
        return;
    }
    // The new launcher must start like the old one did.
    const QFile::Permissions permissions = QFile::permissions(backupName());
    if (permissions)
        newExeFile.setPermissions(permissions);
    // Only a file that reached the disk whole takes the launcher's name.
    fileWritten = newExeFile.commit();
}
