// The local community web server as a program, for the demo, the benches and the package test:
// serves a folder on 127.0.0.1 until stopped.
#include "communityserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves a folder laid out like the community's web site on 127.0.0.1."));
    parser.addHelpOption();
    parser.addOption(
        {QStringLiteral("root"), QStringLiteral("Folder to serve."), QStringLiteral("dir")});
    parser.addOption({QStringLiteral("port"), QStringLiteral("Port (0: the system picks one)."),
                      QStringLiteral("port"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("news-delay"),
                      QStringLiteral("Milliseconds to wait before serving the news home page."),
                      QStringLiteral("ms"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("slow-files"),
                      QStringLiteral("Serve the game files' objects at this many bytes per 50 ms "
                                     "(0: at once), so that their progress can be watched."),
                      QStringLiteral("bytes"), QStringLiteral("0")});
    parser.process(app);

    CommunityServer server;
    server.setRoot(parser.value(QStringLiteral("root")));
    server.setDelay("/launcher/launcher.php", parser.value(QStringLiteral("news-delay")).toInt());
    const qint64 slow = parser.value(QStringLiteral("slow-files")).toLongLong();
    const QString objects = server.root() + QStringLiteral("/launcher/files/objects");
    for (const QString& name : QDir(objects).entryList(QDir::Files)) {
        QFile file(objects + u'/' + name);
        if (slow > 0 && file.open(QIODevice::ReadOnly))
            server.setReply("/launcher/files/objects/" + name.toLatin1(),
                            {200, "application/octet-stream", file.readAll(),
                             CommunityServer::Reply::Trickle, 0, slow});
    }
    QTextStream out(stdout);
    if (!server.start(parser.value(QStringLiteral("port")).toUShort())) {
        QTextStream(stderr) << "cannot listen: " << server.errorString() << Qt::endl;
        return 1;
    }
    out << "listening on 127.0.0.1:" << server.serverPort() << Qt::endl;
    QObject::connect(&server, &CommunityServer::requestReceived, &app,
                     [&out](const CommunityServer::Request& request) {
                         out << request.method << ' ' << request.target << Qt::endl;
                     });
    return app.exec();
}
