// A stand-in for the game client and the partner's start-up program, for the tests and the demo.
// Copied into a game folder as "Wow.exe" or "brontavale.exe", it records how it was started in
// "<its name>.started.json" beside itself: its path, arguments, working directory, process id
// and the bytes of the realmlist it would read. "fakegame.ini" beside it says how it behaves:
//   exit-code=N   code to exit with (default 0)
//   seconds=N     end by itself after N seconds (default 0: never)
//   window=1      show a small window, closed to end the game (default 0; a build without
//                 widgets has none)
//   output=N      print N bytes on its standard output and N on its error output first
//   stdout=FILE   print the bytes of FILE on its standard output first (a runner's own words)
//   stderr=FILE   print the bytes of FILE on its error output first
// Creating "<its name>.stop" beside it ends it too.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSettings>
#include <QTimer>
#ifdef QT_WIDGETS_LIB
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#endif

#include <cstdio>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

namespace {

// Whether writing to a pipe nobody reads any more would leave it running.
bool sigpipeIgnored() {
#ifdef Q_OS_UNIX
    struct sigaction action {};
    return sigaction(SIGPIPE, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
#else
    return false;
#endif
}

} // namespace

int main(int argc, char* argv[]) {
#ifdef QT_WIDGETS_LIB
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    const QFileInfo self(QString::fromLocal8Bit(argv[0]));
    const QString folder = self.absolutePath();
    const QString name = self.fileName();
    const QSettings settings(folder + QStringLiteral("/fakegame.ini"), QSettings::IniFormat);
    const int exitCode = settings.value(QStringLiteral("exit-code"), 0).toInt();

    const int output = settings.value(QStringLiteral("output"), 0).toInt();
    if (output > 0) {
        const QByteArray text(output, 'o');
        fwrite(text.constData(), 1, size_t(text.size()), stdout);
        fwrite(text.constData(), 1, size_t(text.size()), stderr);
        fflush(stdout);
    }
    const auto replay = [&settings](const char* key, FILE* stream) {
        const QString path = settings.value(QLatin1String(key)).toString();
        if (path.isEmpty())
            return;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return;
        const QByteArray bytes = file.readAll();
        fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
        fflush(stream);
    };
    replay("stdout", stdout);
    replay("stderr", stderr);

    QFile realmlist(folder + QStringLiteral("/Data/frFR/realmlist.wtf"));
    const bool hasRealmlist = realmlist.open(QIODevice::ReadOnly);
    QJsonArray arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const QJsonObject record{
        {QStringLiteral("program"), self.absoluteFilePath()},
        {QStringLiteral("arguments"), arguments},
        {QStringLiteral("workingDirectory"), QDir::currentPath()},
        {QStringLiteral("pid"), QCoreApplication::applicationPid()},
        {QStringLiteral("sigpipeIgnored"), sigpipeIgnored()},
        {QStringLiteral("realmlistFound"), hasRealmlist},
        {QStringLiteral("realmlist"),
         QString::fromLatin1(hasRealmlist ? realmlist.readAll().toBase64() : QByteArray())},
    };
    // Written whole, so that whoever waits for it never reads half a record.
    QSaveFile out(folder + QLatin1Char('/') + name + QStringLiteral(".started.json"));
    if (out.open(QIODevice::WriteOnly)) {
        out.write(QJsonDocument(record).toJson());
        out.commit();
    }

    const QString stopFile = folder + QLatin1Char('/') + name + QStringLiteral(".stop");
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, &app, [&] {
        if (QFile::exists(stopFile)) {
            QFile::remove(stopFile);
            app.exit(exitCode);
        }
    });
    stopWatch.start(20);
    const int seconds = settings.value(QStringLiteral("seconds"), 0).toInt();
    if (seconds > 0)
        QTimer::singleShot(seconds * 1000, &app, [&] { app.exit(exitCode); });

#ifdef QT_WIDGETS_LIB
    QWidget window;
    if (settings.value(QStringLiteral("window"), false).toBool()) {
        window.setWindowTitle(QStringLiteral("World of Warcraft (jeu de démonstration)"));
        auto* layout = new QVBoxLayout(&window);
        auto* label = new QLabel(QStringLiteral("Le jeu tourne.\n\nRealmlist lu :\n%1")
                                     .arg(QString::fromLatin1(QByteArray::fromBase64(
                                         record.value("realmlist").toString().toLatin1()))),
                                 &window);
        layout->addWidget(label);
        auto* quit = new QPushButton(QStringLiteral("Quitter le jeu"), &window);
        layout->addWidget(quit);
        QObject::connect(quit, &QPushButton::clicked, &app, [&] { app.exit(exitCode); });
        window.resize(360, 200);
        window.show();
        app.setQuitOnLastWindowClosed(false);
        QObject::connect(&app, &QApplication::lastWindowClosed, &app, [&] { app.exit(exitCode); });
    }
#endif
    app.exec();
    return exitCode;
}
