#include "analyzer/auto_scroll.h"

namespace analyzer {

void AutoScroll::onDecode() {
    if (state_ == State::Armed)
        state_ = State::On;
    else if (state_ == State::On)
        state_ = State::Off;
}

void AutoScroll::onKey(bool endKey) {
    state_ = endKey ? State::Armed : State::Off;
}

void AutoScroll::onCheckBox(bool ticked) {
    onKey(ticked);
}

}  // namespace analyzer
