#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// A host as the build and the realm settings write it: a name or an IPv4 address, possibly
// followed by ":port"; an IPv6 address bare, or in brackets when a port follows it.
struct HostAndPort {
    QString host; // an IPv6 address without its brackets, in its usual short form
    quint16 port;
};

// Nothing for a text that is not written so: no host, a colon with no port after it, a port that
// is not a number from 1 to 65535 in plain digits, an unclosed bracket, anything but ":port"
// after one, brackets or several colons around anything but an IPv6 address. What the host may
// hold besides is the caller's to judge.
std::optional<HostAndPort> parseHostAndPort(QStringView text, quint16 defaultPort);
