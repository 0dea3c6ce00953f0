// The game-files engine in a process of its own, for the tests that kill it with SIGKILL in the
// middle of an object. It links the core library alone: the engine needs nothing of Qt's widgets.
//   gamefilesrun PORT PUBLIC_KEY LAUNCHER_DIR GAME_DIR [install]
// Exits 0 when the run succeeded, 1 when it failed. With "install", the game folder is an
// install's: it needs no marker, and gets it at the end.
#include "gamefiles.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5 && !(args.size() == 6 && args[5] == QLatin1String("install")))
        return 2;
    GameFiles files;
    files.setServer({QStringLiteral("127.0.0.1"), quint16(args[1].toUInt()), false});
    files.setPublicKey(args[2].toLatin1());
    files.setLauncherFolder(args[3]);
    int code = 1;
    QObject::connect(&files, &GameFiles::finished, &app, [&](bool ok) {
        code = ok ? 0 : 1;
        app.quit();
    });
    files.start({{QStringLiteral("wotlk"), args[4], args.size() == 6}});
    app.exec();
    return code;
}
