#pragma once

namespace sonarelle {

// The looks of the skin library, in its own order: FromThemeFile draws from the theme file
// loaded into the shared file theme, the others are built in.
enum class TsuiUIStyle {
  FromThemeFile = 0,
  MacOS = 1,
  WinXP = 2,
  DeepBlue = 3,
  Protein = 4,
  BlueGlass = 5
};

}  // namespace sonarelle
