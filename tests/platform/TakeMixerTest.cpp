// The take mix's arithmetic: where a stream's reads land on the server clock, where the
// voice meets the accompaniment, and the limiter that keeps a loud take from wrapping.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/TakeMixer.h"

namespace sonarelle {
namespace {

constexpr unsigned kRate = 44100;

std::vector<std::int16_t> Samples(const std::vector<char>& bytes) {
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = std::int16_t(std::uint8_t(bytes[2 * i]) | (std::uint8_t(bytes[2 * i + 1]) << 8));
  }
  return samples;
}

TEST(StreamClockTest, NoisyTimesGiveSteadyFramesAndAStreamThatLostFramesStartsAgain) {
  StreamClock clock(kRate);
  const std::int64_t start = 5'000'000'000;  // usec on the server's clock
  std::srand(7);
  std::int64_t frames = 0;
  for (int read = 0; read < 400; ++read) {
    const std::int64_t truth = start + frames * 1'000'000 / kRate;
    // Reads jitter by half a millisecond; every twentieth comes 30 ms late.
    const std::int64_t noise = (std::rand() % 1000) - 500 + (read % 20 == 19 ? 30'000 : 0);
    // Each read comes in a little after its last frame was captured.
    const std::int64_t placed = clock.Place(truth + noise, truth + 3000, 88);
    if (read >= 50) {
      EXPECT_NEAR(double(placed), double(FrameAt(truth, kRate)), kRate / 1000.0) << read;
    }
    frames += 88;
  }
  // 100 ms the stream never delivered: the following reads find their time again once
  // half a second of them came that late.
  const std::int64_t resumed = start + (frames + kRate / 10) * 1'000'000 / kRate;
  std::int64_t placed = 0;
  for (int read = 0; read < 300; ++read) {
    const std::int64_t at = resumed + read * 1'000'000LL * 88 / kRate;
    placed = clock.Place(at, at + 3000, 88) - std::int64_t(read) * 88;
  }
  EXPECT_NEAR(double(placed), double(FrameAt(resumed, kRate)), kRate / 1000.0);
}

// Reads of 10 ms, each captured on time and read 1 to 4 ms after its last frame, every
// thirtieth 25 ms late, as a busy machine gives them; the server's estimate of when a read
// was captured is off by `error`.
class SteadyStream {
 public:
  static constexpr std::size_t kRead = 441;

  // The server-clock frame its next read belongs at.
  std::int64_t Next() const { return frame0_ + frames_; }
  // Frames it lost (more than 0) or gained.
  void Skip(std::int64_t frames) { frame0_ += frames; }
  // The server hands its reads out that much later (more than 0) or sooner than before.
  void Deliver(std::int64_t usec) { delivery_ += usec; }

  std::int64_t Read(StreamClock& clock, std::int64_t error) {
    const std::int64_t captured = Next() * 1'000'000 / kRate;
    const std::int64_t arrived = captured + std::int64_t(kRead) * 1'000'000 / kRate + 1000 +
                                 delivery_ + std::rand() % 3000 + (++reads_ % 30 == 0 ? 25'000 : 0);
    const std::int64_t placed = clock.Place(captured + error, arrived, kRead);
    frames_ += std::int64_t(kRead);
    return placed;
  }

 private:
  std::int64_t frame0_ = FrameAt(7'000'000'000, kRate);
  std::int64_t frames_ = 0;
  std::int64_t delivery_ = 0;
  int reads_ = 0;
};

TEST(StreamClockTest, AHeldStreamRunsOnThroughWanderingTimesAndMovesOnlyByFramesItLostOrGained) {
  StreamClock clock(kRate);
  SteadyStream stream;
  std::srand(11);
  const auto small = [] { return std::int64_t(std::rand() % 600) - 300; };
  // Held once half a second has been placed: 50 reads of 441 frames.
  std::int64_t last = 0;
  for (int read = 0; read < 49; ++read) last = stream.Read(clock, small());
  EXPECT_FALSE(clock.Held());
  for (int read = 49; read < 100; ++read) {
    last = stream.Read(clock, small());
    EXPECT_TRUE(clock.Held()) << read;
  }
  // A block source's half second comes in a read or two, with times still on the move:
  // it is held at its fifth read.
  StreamClock blocks(kRate);
  for (int read = 0; read < 5; ++read) {
    EXPECT_FALSE(blocks.Held()) << read;
    blocks.Place(read * 350'000LL, read * 350'000LL + 360'000, 15435);
  }
  EXPECT_TRUE(blocks.Held());
  // Ten seconds of estimates that wander as a monitor's do on a busy machine: a ramp of
  // 20 ms every 2.5 s, with a jump of 10 ms on every other third of a second.
  for (int read = 0; read < 1000; ++read) {
    const std::int64_t error = (read % 250) * 80 - 10'000 + (read / 37 % 2) * 10'000;
    const std::int64_t next = stream.Next();
    const std::int64_t placed = stream.Read(clock, error);
    ASSERT_EQ(placed, last + std::int64_t(SteadyStream::kRead)) << "read " << read;
    ASSERT_NEAR(double(placed), double(next), kRate / 1000.0) << "read " << read;
    last = placed;
  }
  // Frames lost and gained: the reads of half a second come that much later or sooner,
  // and so do the estimates; the stream moves on by as much, once.
  const auto moves = [&](int reads) {
    int moved = 0;
    for (int read = 0; read < reads; ++read) {
      const std::int64_t placed = stream.Read(clock, small());
      moved += placed != last + std::int64_t(SteadyStream::kRead) ? 1 : 0;
      last = placed;
    }
    return moved;
  };
  for (const int ms : {60, -40}) {
    stream.Skip(std::int64_t{kRate} * ms / 1000);
    EXPECT_EQ(moves(100), 1) << ms << " ms";
    EXPECT_NEAR(double(last), double(stream.Next() - std::int64_t(SteadyStream::kRead)),
                kRate / 1000.0)
        << ms << " ms";
  }
  // The server hands the reads out 30 ms sooner, then later again (a sink's latency
  // changed): the estimates stay, and so do the frames.
  for (const int ms : {-30, 30}) {
    stream.Deliver(std::int64_t{ms} * 1000);
    EXPECT_EQ(moves(150), 0) << ms << " ms";
  }
}

TEST(TakeMixerTest, TheVoiceMeetsTheAccompanimentHeardWhenItWasSungAtTheirLevels) {
  TakeMixer mixer({kRate, 2, 16});
  mixer.SetLevels(0.5, 0.25);
  // A click heard at server frame 1000 (left only); the voice's frame 0 is frame 700.
  std::vector<float> heard(2 * 600, 0.0F);
  heard[2 * 300] = 0.8F;
  mixer.AddAccompaniment(700, heard.data(), 600);
  std::vector<float> voice(600, 0.4F);
  mixer.AddVoice(0, voice.data(), voice.size());
  std::vector<char> out;
  mixer.Mix(1'000'000'000, 700, out);
  const std::vector<std::int16_t> take = Samples(out);
  ASSERT_EQ(take.size(), 1200U);
  EXPECT_NEAR(take[2 * 300], (0.2 + 0.2) * 32767, 2);  // voice 0.4 x 0.5 + click 0.8 x 0.25
  EXPECT_NEAR(take[2 * 300 + 1], 0.2 * 32767, 2);
  EXPECT_NEAR(take[2 * 299], 0.2 * 32767, 2);
  // A voice frame whose time has not come stays for the next mix.
  mixer.AddVoice(600, voice.data(), 10);
  out.clear();
  mixer.Mix((700 + 605) * 1'000'000LL / kRate, 700, out);
  EXPECT_EQ(out.size(), 5U * 4);
}

TEST(TakeMixerTest, ALoudTakeIsHeldUnderFullScaleAndComesBackToItsLevel) {
  TakeMixer mixer({kRate, 1, 8});
  std::vector<float> loud(kRate, 0.9F);
  mixer.AddAccompaniment(0, loud.data(), kRate / 2);
  std::vector<float> voice(kRate, 0.9F);
  for (std::size_t i = kRate / 2; i < voice.size(); ++i) voice[i] = -0.3F;
  mixer.AddVoice(0, voice.data(), voice.size());
  std::vector<char> out;
  mixer.Mix(2'000'000, 0, out);
  ASSERT_EQ(out.size(), std::size_t{kRate});
  // 1.8 x full scale: held at the ceiling, never wrapped to the other side.
  for (std::size_t i = 0; i < kRate / 2; ++i) {
    const int sample = std::uint8_t(out[i]) - 128;
    ASSERT_GT(sample, 100) << i;
    ASSERT_LE(sample, 124) << i;
  }
  // A third of a second later the voice alone is back at its own level.
  EXPECT_NEAR(std::uint8_t(out[kRate - 1]) - 128, -0.3 * 127, 1.0);
  EXPECT_DOUBLE_EQ(mixer.LimiterGain(), 1.0);
}

}  // namespace
}  // namespace sonarelle
