#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSet>

#include <gtest/gtest.h>

#include "LedCells.h"
#include "displays/MMLEDLabel.h"

namespace sonarelle {
namespace {

using test::Render;
using test::ShownText;

// Set up like the main window's time display: 19 cells of 16 x 20 in a 310 x 26 frame.
class TimeDisplay : public ::testing::Test {
 protected:
  TimeDisplay() : label(new TMMLEDLABEL(&form)) {
    label->BeginLoading();
    label->SetAutoSize(false);
    label->SetNumChars(19);
    label->SetBounds(16, 47, 310, 26);
    label->Loaded();
  }

  QWidget form;
  TMMLEDLABEL* label;  // owned by form
};

TEST_F(TimeDisplay, ShowsTimesInNineteenCells) {
  EXPECT_EQ(label->geometry(), QRect(16, 47, 310, 26));
  EXPECT_EQ(label->NumChars(), 19);

  label->SetCaption("00:00:00   00:00:00");
  EXPECT_EQ(ShownText(*label), "00:00:00   00:00:00");
  label->SetCaption("00:00:00  00:00:00");
  EXPECT_EQ(ShownText(*label), "00:00:00  00:00:00 ");
  EXPECT_EQ(label->width(), 310) << "a shorter caption must not shrink a fixed-size label";
}

TEST_F(TimeDisplay, FrameIsSunkenAroundABlackSpace) {
  const QImage shown = Render(*label);
  const QColor shadow = ToQColor(clBtnShadow), light = ToQColor(clBtnHighlight);
  EXPECT_EQ(shown.pixelColor(0, 0), shadow);
  EXPECT_EQ(shown.pixelColor(308, 0), shadow);
  EXPECT_EQ(shown.pixelColor(0, 24), shadow);
  EXPECT_EQ(shown.pixelColor(309, 0), light);
  EXPECT_EQ(shown.pixelColor(309, 25), light);
  EXPECT_EQ(shown.pixelColor(0, 25), light);
  for (const QPoint p : {QPoint(1, 1), QPoint(2, 2), QPoint(307, 23), QPoint(150, 24)}) {
    EXPECT_EQ(shown.pixelColor(p), QColor(Qt::black)) << p.x() << "," << p.y();
  }
}

TEST_F(TimeDisplay, ResizeRequestsAreFittedToWholeCells) {
  label->SetBounds(20, 50, 300, 100);
  EXPECT_EQ(label->geometry(), QRect(20, 50, 294, 26));
  label->SetCaption("0123456789ABCDEFGHIJ");
  EXPECT_EQ(ShownText(*label), "0123456789ABCDEFGH");

  label->SetWidth(5);  // too narrow for one cell: just the frame
  EXPECT_EQ(label->size(), QSize(6, 26));
  EXPECT_EQ(label->NumChars(), 0);
}

TEST_F(TimeDisplay, UnknownCodesAreBlankAndLettersHaveOwnGlyphs) {
  label->SetCaption(QString("a") + QChar(31) + QChar(158) + QChar(0x263A) + QChar(127) +
                    QChar(156) + "Az");
  EXPECT_EQ(ShownText(*label), QString("a   ") + QChar(127) + QChar(156) + "Az" + QString(11, ' '));

  label->SetCaption(QString::fromUtf8("ÄäÖöÜüß±€xyz"));
  const QString mapped = QString(QChar(135)) + QChar(135) + QChar(140) + QChar(140) + QChar(137) +
                         QChar(137) + QChar(149) + QChar(150) + QChar(128) + "xyz";
  EXPECT_EQ(ShownText(*label), mapped + QString(7, ' '));

  label->SetCaption("abcdefghijklmnopqrs");
  EXPECT_EQ(ShownText(*label), "abcdefghijklmnopqrs");
  label->SetCaption("tuvwxyzABCDEFGHIJKL");
  EXPECT_EQ(ShownText(*label), "tuvwxyzABCDEFGHIJKL");
}

TEST_F(TimeDisplay, LongTextShowsTheWindowFromCurrentStep) {
  const QString text = "The quick brown fox jumps over";  // 30 characters
  label->SetCaption(text);
  EXPECT_EQ(ShownText(*label), text.left(19));
  label->SetCurrentStep(4);
  EXPECT_EQ(ShownText(*label), text.mid(4, 19));
  label->SetCurrentStep(31);  // beyond the caption: refused
  label->SetCurrentStep(-1);
  EXPECT_EQ(ShownText(*label), text.mid(4, 19));
  label->SetCurrentStep(20);
  EXPECT_EQ(ShownText(*label), text.mid(20) + QString(9, ' '));
  label->SetCurrentStep(30);
  EXPECT_EQ(ShownText(*label), QString(19, ' '));
}

TEST_F(TimeDisplay, RightAndCentreAlignment) {
  label->SetCaption("12:34");
  label->SetAlignment(TAlignment::taRightJustify);
  EXPECT_EQ(ShownText(*label), QString(14, ' ') + "12:34");
  label->SetAlignment(TAlignment::taCenter);
  EXPECT_EQ(ShownText(*label), QString(7, ' ') + "12:34" + QString(7, ' '));
  label->SetCaption("1234");
  EXPECT_EQ(ShownText(*label), QString(7, ' ') + "1234" + QString(8, ' '));

  const QString text = "The quick brown fox jumps over";
  label->SetCaption(text);
  EXPECT_EQ(ShownText(*label), text.mid(5, 19));
  label->SetAlignment(TAlignment::taRightJustify);
  EXPECT_EQ(ShownText(*label), text.right(19));
}

TEST_F(TimeDisplay, ColourChangesRecolourFillAndGlyphs) {
  label->SetLEDSpace(2);  // one pixel of interior fill between cells
  label->SetCaption("8 8");
  label->SetColor(clNavy);
  EXPECT_EQ(label->NumChars(), 17);
  EXPECT_EQ(ShownText(*label), "8 8" + QString(14, ' '));  // glyph background is navy
  EXPECT_EQ(Render(*label).pixelColor(3 + 16, 10), ToQColor(clNavy)) << "fill between cells";

  // The new colours are the strip's own colours permuted: each pixel must change once only.
  label->SetColor(clWhite);
  label->SetLEDColor(clSilver);
  label->SetInactiveColor(clBlack);
  EXPECT_EQ(ShownText(*label), "8 8" + QString(14, ' '));

  label->SetDrawInactive(false);
  EXPECT_EQ(ShownText(*label), "8 8" + QString(14, ' '));
  const QImage hidden = Render(*label);
  for (int y = 3; y < 23; ++y) {
    for (int x = 3; x < label->width() - 3; ++x) {
      ASSERT_NE(hidden.pixelColor(x, y), QColor(Qt::black))
          << "unlit dot left at " << x << "," << y;
    }
  }
}

TEST(LedLabel, AutoSizeFollowsTheCaption) {
  TMMLEDLABEL label;
  label.SetCaption("12345");
  EXPECT_EQ(label.size(), QSize(86, 26));
  EXPECT_EQ(ShownText(label), "12345");
  label.SetCaption("");
  EXPECT_EQ(label.size(), QSize(6, 26));

  label.SetCaption("12345");
  label.SetLEDSpace(3);
  EXPECT_EQ(label.width(), 6 + 5 * 18 - 2);
  EXPECT_EQ(ShownText(label), "12345");
  label.SetLEDSpace(0);  // ignored
  EXPECT_EQ(label.width(), 94);

  label.SetFontSize(TMMLEDFontSize::fs11x13);
  EXPECT_EQ(label.size(), QSize(6 + 5 * 13 - 2, 19));
  EXPECT_EQ(ShownText(label), "12345");
  label.SetFontSize(TMMLEDFontSize::fs11x13_bold);
  EXPECT_EQ(label.size(), QSize(69, 19));
  EXPECT_EQ(ShownText(label), "12345");
}

TEST(LedLabel, BevelAndDockingShapeTheFit) {
  TMMLEDLABEL label;
  label.SetCaption("Hello");
  TMMBevel bevel;
  bevel.SetBorderWidth(4);
  bevel.SetBevelInner(TBevelCut::bvRaised);
  bevel.SetBevelInnerWidth(2);
  label.SetBevel(bevel);  // BorderTotal 1 + 4 + 2 = 7, BorderSpace back to 0
  EXPECT_EQ(label.size(), QSize(14 + 80, 34));
  EXPECT_EQ(ShownText(label), "Hello");

  label.SetAlign(TAlign::alTop);
  label.SetAutoSize(false);
  label.SetBounds(0, 0, 400, 50);  // docked: the width stays, the cells follow it
  EXPECT_EQ(label.size(), QSize(400, 34));
  EXPECT_EQ(ShownText(label), "Hello" + QString(19, ' '));
}

TEST(LedLabel, LoadingDefersTheFitUntilLoaded) {
  TMMLEDLABEL label;
  label.BeginLoading();
  label.SetAutoSize(false);
  label.SetBounds(0, 0, 200, 90);
  label.SetCaption("abc");
  EXPECT_EQ(label.size(), QSize(200, 90));
  label.Loaded();
  EXPECT_EQ(label.size(), QSize(6 + 12 * 16, 26));
  EXPECT_EQ(ShownText(label), "abc" + QString(9, ' '));
}

class ScrollingLabel : public TMMLEDLABEL {
 public:
  using TMMLEDLABEL::ScrollTick;
};

TEST(LedLabel, ScrollsThroughTheCaption) {
  ScrollingLabel label;
  label.SetAutoSize(false);
  label.SetBounds(0, 0, 6 + 3 * 16, 26);
  label.SetCaption("ABCDE");
  label.SetAlignment(TAlignment::taRightJustify);
  QStringList events;
  label.OnBegin = [&](QObject* sender) { events << (sender == &label ? "begin" : "?"); };
  label.OnStep = [&](QObject*) { events << "step"; };
  label.OnEnd = [&](QObject*) { events << "end"; };

  label.ScrollTick();  // the timer is off: nothing happens
  EXPECT_EQ(ShownText(label), "CDE");

  label.SetAutoScroll(true);
  EXPECT_TRUE(label.IsScrolling());
  EXPECT_EQ(ShownText(label), "ABC") << "scrolling shows the text left-justified";
  QStringList frames;
  for (int i = 0; i < 6; ++i) {
    label.ScrollTick();
    frames << ShownText(label);
  }
  EXPECT_EQ(frames, QStringList({"BCD", "CDE", "DE ", "E  ", "ABC", "BCD"}));
  EXPECT_EQ(events, QStringList({"begin", "step", "step", "step", "step", "end", "step"}));

  label.SetStartStep(2);
  EXPECT_EQ(ShownText(label), "CDE");
  label.ScrollTick();
  label.ScrollTick();
  label.ScrollTick();
  EXPECT_EQ(ShownText(label), "CDE") << "after the end scrolling restarts at StartStep";

  label.SetAutoScroll(false);
  EXPECT_FALSE(label.IsScrolling());
  label.ScrollTick();
  EXPECT_EQ(ShownText(label), "CDE");
}

TEST(LedLabel, ScrollingRestartsWhenTheCaptionShrankBelowTheStep) {
  TMMLEDLABEL label;
  label.SetAutoSize(false);
  label.SetBounds(0, 0, 6 + 3 * 16, 26);
  label.SetCaption("ABCDEFG");
  label.SetCurrentStep(6);
  label.SetCaption("AB");
  EXPECT_EQ(ShownText(label), "   ");
  label.SetAutoScroll(true);
  EXPECT_EQ(ShownText(label), "AB ");
}

TEST(LedLabel, ScrollTimerTicksOnItsOwn) {
  TMMLEDLABEL label;
  label.SetCaption("AB");
  label.SetScrollSpeed(5);
  int ends = 0;
  label.OnEnd = [&](QObject*) { ++ends; };
  label.SetAutoScroll(true);
  QElapsedTimer clock;
  clock.start();
  while (ends < 2 && clock.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  EXPECT_GE(ends, 2);
}

}  // namespace
}  // namespace sonarelle
