#pragma once

#include <QString>

namespace sonarelle {

class TMMMP3Encoder;
class TMMTrigger;
class TMMWave;

// Why a conversion whose pump has stopped did not make the whole MP3 file, or empty when it
// did: an error that ended the pump's worker, a write the encoder could not make (a full
// disk), or input the pump never read. Asked in the pump's OnStop, before the chain closes.
QString ConversionFailure(const TMMWave& input, const TMMTrigger& pump,
                          const TMMMP3Encoder& encoder);

}  // namespace sonarelle
