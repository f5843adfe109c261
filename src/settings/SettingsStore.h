#pragma once

#include <QString>

#include "platform/Exception.h"

namespace sonarelle {

// Raised when config.ini (or another settings file) cannot be written.
class ESettingsWriteError : public Exception {
 public:
  using Exception::Exception;
};

// The settings operations on an INI file. Every call opens the file, does its one read or
// write and closes it again, so nothing is cached and a value written is seen at once.
namespace SettingsStore {

// The value (at most 2047 characters), or `defaultValue` when the file or key is missing.
QString ReadText(const QString& path, const QString& section, const QString& key,
                 const QString& defaultValue = QString());

// The value as a decimal integer, or hexadecimal after "$" or "0x"; `defaultValue` when the
// key is missing, empty or not an integer.
int ReadInteger(const QString& path, const QString& section, const QString& key, int defaultValue);

// Writes the value; raises ESettingsWriteError "Unable to write to <path>" on failure.
void WriteText(const QString& path, const QString& section, const QString& key,
               const QString& value);
void WriteInteger(const QString& path, const QString& section, const QString& key, int value);

// Converts text the way ReadInteger does: optional sign, decimal digits or "$" and
// hexadecimal digits, within 32 bits; `defaultValue` for anything else.
int TextToInteger(const QString& text, int defaultValue);

}  // namespace SettingsStore

}  // namespace sonarelle
