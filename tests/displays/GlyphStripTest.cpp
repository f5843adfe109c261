#include <array>

#include <QFile>
#include <QSet>
#include <QtEndian>

#include <gtest/gtest.h>

#include "LedCells.h"

namespace sonarelle {
namespace {

using Glyph = std::array<std::array<bool, 5>, 7>;  // lit dots, [row][column]

constexpr QRgb kWhite = 0xFFFFFFFF, kSilver = 0xFFC0C0C0, kBlack = 0xFF000000;

struct Strip {
  TMMLEDFontSize size;
  const char* resource;
  int width, height, cellWidth, cellHeight;
};

constexpr std::array<Strip, 3> kStrips = {{
    {TMMLEDFontSize::fs16x20, ":/led/FONT_16X20.bmp", 1008, 42, 16, 20},
    {TMMLEDFontSize::fs11x13, ":/led/FONT_11X13.bmp", 693, 28, 11, 13},
    {TMMLEDFontSize::fs11x13_bold, ":/led/FONT_11X13_BOLD.bmp", 694, 28, 11, 13},
}};

// The pixels a dot covers when lit and when unlit, relative to the cell.
void DotPixels(TMMLEDFontSize size, int c, int r, QList<QPoint>& lit, QList<QPoint>& unlit) {
  if (size == TMMLEDFontSize::fs16x20) {
    const QPoint at(1 + 3 * c, 3 * r);
    lit = {at, at + QPoint(1, 0), at + QPoint(0, 1), at + QPoint(1, 1)};
    unlit = {at, at + QPoint(1, 1)};
  } else {
    const QPoint at(1 + 2 * c, 2 * r);
    lit = size == TMMLEDFontSize::fs11x13_bold ? QList<QPoint>{at, at + QPoint(1, 0)}
                                               : QList<QPoint>{at};
    unlit = {at};
  }
}

// Reads the dots of `code`, failing the test on any pixel off the dot grid.
Glyph ReadGlyph(const Strip& strip, const QImage& image, int code) {
  const QPoint origin = code < 95 ? QPoint((code - 32) * strip.cellWidth, 0)
                                  : QPoint((code - 95) * strip.cellWidth, strip.cellHeight + 2);
  QSet<int> covered;  // y * 100 + x of the pixels dots may paint
  Glyph glyph{};
  for (int r = 0; r < 7; ++r) {
    for (int c = 0; c < 5; ++c) {
      QList<QPoint> lit, unlit;
      DotPixels(strip.size, c, r, lit, unlit);
      glyph[r][c] = image.pixel(origin + lit.front()) == kWhite;
      for (const QPoint& p : lit) {
        covered.insert(p.y() * 100 + p.x());
        const QRgb want = !glyph[r][c] ? (unlit.contains(p) ? kSilver : kBlack) : kWhite;
        EXPECT_EQ(image.pixel(origin + p), want)
            << strip.resource << " code " << code << " dot " << c << "," << r;
      }
    }
  }
  for (int y = 0; y < strip.cellHeight; ++y) {
    for (int x = 0; x < strip.cellWidth; ++x) {
      if (!covered.contains(y * 100 + x)) {
        EXPECT_EQ(image.pixel(origin + QPoint(x, y)), kBlack)
            << strip.resource << " code " << code << " pixel " << x << "," << y;
      }
    }
  }
  return glyph;
}

TEST(GlyphStrips, AreFourBitBitmapsOfThreeColours) {
  for (const Strip& strip : kStrips) {
    QFile file(strip.resource);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << strip.resource;
    const QByteArray header = file.read(30);
    EXPECT_TRUE(header.startsWith("BM"));
    EXPECT_EQ(qFromLittleEndian<quint16>(header.constData() + 28), 4) << "bits per pixel";

    const QImage image = test::StripOf(strip.size);
    EXPECT_EQ(image.size(), QSize(strip.width, strip.height)) << strip.resource;
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        colours.insert(image.pixel(x, y));
      }
    }
    EXPECT_EQ(colours, QSet<QRgb>({kWhite, kSilver, kBlack})) << strip.resource;
    // The rows between and beyond the cells are background.
    for (int x = 0; x < image.width(); ++x) {
      EXPECT_EQ(image.pixel(x, strip.cellHeight), kBlack);
      EXPECT_EQ(image.pixel(x, strip.cellHeight + 1), kBlack);
    }
  }
}

TEST(GlyphStrips, HoldTheSameCharactersOnTheirDotGrids) {
  std::array<std::array<Glyph, 158>, 3> glyphs{};
  for (std::size_t s = 0; s < kStrips.size(); ++s) {
    const QImage image = test::StripOf(kStrips[s].size);
    for (int code = 32; code <= 157; ++code) {
      glyphs[s][code] = ReadGlyph(kStrips[s], image, code);
    }
  }
  EXPECT_EQ(glyphs[1], glyphs[0]);
  EXPECT_EQ(glyphs[2], glyphs[0]);

  const auto& font = glyphs[0];
  EXPECT_EQ(font[' '], Glyph{});
  for (int letter = 'A'; letter <= 'Z'; ++letter) {
    EXPECT_NE(font[letter], font[letter + 32]) << "lower case of " << char(letter);
    EXPECT_NE(font[letter], Glyph{});
  }
  for (int code = 151; code <= 157; ++code) {
    for (int r = 0; r < 7; ++r) {
      const bool lit = r >= 7 - (code - 150);
      EXPECT_EQ(font[code][r], (std::array<bool, 5>{lit, lit, lit, lit, lit}))
          << "bar " << code << " row " << r;
    }
  }
}

}  // namespace
}  // namespace sonarelle
