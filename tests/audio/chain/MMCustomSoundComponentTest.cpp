#include <gtest/gtest.h>

#include "audio/chain/ChainComponents.h"

using namespace sonarelle;
using sonarelle::test::Log;
using sonarelle::test::LoggingComponent;
using sonarelle::test::LoggingDriver;

namespace {

// head driver D -> P1 -> P2 -> driver E -> P3
struct TwoDriverChain {
  Log log;
  LoggingDriver d{"D", &log};
  LoggingComponent p1{"P1", &log};
  LoggingComponent p2{"P2", &log};
  LoggingDriver e{"E", &log};
  LoggingComponent p3{"P3", &log};
  TwoDriverChain() {
    d.SetOutput(&p1);
    p1.SetOutput(&p2);
    p2.SetOutput(&e);
    e.SetOutput(&p3);
    const WAVEFORMATEX format = MakePCMFormat(16, 2, 44100);
    d.SetFormat(&format);
    log.clear();
  }
};

TEST(MMCustomSoundComponentTest, OpenReachesTheNextDriverWhichOpensItsOwnSegment) {
  TwoDriverChain t;
  t.d.SetBufferSize(1026);  // fixed at 1024 by its own Open, after the walk
  t.p3.SetBufferSize(77);
  t.d.Open();
  // The passive components get D's buffer size before they open; P3 is opened inside E's
  // own walk, with the size E was given.
  EXPECT_EQ(
      (Log{"D:open{", "P1:open(1026)", "P2:open(1026)", "E:open{", "P3:open(1026)", "E:}", "D:}"}),
      t.log);
  EXPECT_TRUE(t.p1.Opened());
  EXPECT_TRUE(t.p3.Opened());
  EXPECT_EQ(t.d.RealBufferSize(), 1024);
  EXPECT_EQ(t.p1.RealBufferSize(), 1024);  // 1026 cut to whole 4-byte blocks
}

TEST(MMCustomSoundComponentTest, StopAndCloseGoToTheDriverBelowFirst) {
  TwoDriverChain t;
  t.d.Open();
  t.d.Start();
  EXPECT_TRUE(t.p3.Started());
  t.log.clear();
  t.d.Stop();
  EXPECT_EQ((Log{"D:stop{", "E:stop{", "P3:stop", "E:}", "P1:stop", "P2:stop", "D:}"}), t.log);
  EXPECT_FALSE(t.e.Started());
  EXPECT_FALSE(t.d.Started());

  t.log.clear();
  t.d.Close();
  EXPECT_EQ((Log{"D:close{", "E:close{", "P3:close", "E:}", "P1:close", "P2:close", "D:}"}), t.log);
  EXPECT_FALSE(t.p3.Opened());
  EXPECT_FALSE(t.d.Opened());
}

TEST(MMCustomSoundComponentTest, ADriverInTheMiddleStartsFromTheHeadAndSkipsItself) {
  // reader -> pump -> encoder, the conversion chain's shape.
  Log log;
  LoggingComponent reader("R", &log);
  LoggingDriver pump("T", &log);
  LoggingComponent encoder("X", &log);
  pump.SetInput(&reader);
  pump.SetOutput(&encoder);
  pump.Open();
  pump.Start();
  pump.Pause();
  EXPECT_EQ((Log{"T:open{", "R:open(2048)", "X:open(2048)", "T:}", "T:start{", "R:start", "X:start",
                 "T:}", "R:pause", "X:pause"}),
            log);
  EXPECT_TRUE(reader.Started());
  EXPECT_TRUE(pump.Started());
  EXPECT_TRUE(pump.Paused());
}

TEST(MMCustomSoundComponentTest, ADriverBelowAnotherDriverStartsAtItself) {
  TwoDriverChain t;
  t.e.Open();
  EXPECT_EQ((Log{"E:open{", "P3:open(2048)", "E:}"}), t.log);
  EXPECT_FALSE(t.p1.Opened());
  EXPECT_FALSE(t.d.Opened());
}

}  // namespace
