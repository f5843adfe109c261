#pragma once

#include <QString>
#include <QtGlobal>

namespace sonarelle {

// The file version of the executable at `path` (most and least significant words as the
// TVersion high/low numbers); high = low = -1 when the file has no version record.
// Our executables carry the record that FileVersionRecord.cpp.in generates.
bool ReadFileVersion(const QString& path, qint32* high, qint32* low);

}  // namespace sonarelle
