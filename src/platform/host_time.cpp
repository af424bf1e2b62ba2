#include "platform/host_time.h"

#include <cstdlib>
#include <mutex>

namespace vrax {

namespace {

std::mutex g_randomLock;
uint32_t g_randomState = 1;

}  // namespace

int64_t NowSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

bool LocalCalendar(int64_t seconds, std::tm* calendar) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  return localtime_r(&t, calendar) != nullptr;
}

// The host's default zone file, named explicitly: conversions then see the
// same zone as before but no longer look at the file each time.
void PinLocalTimeZone() {
  if (std::getenv("TZ") == nullptr) setenv("TZ", ":/etc/localtime", 0);
  tzset();
}

bool UtcCalendar(int64_t seconds, std::tm* calendar) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  return gmtime_r(&t, calendar) != nullptr;
}

bool UtcSeconds(const std::tm& calendar, int64_t* seconds) {
  std::tm copy = calendar;
  const std::time_t t = timegm(&copy);
  if (copy.tm_year != calendar.tm_year || copy.tm_mon != calendar.tm_mon ||
      copy.tm_mday != calendar.tm_mday || copy.tm_hour != calendar.tm_hour ||
      copy.tm_min != calendar.tm_min) {
    return false;
  }
  *seconds = static_cast<int64_t>(t);
  return true;
}

void SeedRandom(uint32_t seed) {
  std::lock_guard<std::mutex> hold(g_randomLock);
  g_randomState = seed;
}

// A linear congruential generator giving 15-bit values, the classic
// runtime-library shape; several threads draw from it under one lock.
int NextRandom() {
  std::lock_guard<std::mutex> hold(g_randomLock);
  g_randomState = g_randomState * 214013u + 2531011u;
  return static_cast<int>((g_randomState >> 16) & 0x7fffu);
}

}  // namespace vrax
