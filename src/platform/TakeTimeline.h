#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace sonarelle {

// Places the reads of a record stream in a take so that it holds what was captured from the
// press of Record to the press of Stop. A source with a long latency hands out sound from
// before the press at once, and one that takes the stream's place (another input) starts
// where the server's clock says, not where the old one stopped. Between those moments the
// reads follow each other as they come: the stream's times are too noisy to cut by, and
// the source's own clock is the take's.
class TakeTimeline {
 public:
  explicit TakeTimeline(unsigned rate) : rate_(rate) {}

  // The take begins at `usec` on the server's clock; what came before is forgotten.
  void Start(std::int64_t usec);
  // The take ends at `usec`: it holds as many frames as the time since Start.
  void Stop(std::int64_t usec);
  // The next read comes from another input: it is placed by its time again.
  void Recheck() { check_ = true; }

  // What to do with a read of `frames` whose first frame was captured at about
  // `estimateUsec`: `silence` frames go into the take first, then the read's frames from
  // `skip` on, `keep` of them.
  struct Placement {
    std::int64_t silence = 0;
    std::size_t skip = 0;
    std::size_t keep = 0;
  };
  Placement Place(std::int64_t estimateUsec, std::size_t frames);

  // Whether the take has all its frames up to Stop.
  bool Complete() const { return taken_ >= length_; }
  // Frames of the take so far.
  std::int64_t Frames() const { return taken_; }

 private:
  // A gap longer than this is taken for a clock gone wrong, not for missing sound.
  static constexpr std::int64_t kMaxSilenceSeconds = 10;

  unsigned rate_;
  std::int64_t start_ = 0;  // server-clock frame of the take's frame 0
  std::int64_t length_ = std::numeric_limits<std::int64_t>::max();
  std::int64_t taken_ = 0;
  bool check_ = true;
};

}  // namespace sonarelle
