#include "platform/TakeTimeline.h"

#include <algorithm>

#include "platform/TakeMixer.h"

namespace sonarelle {

void TakeTimeline::Start(std::int64_t usec) {
  start_ = FrameAt(usec, rate_);
  length_ = std::numeric_limits<std::int64_t>::max();
  taken_ = 0;
  check_ = true;
}

void TakeTimeline::Stop(std::int64_t usec) {
  length_ = std::max<std::int64_t>(0, std::min(length_, FrameAt(usec, rate_) - start_));
}

TakeTimeline::Placement TakeTimeline::Place(std::int64_t estimateUsec, std::size_t frames) {
  Placement placement;
  if (check_) {
    // Where the take's next frame belongs on the server's clock, against where this read's
    // first frame was captured.
    const std::int64_t late = FrameAt(estimateUsec, rate_) - (start_ + taken_);
    if (late > 0 && late <= kMaxSilenceSeconds * std::int64_t(rate_)) {
      placement.silence = std::min(late, length_ - taken_);
    } else if (late < 0) {
      placement.skip = std::size_t(std::min<std::int64_t>(-late, std::int64_t(frames)));
    }
    // Until the read that reaches the take's present, every one is checked.
    check_ = placement.skip == frames;
  }
  taken_ += placement.silence;
  placement.keep = std::size_t(std::min<std::int64_t>(std::int64_t(frames - placement.skip),
                                                      std::max<std::int64_t>(0, length_ - taken_)));
  taken_ += std::int64_t(placement.keep);
  return placement;
}

}  // namespace sonarelle
