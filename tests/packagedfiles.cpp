// A packaged launcher's own files, made by the units that make them, in a process whose choice
// of folders is a package's (launcherfiles built with VESTRAHAL_PACKAGED on, standing in for the
// library's copy): the lock and the socket, launcher.conf, the game files' index, sequence and
// report, and the game session's line in errors.log.
//   packagedfiles PORT PUBLIC_KEY GAME_DIR QUICK_GAME
// Prints the data folder's files as they are while the launcher still runs, one a line.
#include "config.h"
#include "gamefiles.h"
#include "gamesession.h"
#include "launcherfiles.h"
#include "singlelauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5)
        return 2;
    SingleLauncher one(launcherfiles::folder());
    if (!one.claim())
        return 3;
    Config config;
    config.load();
    GameFiles files;
    files.setServer({QStringLiteral("127.0.0.1"), quint16(args[1].toUInt()), false});
    files.setPublicKey(args[2].toLatin1());
    GameSession game;
    // A game that ends at once: the session notes it in errors.log.
    game.setQuickExitLimit(60000);
    QObject::connect(&files, &GameFiles::finished, &game, [&] { game.start(args[4]); });
    QObject::connect(&game, &GameSession::failed, &app, [&] { app.exit(4); });
    QObject::connect(&game, &GameSession::ended, &app, [&] {
        QTextStream out(stdout);
        for (const QString& name :
             QDir(launcherfiles::folder()).entryList(QDir::Files | QDir::System | QDir::Hidden))
            out << name << '\n';
        app.quit();
    });
    files.start({{QStringLiteral("wotlk"), args[3]}});
    return app.exec();
}
