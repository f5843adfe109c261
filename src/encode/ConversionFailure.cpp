#include "encode/ConversionFailure.h"

#include "audio/pump/MMTrigger.h"
#include "audio/wavefile/MMWave.h"
#include "encode/MMMP3Encoder.h"

namespace sonarelle {

QString ConversionFailure(const TMMWave& input, const TMMTrigger& pump,
                          const TMMMP3Encoder& encoder) {
  if (QString error = pump.ErrorText(); !error.isEmpty()) return error;
  if (QString error = encoder.WriteError(); !error.isEmpty()) return error;
  if (input.BytesRemaining() > 0) {
    return QStringLiteral("The conversion stopped before the end of the take");
  }
  return {};
}

}  // namespace sonarelle
