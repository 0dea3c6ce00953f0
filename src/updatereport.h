#pragma once

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
    qint64 bytesWritten = 0;       // bytes that reached the file; -1 (read as 0) when not open
    bool signatureChecked = false; // a build with a public key checked the signature
    QString signatureProblem;      // why the signature was refused; empty when it verified
    bool versionSaved = true;  // false: the new launcher was taken back out, launcher.conf unsaved
    bool sequenceSaved = true; // false: launcher.sequence could not take the new release's
    QString inTheWay;          // a name left over that could not be cleared: no request was made
    bool notAProgram = false;  // the body came whole but cannot be a launcher
    bool programForAnotherSystem = false; // ... being a program for another system
    bool notOfferedHere = false;          // 404: no launcher published for this system
    // The signature verified but its release is not newer than the one installed.
    bool sequenceRefused = false;
    quint64 sequence = 0;
    quint64 installedSequence = 0;
};

// The pieces every report of errors.log is made of, the game files' one included: its frame
// (a rule, what was done, the date, a blank line), each step's name dotted up to the column of
// its result, and the result of a step.
QString reportHeader(const QString& what, const QDateTime& date);
QString reportStep(const QString& step);
QString reportStatus(bool ok);

// The report appended to errors.log after every download attempt, "\n" for each line end. A
// signature that was checked (builds with a public key) and a launcher.conf that could not take
// the new version each add a line of their own; otherwise the report is the same in every build.
// The download line counts the bytes that arrived, however the download ended; a file that was
// not kept says why on its creation line (the file's error code when it could not be created,
// the status that refused the download, a body that is not a program, a name in the way); the
// balance is what arrived less what reached the file.
QString updateReport(const UpdateOutcome& outcome, const QString& executableName,
                     const QDateTime& date);

// Adds the report at the end of the file, creating it when missing. False when it cannot be
// opened or written; nobody is told, the update goes on.
bool appendUpdateReport(const QString& fileName, const QString& report);

// The status line when the report could not be written: the player is told, since nothing else
// keeps a trace of the attempt.
QString statusWithUnwrittenReport(const QString& status);
