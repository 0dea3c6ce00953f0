#pragma once

#include <QString>

// The order of version texts as Debian's package manager knows it (dpkg, deb-version(7)):
// "[epoch:]upstream[-revision]", digits compared as numbers, letters before the other signs,
// "~" before anything, even the end ("1.0~rc1" comes before "1.0"). A packaged launcher is told
// of a newer version only when the package manager would take that version as an upgrade: then
// the notice asks for something the player can do.
namespace versionorder {

// Whether the text is a version the package manager would accept: an upstream part that starts
// with a digit and holds only letters, digits and ".+~-" (":" too after an epoch), an optional
// numeric epoch, an optional revision of letters, digits and ".+~".
bool isVersion(const QString& text);

// Below zero when `a` comes before `b`, zero when both are the same version ("1.0" and
// "0:1.0-0" are), above zero otherwise: what `dpkg --compare-versions` says.
int compare(const QString& a, const QString& b);

// Whether `offered` is a version, and later than `installed`. Any other answer (a page of
// markup, an empty text) tells of no newer version.
bool isNewer(const QString& offered, const QString& installed);

} // namespace versionorder
