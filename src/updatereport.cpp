#include "updatereport.h"

#include <QFile>
#include <QStringConverter>
#include <QTextStream>

namespace {

QString status(bool ok) {
    return ok ? QStringLiteral("[OK]") : QStringLiteral("[FAIL]");
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
    text += outcome.fileCreated
                ? status(true)
                : status(false) + QStringLiteral(" Error #") + QString::number(outcome.fileError);
    text += QStringLiteral("\n");

    text += QStringLiteral("Writting of the file ................ ");
    text += outcome.fileWritten ? status(true)
                                : status(false) + QStringLiteral(" Bytes balance = ") +
                                      QString::number(outcome.bytesReceived - outcome.bytesWritten);
    text += QStringLiteral("\n");
    if (outcome.signatureChecked)
        text += QStringLiteral("Signature of the file ............... ") +
                (outcome.signatureProblem.isEmpty()
                     ? status(true)
                     : status(false) + QStringLiteral(" Signature refused: ") +
                           outcome.signatureProblem) +
                QStringLiteral("\n");
    if (!outcome.versionSaved)
        text += QStringLiteral("Saving launcher.conf ................ ") + status(false) +
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

QString serverVersionText(const QByteArray& body) {
    const qsizetype nul = body.indexOf('\0');
    QByteArray text = nul < 0 ? body : body.left(nul);
    text.removeIf([](char ch) { return ch == '\r' || ch == '\n'; });
    return QString::fromLatin1(text);
}

bool isProgramImage(const QByteArray& body) {
#ifdef Q_OS_WIN
    return body.startsWith("MZ");
#else
    return body.startsWith("\177ELF");
#endif
}
