// libFuzzer target: the self-update's helpers fed any server answer and any download outcome.
// The version text never holds a line break or a NUL and is stable when read again; the report
// always has its fixed lines; a signature file that is taken has one way to be written.
#include "config.h"
#include "newexecutable.h"
#include "updatereport.h"
#include "updatesignature.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);

    // The outcome as the updater can produce it: counts of bytes no larger than any file.
    constexpr qint64 kLargest = qint64(1) << 62;
    UpdateOutcome outcome;
    outcome.requestSent = input.ConsumeBool();
    outcome.downloadFailed = input.ConsumeBool();
    outcome.clientError = input.ConsumeIntegral<int>();
    outcome.httpStatus = input.ConsumeIntegral<int>();
    outcome.bytesReceived = input.ConsumeIntegralInRange<qint64>(0, kLargest);
    outcome.fileCreated = input.ConsumeBool();
    outcome.fileError = input.ConsumeIntegral<int>();
    outcome.fileWritten = input.ConsumeBool();
    outcome.bytesWritten = input.ConsumeIntegralInRange<qint64>(-1, kLargest);
    outcome.notAProgram = input.ConsumeBool();
    outcome.signatureChecked = input.ConsumeBool();
    outcome.sequenceRefused = input.ConsumeBool();
    outcome.sequence = input.ConsumeIntegral<quint64>();
    outcome.installedSequence = input.ConsumeIntegral<quint64>();
    if (input.ConsumeBool())
        outcome.inTheWay = QStringLiteral("VestrahalLauncher.exe.new");
    const QDateTime date = QDateTime::fromMSecsSinceEpoch(
        input.ConsumeIntegralInRange<qint64>(-10000000000000LL, 10000000000000LL), Qt::UTC);
    const std::string name = input.ConsumeRandomLengthString(64);

    const QString report =
        updateReport(outcome, QString::fromLatin1(name.data(), qsizetype(name.size())), date);
    if (!report.startsWith(QStringLiteral("-----")) || !report.endsWith(QStringLiteral("\n\n\n")))
        fail("the report lost its frame");

    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QByteArray body(rest.data(), qsizetype(rest.size()));
    const QString version = Config::serverVersionText(body);
    if (version.size() > body.size())
        fail("the version text grew");
    for (const QChar ch : version) {
        if (ch == QLatin1Char('\r') || ch == QLatin1Char('\n') || ch.unicode() == 0)
            fail("the version text holds a line break or a NUL");
    }
    if (Config::serverVersionText(version.toLatin1()) != version)
        fail("the version text changed when read again");
    if (isProgramImage(body) && body.size() < 2)
        fail("too short to be a program");

    const SignatureFile signature = parseSignatureFile(body);
    if (signature.valid) {
        if (signature.signature.isEmpty() || signature.signature.contains('\n'))
            fail("the signature line is empty or holds a line break");
        const QByteArray again =
            signature.signature + "\nsequence " + QByteArray::number(signature.sequence) + '\n';
        const SignatureFile reread = parseSignatureFile(again);
        if (!reread.valid || reread.sequence != signature.sequence ||
            reread.signature != signature.signature)
            fail("the signature file read differently once written again");
    }
    return 0;
}
