#pragma once

#include <QString>

namespace sonarelle {

// The folder takes are recorded into, with its trailing separator: the system's temporary
// folder, unless that lives in memory (a power cut would erase the take), then the user's
// state folder ($XDG_STATE_HOME/sonarelle/takes), made when missing.
QString TakeFolder();

// Whether `path` lies on a file system held in memory (tmpfs, ramfs).
bool IsMemoryFilesystem(const QString& path);

}  // namespace sonarelle
