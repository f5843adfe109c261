#include "Tone.h"

#include <algorithm>
#include <cmath>
#include <numbers>

double TonePower(const std::vector<double>& samples, double sampleRate, double frequency) {
  if (samples.empty()) return 0.0;
  const double w = 2.0 * std::numbers::pi * frequency / sampleRate;
  const double coeff = 2.0 * std::cos(w);
  double s1 = 0.0;
  double s2 = 0.0;
  for (double x : samples) {
    double s0 = x + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
  double n = static_cast<double>(samples.size());
  return power / (n * n);
}

bool HasTone(const std::vector<double>& samples, double sampleRate, double frequency) {
  double at = TonePower(samples, sampleRate, frequency);
  double below = TonePower(samples, sampleRate, frequency * 0.7);
  double above = TonePower(samples, sampleRate, frequency * 1.4);
  return at > 0.001 && at > 20.0 * below && at > 20.0 * above;
}

double BandPower(const std::vector<double>& samples, double sampleRate, double hz) {
  double best = 0.0;
  for (double at = hz * 0.99; at <= hz * 1.01; at += 0.5) {
    best = std::max(best, TonePower(samples, sampleRate, at));
  }
  return best;
}

bool NoteSounds(const std::vector<double>& samples, double sampleRate, double hz) {
  const double at = BandPower(samples, sampleRate, hz);
  double square = 0.0;
  for (double x : samples) square += x * x;
  const double meanSquare = samples.empty() ? 0.0 : square / static_cast<double>(samples.size());
  return at > meanSquare / 1000.0 && at > 5.0 * BandPower(samples, sampleRate, hz * 0.7) &&
         at > 5.0 * BandPower(samples, sampleRate, hz * 1.4);
}
