#pragma once

#include "audio/chain/WaveFormat.h"

namespace sonarelle {

// What every display offers to the connector that feeds it. A display that goes away
// leaves every connector slot that held it.
class TMMDisplay {
 public:
  TMMDisplay() = default;
  TMMDisplay(const TMMDisplay&) = delete;
  TMMDisplay& operator=(const TMMDisplay&) = delete;
  virtual ~TMMDisplay();

  // Takes the format of the data that ShowData will get; raises for one it cannot show.
  virtual void AdoptFormat(const WAVEFORMATEX* format) = 0;
  // Draws one frame from RefreshBytes() bytes at `data`.
  virtual void ShowData(const void* data) = 0;
  // Zeroes the display and repaints it.
  virtual void ClearData() = 0;
  // Bytes one frame consumes.
  virtual int RefreshBytes() const = 0;
  // Spectrograms in accelerated mode pace their slots by their own step.
  virtual bool RunsAccelerated() const { return false; }
};

}  // namespace sonarelle
