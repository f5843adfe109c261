#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "audio/chain/ChainComponents.h"

using namespace sonarelle;
using sonarelle::test::ByteSource;
using sonarelle::test::Log;
using sonarelle::test::LoggingComponent;
using sonarelle::test::LoggingDriver;

namespace {

struct Chain {
  Log log;
  LoggingComponent a{"A", &log};
  LoggingComponent b{"B", &log};
  LoggingComponent c{"C", &log};
  LoggingComponent d{"D", &log};
};

TEST(MMDSPComponentTest, LinkingTakesThePartnerOverFromWhoeverHeldIt) {
  Chain t;
  t.c.SetInput(&t.a);
  EXPECT_EQ(t.a.Output(), &t.c);
  EXPECT_EQ(t.a.OutputLinkName(), "Input");
  EXPECT_EQ(t.c.InputLinkName(), "Output");

  // A.Output := B while C.Input was A: C lets go.
  t.a.SetOutput(&t.b);
  EXPECT_EQ(t.c.Input(), nullptr);
  EXPECT_EQ(t.c.InputLinkName(), "");
  EXPECT_EQ(t.a.Output(), &t.b);
  EXPECT_EQ(t.b.Input(), &t.a);

  // D.Input := A while A fed B: B lets go.
  t.d.SetInput(&t.a);
  EXPECT_EQ(t.b.Input(), nullptr);
  EXPECT_EQ(t.a.Output(), &t.d);
  EXPECT_EQ(t.d.Input(), &t.a);

  // C.Output := D while A fed D: A lets go.
  t.c.SetOutput(&t.d);
  EXPECT_EQ(t.a.Output(), nullptr);
  EXPECT_EQ(t.d.Input(), &t.c);
  EXPECT_EQ(t.d.InputLinkName(), "Output");
  t.d.SetInput(&t.a);

  // Unlinking from either side clears both ends.
  t.d.SetInput(nullptr);
  EXPECT_EQ(t.a.Output(), nullptr);
  EXPECT_EQ(t.a.OutputLinkName(), "");
  t.a.SetOutput(&t.b);
  t.a.SetOutput(nullptr);
  EXPECT_EQ(t.b.Input(), nullptr);
}

TEST(MMDSPComponentTest, LinksThatWouldFormACycleAreIgnored) {
  Chain t;
  t.a.SetOutput(&t.b);
  t.b.SetOutput(&t.c);
  t.a.SetInput(&t.a);  // itself
  EXPECT_EQ(t.a.Input(), nullptr);
  t.a.SetInput(&t.c);  // downstream
  t.b.SetInput(&t.c);
  EXPECT_EQ(t.a.Input(), nullptr);
  EXPECT_EQ(t.b.Input(), &t.a);
  EXPECT_EQ(t.c.Output(), nullptr);
  t.c.SetOutput(&t.a);  // upstream
  EXPECT_EQ(t.c.Output(), nullptr);
  EXPECT_FALSE(t.c.CanConnectOutput(&t.a));
  EXPECT_TRUE(t.c.CanConnectOutput(&t.d));
  EXPECT_FALSE(t.a.CanConnectInput(&t.b));
  EXPECT_FALSE(t.a.CanConnectInput(nullptr));
}

TEST(MMDSPComponentTest, OnlyPartnersThatCanLinkBackAreAccepted) {
  Chain t;
  t.b.exposesInput = false;
  t.a.SetOutput(&t.b);  // B offers no Input setting
  EXPECT_EQ(t.a.Output(), nullptr);
  EXPECT_EQ(t.b.Input(), nullptr);

  t.b.SetAcceptsInputLink(true);  // how a component lets its inner part link to it
  t.a.SetOutput(&t.b);
  EXPECT_EQ(t.a.Output(), &t.b);
  EXPECT_EQ(t.b.Input(), &t.a);
  t.b.SetAcceptsInputLink(false);

  t.d.exposesOutput = false;
  t.c.SetInput(&t.d);
  EXPECT_EQ(t.c.Input(), nullptr);
  t.d.SetAcceptsOutputLink(true);
  t.c.SetInput(&t.d);
  EXPECT_EQ(t.c.Input(), &t.d);
}

TEST(MMDSPComponentTest, LinkNamesAreCutToTwentyCharacters) {
  Chain t;
  t.a.SetInputLink(&t.b, "AVeryLongLinkNameOfTwentyFiveX");
  t.a.SetOutputLink(&t.c, "short");
  EXPECT_EQ(t.a.InputLinkName(), "AVeryLongLinkNameOfT");
  EXPECT_EQ(t.a.OutputLinkName(), "short");
  t.a.SetInputLink(nullptr, {});
  t.a.SetOutputLink(nullptr, {});
}

TEST(MMDSPComponentTest, SettingTheSamePartnerAgainChangesNothing) {
  Chain t;
  const WAVEFORMATEX format = MakePCMFormat(16, 2, 44100);
  t.a.SetFormat(&format);
  t.a.SetOutput(&t.b);
  t.b.Open();
  t.b.Start();
  const int changes = t.b.formatChanges;
  t.a.SetOutput(&t.b);
  t.b.SetInput(&t.a);
  EXPECT_TRUE(t.b.Started());
  EXPECT_EQ(t.b.formatChanges, changes);
  // A real change of partner stops it.
  t.b.SetInput(&t.c);
  EXPECT_FALSE(t.b.Started());
}

TEST(MMDSPComponentTest, FormatFlowsToTheTailAsSeparateCopies) {
  Chain t;
  t.a.SetOutput(&t.b);
  t.b.SetOutput(&t.c);
  WAVEFORMATEX format = MakePCMFormat(16, 1, 22050);
  format.cbSize = 22;
  t.a.SetFormat(&format);
  const WAVEFORMATEX* fa = t.a.GetFormat();
  const WAVEFORMATEX* fb = t.b.GetFormat();
  const WAVEFORMATEX* fc = t.c.GetFormat();
  ASSERT_NE(fa, nullptr);
  ASSERT_NE(fb, nullptr);
  ASSERT_NE(fc, nullptr);
  EXPECT_NE(fa, &format);
  EXPECT_NE(fa, fb);
  EXPECT_NE(fb, fc);
  EXPECT_EQ(fc->nSamplesPerSec, 22050u);
  EXPECT_EQ(fc->cbSize, 0);

  // Replacing the tail's copy leaves the others as they were.
  const WAVEFORMATEX other = MakePCMFormat(8, 2, 8000);
  t.c.SetFormat(&other);
  EXPECT_EQ(t.b.GetFormat()->nSamplesPerSec, 22050u);
  EXPECT_EQ(t.a.GetFormat()->nSamplesPerSec, 22050u);
  EXPECT_EQ(t.c.GetFormat()->nSamplesPerSec, 8000u);

  // The own copy given again is kept as it is and handed on again.
  const int changes = t.c.formatChanges;
  t.b.SetFormat(t.b.GetFormat());
  EXPECT_EQ(t.b.GetFormat(), fb);
  EXPECT_EQ(t.c.formatChanges, changes + 1);
  EXPECT_EQ(t.c.GetFormat()->nSamplesPerSec, 22050u);

  // Unlinking hands "no format" down from the cut.
  t.b.SetInput(nullptr);
  EXPECT_EQ(t.b.GetFormat(), nullptr);
  EXPECT_EQ(t.c.GetFormat(), nullptr);
  EXPECT_NE(t.a.GetFormat(), nullptr);

  // Linking fetches the format from upstream.
  t.b.SetInput(&t.a);
  ASSERT_NE(t.c.GetFormat(), nullptr);
  EXPECT_EQ(t.c.GetFormat()->nSamplesPerSec, 22050u);
}

TEST(MMDSPComponentTest, LoadingHoldsThePropagationBackUntilLoaded) {
  Chain t;
  t.a.BeginLoading();
  t.b.BeginLoading();
  t.a.SetOutput(&t.b);
  const WAVEFORMATEX format = MakePCMFormat(16, 2, 48000);
  t.a.SetFormat(&format);
  EXPECT_EQ(t.b.GetFormat(), nullptr);
  t.b.Loaded();
  t.a.Loaded();
  ASSERT_NE(t.b.GetFormat(), nullptr);
  EXPECT_EQ(t.b.GetFormat()->nSamplesPerSec, 48000u);
}

TEST(MMDSPComponentTest, ANewFormatStopsAStartedComponent) {
  Chain t;
  t.a.Open();
  t.a.Start();
  const WAVEFORMATEX format = MakePCMFormat(16, 2, 44100);
  t.a.SetFormat(&format);
  EXPECT_FALSE(t.a.Started());
  EXPECT_TRUE(t.a.Opened());
}

TEST(MMDSPComponentTest, OpenFixesTheBufferSizeToWholeBlocks) {
  Chain t;
  const WAVEFORMATEX format = MakePCMFormat(16, 2, 44100);  // 4-byte blocks
  t.a.SetFormat(&format);
  t.a.SetBufferSize(2050);
  t.a.Open();
  EXPECT_EQ(t.a.RealBufferSize(), 2048);
  EXPECT_EQ(t.a.BufferSize(), 2048);  // while opened
  t.a.SetBufferSize(4000);            // stored, but the opened size stays
  EXPECT_EQ(t.a.BufferSize(), 2048);
  t.a.Close();
  EXPECT_EQ(t.a.BufferSize(), 4000);

  t.a.SetBufferSize(3);
  t.a.Open();
  EXPECT_EQ(t.a.RealBufferSize(), 4);
  t.a.Close();

  t.b.SetBufferSize(2050);  // no format: taken as it is
  t.b.Open();
  EXPECT_EQ(t.b.RealBufferSize(), 2050);

  // A broken record with a block size of 0 fixes nothing instead of dividing by it.
  WAVEFORMATEX broken = format;
  broken.nBlockAlign = 0;
  t.c.SetFormat(&broken);
  t.c.SetBufferSize(1001);
  t.c.Open();
  EXPECT_EQ(t.c.RealBufferSize(), 1001);
}

TEST(MMDSPComponentTest, ControlOperationsIgnoreTheWrongState) {
  Chain t;
  t.a.Start();
  EXPECT_FALSE(t.a.Started());
  t.a.Open();
  t.a.Start();
  t.a.Pause();
  EXPECT_TRUE(t.a.Paused());
  t.a.Restart();
  EXPECT_FALSE(t.a.Paused());
  t.a.Pause();
  t.a.Stop();
  EXPECT_FALSE(t.a.Started());
  EXPECT_FALSE(t.a.Paused());
  // Changing the buffer size while started stops first.
  t.a.Start();
  t.a.SetBufferSize(1024);
  EXPECT_FALSE(t.a.Started());
}

TEST(MMDSPComponentTest, BuffersPassThroughWithTheCallbacksInOrder) {
  Log log;
  ByteSource source(100);
  LoggingComponent middle("M", nullptr);
  LoggingComponent tail("T", nullptr);
  source.SetOutput(&middle);
  middle.SetOutput(&tail);
  source.Open();
  source.Start();

  alignas(16) char block[kWaveHdrSize + 64] = {};
  auto* hdr = reinterpret_cast<PWaveHdr>(block);
  hdr->lpData = block + kWaveHdrSize;
  hdr->dwBufferLength = 64;

  // Pull from the tail: each callback runs before the head has filled the header.
  auto onLoad = [&](TMMDSPComponent* sender, PWaveHdr h, bool&) {
    log.push_back((sender == &tail     ? "T"
                   : sender == &middle ? "M"
                                       : "S") +
                  std::string(":") + std::to_string(h->dwBytesRecorded));
  };
  tail.OnBufferLoad = onLoad;
  middle.OnBufferLoad = onLoad;
  source.OnBufferLoad = onLoad;
  bool more = false;
  tail.BufferLoad(hdr, more);
  EXPECT_EQ((Log{"T:0", "M:0", "S:0"}), log);
  EXPECT_EQ(hdr->dwBytesRecorded, 64u);
  EXPECT_TRUE(more);
  EXPECT_EQ(static_cast<unsigned char>(hdr->lpData[63]), 63);
  more = false;
  hdr->dwBytesRecorded = 0;
  tail.BufferLoad(hdr, more);
  EXPECT_EQ(hdr->dwBytesRecorded, 36u);
  EXPECT_FALSE(more);

  // Push from the head: the same header reaches every component.
  log.clear();
  auto onReady = [&](TMMDSPComponent* sender, PWaveHdr h) {
    EXPECT_EQ(h, hdr);
    log.push_back(sender == &tail ? "T" : sender == &middle ? "M" : "S");
  };
  source.OnBufferReady = onReady;
  middle.OnBufferReady = onReady;
  tail.OnBufferReady = onReady;
  source.BufferReady(hdr);
  EXPECT_EQ((Log{"S", "M", "T"}), log);
}

TEST(MMDSPComponentTest, ADestroyedComponentLeavesNoLinkBehind) {
  Chain t;
  const WAVEFORMATEX format = MakePCMFormat(16, 2, 44100);
  auto middle = std::make_unique<LoggingComponent>("M", nullptr);
  t.a.SetFormat(&format);
  t.a.SetOutput(middle.get());
  middle->SetOutput(&t.c);
  ASSERT_NE(t.c.GetFormat(), nullptr);
  const std::size_t before = TMMDSPComponent::Components().size();
  middle.reset();
  EXPECT_EQ(t.a.Output(), nullptr);
  EXPECT_EQ(t.c.Input(), nullptr);
  EXPECT_EQ(t.c.GetFormat(), nullptr);
  EXPECT_EQ(TMMDSPComponent::Components().size(), before - 1);

  // Also for a partner linked without exposing the setting.
  auto owner = std::make_unique<LoggingComponent>("O", nullptr);
  owner->exposesInput = false;
  owner->SetAcceptsInputLink(true);
  t.b.SetOutput(owner.get());
  ASSERT_EQ(t.b.Output(), owner.get());
  owner.reset();
  EXPECT_EQ(t.b.Output(), nullptr);
}

}  // namespace
