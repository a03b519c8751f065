#pragma once
// Keeps the computer and its display awake while a test or a firmware transfer runs: the desktop
// session's screen saver and power management inhibitions over D-Bus on
// Linux, SetThreadExecutionState on Windows. Where neither answers, nothing
// happens.

#include <cstdint>

#include "common/wake_keeper.h"

namespace qt_adapters {

class WakeLock final : public common::WakeKeeper {
  public:
    ~WakeLock() override { keepAwake(false); }
    void keepAwake(bool on) override;
    bool held() const { return held_; }

  private:
    bool held_ = false;
    uint32_t screenSaverCookie_ = 0;
    uint32_t powerCookie_ = 0;
};

}  // namespace qt_adapters
