#pragma once
// Paints a plot frame: the dotted grid, the axes, the labels and the traces,
// in the shades, fonts and pen a view gives it. The packet curve and the
// recorder's waveform both paint through it.

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
    int traceWidth = 1;
    bool clipTraces = false;  // traces stay inside the axes
};

// The dotted grid lines.
void paintPlotGrid(QPainter& painter, const PlotStyle& style, int columnShift = 0);
// The left, bottom and right axes.
void paintPlotAxes(QPainter& painter, const PlotStyle& style);
void paintPlotLabels(QPainter& painter, const PlotStyle& style,
                     const std::vector<plot::Label>& labels);
// The traces in order, the last on top.
void paintPlotTraces(QPainter& painter, const PlotStyle& style,
                     const std::vector<const plot::Trace*>& traces);
// Grid (when shown), axes, labels and traces.
void paintPlotFrame(QPainter& painter, const PlotStyle& style, const plot::Frame& frame,
                    bool gridShown = true);

}  // namespace widgets
