#pragma once
// Real steady time for timers and deadlines; the pauses the code under test
// asks for are skipped, and the local time is a fixed 10:20:30.
#include "common/clock.h"

namespace testing_support {

class QuickClock final : public common::Clock {
  public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    common::LocalTime localTime() const override { return {10, 20, 30}; }
    void sleepFor(std::chrono::milliseconds) override {}
};

}  // namespace testing_support
