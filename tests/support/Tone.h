#pragma once

#include <cstddef>
#include <vector>

// Tone checks for recorded audio.

// Relative power of `frequency` in the samples (Goertzel), normalised so that a full-scale
// sine gives about 0.25 and silence 0.
double TonePower(const std::vector<double>& samples, double sampleRate, double frequency);

// The power of the strongest frequency within 1% of `hz`: chorus and a sample's own tuning
// move a synthesizer's note a little off the exact pitch.
double BandPower(const std::vector<double>& samples, double sampleRate, double hz);

// Whether `frequency` stands clearly above the neighbouring frequencies in the samples.
bool HasTone(const std::vector<double>& samples, double sampleRate, double frequency);

// Whether a note of pitch `hz` stands out of a synthesizer's output, which plays far below
// full scale and a little off the exact pitch.
bool NoteSounds(const std::vector<double>& samples, double sampleRate, double hz);
