#include "skins/SkinColors.h"

#include <algorithm>
#include <cmath>

namespace sonarelle {

namespace {

double Channel(double c) {
  return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& color) {
  return 0.2126 * Channel(color.redF()) + 0.7152 * Channel(color.greenF()) +
         0.0722 * Channel(color.blueF());
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
  const double la = Luminance(a);
  const double lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor TextOn(const QColor& background, const QColor& preferred) {
  if (preferred.isValid() && ContrastRatio(background, preferred) >= kMinTextContrast) {
    return preferred;
  }
  const QColor black(Qt::black);
  const QColor white(Qt::white);
  return ContrastRatio(background, black) >= ContrastRatio(background, white) ? black : white;
}

TSkinColors Readable(TSkinColors colors) {
  // A dark face is lightened towards white until black text reads on it.
  for (int step = 0; step < 20 && ContrastRatio(colors.face, Qt::black) < kMinTextContrast;
       ++step) {
    colors.face = QColor((colors.face.red() + 255) / 2, (colors.face.green() + 255) / 2,
                         (colors.face.blue() + 255) / 2);
  }
  colors.text = TextOn(colors.window, colors.text);
  colors.buttonText = TextOn(colors.button, colors.buttonText);
  colors.highlightText = TextOn(colors.highlight, colors.highlightText);
  colors.radius = std::clamp(colors.radius, 0, 12);
  return colors;
}

TKaraokeColours KaraokeColoursOf(const TSkinColors& look) {
  const auto hueOf = [](const QColor& c) { return std::max(0, c.hslHue()); };
  TKaraokeColours colours;
  colours.background =
      QColor::fromHsl(hueOf(look.window), std::min(look.window.hslSaturation(), 160), 20).toRgb();
  colours.toSing = Qt::white;
  const QColor& highlight = look.highlight;
  const auto fits = [&](const QColor& c) {
    return ContrastRatio(c, colours.background) >= kMinTextContrast &&
           ContrastRatio(c, colours.toSing) >= kMinWipeContrast;
  };
  // Lightness alone always finds one: from near black to white the contrast with the dark
  // background rises while that with white falls, and the two ranges overlap.
  colours.sung = QColor(0, 160, 255);
  for (int away = 0; away <= 255; ++away) {
    for (int lightness : {highlight.lightness() - away, highlight.lightness() + away}) {
      if (lightness < 0 || lightness > 255) continue;
      const QColor candidate =
          QColor::fromHsl(hueOf(highlight), highlight.hslSaturation(), lightness);
      if (fits(candidate)) return {colours.background, colours.toSing, candidate.toRgb()};
    }
  }
  return colours;
}

TSkinColors BuiltInLook(TsuiUIStyle style) {
  switch (style) {
    case TsuiUIStyle::WinXP:
      // Blue title band over the beige body, pale rounded buttons.
      return {QColor(0x0a, 0x4f, 0xc8),
              Qt::white,
              QColor(0xec, 0xe9, 0xd8),
              QColor(0xf6, 0xf5, 0xee),
              Qt::black,
              QColor(0x31, 0x6a, 0xc5),
              Qt::white,
              3};
    case TsuiUIStyle::DeepBlue:
      // Navy frame and buttons, gold selection.
      return {QColor(0x10, 0x23, 0x5a),
              Qt::white,
              QColor(0xd7, 0xde, 0xee),
              QColor(0x2b, 0x4c, 0x9b),
              Qt::white,
              QColor(0xf0, 0xb4, 0x00),
              Qt::black,
              2};
    case TsuiUIStyle::Protein:
      // Burnt orange, square corners.
      return {QColor(0xa8, 0x4a, 0x14),
              Qt::white,
              QColor(0xf7, 0xec, 0xe2),
              QColor(0xe8, 0xc3, 0xa0),
              Qt::black,
              QColor(0xd2, 0x69, 0x1e),
              Qt::black,
              0};
    case TsuiUIStyle::BlueGlass:
      // Pale sky glass, well-rounded.
      return {QColor(0x9f, 0xd3, 0xf2),
              QColor(0x08, 0x30, 0x4f),
              QColor(0xea, 0xf6, 0xfd),
              QColor(0xc9, 0xe9, 0xfb),
              QColor(0x08, 0x30, 0x4f),
              QColor(0x16, 0x70, 0xb5),
              Qt::white,
              10};
    case TsuiUIStyle::FromThemeFile:
    case TsuiUIStyle::MacOS:
      break;
  }
  // Platinum frame and body, aqua buttons, pill corners.
  return {QColor(0xd4, 0xd4, 0xd4),
          Qt::black,
          QColor(0xee, 0xee, 0xee),
          QColor(0x7d, 0xb4, 0xef),
          Qt::black,
          QColor(0x2f, 0x6b, 0xcc),
          Qt::white,
          8};
}

}  // namespace sonarelle
