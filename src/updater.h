#pragma once

#include "buildoptions.h"
#include "newexecutable.h"
#include "updatereport.h"

#include <QObject>
#include <QString>

class Config;
class HttpClient;

// Keeps the launcher current: at start-up it asks the community's server for the version, and
// when the answer differs from the stored one it replaces its own executable with the one the
// server offers, keeping the old one as a backup, and asks the player to restart. The new
// executable is downloaded beside the old one and takes its name only once it is whole, so
// that the launcher's name holds a whole program at every moment, whatever stops the update.
// It knows no widget: it tells what happens through its signals, and the window shows it.
class updater : public QObject {
    Q_OBJECT

public:
    // The settings do not belong to the updater; they outlive it.
    explicit updater(Config* config, QObject* parent = nullptr);
    ~updater() override;

    void checkVersion();

    // Where this system's new launcher is published on the community's web host.
    static QString downloadPath();

    // Each request of the version check, and the signature's, is given up checkTimeLimit after
    // it started without its answer; the download after downloadIdleLimit without a byte, and in
    // any case downloadTimeLimit after its request. The defaults are the build's; tests shorten
    // them.
    static constexpr int kDefaultCheckTimeLimit = 30000;
    static constexpr qint64 kVersionMaxBytes = 1024;
    void setCheckTimeLimit(int milliseconds) { checkTimeLimit = milliseconds; }
    void setDownloadTimeLimit(int milliseconds) { downloadTimeLimit = milliseconds; }
    void setDownloadIdleLimit(int milliseconds) { downloadIdleLimit = milliseconds; }
    void setDownloadMaxBytes(qint64 bytes) { downloadMaxBytes = bytes; }
    // Off in a package, which the package manager updates: a new version is then only told.
    void setInstallsUpdates(bool on) { installsUpdates = on; }

signals:
    // What the player reads in the status line, as it happens.
    void statusChanged(const QString& text);
    // The progress bar's value while a new launcher arrives.
    void progressChanged(int value);
    // The server's version is the stored one: the launcher is current.
    void current();
    // The server offers another version, but only the package manager installs one: this
    // launcher stays, its version unchanged, and may be played. The notice tells the player.
    void packageOutdated(const QString& notice);
    // The server offers no launcher for this system (404 at this system's address): the report
    // says so, and the player plays with this launcher, told why it stays as it is.
    void notOffered(const QString& notice);
    // The version check failed with the client's error code.
    void checkFailed(int code);
    // A new launcher took the old one's place and its version is stored; the report is written.
    void updated();

private slots:
    void onCheckComplete(bool erreur);
    void onDownloadProgress(int done, int total);
    void onDownloadComplete(bool bol_errorWhiledownload);

private:
    void downloadUpdate();
    // Whether the downloaded file is whole on the disk and can be a launcher at all.
    bool newExecutableIsWhole();
    // Moves the checked file into the launcher's place; false leaves the old launcher there.
    bool installNewExecutable();
    // A build with the community's public key installs only what is signed with it: the
    // signature is fetched beside the executable before anything moves.
    void fetchSignature();
    void onSignatureComplete(bool error);
    // The end of every attempt: the status line or, on success, updated(); the report in between.
    // A failure that has a reason of its own says it instead of the usual failure text.
    void finishUpdate(bool installed, const QString& failure = QString());
    // What was left under the update's names, or a folder that takes no new file, ends the
    // attempt before its request: false when it did.
    bool namesAreFree();
    // The new version in launcher.conf, or the old launcher back: an update that is not
    // recorded would be downloaded again at every start.
    bool recordNewVersion();

    HttpClient* downloadClient;
    NewExecutable newExeFile;
    // What the attempt came to so far, as its report will tell it.
    UpdateOutcome attempt;
    Config* config;
    HttpClient* versionClient;
    QString newVersion;

    int checkTimeLimit = kDefaultCheckTimeLimit;
    int downloadTimeLimit;
    int downloadIdleLimit;
    qint64 downloadMaxBytes;
    bool downloadEnded = false;
    bool installsUpdates = !vestrahal::kPackaged;

    HttpClient* signatureClient = nullptr;
};
