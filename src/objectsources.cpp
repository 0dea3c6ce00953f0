#include "objectsources.h"

#include "gamemanifest.h"

#include <QUrl>

bool sourceFromUrl(const QString& url, ObjectSources::Source* source) {
    if (!gamemanifest::mirrorProblem(url).isEmpty())
        return false;
    const QUrl parsed(url, QUrl::StrictMode);
    const bool secure = parsed.scheme() == QLatin1String("https");
    const int port = parsed.port(secure ? 443 : 80);
    if (port <= 0 || port > 65535)
        return false;
    *source = {{parsed.host(), quint16(port), secure}, parsed.path(QUrl::FullyEncoded)};
    return true;
}

ObjectSources::ObjectSources(const WebServer& own, const QString& ownPrefix,
                             const QStringList& mirrors) {
    sources.append({own, ownPrefix});
    for (const QString& url : mirrors) {
        Source mirror;
        if (sources.size() < kMost && sourceFromUrl(url, &mirror))
            sources.append(mirror);
    }
}

QString ObjectSources::path(int source, const QByteArray& sha256) const {
    return sources.at(source).prefix + QString::fromLatin1(sha256);
}

int ObjectSources::choose(quint32 tried) const {
    int untried = -1;
    for (int source = 0; source < size(); ++source) {
        if ((tried >> source) & 1u)
            continue;
        if (!isSetAside(source))
            return source;
        if (untried < 0)
            untried = source;
    }
    return untried;
}

void ObjectSources::setAside(int source) {
    if (source >= 0 && source < size())
        setAsideSources |= 1u << source;
}
