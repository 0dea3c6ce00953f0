#pragma once

#include <QString>

// Whether a game runs from a game folder: a process whose program, or one of whose mapped files,
// is the folder's Wow.exe or brontavale.exe (a game run through Wine maps the Windows program
// into a process of Wine's). Its files must then be left as they are: a game reads its data
// files while it runs, and a patch replaced under it is a crash or a corrupted session.
// Linux reads /proc (the player's own processes); elsewhere it answers false, and Windows' own
// sharing rules keep a running game's files from being replaced.
namespace gamerunning {

bool runsFrom(const QString& folder);

} // namespace gamerunning
