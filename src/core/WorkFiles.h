#pragma once

#include <QString>

namespace vocalith {

// The work files this process has made and not yet removed, so a process told to end
// at once can still leave nothing behind. Safe from any thread.
namespace WorkFiles {

// The path is about to be written.
void track(const QString& path);
// Removes the file and forgets it.
void remove(const QString& path);
// Removes every tracked file; for an exit that skips the owners' own clean-up.
void removeAll();

} // namespace WorkFiles

} // namespace vocalith
