#include "platform/TakeMixer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sonarelle {

std::int64_t StreamClock::Place(std::int64_t estimateUsec, std::int64_t arrivedUsec,
                                std::size_t frames) {
  const std::int64_t end = frames_ + std::int64_t(frames);
  const std::int64_t span = std::int64_t(rate_) * kSettleUsec / 1000000;
  const std::int64_t estimate = FrameAt(estimateUsec, rate_) - frames_;
  reads_.push_back({end, FrameAt(arrivedUsec, rate_) - end, estimate});
  while (reads_.size() > kArrivalReads && reads_[1].end <= end - span) {
    reads_.pop_front();
  }
  if (held_) {
    if (reads_.size() >= kArrivalReads && reads_.front().end <= end - span) Follow(end);
  } else {
    Settle(estimate);
    ++settleReads_;
    held_ = end >= span && settleReads_ >= kSettleReads;
  }
  const std::int64_t first = anchor_ + frames_;
  frames_ = end;
  return first;
}

void StreamClock::Settle(std::int64_t estimate) {
  const std::int64_t gap = std::int64_t(rate_) * kGapUsec / 1000000;
  const bool anchored = !anchors_.empty();
  // A stream that lost frames starts again from the estimates; one late read is only noise.
  late_ = anchored && estimate - anchor_ > gap ? late_ + 1 : 0;
  if (late_ >= 2 || (anchored && anchor_ - estimate > gap)) {
    anchors_.clear();
    next_ = 0;
    late_ = 0;
  }
  if (anchors_.size() < kAnchorReads) {
    anchors_.push_back(estimate);
  } else {
    anchors_[next_] = estimate;
    next_ = (next_ + 1) % kAnchorReads;
  }
  std::vector<std::int64_t>& sorted = sorted_;
  sorted = anchors_;
  std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2),
                   sorted.end());
  const std::int64_t median = sorted[sorted.size() / 2];
  // Small moves are noise; a move past a millisecond is the estimates settling.
  if (!anchored || std::abs(median - anchor_) * 1000 >= std::int64_t(rate_)) {
    anchor_ = median;
  }
}

void StreamClock::Follow(std::int64_t end) {
  std::int64_t earliest = reads_.front().arrival;
  sorted_.clear();
  for (const Read& read : reads_) {
    earliest = std::min(earliest, read.arrival);
    sorted_.push_back(read.estimate);
  }
  if (!baseline_) {
    baseline_ = earliest;
    return;
  }
  const std::int64_t off = earliest - *baseline_;
  if (std::abs(off) * 1000000 <= std::int64_t(rate_) * kLostUsec) {
    since_.reset();
    return;
  }
  // Frames lost or gained move the estimates with the reads. The server handing the stream
  // out sooner or later (a sink's latency changed) moves the reads alone: where the frames
  // belong stays, and the reads come as they come now.
  std::nth_element(sorted_.begin(), sorted_.begin() + std::ptrdiff_t(sorted_.size() / 2),
                   sorted_.end());
  const std::int64_t said = sorted_[sorted_.size() / 2] - anchor_;
  if (!since_) since_ = end;
  if ((off > 0) == (said > 0) && 2 * std::abs(said - off) < std::abs(off)) {
    anchor_ += off;
    *baseline_ += off;
    since_.reset();
  } else if (end - *since_ >= std::int64_t(rate_) * kSettleUsec / 1000000) {
    *baseline_ += off;
    since_.reset();
  }
}

TakeMixer::TakeMixer(Format format)
    : format_(format),
      release_(1.0 / (0.3 * format.rate)),
      left_(kRingFrames),
      right_(kRingFrames),
      stamp_(kRingFrames, -1) {}

void TakeMixer::SetLevels(double voice, double accompaniment) {
  voiceGain_ = voice;
  accompanimentGain_ = accompaniment;
}

void TakeMixer::AddAccompaniment(std::int64_t heard, const float* stereo, std::size_t frames) {
  for (std::size_t i = 0; i < frames; ++i) {
    const std::int64_t frame = heard + std::int64_t(i);
    const std::size_t slot = std::size_t(frame) & (kRingFrames - 1);
    if (stamp_[slot] != frame) {
      stamp_[slot] = frame;
      left_[slot] = 0.0F;
      right_[slot] = 0.0F;
    }
    left_[slot] += stereo[2 * i];
    right_[slot] += stereo[2 * i + 1];
  }
}

void TakeMixer::AddVoice(std::int64_t index, const float* mono, std::size_t frames) {
  if (voice_.empty()) {
    voiceIndex_ = index;
  }
  voice_.insert(voice_.end(), mono, mono + frames);
}

void TakeMixer::DropVoice() {
  voice_.clear();
}

void TakeMixer::Put(float sample, std::vector<char>& out) const {
  const double x = std::clamp(double(sample), -1.0, 1.0);
  switch (format_.bits) {
    case 8:
      out.push_back(char(std::lround(x * 127.0) + 128));
      break;
    case 16: {
      const auto v = std::int16_t(std::lround(x * 32767.0));
      out.push_back(char(v & 0xFF));
      out.push_back(char((v >> 8) & 0xFF));
      break;
    }
    case 24: {
      const auto v = std::int32_t(std::lround(x * 8388607.0));
      for (int shift = 0; shift < 24; shift += 8) out.push_back(char((v >> shift) & 0xFF));
      break;
    }
    default: {
      const auto v = std::int32_t(std::llround(x * 2147483647.0));
      for (int shift = 0; shift < 32; shift += 8) out.push_back(char((v >> shift) & 0xFF));
      break;
    }
  }
}

void TakeMixer::Mix(std::int64_t untilUsec, std::int64_t voiceAnchor, std::vector<char>& out) {
  const std::int64_t first = voiceAnchor + voiceIndex_;
  const std::int64_t due = std::max<std::int64_t>(0, FrameAt(untilUsec, format_.rate) - first);
  const std::size_t count = std::min(voice_.size(), std::size_t(due));
  for (std::size_t i = 0; i < count; ++i) {
    const std::int64_t frame = first + std::int64_t(i);
    const std::size_t slot = std::size_t(frame) & (kRingFrames - 1);
    const bool heard = stamp_[slot] == frame;
    const double voice = voiceGain_ * voice_[i];
    double left = voice + (heard ? accompanimentGain_ * left_[slot] : 0.0);
    double right = voice + (heard ? accompanimentGain_ * right_[slot] : 0.0);
    if (format_.channels == 1) {
      left = right =
          voice + (heard ? accompanimentGain_ * 0.5 * (left_[slot] + right_[slot]) : 0.0);
    }
    const double peak = std::max(std::abs(left), std::abs(right));
    limiter_ = std::min(1.0, limiter_ + release_);
    if (peak * limiter_ > kCeiling) limiter_ = kCeiling / peak;
    Put(float(left * limiter_), out);
    if (format_.channels >= 2) {
      Put(float(right * limiter_), out);
      // Channels past two repeat the second; the take's formats have at most two.
      for (unsigned c = 2; c < format_.channels; ++c) Put(float(right * limiter_), out);
    }
  }
  voice_.erase(voice_.begin(), voice_.begin() + std::ptrdiff_t(count));
  voiceIndex_ += std::int64_t(count);
}

}  // namespace sonarelle
