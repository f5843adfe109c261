#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include "displays/MMLEDLabel.h"

namespace sonarelle::test {

// The glyph strip of `size` as embedded in the program, unrecoloured.
QImage StripOf(TMMLEDFontSize size);

// The widget as it paints itself.
QImage Render(QWidget& widget);

// Reads the text a label shows back from its pixels: each cell is compared, pixel by pixel,
// with every glyph of the shipped strip in the label's colours. A cell matching no glyph
// reads as '?'.
QString ShownText(TMMLEDLABEL& label);

}  // namespace sonarelle::test
