// Where a record stream's reads go in a take: only what was captured between the presses,
// and another input placed by its own times.
#include <gtest/gtest.h>

#include "platform/TakeTimeline.h"

namespace sonarelle {
namespace {

constexpr unsigned kRate = 1000;  // a frame a millisecond
constexpr std::int64_t kMs = 1000;

TEST(TakeTimelineTest, OnlyWhatWasCapturedBetweenThePressesAndAnotherInputWhereItsTimesSay) {
  TakeTimeline take(kRate);
  take.Start(10000 * kMs);
  // Two seconds handed out at once, captured before the press: dropped over several reads,
  // and the read that crosses the press is cut there.
  for (int i = 0; i < 3; ++i) {
    const auto p = take.Place((8000 + 600 * i) * kMs, 600);
    EXPECT_EQ(p.skip, 600U);
    EXPECT_EQ(p.keep, 0U);
  }
  auto p = take.Place(9800 * kMs, 600);
  EXPECT_EQ(p.silence, 0);
  EXPECT_EQ(p.skip, 200U);
  EXPECT_EQ(p.keep, 400U);
  // Noisy times in between change nothing: the reads follow each other.
  p = take.Place(10700 * kMs, 100);
  EXPECT_EQ(p.silence + std::int64_t(p.skip), 0);
  EXPECT_EQ(take.Frames(), 500);
  // Another input whose first frame was captured 300 ms after the take's present.
  take.Recheck();
  p = take.Place(10800 * kMs, 100);
  EXPECT_EQ(p.silence, 300);
  EXPECT_EQ(p.keep, 100U);
  // Another one with what the take already holds: the overlap goes, over two reads.
  take.Recheck();
  EXPECT_EQ(take.Place(10700 * kMs, 100).skip, 100U);
  p = take.Place(10800 * kMs, 150);
  EXPECT_EQ(p.skip, 100U);
  EXPECT_EQ(p.keep, 50U);
  EXPECT_EQ(take.Frames(), 950);
  // Stop at 1.2 s: the take holds exactly that much, though the last read runs past it.
  take.Stop(11200 * kMs);
  EXPECT_FALSE(take.Complete());
  p = take.Place(10950 * kMs, 400);
  EXPECT_EQ(p.keep, 250U);
  EXPECT_TRUE(take.Complete());
  EXPECT_EQ(take.Place(11200 * kMs, 100).keep, 0U);
  EXPECT_EQ(take.Frames(), 1200);
}

TEST(TakeTimelineTest, ALateStartIsSilenceUnlessTheClockIsWrongAndTheStopCutsSilenceToo) {
  TakeTimeline take(kRate);
  take.Start(1000 * kMs);
  // A source that woke up late: silence up to its first frame.
  auto p = take.Place(1250 * kMs, 100);
  EXPECT_EQ(p.silence, 250);
  EXPECT_EQ(p.keep, 100U);
  // A time an hour off is a clock gone wrong, not an hour of missing sound.
  take.Recheck();
  p = take.Place(3600000 * kMs, 100);
  EXPECT_EQ(p.silence, 0);
  EXPECT_EQ(p.keep, 100U);
  // Silence never runs past the stop.
  take.Stop(1500 * kMs);
  take.Recheck();
  p = take.Place(1900 * kMs, 100);
  EXPECT_EQ(p.silence, 50);
  EXPECT_EQ(p.keep, 0U);
  EXPECT_TRUE(take.Complete());
  EXPECT_EQ(take.Frames(), 500);
  // A new start forgets the old take.
  take.Start(5000 * kMs);
  EXPECT_EQ(take.Frames(), 0);
  EXPECT_FALSE(take.Complete());
  EXPECT_EQ(take.Place(4990 * kMs, 20).skip, 10U);
}

}  // namespace
}  // namespace sonarelle
