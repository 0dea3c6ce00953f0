#pragma once

#include <QByteArrayList>

// The test executables that link offlinenames.cpp answer every name lookup themselves: a name
// that is not an address literal or "localhost" is not found, at once, and no name server is
// ever asked. "Host not found" can then be seen with no network at all, and nothing a test does
// reaches a real server by its name.

// The names refused so far, in the order they were asked for.
QByteArrayList refusedNameLookups();
void clearRefusedNameLookups();
