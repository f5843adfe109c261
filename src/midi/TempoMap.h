#pragma once

#include <cstdint>
#include <vector>

namespace sonarelle {

// A tempo event: from `tick` on, a quarter note lasts `usPerQuarter` microseconds.
struct TTempoChange {
  std::int64_t tick = 0;
  std::uint32_t usPerQuarter = 0;
};

// Converts between song time and ticks through every tempo change of a song.
class TTempoMap {
 public:
  static constexpr std::uint32_t kDefaultUsPerQuarter = 500000;

  TTempoMap() = default;
  // `changes` in file order; at equal ticks the later one wins. Before the first change the
  // tempo is kDefaultUsPerQuarter.
  TTempoMap(std::vector<TTempoChange> changes, int ticksPerQuarter);

  double TicksAt(double ms) const;
  double MsAt(double tick) const;

 private:
  struct Segment {
    double tick;
    double ms;
    double usPerTick;
  };
  std::vector<Segment> segments_;  // by tick; the first starts at 0
};

}  // namespace sonarelle
