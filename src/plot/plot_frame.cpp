#include "plot/plot_frame.h"

namespace plot {

void ColumnReducer::add(int x, int y) {
    if (!open_ || x != x_) {
        flush();
        open_ = true;
        x_ = x;
        first_ = last_ = low_ = high_ = y;
        lowFirst_ = true;
        return;
    }
    if (y < low_) {
        low_ = y;
        lowFirst_ = false;
    }
    if (y > high_) {
        high_ = y;
        lowFirst_ = true;
    }
    last_ = y;
}

void ColumnReducer::flush() {
    if (!open_) return;
    push(first_);
    push(lowFirst_ ? low_ : high_);
    push(lowFirst_ ? high_ : low_);
    push(last_);
    open_ = false;
}

void ColumnReducer::push(int y) {
    if (!out_.empty() && out_.back().x == x_ && out_.back().y == y) return;
    out_.push_back({x_, y});
}

}  // namespace plot
