#pragma once

#include <QString>
#include <QStringList>

namespace sonarelle::Shell {

// Opens a file or a URL (http:, mailto:, ...) with the desktop's handler for it.
// Returns false when the desktop reports that nothing could open it.
bool Open(const QString& fileOrUrl);

// Whether the desktop has a default application for the kind of file at `path`.
bool HasDefaultApplication(const QString& path);

// Full path of `program` found on PATH, or empty.
QString FindProgram(const QString& program);

// Starts `program` in a window of its own without waiting for it; false if it cannot start.
bool Start(const QString& program, const QStringList& arguments);

}  // namespace sonarelle::Shell
