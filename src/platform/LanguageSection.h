#pragma once

#include <QString>

#include "platform/IniSnapshot.h"

namespace sonarelle {

// One window's section of the language file. A text missing from the file, or the whole
// file missing, gives the default; a key present with an empty value gives an empty text.
class TLanguageSection {
 public:
  TLanguageSection(const TIniSnapshot& texts, QString section)
      : texts_(texts), section_(std::move(section)) {}

  QString operator()(const char* key, const QString& defaultText) const {
    return texts_.ReadString(section_, QString::fromLatin1(key), defaultText);
  }

 private:
  const TIniSnapshot& texts_;
  QString section_;
};

// A text a window shows later (a message, a hint): its key in the window's section of the
// language file and the built-in English text.
struct TText {
  const char* key;
  const char* english;
};

// A window's section of the language file kept for the texts it shows later; until a file
// is loaded every text is the built-in English one. A line of the file holds one text, so
// "\n" in it stands for a line break.
class TLanguageTexts {
 public:
  explicit TLanguageTexts(QString section) : section_(std::move(section)) {}

  void Load(const TIniSnapshot& texts) { texts_ = texts; }
  QString operator()(const TText& text) const {
    const QString english = QString::fromUtf8(text.english);
    QString read = texts_.ReadString(section_, QString::fromLatin1(text.key), english);
    return read.replace(QLatin1String("\\n"), QLatin1String("\n"));
  }

 private:
  TIniSnapshot texts_;
  QString section_;
};

}  // namespace sonarelle
