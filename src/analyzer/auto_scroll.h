#pragma once
// Whether the message list follows the newest row. Ticking "自动卷屏" or
// pressing End arms it; the first row clicked after that keeps the list
// following, the next click stops it, and any other key stops it at once.

#include <cstdint>

namespace analyzer {

class AutoScroll {
  public:
    enum class State : uint8_t { Off = 0, On = 1, Armed = 11 };

    State state() const { return state_; }
    bool following() const { return state_ != State::Off; }
    // "自动卷屏" is ticked exactly while the list follows.
    bool checkBoxTicked() const { return following(); }

    // A row was selected and decoded.
    void onDecode();
    // A key pressed in the list.
    void onKey(bool endKey);
    // Ticking the box acts as End pressed in the list.
    void onCheckBox(bool ticked);

  private:
    State state_ = State::On;
};

}  // namespace analyzer
