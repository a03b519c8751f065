#pragma once
// Keeps the computer (and its display) awake while something long runs (a
// test, a firmware transfer); each platform has its way.

namespace common {

class WakeKeeper {
  public:
    virtual ~WakeKeeper() = default;
    virtual void keepAwake(bool on) = 0;
};

}  // namespace common
