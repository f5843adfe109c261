#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "audio/chain/WaveFormat.h"

using namespace sonarelle;

namespace {

TEST(WaveFormatTest, RecordIsStoredLittleEndianAndPacked) {
  WAVEFORMATEX format = MakePCMFormat(16, 2, 44100);
  format.cbSize = 0x1234;
  unsigned char bytes[sizeof(WAVEFORMATEX)];
  std::memcpy(bytes, &format, sizeof bytes);
  const unsigned char expected[18] = {0x01, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10,
                                      0xB1, 0x02, 0x00, 0x04, 0x00, 0x10, 0x00, 0x34, 0x12};
  EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof expected));
}

TEST(WaveFormatTest, MakePCMFormatDerivesBlockAndByteRate) {
  const WAVEFORMATEX stereo = MakePCMFormat(16, 2, 44100);
  EXPECT_EQ(stereo.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(stereo.nBlockAlign, 4);
  EXPECT_EQ(stereo.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(stereo.cbSize, 0);
  // Integer division: 12-bit mono gives a one-byte block.
  const WAVEFORMATEX odd = MakePCMFormat(12, 1, 8000);
  EXPECT_EQ(odd.nBlockAlign, 1);
  EXPECT_EQ(odd.nAvgBytesPerSec, 8000u);
}

TEST(WaveFormatTest, SizeAndCopyTreatPCMAsEighteenBytes) {
  EXPECT_EQ(FormatSize(nullptr), 0u);
  EXPECT_FALSE(CopyFormat(nullptr));

  WAVEFORMATEX pcm = MakePCMFormat(16, 2, 22050);
  pcm.cbSize = 22;
  EXPECT_EQ(FormatSize(&pcm), 18u);
  FormatPtr copy = CopyFormat(&pcm);
  ASSERT_TRUE(copy);
  EXPECT_NE(copy.get(), &pcm);
  EXPECT_EQ(copy->cbSize, 0);
  EXPECT_EQ(copy->nSamplesPerSec, 22050u);
  EXPECT_EQ(copy->nBlockAlign, 4);
  EXPECT_EQ(pcm.cbSize, 22);  // the original is not touched
}

TEST(WaveFormatTest, NonPCMCopyCarriesItsExtraBytes) {
  // An ADPCM-like record with 4 extra bytes behind it.
  std::vector<unsigned char> block(22);
  auto* format = reinterpret_cast<WAVEFORMATEX*>(block.data());
  format->wFormatTag = 2;
  format->nChannels = 1;
  format->cbSize = 4;
  block[18] = 0xDE;
  block[21] = 0xAD;
  EXPECT_EQ(FormatSize(format), 22u);
  FormatPtr copy = CopyFormat(format);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->cbSize, 4);
  EXPECT_EQ(0, std::memcmp(copy.get(), block.data(), 22));
}

TEST(WaveFormatTest, AllocFormatIsZeroFilledAndAtLeastOneRecord) {
  FormatPtr format = AllocFormat(4);
  ASSERT_TRUE(format);
  const auto* bytes = reinterpret_cast<const unsigned char*>(format.get());
  for (std::size_t i = 0; i < sizeof(WAVEFORMATEX); ++i) EXPECT_EQ(bytes[i], 0) << i;
}

TEST(WaveFormatTest, MulDivRoundRoundsHalvesAwayFromZero) {
  EXPECT_EQ(MulDivRound(3, 1, 2), 2);
  EXPECT_EQ(MulDivRound(5, 1, 4), 1);
  EXPECT_EQ(MulDivRound(7, 1, 4), 2);
  EXPECT_EQ(MulDivRound(-3, 1, 2), -2);
  EXPECT_EQ(MulDivRound(3, 1, -2), -2);
  EXPECT_EQ(MulDivRound(-3, -1, 2), 2);
  EXPECT_EQ(MulDivRound(-5, 1, 4), -1);
  EXPECT_EQ(MulDivRound(-7, 1, 4), -2);
  EXPECT_EQ(MulDivRound(0, 123, 7), 0);
}

TEST(WaveFormatTest, MulDivRoundKeepsProductsBeyondSixtyFourBits) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  // 2^62 * 1000 overflows 64 bits, the quotient does not.
  EXPECT_EQ(MulDivRound(std::int64_t{1} << 62, 1000, 1000), std::int64_t{1} << 62);
  // Four hours of 192 kHz 8-channel 32-bit audio in bytes, to milliseconds and back.
  const std::int64_t bytes = std::int64_t{6144000} * 4 * 3600;
  EXPECT_EQ(MulDivRound(bytes, 1000, 6144000), std::int64_t{4} * 3600 * 1000);
  EXPECT_EQ(MulDivRound(kMax, 3, 3), kMax);
  EXPECT_EQ(MulDivRound(kMin, 1, 1), kMin);
  EXPECT_EQ(MulDivRound(kMax, 4, 1), kMax);  // saturates instead of wrapping
  EXPECT_EQ(MulDivRound(kMax, -4, 1), kMin);
  EXPECT_EQ(MulDivRound(12, 34, 0), 0);  // a format without rates converts to nothing
}

TEST(WaveFormatTest, ConversionsUseTheRecordsRatesAndRoundBytesUpToBlocks) {
  const WAVEFORMATEX cd = MakePCMFormat(16, 2, 44100);
  EXPECT_EQ(BytesToSamples(&cd, 176400), 44100);
  EXPECT_EQ(BytesToMs(&cd, 176400), 1000);
  EXPECT_EQ(SamplesToBytes(&cd, 44100), 176400);
  EXPECT_EQ(SamplesToMs(&cd, 441), 10);
  EXPECT_EQ(MsToSamples(&cd, 10), 441);
  EXPECT_EQ(MsToBytes(&cd, 1000), 176400);
  // 1 ms of CD audio is 176.4 bytes: rounded to 176, then up to the 4-byte block: 176.
  EXPECT_EQ(MsToBytes(&cd, 1), 176);
  // 3 ms: 529.2 -> 529 -> 532.
  EXPECT_EQ(MsToBytes(&cd, 3), 532);

  // A record whose byte rate is not block * rate (as some files carry): 3-byte blocks,
  // 1000 samples/s, 2500 bytes/s. One sample is 2.5 -> 3 bytes; two are 5 -> 6.
  WAVEFORMATEX odd = MakePCMFormat(24, 1, 1000);
  odd.nAvgBytesPerSec = 2500;
  EXPECT_EQ(SamplesToBytes(&odd, 1), 3);
  EXPECT_EQ(SamplesToBytes(&odd, 2), 6);
  EXPECT_EQ(BytesToSamples(&odd, 5), 2);
  EXPECT_EQ(BytesToMs(&odd, 1), 0);

  EXPECT_EQ(SamplesToBytes(nullptr, 100), 0);
  WAVEFORMATEX empty{};
  EXPECT_EQ(BytesToSamples(&empty, 100), 0);
  EXPECT_EQ(MsToBytes(&empty, 100), 0);
}

}  // namespace
