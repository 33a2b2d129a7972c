// Time: sleeps, the millisecond tick count, the local date and time, and the
// process-wide time scale.
//
// The time scale (1 by default) multiplies every sleep and every wait time-out,
// so that tests can run the engines' long silences (20 s, 60 s) in a fraction
// of the time. A wait under way follows a change of the scale; a sleep keeps
// the length it started with. The tick count is never scaled: it measures
// real throughput.
#pragma once

#include <cstdint>

namespace platform {

void SetTimeScale(double scale);
double TimeScale();
// ms multiplied by the time scale; kInfinite stays kInfinite. A non-zero ms
// never scales to 0.
uint32_t ScaleMs(uint32_t ms);

// Sleeps for ScaleMs(ms); Sleep(0) only yields the processor.
void Sleep(uint32_t ms);

// Milliseconds since an arbitrary start, monotonic, wrapping at 2^32.
uint32_t GetTickCount();

struct LocalTime {
  int year;    // four digits
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;
  int second;
};
// From the operating system's backend: a thread-safe conversion to local time.
LocalTime GetLocalTime();

}  // namespace platform
