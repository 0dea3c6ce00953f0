#pragma once

#include <QObject>
#include <QSaveFile>
#include <QString>

namespace Ui {
class MainWindow;
}
class Config;
class HttpClient;
class QTimer;

// Keeps the launcher current: at start-up it asks the community's server for the version, and
// when the answer differs from the stored one it replaces its own executable with the one the
// server offers, keeping the old one as a backup, and asks the player to restart.
class updater : public QObject {
    Q_OBJECT

public:
    // Neither the form nor the settings belong to the updater; both outlive it.
    updater(Ui::MainWindow* ui, Config* config);
    ~updater() override;

    void checkVersion();

    // The download is given up this long after its request, however it is going (30 s).
    void setDownloadTimeLimit(int milliseconds) { downloadTimeLimit = milliseconds; }

private slots:
    void onCheckComplete(bool erreur);
    void onDownloadProgress(int done, int total);
    void onDownloadComplete(bool bol_errorWhiledownload);

private:
    void downloadUpdate();
    // Writes the new executable beside the final name and moves it into place once whole.
    void installNewExecutable(const QByteArray& body);

    bool requestSent;
    bool fileCreated;
    bool fileWritten;
    HttpClient* downloadClient;
    QSaveFile newExeFile;
    qint64 bytesWritten;
    qint64 bytesReceived;
    int httpStatus;
    Ui::MainWindow* ui;
    Config* config;
    HttpClient* versionClient;
    QString newVersion;

    QTimer* abortTimer = nullptr;
    int downloadTimeLimit = 30000;
    bool downloadEnded = false;
};
