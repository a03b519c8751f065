#include "common/clock.h"

#include <ctime>
#include <thread>

namespace common {

std::tm localCalendarTime(std::time_t when) {
    std::tm parts{};
#ifdef _WIN32
    localtime_s(&parts, &when);
#else
    localtime_r(&when, &parts);
#endif
    return parts;
}

LocalTime SystemClock::localTime() const {
    const std::tm parts = localCalendarTime(std::time(nullptr));
    return LocalTime{parts.tm_hour, parts.tm_min, parts.tm_sec};
}

void SystemClock::sleepFor(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

void SystemClock::sleepUntil(TimePoint deadline) {
    std::this_thread::sleep_until(deadline);
}

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

}  // namespace common
