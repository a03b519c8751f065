#pragma once
// Paints a plot frame: the dotted grid, the axes, the labels and the traces,
// in the shades and fonts a view gives it. The packet curve uses it; the
// recorder's waveform will.

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPoint>
#include <array>
#include <vector>

#include "plot/plot_frame.h"

namespace widgets {

struct PlotStyle {
    QPoint origin;  // window pixels of the plot's (0, 0)
    int width = 0;
    int height = 0;
    int columnStep = 50;  // grid spacing in pixels
    int rowStep = 100;
    QColor grid;
    QColor axis;
    std::array<QColor, 3> shades;  // by plot::Colour
    QFont bigFont;
    QFont smallFont;
    int labelSpan = 300;  // the box a label is aligned in
    int fontPixels = 15;
};

void paintPlotGrid(QPainter& painter, const PlotStyle& style);
void paintPlotLabels(QPainter& painter, const PlotStyle& style,
                     const std::vector<plot::Label>& labels);
// The traces in order, the last on top.
void paintPlotTraces(QPainter& painter, const PlotStyle& style,
                     const std::vector<const plot::Trace*>& traces);

}  // namespace widgets
