#include "widgets/plot_painter.h"

#include <QLineF>
#include <QPolygon>
#include <QRect>

namespace widgets {
namespace {

const QColor& shadeOf(const PlotStyle& style, plot::Colour colour) {
    return style.shades[static_cast<std::size_t>(colour)];
}

QPoint windowPoint(const PlotStyle& style, plot::Point point) {
    return {style.origin.x() + point.x, style.origin.y() - point.y};
}

}  // namespace

void paintPlotGrid(QPainter& painter, const PlotStyle& style, int columnShift) {
    const int ox = style.origin.x();
    const int oy = style.origin.y();
    painter.setPen(QPen(style.grid, 1, Qt::DotLine));
    for (int y = 0; y < style.height; y += style.rowStep)
        painter.drawLine(ox, oy - y, ox + style.width, oy - y);
    for (int x = columnShift; x <= style.width; x += style.columnStep)
        painter.drawLine(ox + x, oy, ox + x, oy - style.height);
}

void paintPlotAxes(QPainter& painter, const PlotStyle& style) {
    const int ox = style.origin.x();
    const int oy = style.origin.y();
    painter.setPen(QPen(style.axis, 1, Qt::SolidLine));
    painter.drawLine(ox, oy, ox, oy - style.height);
    painter.drawLine(ox, oy, ox + style.width, oy);
    painter.drawLine(ox + style.width, oy, ox + style.width, oy - style.height);
}

void paintPlotLabels(QPainter& painter, const PlotStyle& style,
                     const std::vector<plot::Label>& labels) {
    const int span = style.labelSpan;
    for (const plot::Label& label : labels) {
        painter.setFont(label.smallFont ? style.smallFont : style.bigFont);
        painter.setPen(shadeOf(style, label.colour));
        const int px = style.origin.x() + label.x;
        // A middle label sits in a box a little taller than the font, centred on y.
        const int tall = label.middle ? style.fontPixels + 3 : style.fontPixels;
        const int top = style.origin.y() - label.y - (label.middle ? tall / 2 : 0);
        QRect box;
        int align = (label.middle ? Qt::AlignVCenter : Qt::AlignTop) | Qt::TextDontClip |
                    Qt::TextSingleLine;
        switch (label.align) {
            case plot::Label::Align::Left:
                box = QRect(px, top, span, tall);
                align |= Qt::AlignLeft;
                break;
            case plot::Label::Align::Right:
                box = QRect(px - span, top, span, tall);
                align |= Qt::AlignRight;
                break;
            case plot::Label::Align::Centre:
                box = QRect(px - span / 2, top, span, tall);
                align |= Qt::AlignHCenter;
                break;
        }
        painter.drawText(box, align, QString::fromStdString(label.text));
    }
}

void paintPlotTraces(QPainter& painter, const PlotStyle& style,
                     const std::vector<const plot::Trace*>& traces) {
    painter.save();
    if (style.clipTraces) {
        painter.setClipRect(QRect(QPoint(style.origin.x() + 1, style.origin.y() - style.height),
                                  QPoint(style.origin.x() + style.width - 1, style.origin.y())));
    }
    for (const plot::Trace* trace : traces) {
        const std::vector<plot::Point>& points = trace->points;
        if (points.empty()) continue;
        painter.setPen(QPen(shadeOf(style, trace->colour), style.traceWidth, Qt::SolidLine));
        if (style.traceWidth <= 1) {
            QPolygon polygon(static_cast<int>(points.size()));
            for (std::size_t i = 0; i < points.size(); ++i)
                polygon.setPoint(static_cast<int>(i), windowPoint(style, points[i]));
            painter.drawPolyline(polygon);
            continue;
        }
        // Separate segments: a wide pen's joins cost more than the lines themselves.
        QVector<QLine> segments;
        segments.reserve(static_cast<qsizetype>(points.size()));
        for (std::size_t i = 1; i < points.size(); ++i)
            segments << QLine(windowPoint(style, points[i - 1]), windowPoint(style, points[i]));
        painter.drawLines(segments);
    }
    painter.restore();
}

void paintPlotFrame(QPainter& painter, const PlotStyle& style, const plot::Frame& frame,
                    bool gridShown) {
    if (gridShown) paintPlotGrid(painter, style, frame.columnShift);
    paintPlotAxes(painter, style);
    paintPlotLabels(painter, style, frame.labels);
    paintPlotTraces(painter, style, frame.drawOrder());
}

}  // namespace widgets
