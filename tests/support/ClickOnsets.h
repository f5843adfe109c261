#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

// Click times in recordings of a click track and of its delayed copy.

// Sample numbers where a channel first rises past `threshold` after `quiet` samples or more
// below it: the starts of the clicks.
inline std::vector<double> ClickOnsets(const std::vector<double>& samples, double threshold,
                                       std::size_t quiet) {
  std::vector<double> onsets;
  std::size_t quietSince = 0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (std::abs(samples[i]) < threshold) continue;
    if (onsets.empty() || i - quietSince > quiet) onsets.push_back(double(i));
    quietSince = i;
  }
  return onsets;
}

// For each click of `copies` (clicks of 0.1 full scale or more, 50 ms apart or more), the
// milliseconds since the last click of `clicks` less than a quarter second before it. The
// first tenth of a second is left out: the recording's start may cut a click in two.
inline std::vector<double> ClickDelaysMs(const std::vector<double>& clicks,
                                         const std::vector<double>& copies, double rate) {
  const std::vector<double> heard = ClickOnsets(clicks, 0.1, std::size_t(rate / 20));
  std::vector<double> delays;
  for (double copy : ClickOnsets(copies, 0.1, std::size_t(rate / 20))) {
    if (copy < rate / 10) continue;
    const auto click = std::find_if(heard.rbegin(), heard.rend(), [&](double at) {
      return at < copy - rate / 500.0 && at > copy - rate / 4.0;
    });
    if (click != heard.rend()) delays.push_back((copy - *click) * 1000.0 / rate);
  }
  return delays;
}
