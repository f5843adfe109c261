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
    const std::int64_t placed = clock.Place(truth + noise, 88);
    if (read >= 50) {
      EXPECT_NEAR(double(placed), double(FrameAt(truth, kRate)), kRate / 1000.0) << read;
    }
    frames += 88;
  }
  // 100 ms the stream never delivered: the following reads find their time again.
  const std::int64_t resumed = start + (frames + kRate / 10) * 1'000'000 / kRate;
  std::int64_t placed = 0;
  for (int read = 0; read < 60; ++read) {
    placed = clock.Place(resumed + read * 2000, 88) - std::int64_t(read) * 88;
  }
  EXPECT_NEAR(double(placed), double(FrameAt(resumed, kRate)), kRate / 1000.0);
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
