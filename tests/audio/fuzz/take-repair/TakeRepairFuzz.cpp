// libFuzzer target: any bytes as a take left behind, mended the way the next start mends it.
// A take is either mended into a file that opens or left exactly as it was; a mended take
// needs no second repair. Built and run by scripts/fuzz.sh.
#include <cstdlib>

#include "audio/wavefile/WaveIO.h"
#include "support/FuzzFile.h"

using namespace sonarelle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray input = fuzz_file::Bytes(data, size);
  const QString path = fuzz_file::Put("take-repair.wav", input);
  const int repaired = RepairWaveFile(path);
  const QByteArray after = fuzz_file::Read(path);
  if (repaired != kWaveIOOk) {
    if (after != input) std::abort();  // changed, and still not offered
    return 0;
  }
  WaveIOPtr block;
  const bool opens = OpenWaveFile(path, block) == kWaveIOOk;
  if (after != input) {
    if (!opens) std::abort();  // mended into something that still does not open
    if (RepairWaveFile(path) != kWaveIOOk || fuzz_file::Read(path) != after) std::abort();
  }
  return 0;
}
