#include "updatereport.h"

#include "buildoptions.h"

#include <QFile>
#include <QStringConverter>
#include <QTextStream>

#include <algorithm>

namespace {

// Where every step's result starts on its line.
constexpr qsizetype kResultColumn = 38;

// Why no new launcher was kept, for a file that was not created or not kept.
QString notCreatedReason(const UpdateOutcome& outcome) {
    if (!outcome.inTheWay.isEmpty())
        return QLatin1Char(' ') + outcome.inTheWay + QStringLiteral(" is in the way");
    if (outcome.notOfferedHere)
        return QStringLiteral(" not offered for this system (HTTP 404)");
    if (outcome.requestSent && !outcome.downloadFailed && outcome.httpStatus != 200)
        return QStringLiteral(" download refused with HTTP ") + QString::number(outcome.httpStatus);
    if (outcome.requestSent && outcome.downloadFailed)
        return QStringLiteral(" download failed");
    if (outcome.programForAnotherSystem)
        return QStringLiteral(" not a program for this system");
    if (outcome.notAProgram)
        return QStringLiteral(" not a program");
    return QStringLiteral(" Error #") + QString::number(outcome.fileError);
}

} // namespace

QString reportHeader(const QString& what, const QDateTime& date) {
    return QStringLiteral("----------------------------------------------------------\n") + what +
           QStringLiteral("\nDate : ") + date.toString(Qt::TextDate) + QStringLiteral("\n\n");
}

QString reportStep(const QString& step) {
    return (step + u' ').leftJustified(kResultColumn - 1, u'.') + u' ';
}

QString reportStatus(bool ok) {
    return ok ? QStringLiteral("[OK]") : QStringLiteral("[FAIL]");
}

namespace {

// What arrived and how the request ended. The pieces follow each other on one line: a request
// that failed before any header came shows both its error and the status 0.
QString downloadLine(const UpdateOutcome& outcome) {
    // Its dots do not give way to a count of more than six digits: the line grows instead.
    QString text = QStringLiteral("Downloading ") +
                   QString::number(outcome.bytesReceived).rightJustified(6, u' ') +
                   QStringLiteral(" Bytes ............ ");
    if (outcome.downloadFailed) {
        text += reportStatus(false);
        if (outcome.requestSent)
            text += QStringLiteral(" Error #") + QString::number(outcome.clientError);
    }
    if (outcome.requestSent && outcome.httpStatus != 200)
        text += reportStatus(false) + QStringLiteral(" HTTP Error ") +
                QString::number(outcome.httpStatus);
    if (!outcome.downloadFailed && outcome.httpStatus == 200)
        text += reportStatus(true) + QStringLiteral(" HTTP ") + QString::number(outcome.httpStatus);
    return text + u'\n';
}

// Only in a build with a public key, when a signature was checked.
QString signatureLine(const UpdateOutcome& outcome) {
    if (!outcome.signatureChecked)
        return {};
    QString text = reportStep(QStringLiteral("Signature of the file"));
    if (!outcome.signatureProblem.isEmpty())
        text +=
            reportStatus(false) + QStringLiteral(" Signature refused: ") + outcome.signatureProblem;
    else if (outcome.sequenceRefused)
        text += reportStatus(false) + QStringLiteral(" Release sequence ") +
                QString::number(outcome.sequence) + QStringLiteral(" is not above the installed ") +
                QString::number(outcome.installedSequence);
    else
        text += reportStatus(true);
    return text + u'\n';
}

} // namespace

QString updateReport(const UpdateOutcome& outcome, const QString& executableName,
                     const QDateTime& date) {
    QString text =
        reportHeader(QStringLiteral("Upgrading ") + executableName + QStringLiteral("..."), date);
    text += reportStep(QStringLiteral("Sending HTTP request")) + reportStatus(outcome.requestSent) +
            u'\n';
    text += downloadLine(outcome);
    text += reportStep(QStringLiteral("Creation of the file"));
    text +=
        outcome.fileCreated ? reportStatus(true) : reportStatus(false) + notCreatedReason(outcome);
    text += u'\n';
    // A file that was never open took nothing: what arrived is the whole balance.
    const qint64 reachedTheFile = std::max<qint64>(outcome.bytesWritten, 0);
    text += reportStep(QStringLiteral("Writting of the file"));
    text += outcome.fileWritten ? reportStatus(true)
                                : reportStatus(false) + QStringLiteral(" Bytes balance = ") +
                                      QString::number(outcome.bytesReceived - reachedTheFile);
    text += u'\n';
    text += signatureLine(outcome);
    if (!outcome.versionSaved)
        text += reportStep(QStringLiteral("Saving launcher.conf")) + reportStatus(false) + u'\n';
    if (!outcome.sequenceSaved)
        text +=
            reportStep(QStringLiteral("Saving launcher.sequence")) + reportStatus(false) + u'\n';
    text += QStringLiteral("\n\n");
    return text;
}

bool appendUpdateReport(const QString& fileName, const QString& report) {
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return false;
    QTextStream stream(&file);
    stream.setEncoding(QStringConverter::System);
    stream << report;
    stream.flush();
    return stream.status() == QTextStream::Ok && file.error() == QFileDevice::NoError;
}

QString statusWithUnwrittenReport(const QString& status) {
    return status + QStringLiteral(" (rapport impossible à écrire dans ") +
           QString::fromLatin1(vestrahal::kReportFileName) + QStringLiteral(")");
}
