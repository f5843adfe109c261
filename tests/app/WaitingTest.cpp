#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "app/FrmWaiting.h"

namespace sonarelle {
namespace {

TEST(WaitingTest, ProgressRoundsHalvesToEvenWithoutOverflow) {
  EXPECT_EQ(ProgressPercent(0, 1000), 0);
  EXPECT_EQ(ProgressPercent(1000, 1000), 100);
  EXPECT_EQ(ProgressPercent(1, 200), 0);  // 0.5 goes to the even 0
  EXPECT_EQ(ProgressPercent(3, 200), 2);  // 1.5 goes to the even 2
  EXPECT_EQ(ProgressPercent(5, 200), 2);  // 2.5 goes to the even 2
  EXPECT_EQ(ProgressPercent(2, 3), 67);   // 66.67
  EXPECT_EQ(ProgressPercent(1, 3), 33);   // 33.33
  EXPECT_EQ(ProgressPercent(5, 0), 100);  // a total of 0 counts as 1
  const std::int64_t huge = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(ProgressPercent(huge / 2, huge), 50);
  EXPECT_EQ(ProgressPercent(huge, huge), 100);
}

}  // namespace
}  // namespace sonarelle
