// libFuzzer target: any bytes as a theme file, loaded the way the skin menu loads one. A
// file that loads gives colours that every control can be drawn in, each text readable on
// its background; one that does not leaves the look as it was. Built and run by scripts/fuzz.sh.
#include <cstdlib>

#include "skins/SuiFileTheme.h"
#include "support/FuzzFile.h"

using namespace sonarelle;

namespace {

bool SameColors(const TSkinColors& a, const TSkinColors& b) {
  return a.window == b.window && a.text == b.text && a.face == b.face && a.button == b.button &&
         a.buttonText == b.buttonText && a.highlight == b.highlight &&
         a.highlightText == b.highlightText && a.radius == b.radius;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString path = fuzz_file::Put("theme.ini", fuzz_file::Bytes(data, size));
  TsuiFileTheme theme;
  const TSkinColors before = theme.Colors();
  if (!theme.Load(path)) {
    if (!SameColors(before, theme.Colors()) || !theme.ThemeName().isEmpty()) std::abort();
    return 0;
  }
  const TSkinColors& colors = theme.Colors();
  for (const QColor& color : {colors.window, colors.text, colors.face, colors.button,
                              colors.buttonText, colors.highlight, colors.highlightText}) {
    if (!color.isValid()) std::abort();
  }
  // Every text reads on its background, and corners stay within what the controls draw.
  const double least = kMinTextContrast - 1e-9;
  if (ContrastRatio(colors.text, colors.window) < least ||
      ContrastRatio(colors.buttonText, colors.button) < least ||
      ContrastRatio(colors.highlightText, colors.highlight) < least || colors.radius < 0 ||
      colors.radius > 12) {
    std::abort();
  }
  return 0;
}
