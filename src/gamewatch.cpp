#include "gamewatch.h"

#include "buildoptions.h"
#include "launcherfiles.h"

#include <QJsonDocument>

namespace gamewatch {

QString serverName(const QString& launcherFolder) {
    return launcherfiles::watcherSocket(launcherFolder);
}

QString programName() {
    return QString::fromLatin1(vestrahal::kWatcherName);
}

QByteArray line(const QString& type, QJsonObject fields) {
    fields.insert(QStringLiteral("type"), type);
    return QJsonDocument(fields).toJson(QJsonDocument::Compact);
}

QJsonObject parse(const QByteArray& line) {
    return QJsonDocument::fromJson(line).object();
}

QString typeOf(const QJsonObject& message) {
    return message.value(QStringLiteral("type")).toString();
}

QJsonObject toJson(const PlayRequest& request) {
    return {
        {QStringLiteral("program"), request.program},
        {QStringLiteral("report"), request.reportFile},
        {QStringLiteral("launcher"), request.launcher},
        {QStringLiteral("launcherStart"), request.launcherStart},
        {QStringLiteral("realm"), request.realm},
        {QStringLiteral("window"), request.window},
        {QStringLiteral("watcher"), request.watcher},
    };
}

PlayRequest playRequest(const QJsonObject& message) {
    PlayRequest request;
    request.program = message.value(QStringLiteral("program")).toString();
    request.reportFile = message.value(QStringLiteral("report")).toString();
    request.launcher = message.value(QStringLiteral("launcher")).toString();
    request.launcherStart = message.value(QStringLiteral("launcherStart")).toString();
    request.realm = message.value(QStringLiteral("realm")).toInt();
    request.window = message.value(QStringLiteral("window")).toInteger();
    request.watcher = message.value(QStringLiteral("watcher")).toInteger();
    return request;
}

QJsonObject toJson(const GameEnd& end) {
    return {
        {QStringLiteral("exitCode"), end.exitCode},
        {QStringLiteral("milliseconds"), end.milliseconds},
        {QStringLiteral("notice"), end.notice},
        {QStringLiteral("realm"), end.realm},
    };
}

GameEnd gameEnd(const QJsonObject& message) {
    GameEnd end;
    end.exitCode = message.value(QStringLiteral("exitCode")).toInt();
    end.milliseconds = message.value(QStringLiteral("milliseconds")).toInteger();
    end.notice = message.value(QStringLiteral("notice")).toString();
    end.realm = message.value(QStringLiteral("realm")).toInt();
    return end;
}

} // namespace gamewatch
