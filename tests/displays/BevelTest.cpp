#include <QApplication>
#include <QPalette>

#include <gtest/gtest.h>

#include "LedCells.h"
#include "displays/MMGraphicControl.h"
#include "displays/MMLEDLabel.h"

namespace sonarelle {
namespace {

using test::Render;

class Probe : public TMMGraphicControl {
 public:
  void BevelChanged() override {
    ++changes;
    TMMGraphicControl::BevelChanged();
  }
  int changes = 0;
};

QList<QColor> Row(const QImage& image, int y, int from, int to) {
  QList<QColor> colours;
  for (int x = from; x <= to; ++x) {
    colours << image.pixelColor(x, y);
  }
  return colours;
}

QList<QColor> Column(const QImage& image, int x, int from, int to) {
  QList<QColor> colours;
  for (int y = from; y <= to; ++y) {
    colours << image.pixelColor(x, y);
  }
  return colours;
}

TEST(Bevel, BorderTotalCountsEveryFrame) {
  TMMBevel bevel;
  EXPECT_EQ(bevel.BorderTotal(), 1);
  bevel.SetBevelOuter(TBevelCut::bvNone);
  EXPECT_EQ(bevel.BorderTotal(), 0);
  bevel.SetBorderStyle(TBorderStyle::bsSingle);
  bevel.SetBorderWidth(2);
  bevel.SetBorderSpace(3);
  bevel.SetBevelInner(TBevelCut::bvRaised);
  bevel.SetBevelInnerWidth(4);
  EXPECT_EQ(bevel.BorderTotal(), 10);
  bevel.SetBevelOuter(TBevelCut::bvRaised);
  bevel.SetBevelOuterWidth(0);  // raised to the least width, 1
  bevel.SetBorderWidth(-5);     // raised to 0
  EXPECT_EQ(bevel.BorderTotal(), 9);
}

TEST(Bevel, AssignmentCopiesEverySettingThroughTheSetters) {
  TMMBevel source;
  source.SetBevelInner(TBevelCut::bvRaised);
  source.SetBevelOuter(TBevelCut::bvRaised);
  source.SetBevelInnerWidth(2);
  source.SetBevelOuterWidth(3);
  source.SetBorderStyle(TBorderStyle::bsSingle);
  source.SetBorderWidth(4);
  source.SetBorderSpace(5);
  source.SetBorderColor(clRed);
  source.SetBorderSpaceColor(clBlue);
  source.SetInnerLightColor(clAqua);
  source.SetInnerShadowColor(clNavy);
  source.SetOuterLightColor(clYellow);
  source.SetOuterShadowColor(clMaroon);

  Probe probe;
  probe.SetBevel(source);
  EXPECT_EQ(probe.changes, 13) << "one notification per changed setting";
  const TMMBevel& copy = probe.Bevel();
  EXPECT_EQ(&copy, &probe.Bevel()) << "the control keeps its own bevel";
  EXPECT_EQ(copy.BevelInner(), TBevelCut::bvRaised);
  EXPECT_EQ(copy.BevelOuter(), TBevelCut::bvRaised);
  EXPECT_EQ(copy.BevelInnerWidth(), 2);
  EXPECT_EQ(copy.BevelOuterWidth(), 3);
  EXPECT_EQ(copy.BorderStyle(), TBorderStyle::bsSingle);
  EXPECT_EQ(copy.BorderWidth(), 4);
  EXPECT_EQ(copy.BorderSpace(), 5);
  EXPECT_EQ(copy.BorderColor(), clRed);
  EXPECT_EQ(copy.BorderSpaceColor(), clBlue);
  EXPECT_EQ(copy.InnerLightColor(), clAqua);
  EXPECT_EQ(copy.InnerShadowColor(), clNavy);
  EXPECT_EQ(copy.OuterLightColor(), clYellow);
  EXPECT_EQ(copy.OuterShadowColor(), clMaroon);

  probe.SetBevel(source);
  probe.Bevel().SetBorderSpace(5);
  EXPECT_EQ(probe.changes, 13) << "unchanged values raise nothing";
}

TEST(Bevel, FramesAreDrawnFromTheOutsideIn) {
  Probe control;
  control.SetBounds(0, 0, 40, 30);
  control.SetColor(clTeal);
  TMMBevel& bevel = control.Bevel();
  bevel.SetBorderStyle(TBorderStyle::bsSingle);
  bevel.SetBevelOuter(TBevelCut::bvRaised);
  bevel.SetBevelOuterWidth(2);
  bevel.SetOuterLightColor(clRed);
  bevel.SetOuterShadowColor(clBlue);
  bevel.SetBorderWidth(1);
  bevel.SetBorderColor(clYellow);
  bevel.SetBevelInner(TBevelCut::bvLowered);
  bevel.SetInnerLightColor(clAqua);
  bevel.SetInnerShadowColor(clFuchsia);
  bevel.SetBorderSpace(1);
  bevel.SetBorderSpaceColor(clOlive);
  EXPECT_EQ(control.InnerRect(), QRect(6, 6, 28, 18));

  const QImage image = Render(control);
  const QColor frame = ToQColor(clWindowFrame);
  const QColor red = ToQColor(clRed), blue = ToQColor(clBlue), yellow = ToQColor(clYellow);
  const QColor aqua = ToQColor(clAqua), fuchsia = ToQColor(clFuchsia);
  const QColor olive = ToQColor(clOlive), teal = ToQColor(clTeal);
  const QList<QColor> topLeft = {frame, red, red, yellow, fuchsia, olive, teal};
  const QList<QColor> bottomRight = {teal, olive, aqua, yellow, blue, blue, frame};
  EXPECT_EQ(Row(image, 15, 0, 6), topLeft);
  EXPECT_EQ(Row(image, 15, 33, 39), bottomRight);
  EXPECT_EQ(Column(image, 20, 0, 6), topLeft);
  EXPECT_EQ(Column(image, 20, 23, 29), bottomRight);
  // Each ring's top-right and bottom-left corners belong to its second colour.
  EXPECT_EQ(image.pixelColor(1, 1), red);
  EXPECT_EQ(image.pixelColor(38, 1), blue);
  EXPECT_EQ(image.pixelColor(1, 28), blue);
  EXPECT_EQ(image.pixelColor(38, 28), blue);
}

TEST(Bevel, SystemColoursFollowTheApplicationPalette) {
  const QPalette saved = QApplication::palette();
  QPalette palette = saved;
  palette.setColor(QPalette::Dark, QColor(1, 2, 3));
  palette.setColor(QPalette::Light, QColor(4, 5, 6));
  QApplication::setPalette(palette);

  TMMLEDLABEL label;
  label.SetCaption("1");
  const QImage image = Render(label);
  QApplication::setPalette(saved);

  EXPECT_EQ(image.pixelColor(0, 10), QColor(1, 2, 3)) << "sunken: shadow on the left";
  EXPECT_EQ(image.pixelColor(10, 0), QColor(1, 2, 3)) << "and on the top";
  EXPECT_EQ(image.pixelColor(label.width() - 1, 10), QColor(4, 5, 6));
  EXPECT_EQ(image.pixelColor(10, label.height() - 1), QColor(4, 5, 6));
  EXPECT_EQ(Row(image, 10, 1, 2), QList<QColor>({Qt::black, Qt::black})) << "border space";
}

}  // namespace
}  // namespace sonarelle
