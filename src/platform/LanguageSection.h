#pragma once

#include <QString>

#include "platform/IniProfile.h"

namespace sonarelle {

// One window's section of the language file. A text missing from the file, or the whole
// file missing, gives the default; a key present with an empty value gives an empty text.
class TLanguageSection {
 public:
  TLanguageSection(QString file, QString section)
      : file_(std::move(file)), section_(std::move(section)) {}

  QString operator()(const char* key, const QString& defaultText) const {
    return IniProfile::ReadString(file_, section_, QString::fromLatin1(key), defaultText);
  }

 private:
  QString file_;
  QString section_;
};

}  // namespace sonarelle
