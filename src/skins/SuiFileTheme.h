#pragma once

#include <QString>

#include "skins/SkinColors.h"

namespace sonarelle {

// The shared file theme: the look read from a theme file, which every control skinned
// FromThemeFile is drawn in. Before any file loads it holds the MacOS colours.
class TsuiFileTheme {
 public:
  TsuiFileTheme();

  // Reads the theme file at `path`. A file that is missing, unreadable or damaged leaves the
  // colours as they were and answers false; nothing is reported.
  bool Load(const QString& path);

  // The colours of the last file that loaded, made readable.
  const TSkinColors& Colors() const { return colors_; }
  // The file's "name", empty until a file loads.
  const QString& ThemeName() const { return name_; }
  // The path of the last file that loaded.
  const QString& FileName() const { return fileName_; }

  // A theme file larger than this is not a theme file.
  static constexpr qint64 kMaxFileSize = qint64{64} * 1024;

 private:
  TSkinColors colors_;
  QString name_;
  QString fileName_;
};

}  // namespace sonarelle
