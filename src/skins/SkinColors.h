#pragma once

#include <QColor>

#include "skins/SuiUIStyle.h"

namespace sonarelle {

// The colours and corner radius a look draws its controls with.
struct TSkinColors {
  QColor window;         // the frame: menu bar, panel caption bar, group box titles
  QColor text;           // text on `window`
  QColor face;           // bodies of windows, group boxes and panels
  QColor button;         // buttons, slider handles, drop-down lists
  QColor buttonText;     // text on `button`
  QColor highlight;      // selections, progress, the filled part of sliders
  QColor highlightText;  // text on `highlight`
  int radius = 3;        // corner radius in pixels, 0 to 12
};

// The WCAG contrast ratio of two colours, 1 (none) to 21 (black on white).
double ContrastRatio(const QColor& a, const QColor& b);

// The least contrast a text keeps against its background in every look.
inline constexpr double kMinTextContrast = 4.5;

// `preferred` when it reads well on `background`, else black or white, whichever reads better.
QColor TextOn(const QColor& background, const QColor& preferred);

// `colors` made readable: each text colour contrasts with its background, and the face
// takes black text, which the controls a look does not restyle keep.
TSkinColors Readable(TSkinColors colors);

// The karaoke screen's colours in a look.
struct TKaraokeColours {
  QColor background;  // the look's frame colour, made dark
  QColor toSing;
  QColor sung;  // the look's highlight, as near its own lightness as reads on `background`
};

// The least contrast between the sung and the to-sing colour, so a wipe shows from afar.
inline constexpr double kMinWipeContrast = 1.8;

// The karaoke screen's colours for `look`: both text colours read on the background, and
// the sung part stands apart from the part to sing.
TKaraokeColours KaraokeColoursOf(const TSkinColors& look);

// The colours of a built-in look; FromThemeFile has none and gives those of MacOS.
TSkinColors BuiltInLook(TsuiUIStyle style);

}  // namespace sonarelle
