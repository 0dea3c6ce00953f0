#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;

// One launcher per folder: two launchers updating the same executable would delete and rename
// each other's files. The first one holds a lock file in the folder for as long as it runs and
// listens under a name made from the folder; a later one only asks it to come to the front.
class SingleLauncher : public QObject {
    Q_OBJECT

public:
    // The folder whose files the launcher works on: where launcher.conf is, and the executable
    // outside a package.
    explicit SingleLauncher(const QString& folder, QObject* parent = nullptr);
    ~SingleLauncher() override;

    // True: this process is the folder's launcher and keeps the lock until it is destroyed. A
    // lock left by a launcher that is gone (killed, crashed) is taken over. A folder where no
    // lock can be made at all cannot be updated either, and is run as it is.
    // False: another launcher runs in the folder. It has been asked to come to the front, and
    // this one should end at once, touching nothing.
    bool claim();

    // The name under which the folder's launcher listens: the same for every launcher started
    // in the folder, whatever path it was started through.
    static QString serverName(const QString& folder);
    static QString lockFileName() { return QStringLiteral("VestrahalLauncher.lock"); }

signals:
    // A launcher started later in the same folder asks this one's window to come to the front.
    void raiseRequested();

private:
    void listen();
    void askOwnerToRaise() const;

    QString folder;
    QLockFile lock;
    QLocalServer* server = nullptr;
};
