#pragma once

#include <QString>

// The names under which the launcher's processes listen for one folder: the same for every
// process started for that folder, whatever path it was reached through.
namespace foldersocket {

// A package keeps every file of the launcher's own in the player's folder for it, the socket too
// (`socketFile` there); elsewhere, and where that path is too long for a socket, a name made from
// `prefix` and the folder.
QString name(const QString& folder, const QString& socketFile, const QString& prefix);

} // namespace foldersocket
