#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <numbers>
#include <vector>

// Breaks in a steady tone, tenth of a second by tenth of a second.
namespace tone_windows {

struct Count {
  int windows = 0;
  int broken = 0;
  std::vector<double> at;  // seconds where the broken windows start
};

// The tone of `hz` in each whole tenth-second window of `samples`, as level and phase on
// one timeline. A tone of whole periods per window does not leak into another's.
inline std::vector<std::complex<double>> Phasors(const std::vector<double>& samples, double hz,
                                                 double rate) {
  const auto window = std::size_t(rate / 10);
  const double w = 2 * std::numbers::pi * hz / rate;
  std::vector<std::complex<double>> phasors;
  for (std::size_t from = 0; from + window <= samples.size(); from += window) {
    std::complex<double> sum;
    for (std::size_t n = from; n < from + window; ++n) {
      sum += samples[n] * std::polar(1.0, -w * double(n));
    }
    phasors.push_back(sum * (2.0 / double(window)));
  }
  return phasors;
}

// The windows in which the tone of `hz` is not the take's steady tone: its level more than
// 10 % off the median level, or its phase moved by more than 0.1 radian from the window
// before (a quarter of a millisecond at 220 Hz; a dropped or repeated stretch moves it).
inline Count Broken(const std::vector<double>& samples, double hz, double rate) {
  const std::vector<std::complex<double>> phasors = Phasors(samples, hz, rate);
  Count count;
  count.windows = int(phasors.size());
  if (phasors.empty()) return count;
  std::vector<double> levels;
  for (const auto& p : phasors) levels.push_back(std::abs(p));
  std::nth_element(levels.begin(), levels.begin() + std::ptrdiff_t(levels.size() / 2),
                   levels.end());
  const double median = levels[levels.size() / 2];
  for (std::size_t i = 0; i < phasors.size(); ++i) {
    const bool level = std::abs(std::abs(phasors[i]) - median) > 0.1 * median;
    const bool phase = i > 0 && std::abs(std::arg(phasors[i] / phasors[i - 1])) > 0.1;
    if (level || phase) {
      ++count.broken;
      count.at.push_back(double(i) / 10.0);
    }
  }
  return count;
}

}  // namespace tone_windows
