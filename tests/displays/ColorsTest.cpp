#include <gtest/gtest.h>

#include "displays/Colors.h"

namespace sonarelle {
namespace {

// Runs without a GUI application: system colours fall back to the classic scheme.
TEST(Colors, ResolveWithoutAGuiApplication) {
  EXPECT_EQ(ColorToRGB(clBtnShadow), 0x808080U);
  EXPECT_EQ(ColorToRGB(clBtnHighlight), 0xFFFFFFU);
  EXPECT_EQ(ColorToRGB(clBtnFace), 0xC0C0C0U);
  EXPECT_EQ(ColorToRGB(clInfoBk), 0xE1FFFFU);
  EXPECT_EQ(ColorToRGB(kSystemColorFlag | 200), clBlack) << "unknown index";
  EXPECT_EQ(ColorToRGB(0x00123456), 0x00123456U);
}

TEST(Colors, KeepRedInTheLowByte) {
  EXPECT_EQ(ToQColor(clRed), QColor(255, 0, 0));
  EXPECT_EQ(ToQColor(0x00563412), QColor(0x12, 0x34, 0x56));
  EXPECT_EQ(ToQColor(clInfoBk), QColor(255, 255, 225));
  EXPECT_EQ(FromQColor(QColor(1, 2, 3)), 0x030201U);
}

}  // namespace
}  // namespace sonarelle
