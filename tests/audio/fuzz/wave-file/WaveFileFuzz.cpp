// libFuzzer target: any bytes as a WAVE file, opened, read through and sought in the way the
// conversion chain reads a take, then appended to and finished the way a recorder does; a
// file this program finished must open again. Built and run by scripts/fuzz.sh.
#include <cstdlib>
#include <vector>

#include "audio/wavefile/MMWave.h"
#include "support/FuzzFile.h"

using namespace sonarelle;

namespace {

void ReadThrough(TMMWave& wave) {
  std::vector<char> buffer(4096);
  wave.OpenFile();
  // Each read takes something or ends the data; the bound is only a guard against a loop.
  for (int reads = 0; reads < 100000 && wave.ReadData(buffer.data(), 4096) > 4; ++reads) {
  }
  wave.SetPosition(wave.DataSize() / 2);
  wave.ReadData(buffer.data(), 1000);
  wave.CloseFile();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString path = fuzz_file::Put("wave-file.wav", fuzz_file::Bytes(data, size));
  try {
    TMMWave wave;
    wave.SetFileName(path);
    for (TMMTimeFormats format : {tfSample, tfByte, tfMillisecond}) {
      wave.SetTimeFormat(format);
      (void)wave.Position();
      (void)wave.FormatString();
      ReadThrough(wave);
    }
  } catch (const Exception&) {
    return 0;  // refused: nothing more to read
  }

  WaveIOPtr block;
  if (OpenWaveFile(path, block) != kWaveIOOk) std::abort();  // it opened as a wave above
  const std::vector<char> frames(block->Format()->nBlockAlign * 3, '\x11');
  if (ReopenWaveFile(*block) != kWaveIOOk) return 0;  // e.g. no "data" header to seek to
  if (SeekSamples(*block, block->samples / 2) == kWaveIOOk &&
      WriteBytes(*block, frames.data(), static_cast<std::int64_t>(frames.size())) > 0 &&
      FinaliseWaveFile(*block) == kWaveIOOk) {
    WaveIOPtr again;
    if (OpenWaveFile(path, again) != kWaveIOOk) std::abort();
  }
  ReleaseWaveFile(block);
  return 0;
}
