#pragma once

namespace sonarelle {

// Channel layout of a component's audio: one channel or two.
enum TMMMode { mMono, mStereo };

}  // namespace sonarelle
