// The host clock and calendar conversions, and the pseudo-random numbers the
// FTP server draws data ports and unique names from.
#pragma once

#include <cstdint>
#include <ctime>

namespace vrax {

// Seconds since the start of 1970 UTC.
int64_t NowSeconds();

// Calendar time of `seconds` in the local time zone, or in UTC. False when
// the time cannot be represented.
bool LocalCalendar(int64_t seconds, std::tm* calendar);
bool UtcCalendar(int64_t seconds, std::tm* calendar);

// Reads the local time zone once for the rest of the run. Without it every
// local-to-UTC conversion asks the host whether the zone file has changed,
// a file-system call per stamp that dominates a listing. Call it before any
// other thread starts; it does nothing when TZ already names a zone.
void PinLocalTimeZone();

// Seconds since 1970 of a calendar time in UTC (fields beyond their range
// are not normalised: false for them, as for a time that cannot be held).
bool UtcSeconds(const std::tm& calendar, int64_t* seconds);

// The largest value NextRandom returns.
constexpr int kRandomMax = 32767;

// Seeds the process-wide generator. Safe to call from any thread.
void SeedRandom(uint32_t seed);
// The next value of the generator, 0 to kRandomMax. Safe from any thread.
int NextRandom();

}  // namespace vrax
