#include "filesizelimit.h"
#include "gamefolder.h"
#include "testfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

void touch(const QString& path) {
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("x");
}

QStringList filesBelow(const QString& folder) {
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(folder).relativeFilePath(it.next());
    found.sort();
    return found;
}

} // namespace

class GameFolderTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
        folder = dir->path() + "/World of Warcraft";
        QVERIFY(QDir().mkpath(folder + "/Data/frFR"));
    }

    void cacheSweep_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("top of the cache")
            << QStringList{"Cache/a.wdb", "Cache/b.wcf", "Cache/c.tbl", "Cache/d.adb"}
            << QStringList{};
        QTest::newRow("nested at several depths")
            << QStringList{"Cache/WDB/frFR/itemcache.wdb", "Cache/WDB/frFR/x/y/z/deep.adb",
                           "Cache/DBCache.tbl"}
            << QStringList{};
        QTest::newRow("upper-case names")
            << QStringList{"Cache/CREATURECACHE.WDB", "Cache/Mixed.AdB", "Cache/WDB/X.TBL"}
            << QStringList{};
        QTest::newRow("other extensions stay")
            << QStringList{"Cache/a.wdb", "Cache/notes.txt", "Cache/a.wdb.bak", "Cache/wdb",
                           "Cache/x.wdbx"}
            << QStringList{"Cache/a.wdb.bak", "Cache/notes.txt", "Cache/wdb", "Cache/x.wdbx"};
        QTest::newRow("outside the cache stays")
            << QStringList{"Cache/a.wdb", "Data/common.wdb", "WTF/config.wcf", "root.adb"}
            << QStringList{"Data/common.wdb", "WTF/config.wcf", "root.adb"};
        QTest::newRow("hidden files are not the client's")
            << QStringList{"Cache/.hidden.wdb", "Cache/seen.wdb"}
            << QStringList{"Cache/.hidden.wdb"};
        QTest::newRow("no cache folder: nothing swept")
            << QStringList{"a.wdb", "Data/b.adb", "Interface/c.tbl"}
            << QStringList{"Data/b.adb", "Interface/c.tbl", "a.wdb"};
    }
    void cacheSweep() {
        QFETCH(QStringList, files);
        for (const QString& file : files)
            touch(folder + "/" + file);
        QDir(folder).mkpath("Cache/folder.wdb"); // a folder with a matching name stays
        gamefolder::sweepCache(folder);
        QFETCH(QStringList, kept);
        QStringList expected = kept;
        expected.sort();
        QStringList left = filesBelow(folder);
        left.removeAll("Data/frFR");
        QCOMPARE(left, expected);
        QVERIFY(!QDir(folder).exists("Cache") || QDir(folder).exists("Cache/folder.wdb"));
    }

    void cacheSweepStaysInTheGameFolder_data() {
        QTest::addColumn<QString>("cacheLink"); // where Cache leads; empty: a real folder
        QTest::addColumn<bool>("swept");
        QTest::newRow("links below the cache are not followed") << QString() << true;
        QTest::newRow("Cache a link to another folder") << "elsewhere" << false;
        QTest::newRow("Cache a link back into the game folder")
            << "World of Warcraft/Data/cache" << false;
    }
    void cacheSweepStaysInTheGameFolder() {
        VESTRAHAL_SKIP_WITHOUT_SYMBOLIC_LINKS();
        QFETCH(QString, cacheLink);
        QFETCH(bool, swept);
        const QString outside = dir->path() + "/elsewhere";
        touch(outside + "/precious.wdb");
        touch(outside + "/deep/er/precious.adb");
        touch(folder + "/Data/cache/kept.wdb");
        if (cacheLink.isEmpty()) {
            touch(folder + "/Cache/own.wdb");
            QVERIFY(QFile::link(outside, folder + "/Cache/link"));
            QVERIFY(QFile::link(outside + "/precious.wdb", folder + "/Cache/file.wdb"));
        } else {
            QVERIFY(QFile::link(dir->path() + "/" + cacheLink, folder + "/Cache"));
        }
        const QStringList removed = gamefolder::sweepCache(folder);
        QCOMPARE(removed.size(), swept ? 1 : 0);
        QCOMPARE(QFile::exists(folder + "/Cache/own.wdb"), false);
        QVERIFY(QFile::exists(outside + "/precious.wdb"));
        QVERIFY(QFile::exists(outside + "/deep/er/precious.adb"));
        QVERIFY(QFile::exists(folder + "/Data/cache/kept.wdb"));
    }

    // What the sweep may delete: only what lies below the game folder, however the folder is
    // written, a volume root included.
    void isBelow_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("below");
        QTest::newRow("cache of the folder") << "/jeux/wow/Cache"
                                             << "/jeux/wow" << true;
        QTest::newRow("deep below") << "/jeux/wow/Cache/WDB/frFR"
                                    << "/jeux/wow" << true;
        QTest::newRow("the folder itself") << "/jeux/wow"
                                           << "/jeux/wow" << false;
        QTest::newRow("a sibling that starts alike") << "/jeux/wow2/Cache"
                                                     << "/jeux/wow" << false;
        QTest::newRow("elsewhere") << "/home/joueur/Cache"
                                   << "/jeux/wow" << false;
        QTest::newRow("the parent") << "/jeux"
                                    << "/jeux/wow" << false;
        QTest::newRow("folder at the root of a Linux volume") << "/Cache"
                                                              << "/" << true;
        QTest::newRow("folder at the root of a Windows drive") << "D:/Cache"
                                                               << "D:/" << true;
        QTest::newRow("another drive") << "E:/Cache"
                                       << "D:/" << false;
        QTest::newRow("folder on a drive") << "D:/Jeux/WoW/Cache"
                                           << "D:/Jeux/WoW" << true;
        QTest::newRow("no folder") << "/Cache"
                                   << "" << false;
    }
    void isBelow() {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QTEST(gamefolder::isBelow(path, folder), "below");
    }

    void gameFolderReachedThroughALinkIsSwept() {
        VESTRAHAL_SKIP_WITHOUT_SYMBOLIC_LINKS();
        touch(folder + "/Cache/WDB/old.wdb");
        const QString link = dir->path() + "/raccourci";
        QVERIFY(QFile::link(folder, link));
        QCOMPARE(gamefolder::sweepCache(link).size(), 1);
        QVERIFY(!QFile::exists(folder + "/Cache/WDB/old.wdb"));
    }

    void realmlist_data() {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("host") << QByteArray("logon.vestrahal.fr")
                              << QByteArray("set realmlist logon.vestrahal.fr");
        QTest::newRow("Latin-1 host kept as stored")
            << QByteArray("ch\xe2teau.fr") << QByteArray("set realmlist ch\xe2teau.fr");
        QTest::newRow("host with spaces")
            << QByteArray(" a b ") << QByteArray("set realmlist  a b ");
        QTest::newRow("empty realm leaves the file empty") << QByteArray(" ") << QByteArray();
    }
    void realmlist() {
        QFETCH(QByteArray, host);
        const QString path = folder + "/Data/frFR/realmlist.wtf";
        // Created by the first write, rewritten whole by the second.
        QVERIFY(gamefolder::writeRealmlist(folder, "ancien.serveur.tres.long.fr\r\n"));
        QVERIFY(gamefolder::writeRealmlist(folder, host));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        QTEST(written, "bytes");
        if (host != " ")
            QCOMPARE(written.size(), 14 + host.size());
        const QFile::Permissions permissions = file.permissions();
        QVERIFY(permissions & QFile::WriteOwner);
#ifdef Q_OS_UNIX
        // Windows has no group or other bits: Qt reports them all as the owner's.
        QVERIFY(!(permissions & (QFile::WriteGroup | QFile::WriteOther)));
#endif
    }

    void realmlistWithoutItsFolderFails() {
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(QDir().mkpath(folder + "/Data"));
        QVERIFY(!gamefolder::writeRealmlist(folder, "h"));
        QVERIFY(!QDir(folder).exists("Data/frFR"));
    }

    void realmlistWriteThatFailsIsReported() {
        VESTRAHAL_SKIP_WITHOUT_FILE_SIZE_LIMIT();
        FileSizeLimit limit(10);
        QVERIFY(!gamefolder::writeRealmlist(folder, "logon.vestrahal.fr"));
    }

    void realmlistLinkIsReplacedNotWrittenThrough() {
        VESTRAHAL_SKIP_WITHOUT_SYMBOLIC_LINKS();
        const QString target = dir->path() + "/ailleurs.txt";
        touch(target);
        const QFile::Permissions own = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser |
                                       QFile::WriteUser | QFile::ReadGroup | QFile::WriteGroup;
        QVERIFY(QFile::setPermissions(target, own));
        const QString path = folder + "/Data/frFR/realmlist.wtf";
        QVERIFY(QFile::link(target, path));
        QVERIFY(gamefolder::writeRealmlist(folder, "logon.fr"));
        QVERIFY(!QFileInfo(path).isSymLink());
        QCOMPARE(readFile(path), QByteArray("set realmlist logon.fr"));
        QCOMPARE(readFile(target), QByteArray("x"));
        QCOMPARE(QFile::permissions(target), own);
    }

    void permissionsOfThePlayersRealmlistAreKept() {
        const QString path = folder + "/Data/frFR/realmlist.wtf";
        touch(path);
        const QFile::Permissions own = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser |
                                       QFile::WriteUser | QFile::ReadGroup | QFile::WriteGroup |
                                       QFile::ReadOther | QFile::WriteOther;
        QVERIFY(QFile::setPermissions(path, own));
        QVERIFY(gamefolder::writeRealmlist(folder, "logon.fr"));
        QCOMPARE(QFile::permissions(path), own);
    }

    void topLevelRealmlistRemoved() {
        touch(folder + "/realmlist.wtf");
        gamefolder::removeTopLevelRealmlist(folder);
        QVERIFY(!QFile::exists(folder + "/realmlist.wtf"));
        gamefolder::removeTopLevelRealmlist(folder); // already gone: nothing to report
    }

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString folder;
};

QTEST_GUILESS_MAIN(GameFolderTest)
#include "tst_gamefolder.moc"
