#include "common/clock.h"

#include <ctime>
#include <thread>

namespace common {

LocalTime SystemClock::localTime() const {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#ifdef _WIN32
    localtime_s(&parts, &now);
#else
    localtime_r(&now, &parts);
#endif
    return LocalTime{parts.tm_hour, parts.tm_min, parts.tm_sec};
}

void SystemClock::sleepFor(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

void SystemClock::sleepUntil(TimePoint deadline) {
    std::this_thread::sleep_until(deadline);
}

}  // namespace common
