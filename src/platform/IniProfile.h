#pragma once

#include <QString>

namespace sonarelle::IniProfile {

// Longest value a read returns; longer values are cut.
inline constexpr int kMaxValueLength = 2047;

// Reads `key` of `section` from the INI file at `path`. Section and key names are compared
// without regard to case; the value is trimmed and loses one pair of enclosing quotes.
// A missing or unreadable file, section or key gives `defaultValue`.
QString ReadString(const QString& path, const QString& section, const QString& key,
                   const QString& defaultValue);

// Sets `key` of `section` to `value`, creating the file and the section when missing and
// replacing the key's line in place; every other line stays as it was. The new file is
// written beside the old one and renamed over it, so a failed write leaves the old file.
// Returns false when the file cannot be read back or written.
bool WriteString(const QString& path, const QString& section, const QString& key,
                 const QString& value);

}  // namespace sonarelle::IniProfile
