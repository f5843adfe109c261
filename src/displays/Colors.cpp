#include "displays/Colors.h"

#include <array>
#include <optional>

#include <QGuiApplication>
#include <QPalette>

namespace sonarelle {

namespace {

// The classic desktop scheme, used where no palette answers.
constexpr std::array<TColor, 25> kClassicScheme = {
    0xC0C0C0,  // scroll bar
    0x808000,  // desktop
    0x800000,  // active caption
    0x808080,  // inactive caption
    0xC0C0C0,  // menu
    0xFFFFFF,  // window
    0x000000,  // window frame
    0x000000,  // menu text
    0x000000,  // window text
    0xFFFFFF,  // caption text
    0xC0C0C0,  // active border
    0xC0C0C0,  // inactive border
    0x808080,  // application workspace
    0x800000,  // highlight
    0xFFFFFF,  // highlight text
    0xC0C0C0,  // button face
    0x808080,  // button shadow
    0x808080,  // grey text
    0x000000,  // button text
    0xC0C0C0,  // inactive caption text
    0xFFFFFF,  // button highlight
    0x000000,  // 3-D dark shadow
    0xDFDFDF,  // 3-D light
    0x000000,  // tooltip text
    0xE1FFFF,  // tooltip background
};

std::optional<QColor> FromPalette(unsigned index) {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
    return std::nullopt;
  }
  const QPalette palette = QGuiApplication::palette();
  switch (index) {
    case 4:  // menu
    case 10:
    case 11:
      return palette.color(QPalette::Active, QPalette::Window);
    case 5:
      return palette.color(QPalette::Active, QPalette::Base);
    case 6:
    case 21:
      return palette.color(QPalette::Active, QPalette::Shadow);
    case 7:
      return palette.color(QPalette::Active, QPalette::WindowText);
    case 8:
      return palette.color(QPalette::Active, QPalette::Text);
    case 13:
      return palette.color(QPalette::Active, QPalette::Highlight);
    case 14:
      return palette.color(QPalette::Active, QPalette::HighlightedText);
    case 15:
      return palette.color(QPalette::Active, QPalette::Button);
    case 16:
      return palette.color(QPalette::Active, QPalette::Dark);
    case 17:
      return palette.color(QPalette::Disabled, QPalette::Text);
    case 18:
      return palette.color(QPalette::Active, QPalette::ButtonText);
    case 20:
      return palette.color(QPalette::Active, QPalette::Light);
    case 22:
      return palette.color(QPalette::Active, QPalette::Midlight);
    case 23:
      return palette.color(QPalette::Active, QPalette::ToolTipText);
    case 24:
      return palette.color(QPalette::Active, QPalette::ToolTipBase);
    default:  // captions, desktop and scroll bar have no palette role
      return std::nullopt;
  }
}

}  // namespace

TColor ColorToRGB(TColor color) {
  if ((color & kSystemColorFlag) == 0) {
    return color & 0x00FFFFFFU;
  }
  const unsigned index = color & 0xFFU;
  if (const auto fromPalette = FromPalette(index)) {
    return FromQColor(*fromPalette);
  }
  // An index beyond the scheme reads as black rather than as memory past the table.
  return index < kClassicScheme.size() ? kClassicScheme[index] : clBlack;
}

QColor ToQColor(TColor color) {
  const TColor rgb = ColorToRGB(color);
  return {static_cast<int>(rgb & 0xFFU), static_cast<int>((rgb >> 8) & 0xFFU),
          static_cast<int>((rgb >> 16) & 0xFFU)};
}

TColor FromQColor(const QColor& color) {
  const QRgb rgb = color.rgb();
  return static_cast<TColor>(qRed(rgb)) | static_cast<TColor>(qGreen(rgb)) << 8 |
         static_cast<TColor>(qBlue(rgb)) << 16;
}

}  // namespace sonarelle
