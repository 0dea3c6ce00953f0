// What a signed release is made of and what the launcher keeps of it, as plain functions: the
// signed message and its signature file, the admin's release tool and the openssl route of the
// README, the stored release sequence, the names an update must find free, the swap that moves
// only the file this process wrote, and the report's texts.
#include "buildoptions.h"
#include "newexecutable.h"
#include "releasesequence.h"
#include "testfiles.h"
#include "updater.h"
#include "updatereport.h"
#include "updatesignature.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace {

constexpr int kTimeout = 30000;
const QString kExe = QString::fromLatin1(vestrahal::kExecutableName);
const QString kBackup = kExe + ".bak";
const QString kPartial = kExe + ".new";
// How a program of this system starts, and one of the other system the community publishes for.
#ifdef Q_OS_WIN
const QByteArray kThisSystem = "MZ";
const QByteArray kOtherSystem = "\177ELF";
#else
const QByteArray kThisSystem = "\177ELF";
const QByteArray kOtherSystem = "MZ";
#endif

QByteArray sha256Hex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

int run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(kTimeout))
        return -1;
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// openssl and bash, which check the tool's work and run the README's commands, are the host's
// programs: a build for another system (Windows under Wine) may find none.
#define SKIP_WITHOUT_PROGRAM(name)                                                                 \
    do {                                                                                           \
        if (QStandardPaths::findExecutable(name).isEmpty())                                        \
            QSKIP("no " name " program on this system's PATH");                                    \
    } while (false)

// The names the test lays down where an update writes.
enum class Leftover {
    None,
    LinkToFile,
    DanglingLink,
    LinkToFolder,
    EmptyFolder,
    FolderWithFiles,
    RegularFile,
};

} // namespace

Q_DECLARE_METATYPE(Leftover)
Q_DECLARE_METATYPE(UpdateOutcome)

class ReleaseTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        dir.reset(new QTemporaryDir);
        QVERIFY(QDir::setCurrent(dir->path()));
    }
    void cleanup() {
        QDir::setCurrent(QDir::tempPath());
        // Under Wine a program the row ran may let go of the folder a moment after it ended.
        QTRY_VERIFY_WITH_TIMEOUT(dir->remove(), 10000);
    }

    void signedMessage() {
        QCOMPARE(signedUpdateMessage("1.4.2", "ab12", 1765000000),
                 QByteArray("vestrahal-update\n1.4.2\nab12\n1765000000\n"));
        // The version's own bytes, whatever they are.
        QCOMPARE(signedUpdateMessage("1.1.0\xc3\xa9", "00", 1),
                 QByteArray("vestrahal-update\n1.1.0\xc3\xa9\n00\n1\n"));
    }

    void signatureFileLayout_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<quint64>("sequence");
        QTest::newRow("as the tool writes it") << QByteArray("c2ln\nsequence 1765000000\n") << true
                                               << QByteArray("c2ln") << quint64(1765000000);
        QTest::newRow("CR LF line ends")
            << QByteArray("c2ln\r\nsequence 7\r\n") << true << QByteArray("c2ln") << quint64(7);
        QTest::newRow("no final line end")
            << QByteArray("c2ln\nsequence 7") << true << QByteArray("c2ln") << quint64(7);
        QTest::newRow("largest sequence")
            << QByteArray("c2ln\nsequence 18446744073709551615\n") << true << QByteArray("c2ln")
            << quint64(18446744073709551615ull);
        QTest::newRow("sequence past 64 bits")
            << QByteArray("c2ln\nsequence 18446744073709551616\n") << false << QByteArray()
            << quint64(0);
        QTest::newRow("signature alone, as before sequences")
            << QByteArray("c2ln\n") << false << QByteArray() << quint64(0);
        QTest::newRow("leading zero")
            << QByteArray("c2ln\nsequence 07\n") << false << QByteArray() << quint64(0);
        QTest::newRow("negative") << QByteArray("c2ln\nsequence -7\n") << false << QByteArray()
                                  << quint64(0);
        QTest::newRow("plus sign")
            << QByteArray("c2ln\nsequence +7\n") << false << QByteArray() << quint64(0);
        QTest::newRow("two spaces")
            << QByteArray("c2ln\nsequence  7\n") << false << QByteArray() << quint64(0);
        QTest::newRow("no number")
            << QByteArray("c2ln\nsequence \n") << false << QByteArray() << quint64(0);
        QTest::newRow("another word")
            << QByteArray("c2ln\nversion 7\n") << false << QByteArray() << quint64(0);
        QTest::newRow("a third line")
            << QByteArray("c2ln\nsequence 7\nencore\n") << false << QByteArray() << quint64(0);
        QTest::newRow("empty signature line")
            << QByteArray("\nsequence 7\n") << false << QByteArray() << quint64(0);
    }
    void signatureFileLayout() {
        QFETCH(QByteArray, text);
        const SignatureFile file = parseSignatureFile(text);
        QTEST(file.valid, "valid");
        if (file.valid) {
            QTEST(file.signature, "signature");
            QTEST(file.sequence, "sequence");
        }
    }

    // The tool signs the version's UTF-8 bytes and the sequence it is given, or the current
    // time; what it writes verifies with the launcher's own functions and with openssl.
    void releaseTool_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QByteArray>("versionBytes");
        QTest::addColumn<QString>("sequence"); // empty: the tool's default
        QTest::newRow("ASCII, given sequence") << "1.4.2" << QByteArray("1.4.2") << "42";
        QTest::newRow("non-ASCII, given sequence")
            << QString::fromUtf8("1.1.0é") << QByteArray("1.1.0\xc3\xa9") << "1765000001";
        QTest::newRow("line end dropped, default sequence") << "2.0\n"
                                                            << QByteArray("2.0") << QString();
    }
    void releaseTool() {
        QFETCH(QString, version);
        QFETCH(QByteArray, versionBytes);
        QFETCH(QString, sequence);
        const QString keys = QDir::current().filePath("cles");
        QCOMPARE(run(RELEASE_TOOL, {"keygen", keys}), 0);
        const QByteArray publicKey = decodePublicKey(readFile(keys + "/update.pub"));
        QCOMPARE(publicKey.size(), 32);
        const QByteArray executable = "\177ELF" + QByteArray(50000, 'x');
        writeFile("nouveau.exe", executable);

        QStringList arguments{"sign", "--key", keys + "/update.key", "--version", version};
        if (!sequence.isEmpty())
            arguments << "--sequence" << sequence;
        arguments << "nouveau.exe";
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        QCOMPARE(run(RELEASE_TOOL, arguments), 0);
        const qint64 after = QDateTime::currentSecsSinceEpoch();

        const SignatureFile file = parseSignatureFile(readFile("nouveau.exe.sig"));
        QVERIFY(file.valid);
        if (sequence.isEmpty()) {
            QVERIFY(file.sequence >= quint64(before) && file.sequence <= quint64(after));
        } else {
            QCOMPARE(file.sequence, sequence.toULongLong());
        }
        const QByteArray message =
            signedUpdateMessage(versionBytes, sha256Hex(executable), file.sequence);
        QCOMPARE(verifyUpdateSignature(file.signature, message, publicKey),
                 SignatureVerdict::Valid);
        // Bound to its sequence: the same signature with another one does not verify.
        QCOMPARE(verifyUpdateSignature(
                     file.signature,
                     signedUpdateMessage(versionBytes, sha256Hex(executable), file.sequence + 1),
                     publicKey),
                 SignatureVerdict::Refused);

        // openssl, given the same public key as a PEM file, verifies it too.
        SKIP_WITHOUT_PROGRAM("openssl");
        writeFile("public.pem",
                  "-----BEGIN PUBLIC KEY-----\n" +
                      (QByteArray::fromHex("302a300506032b6570032100") + publicKey).toBase64() +
                      "\n-----END PUBLIC KEY-----\n");
        writeFile("message", message);
        writeFile("signature", QByteArray::fromBase64(file.signature));
        QCOMPARE(run("openssl", {"pkeyutl", "-verify", "-pubin", "-inkey", "public.pem", "-rawin",
                                 "-in", "message", "-sigfile", "signature"}),
                 0);
    }

    // The tool's key is the owner's alone, never replaced, and openssl signs with it too.
    void keygenAndOpensslSigning() {
        const QString keys = QDir::current().filePath("cles");
        QCOMPARE(run(RELEASE_TOOL, {"keygen", keys}), 0);
#ifdef Q_OS_UNIX
        // Windows' rights are the folder's access list, which QFile::permissions does not read.
        const QFile::Permissions anyone = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFile::permissions(keys + "/update.key") & anyone,
                 QFile::ReadOwner | QFile::WriteOwner);
#endif
        const QByteArray secret = readFile(keys + "/update.key");
        QCOMPARE(run(RELEASE_TOOL, {"keygen", keys}), 1);
        QCOMPARE(readFile(keys + "/update.key"), secret);

        SKIP_WITHOUT_PROGRAM("openssl");
        const QByteArray publicKey = decodePublicKey(readFile(keys + "/update.pub"));
        const QByteArray message = signedUpdateMessage("1.5", sha256Hex("\177ELF"), 1765000000);
        writeFile("message", message);
        QCOMPARE(run("openssl", {"pkeyutl", "-sign", "-inkey", keys + "/update.key", "-rawin",
                                 "-in", "message", "-out", "by-openssl"}),
                 0);
        const QByteArray signature = readFile("by-openssl").toBase64();
        QCOMPARE(verifyUpdateSignature(signature, message, publicKey), SignatureVerdict::Valid);
        QCOMPARE(verifyUpdateSignature(signature, message + "x", publicKey),
                 SignatureVerdict::Refused);
    }

    void releaseToolRefuses_data() {
        QTest::addColumn<QString>("sequence");
        QTest::newRow("not a number") << "abc";
        QTest::newRow("zero") << "0";
        QTest::newRow("negative") << "-5";
        QTest::newRow("past 64 bits") << "18446744073709551616";
    }
    void releaseToolRefuses() {
        QFETCH(QString, sequence);
        QCOMPARE(run(RELEASE_TOOL, {"keygen", "cles"}), 0);
        writeFile("nouveau.exe", "\177ELF");
        QCOMPARE(run(RELEASE_TOOL, {"sign", "--key", "cles/update.key", "--version", "1.5",
                                    "--sequence", sequence, "nouveau.exe"}),
                 1);
        QVERIFY(!QFile::exists("nouveau.exe.sig"));
    }

    // The README's commands for an admin who signs with openssl alone, run as they are written:
    // the launcher takes what they make.
    void opensslRouteOfTheReadme() {
        const QString readme = QString::fromUtf8(readFile(VESTRAHAL_SOURCE_DIR "/README.md"));
        const QRegularExpression block("```sh\n(openssl genpkey[^`]*)```");
        const QRegularExpressionMatch found = block.match(readme);
        QVERIFY2(found.hasMatch(), "the README's openssl commands");
        SKIP_WITHOUT_PROGRAM("bash");
        SKIP_WITHOUT_PROGRAM("openssl");
        const QByteArray executable = "\177ELF" + QByteArray(70000, 'o');
        writeFile(kExe, executable);
        QByteArray output;
        QCOMPARE(run("bash", {"-euo", "pipefail", "-c", found.captured(1)}, &output), 0);
        const QByteArray publicKey = decodePublicKey(output.trimmed());
        QCOMPARE(publicKey.size(), 32);

        const SignatureFile file = parseSignatureFile(readFile(kExe + ".sig"));
        QVERIFY(file.valid);
        QVERIFY(file.sequence > 0);
        const QByteArray version =
            QRegularExpression("printf 'vestrahal-update\\\\n%s\\\\n' (\\S+);")
                .match(found.captured(1))
                .captured(1)
                .toUtf8();
        QVERIFY(!version.isEmpty());
        QCOMPARE(verifyUpdateSignature(
                     file.signature,
                     signedUpdateMessage(version, sha256Hex(executable), file.sequence), publicKey),
                 SignatureVerdict::Valid);
    }

    // A signature file checked as the launcher does: only a genuine signature for these bytes
    // and a sequence above the installed one is taken.
    void signedReleaseCheck_data() {
        QTest::addColumn<QByteArray>("signedVersion");
        QTest::addColumn<quint64>("signedSequence");
        QTest::addColumn<QByteArray>("servedVersion");
        QTest::addColumn<quint64>("installed");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("replayed");
        QTest::addColumn<QString>("problem");
        QTest::newRow("greater sequence")
            << QByteArray("1.5") << quint64(1765000100) << QByteArray("1.5") << quint64(1765000000)
            << true << false << QString();
        QTest::newRow("first signed release, none installed")
            << QByteArray("1.5") << quint64(1) << QByteArray("1.5") << quint64(0) << true << false
            << QString();
        QTest::newRow("replayed: equal sequence")
            << QByteArray("1.5") << quint64(1765000000) << QByteArray("1.5") << quint64(1765000000)
            << false << true << QString();
        QTest::newRow("replayed: lower sequence")
            << QByteArray("1.4") << quint64(1764000000) << QByteArray("1.4") << quint64(1765000000)
            << false << true << QString();
        QTest::newRow("non-ASCII version, its bytes")
            << QByteArray("1.1.0\xc3\xa9") << quint64(9) << QByteArray("1.1.0\xc3\xa9")
            << quint64(8) << true << false << QString();
        QTest::newRow("non-ASCII version, other bytes")
            << QByteArray("1.1.0\xc3\xa9") << quint64(9) << QByteArray("1.1.0\xe9") << quint64(8)
            << false << false << "does not verify";
    }
    void signedReleaseCheck() {
        QFETCH(QByteArray, signedVersion);
        QFETCH(quint64, signedSequence);
        QFETCH(QByteArray, servedVersion);
        QFETCH(quint64, installed);
        QCOMPARE(run(RELEASE_TOOL, {"keygen", "cles"}), 0);
        const QByteArray publicKey = decodePublicKey(readFile("cles/update.pub"));
        const QByteArray executable = "\177ELF" + QByteArray(1000, 'e');
        writeFile("nouveau.exe", executable);
        QCOMPARE(run(RELEASE_TOOL, {"sign", "--key", "cles/update.key", "--version",
                                    QString::fromUtf8(signedVersion), "--sequence",
                                    QString::number(signedSequence), "nouveau.exe"}),
                 0);
        const ReleaseCheck check = checkSignedRelease(readFile("nouveau.exe.sig"), servedVersion,
                                                      sha256Hex(executable), publicKey, installed);
        QTEST(check.accepted, "accepted");
        QTEST(check.replayed, "replayed");
        QTEST(check.problem, "problem");
        if (check.problem.isEmpty())
            QCOMPARE(check.sequence, signedSequence);
    }

    void storedSequence() {
        const QString name = releaseSequenceFileName();
        QCOMPARE(installedReleaseSequence(name), quint64(0));
        QVERIFY(storeInstalledReleaseSequence(name, 1765000000));
        QCOMPARE(installedReleaseSequence(name), quint64(1765000000));
        QVERIFY(storeInstalledReleaseSequence(name, 18446744073709551615ull));
        QCOMPARE(installedReleaseSequence(name), quint64(18446744073709551615ull));
        // What is not a sequence reads as none.
        writeFile(name, "pas un nombre\n");
        QCOMPARE(installedReleaseSequence(name), quint64(0));
        // Where nothing can be written, the stored sequence stays what it was.
        QVERIFY(storeInstalledReleaseSequence(name, 9));
        QVERIFY(QDir().mkdir("bloque"));
        writeFile("fichier", "x");
        QVERIFY(!storeInstalledReleaseSequence("fichier/" + name, 10));
        QCOMPARE(installedReleaseSequence(name), quint64(9));
        QVERIFY(!storeInstalledReleaseSequence("bloque", 10));
        QVERIFY(QFileInfo("bloque").isDir());
    }

    // What an earlier update or a player left under the update's names is cleared before the
    // download, the links themselves and never what they lead to; what cannot be is named.
    void leftoverNames_data() {
        QTest::addColumn<bool>("backupName"); // false: the download's name
        QTest::addColumn<Leftover>("leftover");
        QTest::addColumn<bool>("inTheWay");
        QTest::addColumn<bool>("removed");
        QTest::newRow("nothing") << false << Leftover::None << false << false;
        QTest::newRow(".new a link to a file") << false << Leftover::LinkToFile << false << true;
        QTest::newRow(".new a link to nothing") << false << Leftover::DanglingLink << false << true;
        QTest::newRow(".new a link to a folder")
            << false << Leftover::LinkToFolder << false << true;
        QTest::newRow(".new an empty folder") << false << Leftover::EmptyFolder << false << true;
        QTest::newRow(".new a folder with files")
            << false << Leftover::FolderWithFiles << true << false;
        QTest::newRow(".new a file: left to the download")
            << false << Leftover::RegularFile << false << false;
        QTest::newRow(".bak a link to the launcher")
            << true << Leftover::LinkToFile << false << true;
        QTest::newRow(".bak a link to nothing") << true << Leftover::DanglingLink << false << true;
        QTest::newRow(".bak a link to a folder") << true << Leftover::LinkToFolder << false << true;
        // A folder there is the swap's to refuse, with its own status text.
        QTest::newRow(".bak an empty folder: left")
            << true << Leftover::EmptyFolder << false << false;
        QTest::newRow(".bak a folder with files: left")
            << true << Leftover::FolderWithFiles << false << false;
        QTest::newRow(".bak a file: replaced by the swap")
            << true << Leftover::RegularFile << false << false;
    }
    void leftoverNames() {
        QFETCH(bool, backupName);
        QFETCH(Leftover, leftover);
        QFETCH(bool, inTheWay);
        QFETCH(bool, removed);
        writeFile(kExe, "\177ELF le launcher");
        writeFile("dossier/garde", "garde");
        const QString name = backupName ? kBackup : kPartial;
        if (leftover == Leftover::LinkToFile || leftover == Leftover::DanglingLink ||
            leftover == Leftover::LinkToFolder)
            VESTRAHAL_SKIP_WITHOUT_SYMBOLIC_LINKS();
        switch (leftover) {
        case Leftover::None:
            break;
        case Leftover::LinkToFile:
            QVERIFY(QFile::link(kExe, name));
            break;
        case Leftover::DanglingLink:
            QVERIFY(QFile::link("absent", name));
            break;
        case Leftover::LinkToFolder:
            QVERIFY(QFile::link("dossier", name));
            break;
        case Leftover::EmptyFolder:
            QVERIFY(QDir().mkdir(name));
            break;
        case Leftover::FolderWithFiles:
            writeFile(name + "/dedans", "dedans");
            break;
        case Leftover::RegularFile:
            writeFile(name, "ancien");
            break;
        }
        QCOMPARE(clearLeftoverNames(kExe, kBackup), inTheWay ? name : QString());
        const QFileInfo after(name);
        QCOMPARE(!after.exists() && !after.isSymLink(), removed || leftover == Leftover::None);
        // What the links led to is untouched.
        QCOMPARE(readFile(kExe), QByteArray("\177ELF le launcher"));
        QCOMPARE(readFile("dossier/garde"), QByteArray("garde"));
        if (leftover == Leftover::FolderWithFiles)
            QCOMPARE(readFile(name + "/dedans"), QByteArray("dedans"));
    }

    void folderThatCannotTakeANewFile() {
        QCOMPARE(folderRefusesNewFile(QDir::currentPath()), QString());
        QVERIFY(
            QDir::current()
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
                .isEmpty());
        writeFile("fichier", "x");
        QVERIFY(!folderRefusesNewFile(QDir::current().filePath("fichier")).isEmpty());
        QVERIFY(!folderRefusesNewFile(QDir::current().filePath("absent")).isEmpty());
    }

    // The swap moves the file this process downloaded, or nothing: another file put under the
    // download's name in the meantime (by a second launcher, say) never takes the launcher's.
    void swapMovesOnlyTheFileItWrote_data() {
        QTest::addColumn<QString>("meanwhile");
        QTest::newRow("nothing happened") << QString();
        QTest::newRow("removed and written again") << "rewritten";
        QTest::newRow("another file renamed over it") << "renamed";
        QTest::newRow("removed") << "removed";
    }
    void swapMovesOnlyTheFileItWrote() {
        QFETCH(QString, meanwhile);
        const QByteArray oldLauncher = "\177ELF l'ancien";
        const QByteArray mine = "\177ELF le nouveau, entier";
        const QByteArray theirs = "\177ELF un autre, à moitié";
        writeFile(kExe, oldLauncher);
        NewExecutable download;
        QVERIFY(download.create(kPartial));
        QVERIFY(download.identity().known);
        QCOMPARE(download.write(mine), qint64(mine.size()));
        QVERIFY(download.finish());
        QVERIFY(download.stillUnderItsName());

#ifdef Q_OS_WIN
        // Windows keeps the name of a file held open without delete sharing, as the download
        // is: nothing can take its place in the meantime, and the swap moves the download.
        if (!meanwhile.isEmpty()) {
            writeFile("autre", theirs);
            QVERIFY(!QFile::remove(kPartial));
            QVERIFY(!MoveFileExW(L"autre", reinterpret_cast<const wchar_t*>(kPartial.utf16()),
                                 MOVEFILE_REPLACE_EXISTING));
        }
        const bool ours = true;
#else
        if (meanwhile == "rewritten") {
            QVERIFY(QFile::remove(kPartial));
            writeFile(kPartial, theirs);
        } else if (meanwhile == "renamed") {
            writeFile("autre", theirs);
            QVERIFY(QFile::rename("autre", kPartial) ||
                    (QFile::remove(kPartial) && QFile::rename("autre", kPartial)));
        } else if (meanwhile == "removed") {
            QVERIFY(QFile::remove(kPartial));
        }
        const bool ours = meanwhile.isEmpty();
#endif
        QCOMPARE(download.stillUnderItsName(), ours);
        QCOMPARE(swapInNewExecutable(kExe, download, kBackup), ours);
        QCOMPARE(readFile(kExe), ours ? mine : oldLauncher);
        QCOMPARE(readFile(kBackup), ours ? oldLauncher : QByteArray("<absent>"));
        if (!ours && meanwhile != "removed")
            QCOMPARE(readFile(kPartial), theirs);
    }

    // An update undone: the backup takes the launcher's name again, in place of the new one.
    void swapUndone_data() {
        QTest::addColumn<bool>("backupThere");
        QTest::newRow("after the swap") << true;
        QTest::newRow("the backup gone meanwhile") << false;
    }
    void swapUndone() {
        QFETCH(bool, backupThere);
        const QByteArray oldLauncher = kThisSystem + QByteArray(" l'ancien");
        const QByteArray newLauncher = kThisSystem + QByteArray(" le nouveau");
        writeFile(kExe, oldLauncher);
        NewExecutable download;
        QVERIFY(download.create(kPartial));
        QCOMPARE(download.write(newLauncher), qint64(newLauncher.size()));
        QVERIFY(download.finish());
        QVERIFY(swapInNewExecutable(kExe, download, kBackup));
        if (!backupThere)
            QVERIFY(QFile::remove(kBackup));
        QCOMPARE(putBackOldExecutable(kExe, kBackup), backupThere);
        QCOMPARE(readFile(kExe), backupThere ? oldLauncher : newLauncher);
        QVERIFY(!QFile::exists(kBackup));
    }

    // At start-up, what a killed update left: the download's file goes, and a launcher's name
    // left empty by an older launcher gets its backup back.
    void interruptedUpdateCleanedUp_data() {
        QTest::addColumn<bool>("launcher");
        QTest::addColumn<bool>("backup");
        QTest::addColumn<bool>("partial");
        QTest::newRow("download cut short") << true << false << true;
        QTest::newRow("only the backup left") << false << true << false;
        QTest::newRow("the backup and a cut download") << false << true << true;
        QTest::newRow("an update's usual leftovers") << true << true << false;
    }
    void interruptedUpdateCleanedUp() {
        QFETCH(bool, launcher);
        QFETCH(bool, backup);
        QFETCH(bool, partial);
        const QByteArray current = kThisSystem + QByteArray(" en place");
        const QByteArray saved = kThisSystem + QByteArray(" mis de côté");
        if (launcher)
            writeFile(kExe, current);
        if (backup)
            writeFile(kBackup, saved);
        if (partial)
            writeFile(kPartial, kThisSystem + QByteArray(" à moit"));
        cleanUpInterruptedUpdate(QDir::current().filePath(kExe), QDir::current().filePath(kBackup));
        QVERIFY(!QFile::exists(kPartial));
        QCOMPARE(readFile(kExe), launcher ? current : saved);
        QCOMPARE(readFile(kBackup), backup ? saved : QByteArray("<absent>"));
    }

    // Only a program of this system may take the launcher's place: never an error page served
    // with status 200, and a program of the other system is told apart for the report.
    void programImages_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("program");
        QTest::addColumn<bool>("otherSystem");
        QTest::newRow("this system's program")
            << kThisSystem + QByteArray(16, '\0') << true << false;
        QTest::newRow("the other system's program")
            << kOtherSystem + QByteArray(16, '\0') << false << true;
        QTest::newRow("an error page") << QByteArray("<html>Maintenance</html>") << false << false;
        QTest::newRow("nothing") << QByteArray() << false << false;
    }
    void programImages() {
        QFETCH(QByteArray, body);
        QFETCH(bool, program);
        QFETCH(bool, otherSystem);
        QCOMPARE(isProgramImage(body), program);
        QCOMPARE(isProgramOfAnotherSystem(body), otherSystem);
    }

    // The web server keeps the Windows launcher where it always was; other systems have a folder
    // of their own.
    void downloadAddress() {
#ifdef Q_OS_WIN
        QCOMPARE(updater::downloadPath(), QString("/launcher/download/VestrahalLauncher.exe"));
#else
        QCOMPARE(updater::downloadPath(),
                 QString("/launcher/download/linux-x86_64/VestrahalLauncher.exe"));
#endif
    }

    void identityOfNames() {
        writeFile("un", "1");
        writeFile("deux", "2");
        QVERIFY(durablefile::identityOfName("un").known);
        QCOMPARE(durablefile::identityOfName("un"),
                 durablefile::identityOfName(QDir::current().filePath("un")));
        QVERIFY(durablefile::identityOfName("un") != durablefile::identityOfName("deux"));
        QVERIFY(!durablefile::identityOfName("absent").known);
        QVERIFY(durablefile::identityOfName("absent") != durablefile::identityOfName("absent"));
        // A link is a name of its own, not the file it leads to.
        QVERIFY(QFile::link("un", "lien"));
        QVERIFY(durablefile::identityOfName("lien") != durablefile::identityOfName("un"));
    }

    // Every ending of an update has its report, in the lines' usual frame.
    void reportTexts_data() {
        QTest::addColumn<UpdateOutcome>("outcome");
        QTest::addColumn<QStringList>("lines");
        const QString sent = "Sending HTTP request ................ [OK]";
        const QString notSent = "Sending HTTP request ................ [FAIL]";
        const QString created = "Creation of the file ................ [OK]";
        const QString written = "Writting of the file ................ [OK]";
        const auto balance = [](qint64 bytes) {
            return "Writting of the file ................ [FAIL] Bytes balance = " +
                   QString::number(bytes);
        };
        const auto creation = [](const QString& why) {
            return "Creation of the file ................ [FAIL] " + why;
        };

        UpdateOutcome success;
        success.requestSent = true;
        success.httpStatus = 200;
        success.bytesReceived = 1458176;
        success.fileCreated = true;
        success.fileWritten = true;
        success.bytesWritten = 1458176;
        QTest::newRow("installed")
            << success
            << QStringList{sent, "Downloading 1458176 Bytes ............ [OK] HTTP 200", created,
                           written};

        for (const int status : {301, 302, 404}) {
            UpdateOutcome refused;
            refused.requestSent = true;
            refused.httpStatus = status;
            refused.bytesReceived = 162;
            refused.bytesWritten = 162;
            QTest::addRow("refused with %d", status)
                << refused
                << QStringList{sent,
                               "Downloading    162 Bytes ............ [FAIL] HTTP Error " +
                                   QString::number(status),
                               creation("download refused with HTTP " + QString::number(status)),
                               balance(0)};
        }

        UpdateOutcome closedByThePlayer;
        closedByThePlayer.requestSent = true;
        closedByThePlayer.downloadFailed = true;
        closedByThePlayer.clientError = 7;
        closedByThePlayer.httpStatus = 200;
        closedByThePlayer.bytesReceived = 3145728;
        closedByThePlayer.bytesWritten = 3145728;
        QTest::newRow("cut short after megabytes")
            << closedByThePlayer
            << QStringList{sent, "Downloading 3145728 Bytes ............ [FAIL] Error #7",
                           creation("download failed"), balance(0)};

        UpdateOutcome noHeader;
        noHeader.requestSent = true;
        noHeader.downloadFailed = true;
        noHeader.clientError = 2;
        QTest::newRow("host not found")
            << noHeader
            << QStringList{sent,
                           "Downloading      0 Bytes ............ [FAIL] Error #2[FAIL] HTTP "
                           "Error 0",
                           creation("download failed"), balance(0)};

        UpdateOutcome webPage;
        webPage.requestSent = true;
        webPage.httpStatus = 200;
        webPage.bytesReceived = 28;
        webPage.bytesWritten = 28;
        webPage.notAProgram = true;
        QTest::newRow("not a program")
            << webPage
            << QStringList{sent, "Downloading     28 Bytes ............ [OK] HTTP 200",
                           creation("not a program"), balance(0)};

        UpdateOutcome notOpened;
        notOpened.requestSent = true;
        notOpened.httpStatus = 200;
        notOpened.bytesReceived = 12345;
        notOpened.fileError = 5;
        notOpened.bytesWritten = -1;
        QTest::newRow("file that could not be opened")
            << notOpened
            << QStringList{sent, "Downloading  12345 Bytes ............ [OK] HTTP 200",
                           creation("Error #5"), balance(12345)};

        UpdateOutcome shortWrite = notOpened;
        shortWrite.fileCreated = true;
        shortWrite.fileError = 0;
        shortWrite.bytesWritten = 4096;
        QTest::newRow("written short")
            << shortWrite
            << QStringList{sent, "Downloading  12345 Bytes ............ [OK] HTTP 200", created,
                           balance(12345 - 4096)};

        for (const QString& name : {kPartial, kBackup}) {
            UpdateOutcome blocked;
            blocked.downloadFailed = true;
            blocked.inTheWay = name;
            QTest::addRow("%s in the way", qPrintable(name))
                << blocked
                << QStringList{notSent, "Downloading      0 Bytes ............ [FAIL]",
                               creation(name + " is in the way"), balance(0)};
        }
    }
    void reportTexts() {
        QFETCH(UpdateOutcome, outcome);
        const QDateTime date(QDate(2026, 12, 7), QTime(2, 16, 33));
        const QString report = updateReport(outcome, kExe, date);
        QVERIFY(report.startsWith("----------------------------------------------------------\n"
                                  "Upgrading " +
                                  kExe + "...\nDate : " + date.toString(Qt::TextDate) + "\n\n"));
        QVERIFY(report.endsWith("\n\n\n"));
        QTEST(report.split('\n').mid(4, 4), "lines");
        QCOMPARE(report.count('\n'), 10);
    }

    // The signature line of a signed build, a replayed release's included.
    void signatureLine_data() {
        QTest::addColumn<QString>("problem");
        QTest::addColumn<bool>("replayed");
        QTest::addColumn<QString>("line");
        QTest::newRow("verified, newer")
            << QString() << false << "Signature of the file ............... [OK]";
        QTest::newRow("does not verify")
            << "does not verify" << false
            << "Signature of the file ............... [FAIL] Signature refused: does not verify";
        QTest::newRow("replayed")
            << QString() << true
            << "Signature of the file ............... [FAIL] Release sequence 1765000000 is not "
               "above the installed 1765000100";
    }
    void signatureLine() {
        QFETCH(QString, problem);
        QFETCH(bool, replayed);
        UpdateOutcome outcome;
        outcome.requestSent = true;
        outcome.httpStatus = 200;
        outcome.bytesReceived = outcome.bytesWritten = 30000;
        outcome.fileCreated = outcome.fileWritten = true;
        outcome.signatureChecked = true;
        outcome.signatureProblem = problem;
        outcome.sequenceRefused = replayed;
        outcome.sequence = 1765000000;
        outcome.installedSequence = 1765000100;
        const QStringList lines =
            updateReport(outcome, kExe, QDateTime::currentDateTime()).split('\n');
        QTEST(lines.value(8), "line");
        QCOMPARE(lines.size(), 12);
    }

    void unwrittenReportIsSaid() {
        const QString status = QString::fromUtf8(
            "Problème lors du téléchargement de la mise à jour, merci de relancer le launcher");
        const QString said = statusWithUnwrittenReport(status);
        QVERIFY(said.startsWith(status));
        QVERIFY(said.contains(QString::fromLatin1(vestrahal::kReportFileName)));
        // errors.log that is a folder takes no report.
        QVERIFY(QDir().mkdir(QString::fromLatin1(vestrahal::kReportFileName)));
        QVERIFY(!appendUpdateReport(QString::fromLatin1(vestrahal::kReportFileName), "rapport\n"));
        QVERIFY(appendUpdateReport("ailleurs.log", "rapport\n"));
        QCOMPARE(readTextFile("ailleurs.log"), QByteArray("rapport\n"));
    }

private:
    std::unique_ptr<QTemporaryDir> dir;
};

QTEST_GUILESS_MAIN(ReleaseTest)
#include "tst_release.moc"
