#pragma once

class QFile;
class QString;

// What makes a file written in place of another survive a power cut: its bytes on the disk
// before it takes the other's name, and the rename on the disk with its folder.
namespace durablefile {

// Flushes the open file and waits until its bytes are on the disk; false when they are not.
bool sync(QFile& file);
// Waits until the folder holding `path` has its latest renames on the disk (nothing to do on
// Windows, where a rename is written with the file system's own journal).
void syncFolderOf(const QString& path);

} // namespace durablefile
