#include "buildoptions.h"
#include "config.h"
#include "filesizelimit.h"
#include "settingsnotice.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <stdexcept>

#ifdef Q_OS_UNIX
#include <sys/types.h>
#include <unistd.h>
#endif

// Makes opening one file throw, as nothing in the launcher's own code can: whatever a load
// meets, it must answer false rather than let an exception out. Only glibc's open64 can be
// replaced from the executable; elsewhere the case skips.
QByteArray throwOnOpenOf;
#if defined(Q_OS_LINUX) && defined(__GLIBC__)
#include <cstdarg>
#include <dlfcn.h>

#define VESTRAHAL_SKIP_WITHOUT_OPEN_HOOK() static_cast<void>(0)
extern "C" int open64(const char* path, int flags, ...) {
    if (!throwOnOpenOf.isEmpty() && throwOnOpenOf == path) {
        throwOnOpenOf = "thrown";
        throw std::runtime_error("open");
    }
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = va_arg(arguments, mode_t);
    va_end(arguments);
    using Open = int (*)(const char*, int, ...);
    static const auto real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "open64"));
    return real(path, flags, mode);
}
#else
#define VESTRAHAL_SKIP_WITHOUT_OPEN_HOOK()                                                         \
    QSKIP("the C library's open cannot be replaced inside the test process on this platform")
#endif

namespace {

#ifdef Q_OS_UNIX
#define VESTRAHAL_SKIP_WITHOUT_USER_SWITCH() static_cast<void>(0)

// Takes an unprivileged user's identity for file access while it lives, when run as root.
class UnprivilegedUser {
public:
    UnprivilegedUser()
        : root(geteuid() == 0) {
        active = !root || seteuid(65534) == 0;
    }
    ~UnprivilegedUser() {
        if (root && active)
            (void)seteuid(0);
    }
    bool isActive() const { return active; }

private:
    bool root;
    bool active = false;
};
#else
// Folder rights that keep the owner from making files, and a user to be held by them, are POSIX.
#define VESTRAHAL_SKIP_WITHOUT_USER_SWITCH()                                                       \
    QSKIP("no other user's file rights to take on this platform")

// Never active: a case that reaches it without the skip above fails.
class UnprivilegedUser {
public:
    bool isActive() const { return false; }
};
#endif

const QByteArray kDefaultFile = "0\n\n0\n\n0\n |0\n |0\n |0\n\n";

} // namespace

class ConfigTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
        QVERIFY(QDir::setCurrent(dir->path()));
    }
    void cleanup() { QDir::setCurrent(QDir::tempPath()); }

    void constructedStoreHoldsTheBuiltInValues() {
        Config config;
        QCOMPARE(config.baseDir, QDir(dir->path()).absolutePath());
        QCOMPARE(config.filePath(), config.baseDir + "/launcher.conf");
        QCOMPARE(config.realmHosts.keys(), QList<int>({0, 1, 2, 3, 4, 5}));
        QCOMPARE(config.realmHosts[0], QByteArray(vestrahal::kLogonHost));
        QCOMPARE(config.realmHosts[1], QByteArray(vestrahal::kOfficialLogonHost));
        QCOMPARE(config.realmHosts[2], QByteArray(vestrahal::kPartnerLogonHost));
        for (int realm = 3; realm <= 5; ++realm)
            QCOMPARE(config.realmHosts[realm], QByteArray(" "));
        QCOMPARE(config.realmWotlk.values(),
                 QList<bool>({true, false, false, false, false, false}));
        QCOMPARE(config.selectedRealm, 0);
    }

    // A package keeps its settings in the player's own folder for the program, wherever the
    // data location is.
    void playerDataFolder_data() {
        QTest::addColumn<QByteArray>("dataHome");
        QTest::addColumn<QString>("folder");
        QTest::newRow("XDG_DATA_HOME set") << QByteArray("/donnees") << "/donnees";
        QTest::newRow("XDG_DATA_HOME unset") << QByteArray() << "/maison/.local/share";
    }
    void playerDataFolder() {
        QFETCH(QByteArray, dataHome);
        QFETCH(QString, folder);
        const QString root = dir->path();
        const QByteArray home = qgetenv("HOME");
        const QByteArray oldDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("HOME", QFile::encodeName(root + "/maison"));
        if (dataHome.isEmpty())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", QFile::encodeName(root) + dataHome);
        const QString found = Config::playerDataFolder();
        qputenv("HOME", home);
        if (oldDataHome.isEmpty())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", oldDataHome);
#ifdef Q_OS_WIN
        // Windows reads neither variable: the data location is the profile's local application
        // data, whatever they say.
        const QString expected = QDir::fromNativeSeparators(qEnvironmentVariable("LOCALAPPDATA"));
        QVERIFY(!expected.isEmpty());
#else
        const QString expected = root + folder;
#endif
        QCOMPARE(found, expected + "/vestrahal-launcher");
    }

    void missingFileIsCreatedWithTheDefaults() {
        Config config;
        QVERIFY(config.load());
        QCOMPARE(readTextFile(config.filePath()), kDefaultFile);
        QCOMPARE(kDefaultFile.size(), 21);
        QCOMPARE(config.version, QString());
        QCOMPARE(config.realmHosts[3], QByteArray(" "));
    }

    void load_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<bool>("wotlkEnabled");
        QTest::addColumn<QString>("wotlkPath");
        QTest::addColumn<bool>("cataEnabled");
        QTest::addColumn<QString>("cataPath");
        QTest::addColumn<int>("selectedRealm");
        QTest::addColumn<QList<QByteArray>>("hosts");
        QTest::addColumn<QList<bool>>("wotlk");
        QTest::addColumn<QString>("version");

        const QList<QByteArray> empty{" ", " ", " "};
        const QList<bool> cata{false, false, false};
        QTest::newRow("full file, line feeds")
            << QByteArray("1\n/jeux/wotlk\n1\n/jeux/cata\n4\nmon.serveur|1\n |0\nautre|0\n2.0.1\n")
            << true << true << "/jeux/wotlk" << true << "/jeux/cata" << 4
            << QList<QByteArray>{"mon.serveur", " ", "autre"} << QList<bool>{true, false, false}
            << "2.0.1";
        QTest::newRow("full file, CR LF")
            << QByteArray(
                   "1\r\n/jeux/wotlk\r\n1\r\n/jeux/cata\r\n4\r\nmon.serveur|1\r\n |0\r\nautre|0\r\n"
                   "2.0.1\r\n")
            << true << true << "/jeux/wotlk" << true << "/jeux/cata" << 4
            << QList<QByteArray>{"mon.serveur", " ", "autre"} << QList<bool>{true, false, false}
            << "2.0.1";
        QTest::newRow("ninth line without line end")
            << QByteArray("0\n\n0\n\n0\n |0\n |0\n |0\n1.4") << true << false << "" << false << ""
            << 0 << empty << cata << "1.4";
        QTest::newRow("lines after the ninth ignored")
            << QByteArray("0\n\n0\n\n0\n |0\n |0\n |0\n1.4\nextra\n") << true << false << ""
            << false << "" << 0 << empty << cata << "1.4";
        QTest::newRow("only eight lines keeps what was read")
            << QByteArray("1\nC:/WoW\n1\nD:/Cata\n3\nperso|1\n |0\n |0\n") << false << true
            << "C:/WoW" << true << "D:/Cata" << 3 << QList<QByteArray>{"perso", " ", " "}
            << QList<bool>{true, false, false} << "";
        QTest::newRow("three lines keeps the first three")
            << QByteArray("1\nC:/WoW\n1\n") << false << true << "C:/WoW" << true << "" << 0 << empty
            << cata << "";
        QTest::newRow("empty file")
            << QByteArray() << false << false << "" << false << "" << 0 << empty << cata << "";
        QTest::newRow("line 5 two digits read by the first")
            << QByteArray("0\n\n0\n\n12\n |0\n |0\n |0\nv\n") << true << false << "" << false << ""
            << 1 << empty << cata << "v";
        QTest::newRow("line 5 out of range reads 0")
            << QByteArray("0\n\n0\n\n9\n |0\n |0\n |0\nv\n") << true << false << "" << false << ""
            << 0 << empty << cata << "v";
        QTest::newRow("line 5 letter reads 0")
            << QByteArray("0\n\n0\n\nx\n |0\n |0\n |0\nv\n") << true << false << "" << false << ""
            << 0 << empty << cata << "v";
        QTest::newRow("line 5 five") << QByteArray("0\n\n0\n\n5\n |0\n |0\n |0\nv\n") << true
                                     << false << "" << false << "" << 5 << empty << cata << "v";
        QTest::newRow("flag 1abc is true, space 1 is false")
            << QByteArray("1abc\n\n 1\n\n0\n |0\n |0\n |0\nv\n") << true << true << "" << false
            << "" << 0 << empty << cata << "v";
        QTest::newRow("bar and flag only: empty host")
            << QByteArray("0\n\n0\n\n0\n|1\n |0\n |0\nv\n") << true << false << "" << false << ""
            << 0 << empty << QList<bool>{true, false, false} << "v";
        QTest::newRow("two bars: first text is the host, flag from after the first bar")
            << QByteArray("0\n\n0\n\n0\nun|deux|1\n |0\n |0\nv\n") << true << false << "" << false
            << "" << 0 << QList<QByteArray>{"un", " ", " "} << cata << "v";
        QTest::newRow("no bar: whole line without its line end")
            << QByteArray("0\n\n0\n\n0\nsans.barre\r\n |0\n |0\nv\n") << true << false << ""
            << false << "" << 0 << QList<QByteArray>{"sans.barre", " ", " "} << cata << "v";
        QTest::newRow("NUL ends a line's text")
            << QByteArray("0\n/jeux\0cach\xe9\n0\n\n0\nh\0te|1\n |0\n |0\n1.0\0x\n", 40) << true
            << false << "/jeux" << false << "" << 0 << QList<QByteArray>{"h", " ", " "} << cata
            << "1.0";
        // Found by fuzzing: "/jeux\r" was saved as "/jeux\r\n" and read back as "/jeux".
        QTest::newRow("every CR before the line end goes with it")
            << QByteArray("1\n/jeux\r\r\n0\n\r\n0\n |0\n |0\nsans.barre\r\r\n1.0\r\r\r\n") << true
            << true << "/jeux" << false << "" << 0 << QList<QByteArray>{" ", " ", "sans.barre"}
            << cata << "1.0";
        QTest::newRow("Latin-1 folder")
            << QByteArray("1\n/jeux/\xe9t\xe9\n0\n\n0\n |0\n |0\n |0\nv\n") << true << true
            << QString::fromUtf8("/jeux/été") << false << "" << 0 << empty << cata << "v";
    }

    void load() {
        QFETCH(QByteArray, file);
        Config config;
        writeFile(config.filePath(), file);
        QTEST(config.load(), "loaded");
        QTEST(config.wotlkEnabled, "wotlkEnabled");
        QTEST(config.wotlkPath, "wotlkPath");
        QTEST(config.cataEnabled, "cataEnabled");
        QTEST(config.cataPath, "cataPath");
        QTEST(config.selectedRealm, "selectedRealm");
        QFETCH(QList<QByteArray>, hosts);
        QFETCH(QList<bool>, wotlk);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(config.realmHosts[3 + i], hosts[i]);
            QCOMPARE(config.realmWotlk[3 + i], wotlk[i]);
        }
        QTEST(config.version, "version");
        // The built-in realms never come from the file.
        QCOMPARE(config.realmHosts[0], QByteArray(vestrahal::kLogonHost));
        QCOMPARE(config.realmWotlk[0], true);
        // A failed load does not rewrite the file.
        QCOMPARE(readFile(config.filePath()), file);
    }

    void saveRoundTrips() {
        Config config;
        config.wotlkEnabled = true;
        config.wotlkPath = QString::fromUtf8("C:/Jeux/World of Warcraft 3.3.5");
        config.cataEnabled = true;
        config.cataPath = QString::fromUtf8("D:/Jeux/Cataclysme été");
        config.selectedRealm = 5;
        config.realmHosts[3] = "logon.ami.fr";
        config.realmWotlk[3] = true;
        config.realmHosts[5] = "set realmlist 10.0.0.1";
        config.version = "3.1.4";
        QVERIFY(config.save());
        const QByteArray first = readTextFile(config.filePath());
        QCOMPARE(first, QByteArray("1\nC:/Jeux/World of Warcraft 3.3.5\n1\nD:/Jeux/Cataclysme "
                                   "\xe9t\xe9\n5\nlogon.ami.fr|1\n |0\nset realmlist "
                                   "10.0.0.1|0\n3.1.4\n"));

        Config reread;
        QVERIFY(reread.load());
        QCOMPARE(reread.wotlkEnabled, true);
        QCOMPARE(reread.wotlkPath, config.wotlkPath);
        QCOMPARE(reread.cataPath, config.cataPath);
        QCOMPARE(reread.selectedRealm, 5);
        QCOMPARE(reread.realmHosts, config.realmHosts);
        QCOMPARE(reread.realmWotlk, config.realmWotlk);
        QCOMPARE(reread.version, config.version);

        QVERIFY(reread.save());
        QCOMPARE(readTextFile(config.filePath()), first);
    }

    void nonLatin1FolderIsStoredWithQuestionMarks() {
        Config config;
        config.wotlkPath = QString::fromUtf8("C:/Игры/WoW");
        QVERIFY(config.save());
        Config reread;
        QVERIFY(reread.load());
        QCOMPARE(reread.wotlkPath, QString("C:/\?\?\?\?/WoW"));
    }

    void setRealmHostAndFlagSaveAtOnce() {
        Config config;
        QVERIFY(config.load());
        QVERIFY(config.setRealmHost(4, "royaume.perso"));
        QCOMPARE(readTextFile(config.filePath()),
                 QByteArray("0\n\n0\n\n0\n |0\nroyaume.perso|0\n |0\n\n"));
        QVERIFY(config.setRealmWotlk(4, true));
        QCOMPARE(readTextFile(config.filePath()),
                 QByteArray("0\n\n0\n\n0\n |0\nroyaume.perso|1\n |0\n\n"));
        QVERIFY(config.setRealmHost(4, " "));
        QCOMPARE(readTextFile(config.filePath()), QByteArray("0\n\n0\n\n0\n |0\n |1\n |0\n\n"));

        // Realm 0 has no line: the change lives in memory only.
        QVERIFY(config.setRealmWotlk(0, false));
        QCOMPARE(config.realmWotlk[0], false);
        Config reread;
        QVERIFY(reread.load());
        QCOMPARE(reread.realmWotlk[0], true);
    }

    void failedSaveReportsFalseAndKeepsTheOldFile() {
        VESTRAHAL_SKIP_WITHOUT_FILE_SIZE_LIMIT();
        Config config;
        QVERIFY(config.load());
        config.wotlkPath = QString(100000, QLatin1Char('x'));
        {
            FileSizeLimit limit(4096);
            QVERIFY(!config.save());
            QVERIFY(!config.setRealmHost(3, "garde.en.memoire"));
        }
        QCOMPARE(readTextFile(config.filePath()), kDefaultFile);
        QCOMPARE(config.realmHosts[3], QByteArray("garde.en.memoire"));
        const QStringList leftovers = QDir(dir->path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(leftovers, QStringList({"launcher.conf"}));
    }

    void failedSmallSaveIsNoSuccess() {
        VESTRAHAL_SKIP_WITHOUT_FILE_SIZE_LIMIT();
        // Smaller than any buffer: the write succeeds in memory and fails only on its way out.
        Config config;
        QVERIFY(config.load());
        config.cataPath = QString(40, QLatin1Char('c'));
        {
            FileSizeLimit limit(30);
            QVERIFY(!config.save());
        }
        QCOMPARE(readTextFile(config.filePath()), kDefaultFile);
    }

    void saveIntoAMissingFolderFails() {
        Config config;
        // A regular file where the folder should be.
        writeFile(dir->filePath("pas_un_dossier"), "x");
        config.baseDir = dir->filePath("pas_un_dossier");
        QVERIFY(!config.save());
        QVERIFY(!config.load());
    }

    void unreadableFileIsNeitherLoadedNorOverwritten() {
        Config config;
        // A socket standing where the file should be: it exists, cannot be opened as a file,
        // and a save would replace it like any file.
#ifndef Q_OS_UNIX
        QSKIP("a local server makes no file on this platform");
#endif
        QLocalServer socket;
        QVERIFY(socket.listen(config.filePath()));
        QVERIFY(!config.load());
        const QFileInfo info(config.filePath());
        QVERIFY(info.exists() && !info.isFile() && !info.isDir());
    }

    void loadLetsNoExceptionOut() {
        VESTRAHAL_SKIP_WITHOUT_OPEN_HOOK();
        Config config;
        writeFile(config.filePath(), kDefaultFile);
        throwOnOpenOf = config.filePath().toLocal8Bit();
        bool loaded = true;
        try {
            loaded = config.load();
        } catch (...) {
            throwOnOpenOf.clear();
            QFAIL("load let an exception out");
        }
        QVERIFY(throwOnOpenOf.isEmpty() || throwOnOpenOf == "thrown");
        const bool thrown = throwOnOpenOf == "thrown";
        throwOnOpenOf.clear();
        QVERIFY(thrown);
        QVERIFY(!loaded);
    }

    void fileWritableInAFolderThatIsNot() {
        // No new file can be made beside launcher.conf; the file itself can still be written.
        // Root may write anywhere: the save runs as an unprivileged user then.
        VESTRAHAL_SKIP_WITHOUT_USER_SWITCH();
        VESTRAHAL_SKIP_WITHOUT_FILE_SIZE_LIMIT();
        const QString folder = dir->filePath("lecture");
        QVERIFY(QDir().mkdir(folder));
        Config config;
        config.baseDir = folder;
        writeFile(config.filePath(), kDefaultFile);
        const auto all = QFile::ReadOwner | QFile::ReadUser | QFile::ReadGroup | QFile::ReadOther |
                         QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(dir->path(), all | QFile::WriteOwner | QFile::WriteUser));
        QVERIFY(QFile::setPermissions(folder, all));
        QVERIFY(QFile::setPermissions(config.filePath(), all | QFile::WriteOwner |
                                                             QFile::WriteUser | QFile::WriteGroup |
                                                             QFile::WriteOther));
        config.wotlkPath = QStringLiteral("/jeux/wotlk");
        bool saved = false;
        bool failedWhenCut = false;
        QByteArray written;
        {
            UnprivilegedUser user;
            QVERIFY(user.isActive());
            QVERIFY(!QFile(folder + "/essai").open(QIODevice::WriteOnly));
            saved = config.save();
            written = readFile(config.filePath());
            // Written in place, every byte is still checked.
            config.cataPath = QString(100, QLatin1Char('c'));
            FileSizeLimit limit(30);
            failedWhenCut = !config.save();
        }
        QVERIFY(QFile::setPermissions(folder, all | QFile::WriteOwner | QFile::WriteUser));
        QVERIFY(saved);
        QCOMPARE(written, QByteArray("0\n/jeux/wotlk\n0\n\n0\n |0\n |0\n |0\n\n"));
        QVERIFY(failedWhenCut);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"launcher.conf"});
    }

    // A folder that cannot take launcher.conf: nothing is written, the load says whether the
    // built-in settings may stand (the file could not be made) and why, in French.
    void settingsThatCannotBeWritten_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<bool>("cannotBeMade");
        QTest::addColumn<QString>("reason"); // %1: the folder
        QTest::newRow("folder below a file")
            << "below a file" << false << true
            << QString::fromUtf8("le dossier %1 n'existe pas et ne peut pas être créé");
        QTest::newRow("a folder named launcher.conf")
            << "folder in place" << false << false
            << QString::fromUtf8("un dossier ou un autre objet porte déjà le nom launcher.conf");
        QTest::newRow("a link that leads nowhere writable")
            << "dangling link" << false << true
            << QString::fromUtf8("le lien launcher.conf mène à un emplacement qui ne peut pas "
                                 "être écrit");
        QTest::newRow("read-only folder")
            << "read-only folder" << false << true
            << QString::fromUtf8("le dossier %1 est en lecture seule");
        QTest::newRow("read-only file in a read-only folder")
            << "read-only file" << true << false
            << QString::fromUtf8("le fichier et son dossier %1 sont en lecture seule");
    }
    void settingsThatCannotBeWritten() {
        QFETCH(QString, setup);
        Config config;
        config.baseDir = dir->filePath("reglages");
        const auto readOnly = QFile::ReadOwner | QFile::ReadUser | QFile::ReadGroup |
                              QFile::ReadOther | QFile::ExeOwner | QFile::ExeUser |
                              QFile::ExeGroup | QFile::ExeOther;
        if (setup == "below a file") {
            writeFile(dir->filePath("fichier"), "x");
            config.baseDir = dir->filePath("fichier/reglages");
        } else if (setup == "folder in place") {
            QVERIFY(QDir().mkpath(config.filePath()));
        } else if (setup == "dangling link") {
            VESTRAHAL_SKIP_WITHOUT_SYMBOLIC_LINKS();
            writeFile(dir->filePath("fichier"), "x");
            QVERIFY(QDir().mkpath(config.baseDir));
            QVERIFY(QFile::link(dir->filePath("fichier/launcher.conf"), config.filePath()));
        } else {
            // Root writes through read-only rights: the case runs as an unprivileged user.
            VESTRAHAL_SKIP_WITHOUT_USER_SWITCH();
            QVERIFY(QDir().mkpath(config.baseDir));
            QVERIFY(QFile::setPermissions(dir->path(),
                                          readOnly | QFile::WriteOwner | QFile::WriteUser));
            if (setup == "read-only file") {
                writeFile(config.filePath(), kDefaultFile);
                QVERIFY(QFile::setPermissions(config.filePath(),
                                              readOnly & ~QFile::ExeOwner & ~QFile::ExeUser &
                                                  ~QFile::ExeGroup & ~QFile::ExeOther));
            }
            QVERIFY(QFile::setPermissions(config.baseDir, readOnly));
        }
        bool loaded = false;
        bool saved = true;
        bool cannotBeMade = false;
        QString said;
        {
            std::optional<UnprivilegedUser> user;
            if (setup.startsWith("read-only")) {
                user.emplace();
                QVERIFY(user->isActive());
            }
            loaded = config.load();
            cannotBeMade = !loaded && config.fileCannotBeMade();
            config.wotlkPath = QStringLiteral("/jeux/wotlk");
            saved = config.save();
            said = config.whyNotWritten();
        }
        // The temporary folder is removed afterwards.
        if (QFileInfo(dir->filePath("reglages")).isDir())
            QVERIFY(QFile::setPermissions(dir->filePath("reglages"),
                                          readOnly | QFile::WriteOwner | QFile::WriteUser));
        QTEST(loaded, "loaded");
        QTEST(cannotBeMade, "cannotBeMade");
        QVERIFY(!saved);
        QFETCH(QString, reason);
        QCOMPARE(said, reason.contains("%1") ? reason.arg(QDir::toNativeSeparators(config.baseDir))
                                             : reason);
        // The built-in settings stand, untouched by what could not be read.
        QCOMPARE(config.version, QString());
        QVERIFY(!QFileInfo(config.filePath()).isFile() || loaded);
    }

    // A failure is told once for its cause (the window's suite sees it said again after a save
    // that succeeded); another cause is told, and what was said at start-up is not said again.
    void settingsNoticeIsToldOncePerCause() {
        Config config;
        SettingsNotice notice;
        QVERIFY(QDir().mkdir(config.filePath()));
        QVERIFY(!notice.atStartWithBuiltInSettings(config).isEmpty());
        QCOMPARE(notice.afterSave(config.save(), config), QString());
        writeFile(dir->filePath("fichier"), "x");
        config.baseDir = dir->filePath("fichier");
        QVERIFY(notice.afterSave(config.save(), config)
                    .contains(QString::fromUtf8("n'est pas un dossier")));
    }

private:
    std::unique_ptr<QTemporaryDir> dir;
};

QTEST_GUILESS_MAIN(ConfigTest)
#include "tst_config.moc"
