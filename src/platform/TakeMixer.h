#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace sonarelle {

// The number of the frame at `usec` on the server's clock, at `rate` frames a second.
inline std::int64_t FrameAt(std::int64_t usec, unsigned rate) {
  return (usec * std::int64_t(rate) + 500000) / 1000000;
}

// The server-clock time of a record stream's frames. Each read gives a noisy estimate of
// when its first frame was captured; the frames themselves come at the stream's rate, so
// the stream is anchored on the median of its recent estimates, which moves only by whole
// milliseconds, and starts again when the stream lost frames (a corked or starved stream).
// Half a second on, the anchor is held: the estimates keep wandering by milliseconds (by
// tens of them on a busy machine, and a monitor's jump by its sink's blocks), and each
// move would break what is placed by it. A held stream moves only by frames it lost or
// gained: when its reads come in that much later or earlier than before, over half a
// second, and its estimates moved with them.
class StreamClock {
 public:
  explicit StreamClock(unsigned rate) : rate_(rate) {}

  // Places a chunk of `frames` whose first frame was captured at about `estimateUsec` and
  // which was read at `arrivedUsec` (both on the server's clock); the server-clock frame
  // number (see FrameAt) the stream's timeline gives that frame.
  std::int64_t Place(std::int64_t estimateUsec, std::int64_t arrivedUsec, std::size_t frames);

  // The server-clock frame number of the stream's frame 0.
  std::int64_t Anchor() const { return anchor_; }
  // Frames placed so far.
  std::int64_t Frames() const { return frames_; }
  // Whether the anchor is held.
  bool Held() const { return held_; }

 private:
  static constexpr std::size_t kAnchorReads = 101;
  static constexpr std::int64_t kGapUsec = 10000;
  static constexpr std::int64_t kSettleUsec = 500000;
  // A block source hands out half a second in a read or two, before its times are steady.
  static constexpr int kSettleReads = 5;
  // Reads come in late by bursts of some milliseconds on a busy machine, a block source's
  // by a second and more, but over half a second and kArrivalReads reads some read comes
  // in time: a held stream whose reads all came this much later, or earlier, than before
  // lost or gained frames, or the server hands it out otherwise.
  static constexpr std::int64_t kLostUsec = 20000;
  static constexpr std::size_t kArrivalReads = 20;

  struct Read {
    std::int64_t end;       // frames placed after it
    std::int64_t arrival;   // the server-clock frame of frame 0, had its end been read at once
    std::int64_t estimate;  // the server-clock frame of frame 0 as its estimate gives it
  };

  void Settle(std::int64_t estimate);
  void Follow(std::int64_t end);

  unsigned rate_;
  std::int64_t frames_ = 0;            // frames placed since the anchor
  std::int64_t anchor_ = 0;            // server-clock frame number of frame 0
  std::vector<std::int64_t> anchors_;  // the last reads' estimates of frame 0
  std::size_t next_ = 0;               // the oldest of them once there are kAnchorReads
  std::vector<std::int64_t> sorted_;
  int late_ = 0;  // reads in a row whose estimate was a gap later than the timeline
  int settleReads_ = 0;
  bool held_ = false;
  std::deque<Read> reads_;  // the last half second, kArrivalReads at least
  // The earliest arrival of a half second once held, and since when (frames placed) the
  // reads have kept away from it.
  std::optional<std::int64_t> baseline_;
  std::optional<std::int64_t> since_;
};

// Mixes the voice with the accompaniment as the singer heard it into the take's sample
// format: each voice frame meets the accompaniment heard when it was captured. A peak
// limiter keeps the sum inside full scale, so a loud take never wraps.
class TakeMixer {
 public:
  struct Format {
    unsigned rate = 44100;
    unsigned channels = 2;
    unsigned bits = 16;
  };

  explicit TakeMixer(Format format);

  // Levels, 1.0 as recorded.
  void SetLevels(double voice, double accompaniment);

  // Stereo accompaniment frames heard from server-clock frame `heard` on; overlapping
  // streams add up.
  void AddAccompaniment(std::int64_t heard, const float* stereo, std::size_t frames);

  // Mono voice frames from frame `index` of the voice stream on, following those added
  // before.
  void AddVoice(std::int64_t index, const float* mono, std::size_t frames);

  // Appends to `out` the mixed take for the voice captured before `untilUsec`, with frame 0
  // of the voice stream at server-clock frame `voiceAnchor`. The voice is placed only now,
  // so that its clock has had the time to settle.
  void Mix(std::int64_t untilUsec, std::int64_t voiceAnchor, std::vector<char>& out);

  // Forgets the voice not mixed yet.
  void DropVoice();

  // The limiter's gain now, 1.0 when it is not holding a peak down.
  double LimiterGain() const { return limiter_; }

 private:
  static constexpr std::size_t kRingFrames = std::size_t{1} << 18;
  static constexpr float kCeiling = 0.97F;

  void Put(float sample, std::vector<char>& out) const;

  Format format_;
  double voiceGain_ = 1.0;
  double accompanimentGain_ = 1.0;
  double limiter_ = 1.0;
  double release_;  // limiter gain regained per frame
  // Accompaniment by server-clock frame number; a slot holds frame stamp_[slot] only.
  std::vector<float> left_;
  std::vector<float> right_;
  std::vector<std::int64_t> stamp_;
  // Voice not mixed yet, from frame voiceIndex_ of its stream on.
  std::vector<float> voice_;
  std::int64_t voiceIndex_ = 0;
};

}  // namespace sonarelle
