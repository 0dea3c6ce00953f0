#include "hostandport.h"

#include <QHostAddress>

namespace {

// Plain digits only: no sign, no space, no leading "0x", at most five of them.
std::optional<quint16> port(QStringView text) {
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    int value = 0;
    for (const QChar ch : text) {
        if (ch < u'0' || ch > u'9')
            return std::nullopt;
        value = value * 10 + (ch.unicode() - u'0');
    }
    if (value < 1 || value > 65535)
        return std::nullopt;
    return quint16(value);
}

std::optional<QString> ipv6(QStringView text) {
    QHostAddress address;
    if (!address.setAddress(text.toString()) || address.protocol() != QAbstractSocket::IPv6Protocol)
        return std::nullopt;
    return address.toString();
}

} // namespace

std::optional<HostAndPort> parseHostAndPort(QStringView text, quint16 defaultPort) {
    HostAndPort parsed{QString(), defaultPort};
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        const QStringView rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            const auto given = rest.startsWith(u':') ? port(rest.mid(1)) : std::nullopt;
            if (!given)
                return std::nullopt;
            parsed.port = *given;
        }
        const auto address = ipv6(text.mid(1, close - 1));
        if (!address)
            return std::nullopt;
        parsed.host = *address;
        return parsed;
    }
    const qsizetype colons = text.count(u':');
    if (colons > 1) {
        // Only an IPv6 address holds several colons, and it names no port unless bracketed.
        const auto address = ipv6(text);
        if (!address)
            return std::nullopt;
        parsed.host = *address;
        return parsed;
    }
    QStringView host = text;
    if (colons == 1) {
        const qsizetype colon = text.indexOf(u':');
        const auto given = port(text.mid(colon + 1));
        if (!given)
            return std::nullopt;
        parsed.port = *given;
        host = text.left(colon);
    }
    if (host.isEmpty())
        return std::nullopt;
    parsed.host = host.toString();
    return parsed;
}
