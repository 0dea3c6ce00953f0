#include "updatereport.h"

#include "buildoptions.h"

#include <QFile>
#include <QStringConverter>
#include <QTextStream>

#include <algorithm>

namespace {

QString status(bool ok) {
    return ok ? QStringLiteral("[OK]") : QStringLiteral("[FAIL]");
}

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

QString updateReport(const UpdateOutcome& outcome, const QString& executableName,
                     const QDateTime& date) {
    QString text;
    text += QStringLiteral("----------------------------------------------------------\n");
    text += QStringLiteral("Upgrading ") + executableName + QStringLiteral("...\n");
    text += QStringLiteral("Date : ") + date.toString(Qt::TextDate) + QStringLiteral("\n\n");
    text += QStringLiteral("Sending HTTP request ................ ") + status(outcome.requestSent) +
            QStringLiteral("\n");

    text += QStringLiteral("Downloading ") +
            QString::number(outcome.bytesReceived).rightJustified(6, QLatin1Char(' ')) +
            QStringLiteral(" Bytes ............ ");
    // The pieces follow each other on one line: a request that failed before any header came
    // shows both its error and the status 0.
    if (outcome.downloadFailed) {
        text += status(false);
        if (outcome.requestSent)
            text += QStringLiteral(" Error #") + QString::number(outcome.clientError);
    }
    if (outcome.requestSent && outcome.httpStatus != 200)
        text +=
            status(false) + QStringLiteral(" HTTP Error ") + QString::number(outcome.httpStatus);
    if (!outcome.downloadFailed && outcome.httpStatus == 200)
        text += status(true) + QStringLiteral(" HTTP ") + QString::number(outcome.httpStatus);
    text += QStringLiteral("\n");

    text += QStringLiteral("Creation of the file ................ ");
    text += outcome.fileCreated ? status(true) : status(false) + notCreatedReason(outcome);
    text += QStringLiteral("\n");

    // A file that was never open took nothing: what arrived is the whole balance.
    const qint64 reachedTheFile = std::max<qint64>(outcome.bytesWritten, 0);
    text += QStringLiteral("Writting of the file ................ ");
    text += outcome.fileWritten ? status(true)
                                : status(false) + QStringLiteral(" Bytes balance = ") +
                                      QString::number(outcome.bytesReceived - reachedTheFile);
    text += QStringLiteral("\n");
    if (outcome.signatureChecked) {
        text += QStringLiteral("Signature of the file ............... ");
        if (!outcome.signatureProblem.isEmpty())
            text +=
                status(false) + QStringLiteral(" Signature refused: ") + outcome.signatureProblem;
        else if (outcome.sequenceRefused)
            text += status(false) + QStringLiteral(" Release sequence ") +
                    QString::number(outcome.sequence) +
                    QStringLiteral(" is not above the installed ") +
                    QString::number(outcome.installedSequence);
        else
            text += status(true);
        text += QStringLiteral("\n");
    }
    if (!outcome.versionSaved)
        text += QStringLiteral("Saving launcher.conf ................ ") + status(false) +
                QStringLiteral("\n");
    if (!outcome.sequenceSaved)
        text += QStringLiteral("Saving launcher.sequence ............ ") + status(false) +
                QStringLiteral("\n");

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
