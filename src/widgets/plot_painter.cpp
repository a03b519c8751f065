#include "widgets/plot_painter.h"

#include <QPolygon>
#include <QRect>

namespace widgets {
namespace {

const QColor& shadeOf(const PlotStyle& style, plot::Colour colour) {
    return style.shades[static_cast<std::size_t>(colour)];
}

}  // namespace

void paintPlotGrid(QPainter& painter, const PlotStyle& style) {
    const int ox = style.origin.x();
    const int oy = style.origin.y();
    painter.setPen(QPen(style.grid, 1, Qt::DotLine));
    for (int y = 0; y < style.height; y += style.rowStep)
        painter.drawLine(ox, oy - y, ox + style.width, oy - y);
    for (int x = 0; x <= style.width; x += style.columnStep)
        painter.drawLine(ox + x, oy, ox + x, oy - style.height);

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
        const int top = style.origin.y() - label.y;
        QRect box;
        int align = Qt::AlignTop | Qt::TextDontClip | Qt::TextSingleLine;
        switch (label.align) {
            case plot::Label::Align::Left:
                box = QRect(px, top, span, style.fontPixels);
                align |= Qt::AlignLeft;
                break;
            case plot::Label::Align::Right:
                box = QRect(px - span, top, span, style.fontPixels);
                align |= Qt::AlignRight;
                break;
            case plot::Label::Align::Centre:
                box = QRect(px - span / 2, top, span, style.fontPixels);
                align |= Qt::AlignHCenter;
                break;
        }
        painter.drawText(box, align, QString::fromStdString(label.text));
    }
}

void paintPlotTraces(QPainter& painter, const PlotStyle& style,
                     const std::vector<const plot::Trace*>& traces) {
    for (const plot::Trace* trace : traces) {
        if (trace->points.empty()) continue;
        QPolygon polygon(static_cast<int>(trace->points.size()));
        for (std::size_t i = 0; i < trace->points.size(); ++i) {
            polygon.setPoint(static_cast<int>(i), style.origin.x() + trace->points[i].x,
                             style.origin.y() - trace->points[i].y);
        }
        painter.setPen(QPen(shadeOf(style, trace->colour), 1, Qt::SolidLine));
        painter.drawPolyline(polygon);
    }
}

}  // namespace widgets
