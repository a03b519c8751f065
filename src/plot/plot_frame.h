#pragma once
// What one paint of a plot draws, decided without a window: labels and traces
// in plot units (x to the right and y upwards from the plot's origin), and the
// column reduction that keeps a trace as long as the plot is wide, not as long
// as the recording.

#include <cstdint>
#include <string>
#include <vector>

namespace plot {

struct Point {
    int x = 0;
    int y = 0;
};

// The colours a plot speaks in; each program's painter gives them their shade.
enum class Colour : uint8_t { Red, Green, Grey };

struct Label {
    enum class Align { Left, Right, Centre };
    using Colour = plot::Colour;
    std::string text;
    int x = 0;  // plot units; y is the top of the text
    int y = 0;
    Align align = Align::Left;
    Colour colour = Colour::Red;
    bool smallFont = false;
    bool middle = false;  // y is the middle of the text rather than its top
};

struct Trace {
    Colour colour = Colour::Red;
    std::vector<Point> points;
};

// What a voltage-and-current plot paints: its labels and its two traces.
struct Frame {
    std::vector<Label> labels;
    Trace voltage{Colour::Red, {}};
    Trace current{Colour::Green, {}};
    bool voltageOnTop = false;
    // The vertical grid lines start this many pixels right of the origin (0 up to a
    // column step), so they stay under labels that scroll with the data.
    int columnShift = 0;

    // The traces in the order they are drawn, the one on top last.
    std::vector<const Trace*> drawOrder() const {
        if (voltageOnTop) return {&current, &voltage};
        return {&voltage, &current};
    }
};

// Points of one trace, one pixel column at a time: a column holding many
// samples keeps its first, lowest, highest and last value, which covers the
// same pixels as a line through all of them.
class ColumnReducer {
  public:
    explicit ColumnReducer(std::vector<Point>& out) : out_(out) {}
    void add(int x, int y);
    // Ends the open column; call once after the last point.
    void flush();

  private:
    void push(int y);

    std::vector<Point>& out_;
    bool open_ = false;
    bool lowFirst_ = true;
    int x_ = 0, first_ = 0, last_ = 0, low_ = 0, high_ = 0;
};

}  // namespace plot
