#pragma once

#include <cstdint>

#include <QString>

namespace sonarelle {

// The LED display's text at start.
inline constexpr const char* kTimeDisplayAtStart = "00:00:00   00:00:00";
// The LED display's text after an accompaniment has played to its end.
inline constexpr const char* kTimeDisplayAtEnd = "00:00:00  00:00:00";

// "HH:MM:SS" of a time in milliseconds; hours are not wrapped at 24.
QString TimeText(std::int64_t ms);

// The time display's text: the length, three blanks, the position.
QString TimeDisplayText(std::int64_t lengthMs, std::int64_t positionMs);

}  // namespace sonarelle
