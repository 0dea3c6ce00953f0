#pragma once

#include "httpclient.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Where the objects of a list may come from: the community's own host first, then the list's
// mirrors in its order. A source that failed for one object (refused, an error status, other
// bytes than listed, too slow) is set aside for the rest of the run: the objects that follow go
// to the next source, and come back to it only when every other one failed for them too. The
// source never decides what is written: the listed hash does.
class ObjectSources {
public:
    struct Source {
        WebServer server;
        QString prefix; // the path an object's sha256 follows, from '/' to its last '/'
    };
    // One bit per source in an object's tried set: the own host and every mirror a list may name.
    static constexpr int kMost = 32;

    ObjectSources() = default;
    // Mirrors that are not http or https addresses ending in '/' are left out.
    ObjectSources(const WebServer& own, const QString& ownPrefix, const QStringList& mirrors);

    int size() const { return int(sources.size()); }
    const Source& at(int source) const { return sources.at(source); }
    QString path(int source, const QByteArray& sha256) const;

    // The source for an object that has failed from those in `tried` (bit n: source n): the
    // first in order that no object failed from in this run, else the first it has not tried;
    // -1 once it has tried them all.
    int choose(quint32 tried) const;
    void setAside(int source);
    bool isSetAside(int source) const { return (setAsideSources >> source) & 1u; }

private:
    QList<Source> sources;
    quint32 setAsideSources = 0;
};

// A mirror's address as a host to ask and the path its objects' hashes follow; false when it is
// not an http or https address of a host ending in '/'.
bool sourceFromUrl(const QString& url, ObjectSources::Source* source);
