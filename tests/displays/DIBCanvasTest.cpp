#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <QPainter>

#include "displays/MMDIBCanvas.h"

namespace sonarelle {
namespace {

// Which columns of row y (or rows of column x) carry the given colour.
std::vector<int> LitColumns(const TMMDIBCanvas& canvas, int y, QRgb colour) {
  std::vector<int> lit;
  for (int x = 0; x < canvas.Width(); ++x) {
    if ((canvas.PixelAt(x, y) & 0xFFFFFFU) == colour) lit.push_back(x);
  }
  return lit;
}

std::vector<int> LitRows(const TMMDIBCanvas& canvas, int x, QRgb colour) {
  std::vector<int> lit;
  for (int y = 0; y < canvas.Height(); ++y) {
    if ((canvas.PixelAt(x, y) & 0xFFFFFFU) == colour) lit.push_back(y);
  }
  return lit;
}

TEST(DIBCanvas, PaletteHoldsTheSystemColoursAndDepthsAreChecked) {
  const auto& palette = TMMDIBCanvas::SystemPalette();
  ASSERT_EQ(palette.size(), 256);
  for (QRgb c : {0x000000U, 0x808080U, 0xC0C0C0U, 0xFF0000U, 0x00FF00U, 0x0000FFU, 0xFFFF00U,
                 0x00FFFFU, 0xFFFFFFU, 0x008080U, 0xA0A0A4U, 0xFFFBF0U}) {
    EXPECT_TRUE(palette.contains(0xFF000000U | c)) << std::hex << c;
  }
  TMMDIBCanvas canvas;
  try {
    canvas.SetBitCount(16);
    ADD_FAILURE() << "16 bits accepted";
  } catch (const EMMDIBError& e) {
    EXPECT_STREQ(e.what(), "Bitlength not supported yet");
  }
  EXPECT_EQ(canvas.BitCount(), 8);
}

TEST(DIBCanvas, LinesEndBeforeTheLargerEndAndClip) {
  for (int bits : {8, 24}) {
    TMMDIBCanvas canvas;
    canvas.SetBitCount(bits);
    canvas.Resize(20, 10);
    canvas.BeginDraw();
    canvas.Clear(clBlack);
    canvas.SetDrawColor(clLime);
    canvas.HLine(0, 7, 3);  // ends in either order
    canvas.HLine(1, -5, 3);
    canvas.HLine(2, 18, 40);
    canvas.VLine(10, 9, 4);
    canvas.VLine(15, -3, 2);
    canvas.HLine(-1, 0, 20);  // outside: nothing
    canvas.Pixel(25, 5);
    canvas.SetDrawColor(0x123456);  // red 0x56, green 0x34, blue 0x12: no palette entry
    canvas.Pixel(0, 9);
    canvas.EndDraw();
    EXPECT_EQ(LitColumns(canvas, 0, 0x00FF00), (std::vector<int>{3, 4, 5, 6, 15})) << bits;
    EXPECT_EQ(LitColumns(canvas, 1, 0x00FF00), (std::vector<int>{0, 1, 2, 15})) << bits;
    EXPECT_EQ(LitColumns(canvas, 2, 0x00FF00), (std::vector<int>{18, 19})) << bits;
    EXPECT_EQ(LitRows(canvas, 10, 0x00FF00), (std::vector<int>{4, 5, 6, 7, 8})) << bits;
    EXPECT_EQ(LitRows(canvas, 15, 0x00FF00), (std::vector<int>{0, 1})) << bits;
    if (bits == 8) {
      EXPECT_EQ(canvas.PixelAt(0, 9) & 0xFFFFFFU, 0x800000U);  // the nearest: maroon
    } else {
      EXPECT_EQ(canvas.PixelAt(0, 9) & 0xFFFFFFU, 0x563412U);
    }
  }
}

TEST(DIBCanvas, DashesAndLines) {
  TMMDIBCanvas canvas;
  canvas.Resize(20, 4);
  canvas.BeginDraw();
  canvas.Clear(clBlack);
  canvas.SetDrawColor(clWhite);
  canvas.HLineDashed(0, 0, 20);
  canvas.HLineDashed(1, 5, 8);  // shorter than 4: nothing
  canvas.MoveTo(0, 3);
  canvas.LineTo(4, 3);
  canvas.EndDraw();
  EXPECT_EQ(LitColumns(canvas, 0, 0xFFFFFF),
            (std::vector<int>{0, 1, 2, 3, 8, 9, 10, 11, 16, 17, 18, 19}));
  EXPECT_TRUE(LitColumns(canvas, 1, 0xFFFFFF).empty());
  EXPECT_EQ(LitColumns(canvas, 3, 0xFFFFFF), (std::vector<int>{0, 1, 2, 3}));
}

TEST(DIBCanvas, RebuildWhileDrawingIsRefusedAndTheLockIsShared) {
  TMMDIBCanvas first("TMMOscope");
  TMMDIBCanvas second;
  first.BeginDraw();
  try {
    first.Resize(30, 30);
    ADD_FAILURE() << "rebuilt while drawing";
  } catch (const EMMDIBError& e) {
    EXPECT_STREQ(e.what(), "TMMOscope: Attempt to create new DIB while initialized for drawing");
  }
  std::atomic<bool> entered{false};
  std::thread other([&] {
    second.BeginDraw();
    entered = true;
    second.EndDraw();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered);  // waits for the first buffer's frame
  first.EndDraw();
  other.join();
  EXPECT_TRUE(entered);
  first.Resize(30, 30);
  EXPECT_EQ(first.Width(), 30);
}

}  // namespace
}  // namespace sonarelle
