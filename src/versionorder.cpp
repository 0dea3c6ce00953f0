#include "versionorder.h"

#include <QByteArray>

#include <cstring>

namespace versionorder {

namespace {

struct Parts {
    qulonglong epoch = 0;
    QByteArray upstream;
    QByteArray revision;
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

Parts split(const QString& text) {
    QByteArray bytes = text.toLatin1();
    Parts parts;
    const qsizetype colon = bytes.indexOf(':');
    if (colon >= 0) {
        parts.epoch = bytes.left(colon).toULongLong();
        bytes.remove(0, colon + 1);
    }
    const qsizetype dash = bytes.lastIndexOf('-');
    if (dash >= 0) {
        parts.revision = bytes.mid(dash + 1);
        bytes.truncate(dash);
    }
    parts.upstream = bytes;
    return parts;
}

// A character's weight outside a run of digits: the end and digits weigh nothing, "~" less than
// nothing, letters their code, every other sign more than any letter.
int weight(const QByteArray& text, qsizetype at) {
    if (at >= text.size())
        return 0;
    const char c = text.at(at);
    if (isDigit(c))
        return 0;
    if (isLetter(c))
        return c;
    if (c == '~')
        return -1;
    return int(static_cast<unsigned char>(c)) + 256;
}

// One part of two versions, alternately their runs of other characters and of digits.
int compareParts(const QByteArray& a, const QByteArray& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() || j < b.size()) {
        while ((i < a.size() && !isDigit(a.at(i))) || (j < b.size() && !isDigit(b.at(j)))) {
            const int difference = weight(a, i) - weight(b, j);
            if (difference != 0)
                return difference;
            ++i;
            ++j;
        }
        while (i < a.size() && a.at(i) == '0')
            ++i;
        while (j < b.size() && b.at(j) == '0')
            ++j;
        int firstDifference = 0;
        while (i < a.size() && j < b.size() && isDigit(a.at(i)) && isDigit(b.at(j))) {
            if (firstDifference == 0)
                firstDifference = a.at(i) - b.at(j);
            ++i;
            ++j;
        }
        // The longer number, without its leading zeros, is the greater.
        if (i < a.size() && isDigit(a.at(i)))
            return 1;
        if (j < b.size() && isDigit(b.at(j)))
            return -1;
        if (firstDifference != 0)
            return firstDifference;
    }
    return 0;
}

bool onlyOf(const QByteArray& text, const char* signs) {
    for (const char c : text) {
        if (!isDigit(c) && !isLetter(c) && (c == '\0' || !std::strchr(signs, c)))
            return false;
    }
    return true;
}

} // namespace

bool isVersion(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() > 0x7f)
            return false;
    }
    const QByteArray bytes = text.toLatin1();
    const qsizetype colon = bytes.indexOf(':');
    if (colon >= 0) {
        const QByteArray epoch = bytes.left(colon);
        if (epoch.isEmpty() || !onlyOf(epoch, "") || epoch.size() > 9)
            return false;
    }
    const Parts parts = split(text);
    if (parts.upstream.isEmpty() || !isDigit(parts.upstream.at(0)))
        return false;
    if (bytes.lastIndexOf('-') > colon && parts.revision.isEmpty())
        return false;
    return onlyOf(parts.upstream, colon >= 0 ? ".+~-:" : ".+~-") && onlyOf(parts.revision, ".+~");
}

int compare(const QString& a, const QString& b) {
    const Parts first = split(a);
    const Parts second = split(b);
    if (first.epoch != second.epoch)
        return first.epoch < second.epoch ? -1 : 1;
    const int upstream = compareParts(first.upstream, second.upstream);
    return upstream != 0 ? upstream : compareParts(first.revision, second.revision);
}

bool isNewer(const QString& offered, const QString& installed) {
    return isVersion(offered) && compare(offered, installed) > 0;
}

} // namespace versionorder
