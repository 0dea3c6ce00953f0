#include "runnerdiagnosis.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// Wine's loader failing to load the 32-bit half of Windows: a 32-bit program asked of a Wine
// without its 32-bit support (Debian's wine64 without wine32:i386). Debian's wrapper also says
// "it looks like wine32 is missing" before every program, those that run included: alone, that
// tells nothing about this one.
const QByteArray kNo32BitSign = QByteArrayLiteral("load_wow64_ntdll failed");

bool isWine(const QString& runner) {
    // wine, wine64, wine-stable of WineHQ's packages, a full path to any of them.
    return QFileInfo(runner).fileName().startsWith(QLatin1String("wine"), Qt::CaseInsensitive);
}

} // namespace

namespace runnerdiagnosis {

QString locate(const QString& runner) {
    if (runner.isEmpty())
        return {};
    if (!runner.contains(QLatin1Char('/')) && !runner.contains(QDir::separator()))
        return QStandardPaths::findExecutable(runner);
    const QFileInfo program(runner);
    return program.isFile() && program.isExecutable() ? program.absoluteFilePath() : QString();
}

QString missingRunnerNotice(const QString& runner) {
    if (isWine(runner))
        return QStringLiteral("Wine n'est pas installé : installez le paquet wine.");
    return QStringLiteral("Le programme qui lance le jeu est introuvable : %1.").arg(runner);
}

QString no32BitNotice() {
    return QStringLiteral("Wine ne peut pas lancer ce jeu 32 bits : installez le paquet "
                          "wine32:i386.");
}

QString missingRunnerNote(const QString& runner, const QString& program) {
    return QStringLiteral("%1 not found, %2 not started").arg(runner, program);
}

QString no32BitNote(const QString& runner) {
    return QStringLiteral("%1 cannot run 32-bit programs (on Debian, as root: dpkg "
                          "--add-architecture i386 && apt-get update && apt-get install "
                          "wine32:i386)")
        .arg(runner);
}

} // namespace runnerdiagnosis

void RunnerOutput::read(const QByteArray& bytes) {
    if (lacking32Bit || bytes.isEmpty())
        return;
    const QByteArray text = carry + bytes;
    if (text.contains(kNo32BitSign)) {
        lacking32Bit = true;
        carry.clear();
        return;
    }
    carry = text.right(kNo32BitSign.size() - 1);
}
