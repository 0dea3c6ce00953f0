#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// What one download attempt of the self-update came to, as its report tells it.
struct UpdateOutcome {
    bool requestSent = false;    // the download client reported back
    bool downloadFailed = false; // the request failed or was aborted
    int clientError = 0;         // the download client's error code
    int httpStatus = 0;          // 0 when no response header came
    qint64 bytesReceived = 0;
    bool fileCreated = false;
    int fileError = 0; // the new executable's file error code
    bool fileWritten = false;
    qint64 bytesWritten = 0;       // -1 when the file was not open
    bool signatureChecked = false; // a build with a public key checked the signature
    QString signatureProblem;      // why the signature was refused; empty when it verified
    bool versionSaved = true; // false: the new launcher was taken back out, launcher.conf unsaved
};

// The report appended to errors.log after every download attempt, "\n" for each line end. A
// signature that was checked (builds with a public key) and a launcher.conf that could not take
// the new version each add a line of their own; otherwise the report is the same in every build.
QString updateReport(const UpdateOutcome& outcome, const QString& executableName,
                     const QDateTime& date);

// Adds the report at the end of the file, creating it when missing. False when it cannot be
// opened or written; nobody is told, the update goes on.
bool appendUpdateReport(const QString& fileName, const QString& report);

// The version text the server answered: up to its first NUL, one character per byte, without
// CR or LF anywhere. launcher.conf keeps the version on one line and reads it back without line
// ends, so a text with a line break would never again equal the stored one.
QString serverVersionText(const QByteArray& body);

// Whether the body can be a launcher for this platform at all: an error page or a captive
// portal's answer served with status 200 must never take the launcher's place.
bool isProgramImage(const QByteArray& body);
