#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QImage>
#include <QMouseEvent>

#include "ScopePixels.h"
#include "displays/MMOscope.h"

namespace sonarelle {
namespace {

using test::LitTrace;
using test::Range;
using test::SummariseRows;

constexpr QRgb kLime = 0x00FF00;
constexpr QRgb kAqua = 0x00FFFF;  // as QRgb: 0xRRGGBB

// The main window's scope: 89 x 25, mirrored lines in lime, 16-bit stereo at 44100 Hz.
std::unique_ptr<TMMOscope> MainWindowScope() {
  auto scope = std::make_unique<TMMOscope>();
  scope->SetBounds(0, 0, 89, 25);
  scope->SetKind(TMMOscopeKind::okMirLines);
  scope->SetForegroundColor(clLime);
  scope->SetBitLength(TMMBits::b16Bit);
  scope->SetSampleRate(44100);
  scope->SetMode(TMMMode::mStereo);
  scope->SetShowInfo(false);
  scope->show();
  return scope;
}

// Stereo 16-bit frames; `sample` gives the left and right value of frame i.
std::vector<char> StereoFrames(int frames, const std::function<std::pair<int, int>(int)>& sample) {
  std::vector<char> bytes(static_cast<std::size_t>(frames) * 4);
  for (int i = 0; i < frames; ++i) {
    const auto [l, r] = sample(i);
    const auto left = static_cast<std::int16_t>(l);
    const auto right = static_cast<std::int16_t>(r);
    std::memcpy(&bytes[static_cast<std::size_t>(i) * 4], &left, 2);
    std::memcpy(&bytes[static_cast<std::size_t>(i) * 4 + 2], &right, 2);
  }
  return bytes;
}

std::vector<char> Constant(int value) {
  return StereoFrames(87, [value](int) { return std::pair{value, value}; });
}

TEST(Oscope, MainWindowGeometryAndOtherSizes) {
  auto scope = MainWindowScope();
  EXPECT_EQ(scope->Columns(), 87);
  EXPECT_EQ(scope->Rows(), 23);
  EXPECT_EQ(scope->RefreshBytes(), 348);
  EXPECT_EQ(scope->TraceRect(), QRect(1, 1, 87, 23));

  scope->SetBounds(0, 0, 10, 10);
  EXPECT_EQ(scope->Columns(), 8);
  EXPECT_EQ(scope->Rows(), 8);
  scope->SetBounds(0, 0, 3, 3);
  EXPECT_EQ(scope->size(), QSize(4, 4));
  EXPECT_EQ(scope->Columns(), 4);
  EXPECT_EQ(scope->Rows(), 4);
  EXPECT_EQ(static_cast<int>(scope->SampleRow().size()), 4);

  // The scales take room, and the minimum size grows with them.
  scope->SetDrawAmpScale(true);
  scope->SetDrawTimeScale(true);
  EXPECT_EQ(scope->size(), QSize(68, 44));
  EXPECT_EQ(scope->TraceRect(), QRect(33, 1, 2, 2));
}

TEST(Oscope, SilenceLightsOnlyTheCentreBand) {
  auto scope = MainWindowScope();
  scope->ShowData(Constant(0).data());
  const auto rows = SummariseRows(LitTrace(*scope, kLime));
  EXPECT_EQ(rows.full, (std::vector<int>{10, 11}));
  EXPECT_EQ(rows.empty.size(), 21U);
  // The rest of the trace is background.
  const QImage shown = scope->grab().toImage();
  EXPECT_EQ(shown.pixel(5, 3) & 0xFFFFFFU, 0U);
}

TEST(Oscope, HalfScaleBarsSpanRowsFiveToSixteen) {
  auto scope = MainWindowScope();
  const auto alternating = StereoFrames(87, [](int i) {
    const int v = i % 2 == 0 ? 16384 : -16384;
    return std::pair{v, v};
  });
  scope->ShowData(alternating.data());
  const auto rows = SummariseRows(LitTrace(*scope, kLime));
  EXPECT_EQ(rows.full, Range(5, 16));
  std::vector<int> dark = Range(0, 4);
  for (int r : Range(17, 22)) dark.push_back(r);
  EXPECT_EQ(rows.empty, dark);
}

TEST(Oscope, OverflowsAreReportedAndStillDrawn) {
  auto scope = MainWindowScope();
  int pcm = 0;
  int gain = 0;
  scope->OnPcmOverflow = [&](TMMOscope* sender) {
    EXPECT_EQ(sender, scope.get());
    ++pcm;
  };
  scope->OnGainOverflow = [&](TMMOscope*) { ++gain; };

  scope->ShowData(Constant(32767).data());
  EXPECT_GT(pcm, 0);
  EXPECT_EQ(gain, 0);
  EXPECT_EQ(SummariseRows(LitTrace(*scope, kLime)).full, Range(0, 21));
  scope->ShowData(Constant(-32768).data());
  EXPECT_EQ(SummariseRows(LitTrace(*scope, kLime)).full, Range(0, 21));

  pcm = 0;
  scope->SetGain(32);
  scope->ShowData(Constant(16384).data());
  EXPECT_EQ(pcm, 0);
  EXPECT_GT(gain, 0);
  // Clipped to the trace: every row lit.
  EXPECT_EQ(SummariseRows(LitTrace(*scope, kLime)).full, Range(0, 22));
}

TEST(Oscope, OtherKindsOnAConstantFrame) {
  auto scope = MainWindowScope();
  const auto frame = Constant(16384);  // y = 17 with the default scale
  struct Case {
    TMMOscopeKind kind;
    std::vector<int> full;
  };
  const Case cases[] = {
      {TMMOscopeKind::okDots, {5}},
      {TMMOscopeKind::okConLines, {5}},
      {TMMOscopeKind::okVertLines, Range(5, 10)},
      {TMMOscopeKind::okSpikes, Range(11, 22)},  // |s| over 32767: y = 11
  };
  for (const Case& c : cases) {
    scope->SetKind(c.kind);
    scope->ShowData(frame.data());
    const auto rows = SummariseRows(LitTrace(*scope, kLime));
    EXPECT_EQ(rows.full, c.full) << static_cast<int>(c.kind);
    EXPECT_EQ(rows.full.size() + rows.empty.size(), 23U) << static_cast<int>(c.kind);
  }

  // Every third column only.
  scope->SetKind(TMMOscopeKind::okDots);
  scope->SetSteps(3);
  scope->ShowData(frame.data());
  const auto lit = LitTrace(*scope, kLime);
  for (int x = 0; x < 87; ++x) EXPECT_EQ(lit[5][x], x % 3 == 0) << x;
}

TEST(Oscope, ChannelsEightBitAndLowPass) {
  auto scope = MainWindowScope();
  const auto leftOnly = StereoFrames(87, [](int) { return std::pair{16384, 0}; });
  scope->ShowData(leftOnly.data());
  EXPECT_EQ(scope->SampleRow()[0], 8192);  // both channels averaged
  scope->SetChannel(TMMChannel::chRight);
  scope->ShowData(leftOnly.data());
  EXPECT_EQ(scope->SampleRow()[40], 0);
  scope->SetChannel(TMMChannel::chLeft);
  scope->ShowData(leftOnly.data());
  EXPECT_EQ(scope->SampleRow()[86], 16384);
  // Averages of odd sums round toward zero.
  const auto odd = StereoFrames(87, [](int) { return std::pair{-3, 0}; });
  scope->SetChannel(TMMChannel::chBoth);
  scope->ShowData(odd.data());
  EXPECT_EQ(scope->SampleRow()[0], -1);

  scope->SetLowPass(true);
  const auto alternating = StereoFrames(87, [](int i) {
    const int v = i % 2 == 0 ? 16384 : -16384;
    return std::pair{v, v};
  });
  scope->ShowData(alternating.data());
  EXPECT_EQ(scope->SampleRow()[0], 12288);  // (0 + 3 x 16384) / 4
  EXPECT_EQ(scope->SampleRow()[1], -8192);  // (16384 - 3 x 16384) / 4
  EXPECT_EQ(scope->SampleRow()[2], 8192);
  scope->SetLowPass(false);

  // 8-bit mono: 192 is half scale up, the same bars as 16-bit 16384.
  scope->SetBitLength(TMMBits::b8Bit);
  scope->SetMode(TMMMode::mMono);
  EXPECT_EQ(scope->RefreshBytes(), 87);
  std::vector<unsigned char> bytes(87);
  for (int i = 0; i < 87; ++i) bytes[i] = i % 2 == 0 ? 192 : 64;
  scope->ShowData(bytes.data());
  EXPECT_EQ(scope->SampleRow()[0], 16384);
  EXPECT_EQ(scope->SampleRow()[1], -16384);
  EXPECT_EQ(SummariseRows(LitTrace(*scope, kLime)).full, Range(5, 16));
}

TEST(Oscope, ZoomPicksFramesPerColumn) {
  auto scope = MainWindowScope();
  const auto ramp = StereoFrames(87 * 2, [](int i) { return std::pair{i, i}; });
  scope->SetZoom(2);
  EXPECT_EQ(scope->RefreshBytes(), 696);
  scope->ShowData(ramp.data());
  EXPECT_EQ(scope->SampleRow()[10], 20);
  scope->SetZoom(-1);
  EXPECT_EQ(scope->RefreshBytes(), 176);  // (348 / 2 + 5) down to a multiple of 4
  scope->ShowData(ramp.data());
  EXPECT_EQ(scope->SampleRow()[10], 5);
  EXPECT_EQ(scope->SampleRow()[11], 5);
  EXPECT_EQ(scope->SampleRow()[86], 43);
}

TEST(Oscope, SettersClampAndIgnore) {
  TMMOscope scope;
  EXPECT_EQ(scope.size(), QSize(194, 90));
  scope.SetSteps(0);
  EXPECT_EQ(scope.Steps(), 1);
  scope.SetSteps(12);
  EXPECT_EQ(scope.Steps(), 9);
  scope.SetZoom(3);
  scope.SetZoom(0);
  EXPECT_EQ(scope.Zoom(), 3);
  scope.SetZoom(-20);
  EXPECT_EQ(scope.Zoom(), -9);
  scope.SetFFTLength(1000);
  EXPECT_EQ(scope.FFTLength(), 512);
  scope.SetFFTLength(100000);
  EXPECT_EQ(scope.FFTLength(), 4096);
  scope.SetGain(33);
  scope.SetGain(-9);
  EXPECT_EQ(scope.Gain(), 0);
  scope.SetSampleRate(100);
  EXPECT_EQ(scope.SampleRate(), 8000);
  scope.SetBarWidth(0);
  EXPECT_EQ(scope.BarWidth(), 1);
  scope.SetScroll(true);
  EXPECT_EQ(scope.RefreshBytes(), 4096);  // one byte per frame x FFT length
}

TEST(Oscope, AdoptFormatTakesPcmOnly) {
  auto scope = MainWindowScope();
  const WAVEFORMATEX mono8 = MakePCMFormat(8, 1, 22050);
  scope->AdoptFormat(&mono8);
  EXPECT_EQ(scope->BitLength(), TMMBits::b8Bit);
  EXPECT_EQ(scope->Mode(), TMMMode::mMono);
  EXPECT_EQ(scope->SampleRate(), 22050);

  for (const WAVEFORMATEX& bad :
       {MakePCMFormat(24, 2, 44100), MakePCMFormat(16, 3, 44100), MakePCMFormat(16, 2, 3000)}) {
    try {
      scope->AdoptFormat(&bad);
      ADD_FAILURE() << "accepted " << bad.wBitsPerSample << " bits, " << bad.nChannels << " ch";
    } catch (const EMMOscopeError& e) {
      EXPECT_STREQ(e.what(), "Invalid WaveFormat");
    }
  }
  EXPECT_EQ(scope->BitLength(), TMMBits::b8Bit);  // kept

  const WAVEFORMATEX stereo16 = MakePCMFormat(16, 2, 44100);
  scope->AdoptFormat(&stereo16);
  EXPECT_EQ(scope->BitLength(), TMMBits::b16Bit);
  EXPECT_EQ(scope->Mode(), TMMMode::mStereo);
  EXPECT_EQ(scope->SampleRate(), 44100);
  EXPECT_EQ(scope->RefreshBytes(), 348);
}

TEST(Oscope, ClearDisabledAndHidden) {
  auto scope = MainWindowScope();
  scope->ShowData(Constant(32000).data());
  scope->ClearData();
  EXPECT_EQ(SummariseRows(LitTrace(*scope, kLime)).full, (std::vector<int>{10, 11}));

  // Disabled: no data taken, a grey line at the middle from column 5 to count - 5.
  scope->SetEnabled(false);
  scope->ShowData(Constant(32000).data());
  EXPECT_EQ(scope->SampleRow()[0], 0);
  const auto grey = LitTrace(*scope, 0x808080);
  for (int x = 0; x < 87; ++x) EXPECT_EQ(grey[11][x], x >= 5 && x < 82) << x;
  EXPECT_TRUE(SummariseRows(LitTrace(*scope, kLime)).full.empty());

  scope->SetEnabled(true);
  scope->hide();
  scope->ShowData(Constant(32000).data());
  EXPECT_EQ(scope->SampleRow()[0], 0);
}

TEST(Oscope, GridMidLineSelectionAndOwnDrawing) {
  auto scope = MainWindowScope();
  scope->SetKind(TMMOscopeKind::okDots);
  scope->SetDrawMidLine(true);
  scope->SetSelection(10, 20);
  scope->ShowData(Constant(16384).data());
  const auto red = LitTrace(*scope, 0xFF0000);
  EXPECT_TRUE(red[15][10] && red[15][20]);
  EXPECT_FALSE(red[15][9] || red[15][21]);
  const auto grey = LitTrace(*scope, 0x808080);
  EXPECT_TRUE(grey[11][0] && grey[11][3] && grey[11][8]);
  EXPECT_FALSE(grey[11][4] || grey[11][7]);  // dashes of four

  scope->SetSelection(-1, -1);
  scope->SetDrawMidLine(false);
  scope->SetDrawGrid(true);
  scope->ShowData(Constant(0).data());  // dots on row 11 only
  const auto grid = LitTrace(*scope, 0x808080);
  EXPECT_TRUE(grid[0][40] && grid[22][40]);  // 23 rows: two steps
  EXPECT_TRUE(grid[5][0]);                   // vertical lines: 8 steps of about 10 columns

  int drawn = 0;
  scope->OnDrawLine = [&](TMMOscope*, TMMDIBCanvas& canvas, const QRect& rect,
                          const std::vector<int16_t>& row) {
    ++drawn;
    EXPECT_EQ(rect, QRect(0, 0, 87, 23));
    EXPECT_EQ(row[0], 1000);
    canvas.Clear(clBlue);
  };
  scope->ShowData(Constant(1000).data());
  EXPECT_EQ(drawn, 1);
  EXPECT_EQ(SummariseRows(LitTrace(*scope, 0x0000FF)).full.size(), 23U);
}

TEST(Oscope, ScrollChartAdvancesOneColumnPerCall) {
  auto scope = MainWindowScope();
  scope->SetScroll(true);
  scope->SetFFTLength(4);
  scope->SetKind(TMMOscopeKind::okVertLines);
  EXPECT_EQ(scope->RefreshBytes(), 16);
  const auto loud = StereoFrames(4, [](int i) {
    return std::pair{i == 1 ? 16384 : 0, i == 1 ? 16384 : 0};
  });
  scope->ShowData(loud.data());
  const auto lit = LitTrace(*scope, kLime);
  EXPECT_TRUE(lit[5][0] && lit[11][0]);  // column 0 spans 0 .. 16384
  EXPECT_FALSE(lit[4][0]);
  EXPECT_FALSE(lit[5][10]);
}

TEST(Oscope, MouseSelectionReportsItsRange) {
  auto scope = MainWindowScope();
  scope->SetUseSelection(true);
  std::vector<std::pair<int, int>> ends;
  int selecting = 0;
  scope->OnSelecting = [&](TMMOscope*, int, int) { ++selecting; };
  scope->OnSelectEnd = [&](TMMOscope*, int a, int b) { ends.emplace_back(a, b); };
  auto send = [&](QEvent::Type type, int x, Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(x, 10), QPointF(x, 10), Qt::RightButton, buttons,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(scope.get(), &event);
  };
  send(QEvent::MouseButtonPress, 31, Qt::RightButton);
  send(QEvent::MouseMove, 200, Qt::RightButton);  // clamped to the last column
  send(QEvent::MouseButtonRelease, 200, Qt::NoButton);
  EXPECT_GE(selecting, 2);
  ASSERT_EQ(ends.size(), 1U);
  EXPECT_EQ(ends[0], (std::pair{30, 86}));
  EXPECT_EQ(scope->SelectionStart(), 30);

  // A single column is no selection.
  send(QEvent::MouseButtonPress, 11, Qt::RightButton);
  send(QEvent::MouseButtonRelease, 11, Qt::NoButton);
  EXPECT_EQ(scope->SelectionStart(), -1);

  scope->SetLocked(true);
  send(QEvent::MouseButtonPress, 11, Qt::RightButton);
  send(QEvent::MouseMove, 40, Qt::RightButton);
  send(QEvent::MouseButtonRelease, 40, Qt::NoButton);
  EXPECT_EQ(scope->SelectionStart(), -1);
}

TEST(Oscope, ReadoutFreezesTheTrace) {
  auto scope = MainWindowScope();
  scope->SetShowInfo(true);
  scope->setToolTip("level");
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(44, 6), QPointF(44, 6), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(scope.get(), &press);
  scope->ShowData(Constant(16384).data());
  EXPECT_EQ(scope->SampleRow()[0], 0);  // frozen while the box shows
  EXPECT_TRUE(scope->toolTip().isEmpty());
  scope->ClearData();  // closes the box
  EXPECT_EQ(scope->toolTip(), "level");
  scope->ShowData(Constant(16384).data());
  EXPECT_EQ(scope->SampleRow()[0], 16384);
}

}  // namespace
}  // namespace sonarelle
