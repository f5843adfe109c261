#include "midi/TempoMap.h"

#include <algorithm>

namespace sonarelle {

TTempoMap::TTempoMap(std::vector<TTempoChange> changes, int ticksPerQuarter) {
  if (ticksPerQuarter <= 0) return;
  std::stable_sort(changes.begin(), changes.end(),
                   [](const TTempoChange& a, const TTempoChange& b) { return a.tick < b.tick; });
  segments_.push_back({0, 0, double(kDefaultUsPerQuarter) / ticksPerQuarter});
  for (const TTempoChange& change : changes) {
    if (change.usPerQuarter == 0) continue;
    const double usPerTick = double(change.usPerQuarter) / ticksPerQuarter;
    Segment& last = segments_.back();
    if (double(change.tick) == last.tick) {
      last.usPerTick = usPerTick;
      continue;
    }
    const double ms = last.ms + (double(change.tick) - last.tick) * last.usPerTick / 1000;
    segments_.push_back({double(change.tick), ms, usPerTick});
  }
}

double TTempoMap::TicksAt(double ms) const {
  if (segments_.empty()) return 0;
  auto it = std::upper_bound(segments_.begin(), segments_.end(), ms,
                             [](double t, const Segment& s) { return t < s.ms; });
  const Segment& s = it == segments_.begin() ? *it : *(it - 1);
  return s.tick + (ms - s.ms) * 1000 / s.usPerTick;
}

double TTempoMap::MsAt(double tick) const {
  if (segments_.empty()) return 0;
  auto it = std::upper_bound(segments_.begin(), segments_.end(), tick,
                             [](double t, const Segment& s) { return t < s.tick; });
  const Segment& s = it == segments_.begin() ? *it : *(it - 1);
  return s.ms + (tick - s.tick) * s.usPerTick / 1000;
}

}  // namespace sonarelle
